// A run's output on its way to its name.
//
// The output is written under a temporary name beside it, "Enc_take.wav." +
// the process number + ".part", and moved onto its own name in one step once
// it is complete. So nothing at that name is ever half written: it holds the
// previous file or the new one, a link there is replaced rather than written
// through, and a failed run leaves the previous output as it was. The
// temporary file is removed on every way out but that move, an interruption
// included.
#pragma once

#include <string>

#include "file_system.h"

class PendingOutput {
public:
    explicit PendingOutput(std::string outputPath);
    ~PendingOutput();
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;

    // Creates the temporary file under a name that nothing has yet.
    File Create();

    // The temporary file, for reopening it.
    const std::string& path() const { return path_; }
    // The name the file is for, for messages.
    const std::string& outputPath() const { return outputPath_; }

    // Moves the finished file onto the output's name.
    bool MoveIntoPlace();

private:
    std::string TemporaryName(unsigned attempt) const;
    void Forget();

    std::string outputPath_;
    std::string path_;  // empty: no temporary file
};
