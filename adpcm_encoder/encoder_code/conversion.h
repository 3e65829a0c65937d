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
// the file it replaces, or moved onto its name; memory that runs out.
// Whatever was at the output's name is then left as it was; but for a folder
// that cannot be synced after the move, which leaves the new output at its
// name, perhaps not yet on the disk. For both, `error` holds one line, "<file>: <why>", the reason being
// the system's wherever it gives one; a control character in the file's name
// is shown escaped ("\n"). For Converted, `error` is empty.
// An input whose data chunk the file cuts short is converted as far as it
// goes; whatever the outcome, `warning` then holds one line that says so,
// and is otherwise empty. ConvertFile prints nothing.
#pragma once

#include <string>

enum class Outcome { Converted, Rejected, Failed };

struct ConversionResult {
    Outcome outcome;
    std::string error;
    std::string warning;
};

// "Enc_" + the input's name without its extension + ".wav", in the input's
// directory. Both '\' and '/' separate directories, and on Windows a drive
// prefix ("Z:take.wav") ends the directory part too.
std::string OutputPathFor(const std::string& inputPath);

ConversionResult ConvertFile(const std::string& inputPath, const std::string& outputPath);
