// The files of a run that is given many: what each FILE stands for, where
// each output goes, and which inputs are left out before anything is read.
//
// A folder stands for the WAVE files directly in it (names ending in ".wav"
// in any case, sorted by their bytes), but for folders and the names that
// this program gives its outputs, in any case: "Dec_", and when converting
// "Enc_" (when decoding those are what the folder is given for). An input whose
// output is that of an earlier input (the same folder, by whatever path, and
// the same name, in any case: FAT and NTFS take take.wav and take.WAV for one
// file) names the last such input before it, and is to be converted only
// if none of them wrote that output.
// Nothing here prints or writes.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>


namespace convert {

struct BatchFile {
    std::string input, output;
    // Not converted, and counted as rejected: the line that says why.
    std::string refusal;
    // The last file before this one with the same output, if any.
    std::optional<std::size_t> sameOutputAs;
};

struct Batch {
    std::vector<BatchFile> files;
    // No input is an output of the run: then the files may be converted at
    // once, in any order, with the bytes of one after another.
    bool independent = true;
};

// `outputFolder` empty: each output beside its input.
Batch PlanBatch(const std::vector<std::string>& arguments, bool decode,
                const std::string& outputFolder);

}  // namespace convert
