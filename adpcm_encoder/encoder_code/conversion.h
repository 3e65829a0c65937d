// One conversion of a PCM WAVE file into an IMA ADPCM WAVE file.
//
// ConvertFile checks the input's header, encodes its samples block by block
// into outputPath and rewrites the output's size fields. An input that cannot
// be read or fails the check is Rejected and leaves no output. A failure
// after that (an input too large for a WAVE file, an output that cannot be
// created or written) is Failed: `error` holds one line naming the file and
// the system's reason, and no output is left behind.
#pragma once

#include <string>

enum class Outcome { Converted, Rejected, Failed };

struct ConversionResult {
    Outcome outcome;
    std::string error;
};

// "Enc_" + the input's name without its extension + ".wav", in the input's
// directory. Both '\' and '/' separate directories.
std::string OutputPathFor(const std::string& inputPath);

ConversionResult ConvertFile(const std::string& inputPath, const std::string& outputPath);
