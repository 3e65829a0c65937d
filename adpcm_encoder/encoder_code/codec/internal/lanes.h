// The SSE2 kernel: blocks side by side in 16-bit lanes, each lane making the
// decisions of the scalar path (sample_encoder.h) without branches, so that
// each lane's codes equal those of its block on that path. blocks.cpp
// decides what goes to the lanes; a build without SSE2 has none.
// Internal to the codec.
#pragma once

#include <cstddef>

#include "codec/blocks.h"

namespace codec {

// Blocks the lanes take side by side; 0 in a build without lanes.
extern const std::size_t kLaneWidth;
// The lanes code whole passes of this many samples of each block.
extern const std::size_t kLanePassSamples;

// The most codes whose squared errors the lanes sum.
extern const std::size_t kLaneMostSummedCodes;

// As EncodeBlocks, for `count` blocks, a multiple of kLaneWidth, whose
// codesPerBlock is a multiple of kLanePassSamples, with squared errors over
// at most kLaneMostSummedCodes codes.
void EncodeInLanes(const short* rows, std::size_t rowStride, std::size_t codesPerBlock,
                   unsigned char* codes, std::size_t codesStride,
                   const unsigned char* startIndices, std::size_t count,
                   SquaredErrors errors);

}  // namespace codec
