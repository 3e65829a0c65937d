// The RIFF WAVE layout as pcm-encoder reads it, the chunk names that the
// parser and the writer share, and the little-endian helpers that every
// byte layout here is read and written with.
//
// All numbers in these files are little-endian; samples are signed 16-bit.
#pragma once

#include <cstddef>
#include <cstdint>

namespace wave {

// The four-character names of forms and chunks, each with its terminating
// null.
using ChunkName = char[5];
inline constexpr ChunkName kRiffName = "RIFF";
inline constexpr ChunkName kRf64Name = "RF64";
inline constexpr ChunkName kBw64Name = "BW64";
inline constexpr ChunkName kRifxName = "RIFX";
inline constexpr ChunkName kWaveName = "WAVE";
inline constexpr ChunkName kFormatName = "fmt ";
inline constexpr ChunkName kFactName = "fact";
inline constexpr ChunkName kDataName = "data";
inline constexpr ChunkName kDs64Name = "ds64";
constexpr std::size_t kNameSize = 4;

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
constexpr std::uint32_t kPcmFormatSize = 16;
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

}  // namespace wave
