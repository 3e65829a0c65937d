// Builds without a vector unit here encode one block after the other.
#include "ima_adpcm_blocks.h"

const std::size_t kBlocksSideBySide = 1;

void EncodeBlocks(const short* rows, std::size_t rowStride, std::size_t codesPerBlock,
                  unsigned char* codes, std::size_t codesStride, unsigned char* startIndices,
                  std::size_t count) {
    EncodeBlocksPlain(rows, rowStride, codesPerBlock, codes, codesStride, startIndices, count);
}
