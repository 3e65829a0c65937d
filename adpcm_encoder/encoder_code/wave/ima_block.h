// The layout of an IMA ADPCM block and of the format chunk that describes
// it, as the reader of inputs (wave_input.h) and the writer of outputs
// (wave_output.h) both take it: a 4-byte header (opening sample, step index,
// a reserved 0), then the codes, two a byte.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/code_format.h"

namespace wave {

constexpr std::size_t kBlockHeaderSize = 4;
constexpr std::size_t kStepIndexAt = 2;
constexpr std::size_t kReservedAt = 3;
constexpr unsigned char kBitsPerCode = codec::kCodeBits;

// The IMA ADPCM format chunk: after the common fields, the block size in
// bytes and, in the extra bytes, the samples a block stands for.
constexpr std::size_t kBlockAlignAt = 12;
constexpr std::size_t kSamplesPerBlockAt = 18;
constexpr std::uint32_t kImaFormatSize = 20;

}  // namespace wave
