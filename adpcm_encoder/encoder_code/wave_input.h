// What an input WAVE file holds: whether its format is the one pcm-encoder
// takes, and where its samples lie; or, in a few words, why it cannot be
// converted.
//
// The format is the first "fmt " chunk, wherever it stands after offset 12;
// taken are 22050 Hz, mono, 16-bit PCM, plain or extensible. The samples are
// the body of the first "data" chunk after it, as many whole samples as its
// size says, except where the size was never written (the samples then run
// to the end of the file, or as far as an RF64 file's ds64 chunk says).
// Reads through the file given, of `size` bytes as it was opened, and never
// opens another.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

struct SampleSpan {
    std::int64_t start;   // offset of the first sample
    std::int64_t length;  // bytes, even
};

struct InputCheck {
    bool accepted;
    SampleSpan samples;  // when accepted
    std::string reason;  // when not, e.g. "no data chunk"
};

InputCheck CheckInput(std::FILE* input, std::int64_t size);
