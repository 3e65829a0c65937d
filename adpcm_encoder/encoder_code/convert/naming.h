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

// The file that `path` names, in `folder` instead: "out" and "in/Enc_a.wav"
// give "out/Enc_a.wav" (on Windows "out\\Enc_a.wav"); a folder that ends in
// a separator or a drive prefix ("out/", "Z:") takes the name as it is.
std::string InFolder(const std::string& folder, const std::string& path);

// Whether the name at the end of `path` starts as a conversion's output
// ("Enc_"), or a decoding's ("Dec_"), in any case.
bool IsConvertedName(const std::string& path);
bool IsDecodedName(const std::string& path);

}  // namespace convert
