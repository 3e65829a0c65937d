// Builds without SSE2 encode on the scalar path, a block at a time.
#include "ima_adpcm_blocks.h"

const std::size_t kBlocksInLanes = 1;

void EncodeBlocks(const short* rows, std::size_t rowStride, std::size_t codesPerBlock,
                  unsigned char* codes, std::size_t codesStride, unsigned char* startIndices,
                  std::size_t count) {
    EncodeBlocksScalar(rows, rowStride, codesPerBlock, codes, codesStride, startIndices, count);
}
