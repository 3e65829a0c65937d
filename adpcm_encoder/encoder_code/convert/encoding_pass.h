// A conversion's encoding pass: the input's samples read a group of blocks
// at a time, encoded (as the default encoder codes them, or with --best's
// searches), written after the output's header, and with -v measured as
// they are encoded. Every buffer, thread and search is made by the
// constructor, before the output exists; Write allocates nothing but the
// words of a failure.
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

// How far the encoded blocks are from the samples they stand for: the sums
// of their squares and of their squared errors, which the encoder gives as
// it codes, added a block at a time in the order of the blocks, so that the
// figure is the same on any machine and any number of threads.
class Fidelity {
public:
    // One block's, over its own samples.
    void Add(std::uint64_t signal, std::uint64_t noise);
    // Infinite when nothing was lost, silence included.
    double SnrDb() const;

private:
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
    // Adds each block's squares and squared error to `fidelity`, if given;
    // the samples that fill up a last block do not count.
    void Encode(BestEncoding* best, bool opensTheFile, Fidelity* fidelity);
    platform::SystemError Write(std::FILE* output) const;

    // Of the blocks read, encoded and written.
    std::size_t bytes() const { return count_ * wave::kBlockSize; }
    std::size_t samples() const { return samples_; }
    std::size_t capacity() const { return capacity_; }

private:
    // How many of block b's samples are its own.
    std::size_t OwnSamples(std::size_t b) const;

    std::size_t capacity_;  // blocks
    std::vector<unsigned char> raw_;
    std::vector<short> rows_;
    std::vector<unsigned char> blocks_;
    std::vector<unsigned char> startIndices_;
    std::vector<std::uint64_t> squaredErrors_;
    std::size_t samples_ = 0;  // read
    std::size_t count_ = 0;    // blocks read
};

// One run's encoding pass: its buffers, and --best's threads and searches,
// all made before the output is, so that a run short of memory fails
// before it has written anything; one short of threads goes on with fewer.
//
// An input of several groups, when the run may use more than one core and
// does not search, is read and written by a thread of its own while this
// one encodes: the groups go round a ring, read ahead of the one encoded and
// written behind it, in the order of the file, so that the bytes written,
// the sync that follows and what a failure reports are those of a pass that
// takes one group at a time.
class EncodingPass {
public:
    EncodingPass(const ConversionOptions& options, std::int64_t inputBlocks);
    ~EncodingPass();
    EncodingPass(const EncodingPass&) = delete;
    EncodingPass& operator=(const EncodingPass&) = delete;

    // Encodes the input's samples into the output, after its header.
    ConversionResult Write(std::FILE* input, const std::string& inputPath,
                           const wave::SampleSpan& samples, std::FILE* output,
                           const std::string& outputPath);

    Summary Done(const wave::SampleSpan& samples);

private:
    struct Files {
        std::FILE* input;
        const std::string& inputPath;
        std::FILE* output;
        const std::string& outputPath;
    };
    // Where the reading and writing are, shared by the two threads.
    struct Turns;

    ConversionResult WriteInTurn(const Files& files, std::uint64_t total);
    ConversionResult WriteOverlapped(const Files& files, std::uint64_t total);
    // The file thread's work: reads groups ahead, writes those encoded.
    void ReadAndWrite(const Files& files, std::uint64_t total, Turns& turns);
    void Encoded(std::size_t samples, std::uint64_t& done, std::uint64_t total) const;

    const ConversionOptions& options_;
    std::vector<Group> groups_;
    std::optional<BestEncoding> best_;
    std::optional<Fidelity> fidelity_;
    // With a file thread: the thread; the groups are a ring.
    std::optional<WorkerPool> fileThread_;
};

}  // namespace convert
