#include "ima_adpcm_blocks.h"

#include "ima_adpcm.h"

void EncodeBlocksPlain(const short* rows, std::size_t rowStride, std::size_t codesPerBlock,
                       unsigned char* codes, std::size_t codesStride, unsigned char* startIndices,
                       std::size_t count) {
    IMA_ADPCM codec;
    const unsigned int sampleBytes = static_cast<unsigned int>(codesPerBlock * sizeof(short));
    for (std::size_t b = 0; b < count; ++b) {
        const short* row = rows + b * rowStride;
        HeaderVal = row[0];
        startIndices[b] = IMA_ADPCM::SeedStepIndex();
        codec.Encode(codes + b * codesStride, 0, row + 1, sampleBytes);
    }
}
