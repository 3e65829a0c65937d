// The names a run gives and shows: the output's name for an input, and a
// name as a message shows it.
#pragma once

#include <string>

namespace convert {

// A name as a message shows it: a control character in it, which would break
// the message's one line, escaped (\n, \r, \t, or \x and two hexadecimal
// digits).
std::string Shown(const std::string& name);

// "Enc_" + the input's name without its extension + ".wav", in the input's
// directory. Both '\' and '/' separate directories, and on Windows a drive
// prefix ("Z:take.wav") ends the directory part too (platform/paths.h).
std::string OutputPathFor(const std::string& inputPath);

// "Dec_" + the input's name without its extension and without a leading
// "Enc_" + ".wav", in the input's directory: Enc_take.wav gives Dec_take.wav.
std::string DecodedPathFor(const std::string& inputPath);

}  // namespace convert
