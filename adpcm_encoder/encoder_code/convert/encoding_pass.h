// A conversion's encoding pass: the input's samples read a group of blocks
// at a time, encoded (as the default encoder codes them, or with --best's
// searches), written after the output's header, and with -v measured
// against the blocks decoded. Every buffer, thread and search is made by the
// constructor, before the output exists; Write allocates nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "convert/best_encoding.h"
#include "convert/outcome.h"
#include "convert/worker_pool.h"
#include "platform/stream.h"
#include "wave/wave_input.h"
#include "wave/wave_output.h"

namespace convert {

// How far the decoded blocks are from the samples they stand for.
class Fidelity {
public:
    // Room for a group of `blocks` blocks' decoded samples.
    explicit Fidelity(std::size_t blocks);

    short* decoded() { return decoded_.data(); }
    void Add(const short* samples, const short* decoded, std::size_t count);
    // Infinite when nothing was lost, silence included.
    double SnrDb() const;

private:
    std::vector<short> decoded_;
    double signal_ = 0, noise_ = 0;
};

// The encoding pass's buffers, for a whole group of blocks or for all the
// input's blocks when it has fewer.
class Group {
public:
    explicit Group(std::int64_t inputBlocks);

    // Reads the next blocks' samples, as many of the `left` as fit, into
    // rows; or says why the input cannot give them.
    platform::ReadFailure Fill(std::FILE* input, std::uint64_t& left);
    // Encodes the blocks read into their place in the output: with `best`'s
    // searches if given, else as the default encoder does (codec/blocks.h):
    // the file's first block, which opens the file when `opensTheFile`, from
    // a step that suits its opening sample, every other from the smallest.
    void Encode(BestEncoding* best, bool opensTheFile);
    // Decodes the blocks encoded, as a player would, against the samples
    // read; the samples that fill up a last block do not count.
    void Measure(Fidelity& fidelity) const;
    platform::SystemError Write(std::FILE* output) const;

    // Of the blocks read, encoded and written.
    std::size_t bytes() const { return count_ * wave::kBlockSize; }
    std::size_t capacity() const { return capacity_; }

private:
    std::size_t capacity_;  // blocks
    std::vector<unsigned char> raw_;
    std::vector<short> rows_;
    std::vector<unsigned char> blocks_;
    std::vector<unsigned char> startIndices_;
    std::size_t samples_ = 0;  // read
    std::size_t count_ = 0;    // blocks read
};

// With -v, each group's blocks are decoded and measured on a thread of their
// own while the next group is read, encoded and written, so that another
// core hides the decoding. Two groups take turns; the measurements are
// added in the order of the groups, so the sums are the same on any machine.
class BackgroundFidelity {
public:
    explicit BackgroundFidelity(std::size_t blocks);
    ~BackgroundFidelity();
    BackgroundFidelity(const BackgroundFidelity&) = delete;
    BackgroundFidelity& operator=(const BackgroundFidelity&) = delete;

    // Measures `group`, which must not change until the next Measure or SnrDb.
    void Measure(const Group& group);
    double SnrDb();

private:
    Fidelity fidelity_;
    const Group* measured_ = nullptr;
    const WorkerPool::Job job_ = [this](std::size_t, std::size_t) { measured_->Measure(fidelity_); };
    WorkerPool thread_;
};

// One run's encoding pass: its buffers, and --best's threads and searches,
// all made before the output is, so that a run short of memory fails
// before it has written anything; one short of threads goes on with fewer.
class EncodingPass {
public:
    EncodingPass(const ConversionOptions& options, std::int64_t inputBlocks);

    // Encodes the input's samples into the output, after its header.
    ConversionResult Write(std::FILE* input, const std::string& inputPath,
                           const wave::SampleSpan& samples, std::FILE* output,
                           const std::string& outputPath);

    Summary Done(const wave::SampleSpan& samples);

private:
    const ConversionOptions& options_;
    // Two with a measure; declared before fidelity_, which may still be
    // measuring one of them as it ends.
    std::vector<Group> groups_;
    std::optional<BestEncoding> best_;
    std::optional<BackgroundFidelity> fidelity_;
};

}  // namespace convert
