// What an input WAVE file holds: whether its format is the one pcm-encoder
// takes, and where its samples lie; or, in a few words, why it cannot be
// converted.
//
// The format is the first "fmt " chunk, wherever it stands after offset 12;
// taken are 22050 Hz, mono, 16-bit PCM, in a PCM format chunk or an
// extensible one. The samples are the body of the first "data" chunk after
// it, as many whole samples as its size says, except where the size was
// never written (the samples then run to the end of the file, or as far as
// an RF64 file's ds64 chunk says). A file cut short is taken as far as it
// goes, with a warning. Reads through the file given, of `size` bytes as it
// was opened, never opens another, and prints nothing. The reasons and
// warnings are worded from the table of messages (platform/messages.h).
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace wave {

struct SampleSpan {
    std::int64_t start;   // offset of the first sample
    std::int64_t length;  // bytes, even
};

inline std::uint64_t SampleCount(const SampleSpan& samples) {
    return static_cast<std::uint64_t>(samples.length) / sizeof(short);
}

struct InputCheck {
    bool accepted;
    SampleSpan samples;  // when accepted
    std::string reason;   // when not, e.g. "no data chunk"
    std::string warning;  // when accepted, e.g. "data chunk cut short: 4096 of 88200 bytes"
};

InputCheck CheckInput(std::FILE* input, std::int64_t size);

// The same walk for an IMA ADPCM file that is to be decoded: mono, 4-bit,
// any block size and rate, the samples a block stands for from its format
// chunk. The fact chunk's sample length is taken when it stands before the
// data chunk.
struct AdpcmCheck {
    bool accepted;
    SampleSpan data;  // the blocks, when accepted; perhaps not a whole number
    std::uint32_t rate;
    std::uint16_t blockAlign;       // bytes a block
    std::uint32_t samplesPerBlock;  // 1 .. what the block's codes hold, plus 1
    std::optional<std::uint32_t> factLength;
    std::string reason;   // when not accepted
    std::string warning;  // as InputCheck's
};

AdpcmCheck CheckAdpcmInput(std::FILE* input, std::int64_t size);

}  // namespace wave
