// Byte layouts of the files pcm-encoder reads and writes.
//
// Input: a PCM WAVE file, whose format and samples wave_input.h finds.
// Output: the 60-byte WaveHeaderTemplate with its three size fields filled
// in, then 1028-byte IMA ADPCM blocks.
// All numbers are little-endian; samples are signed 16-bit.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace wave {

// Input: "RIFF" (or "RF64", "BW64" past 4 GiB; "RIFX" is big-endian), its
// size and "WAVE", then chunks from offset 12: a 4-byte identifier, a 32-bit
// size, the body, and a pad byte after a body of odd size.
constexpr std::int64_t kFormOffset = 0;
constexpr std::int64_t kFormSizeOffset = 4;
constexpr std::int64_t kFirstChunkOffset = 12;
constexpr std::size_t kChunkHeaderSize = 8;
constexpr std::uint64_t kRiffPreambleSize = 8;  // "RIFF" and its size field
// A size that a writer which could not seek back left in place.
constexpr std::uint32_t kSizeNotWritten = 0xFFFFFFFF;

// The format chunk's body. An extensible one goes on with the valid bits per
// sample and a sub-format GUID whose first two bytes are the format tag.
constexpr std::size_t kFormatTagAt = 0;
constexpr std::size_t kChannelsAt = 2;
constexpr std::size_t kSampleRateAt = 4;
constexpr std::size_t kBitsPerSampleAt = 14;
constexpr std::size_t kValidBitsAt = 18;
constexpr std::size_t kSubFormatAt = 24;
constexpr std::uint32_t kPlainFormatSize = 16;
constexpr std::uint32_t kExtensibleFormatSize = 40;
constexpr unsigned char kSubFormatGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                                  0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
constexpr std::uint16_t kPcmTag = 1;
constexpr std::uint16_t kMsAdpcmTag = 2;
constexpr std::uint16_t kFloatTag = 3;
constexpr std::uint16_t kALawTag = 6;
constexpr std::uint16_t kMuLawTag = 7;
constexpr std::uint16_t kImaAdpcmTag = 0x0011;
constexpr std::uint16_t kMp3Tag = 0x0055;
constexpr std::uint16_t kExtensibleTag = 0xFFFE;
constexpr std::uint16_t kAcceptedChannels = 1;
constexpr std::uint32_t kSampleRate = 22050;
constexpr std::uint16_t kAcceptedBitsPerSample = 16;

// The ds64 chunk of an RF64 or BW64 file: 64-bit RIFF size, then 64-bit data
// size, which stand where the 32-bit fields say kSizeNotWritten.
constexpr std::size_t kDs64DataSizeAt = 8;
constexpr std::size_t kDs64MinimumSize = 16;

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

inline std::uint32_t GetLE32(const unsigned char* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}

inline std::uint64_t GetLE64(const unsigned char* p) {
    return std::uint64_t{GetLE32(p)} | std::uint64_t{GetLE32(p + 4)} << 32;
}

inline std::int16_t GetLE16(const unsigned char* p) {
    return static_cast<std::int16_t>(p[0] | p[1] << 8);
}

inline std::uint16_t GetUnsignedLE16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

template <typename Bytes>
constexpr void PutLE16(Bytes& out, std::size_t at, std::uint16_t value) {
    out[at] = static_cast<unsigned char>(value);
    out[at + 1] = static_cast<unsigned char>(value >> 8);
}

template <typename Bytes>
constexpr void PutLE32(Bytes& out, std::size_t at, std::uint32_t value) {
    PutLE16(out, at, static_cast<std::uint16_t>(value));
    PutLE16(out, at + 2, static_cast<std::uint16_t>(value >> 16));
}

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
