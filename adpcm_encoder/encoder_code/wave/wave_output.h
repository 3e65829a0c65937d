// The files pcm-encoder writes, byte for byte. A conversion: the 60-byte
// WaveHeaderTemplate with its three size fields filled in (OutputHeader),
// then 1028-byte IMA ADPCM blocks, each a 4-byte header (opening sample,
// step index, 0; PutBlockHeader) and 2048 4-bit codes. A decoding: the
// canonical 44-byte header of 16-bit mono PCM (PcmHeader), then the samples.
// Also the size rules: what the 32-bit size fields of each can hold.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "wave/ima_block.h"
#include "wave/riff.h"

namespace wave {

// Output geometry.
constexpr std::size_t kHeaderSize = 60;
constexpr std::size_t kSamplesPerBlock = 2048;
constexpr std::size_t kInputBytesPerBlock = kSamplesPerBlock * 2;
constexpr std::size_t kBlockSize = kBlockHeaderSize + kSamplesPerBlock / 2;

// Blocks for `samples` samples: a last block they do not fill counts whole.
constexpr std::uint64_t BlocksFor(std::uint64_t samples) {
    return (samples + kSamplesPerBlock - 1) / kSamplesPerBlock;
}

// The output header's size fields.
constexpr std::size_t kRiffSizeOffset = 4;
constexpr std::size_t kFactSampleLengthOffset = 48;
constexpr std::size_t kDataSizeOffset = 56;

using Header = std::array<unsigned char, kHeaderSize>;

template <typename Bytes>
constexpr void PutTag(Bytes& out, std::size_t at, const ChunkName& tag) {
    for (std::size_t i = 0; i < kNameSize; ++i) out[at + i] = static_cast<unsigned char>(tag[i]);
}

// The header but for its size fields, which hold placeholders; 11025 bytes a
// second and 2048 samples a block are the values the files' readers have
// always been given, so they stay.
constexpr Header MakeWaveHeaderTemplate() {
    Header h{};
    PutTag(h, 0, kRiffName);
    PutLE32(h, 4, 24137);
    PutTag(h, 8, kWaveName);
    PutTag(h, 12, kFormatName);
    PutLE32(h, 16, kImaFormatSize);
    PutLE16(h, 20, kImaAdpcmTag);
    PutLE16(h, 22, 1);                        // channels
    PutLE32(h, 24, kSampleRate);
    PutLE32(h, 28, kSampleRate * kBitsPerCode / 8);
    PutLE16(h, 32, kBlockSize);               // block align
    PutLE16(h, 34, kBitsPerCode);
    PutLE16(h, 36, 2);                        // extra format bytes
    PutLE16(h, 38, kSamplesPerBlock);
    PutTag(h, 40, kFactName);
    PutLE32(h, 44, 4);
    PutLE32(h, 48, 96006);                    // sample length
    PutTag(h, 52, kDataName);
    PutLE32(h, 56, 24085);
    return h;
}

constexpr Header WaveHeaderTemplate = MakeWaveHeaderTemplate();

// The bytes a conversion of `samples` samples writes: every sample is
// encoded, into whole blocks.
constexpr std::uint64_t OutputSize(std::uint64_t samples) {
    return kHeaderSize + kBlockSize * BlocksFor(samples);
}

// The RIFF size and the fact sample length are 32-bit fields; an output whose
// values would not fit them could not be read back correctly.
bool FitsWaveSizeFields(std::uint64_t samples);

// The header of the output of `samples` samples: the sizes are known before
// the first block is written. Only for samples that fit the size fields.
Header OutputHeader(std::uint64_t samples);

// A block's 4-byte header, at its start.
void PutBlockHeader(unsigned char* block, short opening, unsigned char stepIndex);

// The canonical header of a 16-bit mono PCM WAVE file.
constexpr std::size_t kPcmHeaderSize = 44;
using PcmHeader = std::array<unsigned char, kPcmHeaderSize>;

// Whether `dataBytes` of samples fit its 32-bit size fields.
bool PcmFitsWaveSizeFields(std::uint64_t dataBytes);

// Only for data that fits the size fields.
PcmHeader MakePcmHeader(std::uint32_t rate, std::uint32_t dataBytes);

}  // namespace wave
