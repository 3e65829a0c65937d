// How the converter reads, encodes and writes: the sizes it works in, which
// bench/ measures with too. None changes what is written, only how fast.
#pragma once

#include <cstddef>
#include <cstdint>

#include "wave/wave_output.h"

namespace convert {

// The encoding pass reads, encodes and writes this many blocks at a time, or
// the nearest multiple of what the codec encodes in SSE2 lanes.
constexpr std::size_t kGroupBlocks = 32;

// A row holds a block's opening sample and the 2048 it codes. Rows 4098
// bytes apart would share the processor's cache sets; a few samples more
// keep them apart.
constexpr std::size_t kRowStride = wave::kSamplesPerBlock + 1 + 32;

// The check reads the input's chunk headers a few bytes at a time, and the
// encoding pass writes 32 blocks' 32 KiB at a time; with stdio's default
// buffer of a few KiB those are many system calls. A buffer of up to this
// size, allocated once a run for each file, makes them rare; the smallest is
// a page.
constexpr std::size_t kStreamBufferBytes = 64 * 1024;
constexpr std::size_t kPageBytes = 4096;

// The output goes on the disk before it takes its name. That writing, begun
// every so many bytes, goes on while later blocks are encoded, and the sync
// at the end has little left to wait for.
constexpr std::uint64_t kWriteBehindBytes = 1 << 20;

}  // namespace convert
