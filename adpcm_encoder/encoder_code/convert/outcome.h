// What a run reports: its outcome, its one-line error, what it wrote and
// its warnings (conversion.h says when each is given); and the options of a
// conversion. Shared by the run and its passes.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace convert {

enum class Outcome { Converted, Rejected, Failed };

struct ConversionOptions {
    // Each block from the step index and with the codes that decode closest
    // to its samples (codec/search.h), on every core; else as the
    // default encoder codes it.
    bool best = false;
    // With best: each block's header as the default writes it (its step
    // index too), only the codes searched.
    bool compatible = false;
    // --best's threads: 0 for one a core this process may use.
    unsigned workers = 0;
    // Work out the signal-to-noise ratio of the written blocks.
    bool measure = false;
    // Told after each group of blocks how many of the samples are done.
    std::function<void(std::uint64_t done, std::uint64_t total)> progress;
};

// What a finished run wrote.
struct Summary {
    std::uint64_t samples = 0;     // taken from the input
    std::uint64_t blocks = 0;
    std::uint32_t rate = 0;        // samples a second
    std::optional<double> snrDb;   // when measured: input against the decoded blocks
};

struct ConversionResult {
    Outcome outcome;
    std::string error;
    Summary summary;  // for Converted
    // Lines, "<file>: <what>", about what was taken though not whole, or as
    // players take it.
    std::vector<std::string> warnings;
};

}  // namespace convert
