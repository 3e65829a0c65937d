// The file pcm-encoder writes: the 60-byte WaveHeaderTemplate with its three
// size fields filled in, then 1028-byte IMA ADPCM blocks, each a 4-byte
// header (opening sample, step index, 0) and 2048 4-bit codes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "wave/riff.h"

namespace wave {

// Output geometry.
constexpr std::size_t kHeaderSize = 60;
constexpr std::size_t kSamplesPerBlock = 2048;
constexpr std::size_t kInputBytesPerBlock = kSamplesPerBlock * 2;
constexpr std::size_t kBlockHeaderSize = 4;  // opening sample, step index, 0
constexpr std::size_t kStepIndexAt = 2;
constexpr std::size_t kReservedAt = 3;
constexpr std::size_t kBlockSize = kBlockHeaderSize + kSamplesPerBlock / 2;
constexpr unsigned char kBitsPerCode = 4;

// Blocks for `samples` samples: a last block they do not fill counts whole.
constexpr std::uint64_t BlocksFor(std::uint64_t samples) {
    return (samples + kSamplesPerBlock - 1) / kSamplesPerBlock;
}

// The output header's size fields.
constexpr std::size_t kRiffSizeOffset = 4;
constexpr std::size_t kFactSampleLengthOffset = 48;
constexpr std::size_t kDataSizeOffset = 56;

using Header = std::array<unsigned char, kHeaderSize>;

constexpr void PutTag(Header& out, std::size_t at, const char (&tag)[5]) {
    for (std::size_t i = 0; i < 4; ++i) out[at + i] = static_cast<unsigned char>(tag[i]);
}

// The header but for its size fields, which hold placeholders; 11025 bytes a
// second and 2048 samples a block are the values the files' readers have
// always been given, so they stay.
constexpr Header MakeWaveHeaderTemplate() {
    Header h{};
    PutTag(h, 0, "RIFF");
    PutLE32(h, 4, 24137);
    PutTag(h, 8, "WAVE");
    PutTag(h, 12, "fmt ");
    PutLE32(h, 16, 20);                       // format chunk size
    PutLE16(h, 20, kImaAdpcmTag);
    PutLE16(h, 22, 1);                        // channels
    PutLE32(h, 24, kSampleRate);
    PutLE32(h, 28, kSampleRate * kBitsPerCode / 8);
    PutLE16(h, 32, kBlockSize);               // block align
    PutLE16(h, 34, kBitsPerCode);
    PutLE16(h, 36, 2);                        // extra format bytes
    PutLE16(h, 38, kSamplesPerBlock);
    PutTag(h, 40, "fact");
    PutLE32(h, 44, 4);
    PutLE32(h, 48, 96006);                    // sample length
    PutTag(h, 52, "data");
    PutLE32(h, 56, 24085);
    return h;
}

constexpr Header WaveHeaderTemplate = MakeWaveHeaderTemplate();

}  // namespace wave
