// A run's output on its way to its name.
//
// The output is written under a temporary name in its folder, "Enc_" + the
// process number + ".part" (when that is taken, the process number and a
// random suffix: "Enc_4242-1f0c9a3e77b2d5c4.part"), which is short whatever
// the output's name, and moved onto its own name in one step once it is
// complete. So nothing at that name is ever half
// written: it holds the previous file or the new one, a link there is
// replaced rather than written through, and a failed run leaves the previous
// output as it was. The temporary file is opened once, when it is created,
// and never again by name. It is removed, by name, on every way out but that
// move, an interruption included; only once this run has created it.
#pragma once

#include <string>

#include "platform/file_system.h"

namespace convert {

class PendingOutput {
public:
    explicit PendingOutput(std::string outputPath);
    ~PendingOutput();
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;

    // Creates the temporary file, for reading and writing, under a name that
    // nothing has yet.
    platform::Opened Create();

    // Moves the finished file, closed, onto the output's name.
    platform::SystemError MoveIntoPlace();

private:
    std::string TemporaryName(unsigned attempt) const;

    std::string outputPath_;
    std::string path_;  // empty: no temporary file
};

}  // namespace convert
