// Builds without SSE2 have no lanes: blocks.cpp gives them no block, and
// every block goes on the scalar path.
#include "codec/blocks.h"
#include "codec/internal/lanes.h"

namespace codec {

const std::size_t kBlocksInLanes = 1;
const std::size_t kLaneWidth = 0;
const std::size_t kLanePassSamples = 1;
const std::size_t kLaneMostSummedCodes = 0;

void EncodeInLanes(const short*, std::size_t, std::size_t, unsigned char*, std::size_t,
                   const unsigned char*, std::size_t, SquaredErrors) {}

}  // namespace codec
