// One conversion of a PCM WAVE file into an IMA ADPCM WAVE file, or one
// decoding back; orchestration only: the passes (encoding_pass.h,
// decoding_pass.h) do the work, wave_output.h says what the bytes are.
//
// ConvertFile checks the input (wave_input.h), and encodes its samples block
// by block into a temporary file beside outputPath, which takes the output's
// name only once it is complete (pending_output.h). The input is opened once,
// and only read.
//
// Rejected: the input is no regular file, cannot be opened or read while it
// is checked, or holds no audio that the program takes; nothing is written.
// Failed: an input that cannot be opened for want of descriptors or memory
// (which says nothing of the file); anything that goes wrong after the
// check: an input too large for the size fields of a WAVE file, or one that
// ends early; a folder or a file
// this user may not write at the output's name, found before the encoding
// pass; an output that cannot be created, written, given the permissions of
// the file it replaces, or moved onto its name; memory that runs out.
// Whatever was at the output's name is then left as it was; but for a folder
// that cannot be synced after the move, which leaves the new output at its
// name, perhaps not yet on the disk. For both, `error` holds one line,
// "<file>: <why>", the reason being the system's wherever it gives one; a
// control character in the file's name is shown escaped ("\n", naming.h).
// For Converted, `error` is empty. An input whose data chunk the file cuts
// short is converted as far as it goes; whatever the outcome, `warnings`
// then holds a line that says so.
// Nothing here prints.
#pragma once

#include <string>

#include "convert/naming.h"
#include "convert/outcome.h"

namespace convert {

// Decodes a mono IMA ADPCM WAVE file into a 16-bit PCM one, as a standard
// decoder plays it: each block from the opening sample and step index in its
// header, as many samples as the fact chunk says if the blocks hold them,
// else every sample the blocks hold. Written as ConvertFile writes, with the
// same outcomes; rejected, an input that is no mono 4-bit IMA ADPCM file.
ConversionResult DecodeFile(const std::string& inputPath, const std::string& outputPath);

ConversionResult ConvertFile(const std::string& inputPath, const std::string& outputPath,
                             const ConversionOptions& options = {});

}  // namespace convert
