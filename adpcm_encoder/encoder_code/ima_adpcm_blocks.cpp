#include "ima_adpcm_blocks.h"

#include <algorithm>

#include "ima_adpcm.h"
#include "ima_adpcm_tables.h"

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

namespace {

constexpr std::size_t kDecodedSideBySide = 4;
constexpr unsigned int kNibbleBits = 4;
constexpr unsigned int kLowNibble = 0x0F;

struct BlocksToDecode {
    const short* openings;
    std::size_t openingStride;
    const unsigned char* startIndices;
    const unsigned char* codes;
    std::size_t codesStride;
    std::size_t samplesPerBlock;
    short* out;
    std::size_t outStride;
};

// Blocks first .. first + Lanes - 1, each in a lane of its own.
template <std::size_t Lanes>
void DecodeSideBySide(const BlocksToDecode& blocks, std::size_t first) {
    DecoderState state[Lanes];
    const unsigned char* codes[Lanes];
    short* out[Lanes];
    for (std::size_t lane = 0; lane < Lanes; ++lane) {
        const std::size_t b = first + lane;
        const short opening = blocks.openings[b * blocks.openingStride];
        state[lane] = {opening, std::min<int>(blocks.startIndices[b], kMaxStepIndex)};
        codes[lane] = blocks.codes + b * blocks.codesStride;
        out[lane] = blocks.out + b * blocks.outStride;
        *out[lane]++ = opening;
    }
    const std::size_t codeCount = blocks.samplesPerBlock - 1;
    for (std::size_t i = 0; i < codeCount / 2; ++i) {
        for (std::size_t lane = 0; lane < Lanes; ++lane) {
            const unsigned int pair = codes[lane][i];
            out[lane][2 * i] = static_cast<short>(DecodeCode(state[lane], pair & kLowNibble));
            out[lane][2 * i + 1] = static_cast<short>(DecodeCode(state[lane], pair >> kNibbleBits));
        }
    }
    if (codeCount % 2) {
        for (std::size_t lane = 0; lane < Lanes; ++lane) {
            out[lane][codeCount - 1] =
                static_cast<short>(DecodeCode(state[lane], codes[lane][codeCount / 2] & kLowNibble));
        }
    }
}

}  // namespace

void DecodeBlocks(const short* openings, std::size_t openingStride,
                  const unsigned char* startIndices, const unsigned char* codes,
                  std::size_t codesStride, std::size_t samplesPerBlock, short* out,
                  std::size_t outStride, std::size_t count) {
    const BlocksToDecode blocks{openings, openingStride, startIndices, codes, codesStride,
                                samplesPerBlock, out, outStride};
    std::size_t b = 0;
    for (; b + kDecodedSideBySide <= count; b += kDecodedSideBySide) {
        DecodeSideBySide<kDecodedSideBySide>(blocks, b);
    }
    for (; b < count; ++b) DecodeSideBySide<1>(blocks, b);
}
