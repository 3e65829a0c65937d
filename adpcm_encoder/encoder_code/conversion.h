// One conversion of a PCM WAVE file into an IMA ADPCM WAVE file.
//
// ConvertFile checks the input's header, finds its samples and encodes them
// block by block into a temporary file beside outputPath, which takes the
// output's name only once it is complete (pending_output.h).
//
// Rejected: the input is no regular file, cannot be opened or read while it
// is checked, or fails the check; nothing is written. Failed: anything that
// goes wrong after the check: an input too large for the size fields of a
// WAVE file, or one that cannot be opened again or ends early; a folder or a
// file this user may not write at the output's name, found before the
// encoding pass; an output that cannot be created, written, given the
// permissions of the file it replaces, or moved onto its name. `error` then
// holds one line, "<file>: <what failed>: <reason>", the reason being the
// system's wherever it gives one, and whatever was at the output's name is
// left as it was; but for a folder that cannot be synced after the move,
// which leaves the new output at its name, perhaps not yet on the disk. For
// Converted and Rejected, `error` is empty.
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
