// One conversion of a PCM WAVE file into an IMA ADPCM WAVE file.
//
// ConvertFile checks the input (wave_input.h), and encodes its samples block
// by block into a temporary file beside outputPath, which takes the output's
// name only once it is complete (pending_output.h). The input is opened once,
// and only read.
//
// Rejected: the input is no regular file, cannot be opened or read while it
// is checked, or holds no audio that the program takes; nothing is written.
// Failed: anything that goes wrong after the check: an input too large for
// the size fields of a WAVE file, or one that ends early; a folder or a file
// this user may not write at the output's name, found before the encoding
// pass; an output that cannot be created, written, given the permissions of
// the file it replaces, or moved onto its name. Whatever was at the output's
// name is then left as it was; but for a folder that cannot be synced after
// the move, which leaves the new output at its name, perhaps not yet on the
// disk. For both, `error` holds one line, "<file>: <why>", the reason being
// the system's wherever it gives one. For Converted, `error` is empty.
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
