#include "convert/encoding_pass.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <mutex>

#include "codec/blocks.h"
#include "convert/results.h"
#include "convert/tuning.h"
#include "platform/file_system.h"
#include "platform/resources.h"
#include "wave/wave_output.h"

namespace convert {

using codec::EncodeBlocks;
using codec::FirstBlockStepIndex;
using codec::kBlocksInLanes;
using codec::kLaterBlockStepIndex;
using codec::SquaredErrors;
using platform::Message;
using platform::ReadExactly;
using platform::ReadFailure;
using platform::Seek;
using platform::StartWritingToDisk;
using platform::SystemError;
using platform::Tell;
using platform::WriteExactly;
using wave::SampleCount;
using wave::SampleSpan;

namespace {

// A whole group's blocks, or the nearest multiple of what the codec encodes
// in SSE2 lanes.
std::size_t WholeGroupBlocks() {
    return (kGroupBlocks + kBlocksInLanes - 1) / kBlocksInLanes * kBlocksInLanes;
}

// The group being encoded, the one read ahead of it, and one being written
// or read: neither thread then waits for the other while both keep pace.
constexpr std::size_t kRingGroups = 3;

// Squares of 16-bit values fit 32 bits unsigned, and a block's sums 64: whole
// numbers, which the compiler adds in vector lanes, in any order, to the
// same result.
std::uint64_t SumOfSquares(const short* samples, std::size_t count) {
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t magnitude = static_cast<std::uint32_t>(std::abs(samples[i]));
        sum += magnitude * magnitude;
    }
    return sum;
}

// Whether the input's file work goes on a thread of its own: when it has
// groups to overlap and the run may use a second core; --best's searches
// keep every core busy, and leave the file work little to hide.
bool OverlapsFileWork(const ConversionOptions& options, std::int64_t inputBlocks) {
    const auto ringBlocks = static_cast<std::int64_t>((kRingGroups - 1) * WholeGroupBlocks());
    const unsigned cores = options.workers ? options.workers : platform::UsableCores();
    return !options.best && cores > 1 && inputBlocks > ringBlocks;
}

}  // namespace

void Fidelity::Add(std::uint64_t signal, std::uint64_t noise) {
    signal_ += static_cast<double>(signal);
    noise_ += static_cast<double>(noise);
}

double Fidelity::SnrDb() const {
    return noise_ == 0 ? HUGE_VAL : 10 * std::log10(signal_ / noise_);
}

Group::Group(std::int64_t inputBlocks)
    : capacity_(std::min(static_cast<std::size_t>(inputBlocks), WholeGroupBlocks())),
      raw_(capacity_ * wave::kInputBytesPerBlock),
      rows_(capacity_ * kRowStride),
      blocks_(capacity_ * wave::kBlockSize),
      startIndices_(capacity_),
      squaredErrors_(capacity_) {}

// The codec codes 2048 samples after a block's opening one, the input gives
// 2047, so the last is coded twice; a last block that the samples do not
// fill is filled up with its last sample, so a decoder that plays it hears
// neither a click nor a gap.
ReadFailure Group::Fill(std::FILE* input, std::uint64_t& left) {
    const std::size_t samples =
        static_cast<std::size_t>(std::min<std::uint64_t>(left, capacity_ * wave::kSamplesPerBlock));
    if (const ReadFailure failure = ReadExactly(input, raw_.data(), samples * sizeof(short))) {
        return failure;
    }
    left -= samples;
    samples_ = samples;
    count_ = static_cast<std::size_t>(wave::BlocksFor(samples));
    for (std::size_t b = 0; b < count_; ++b) {
        const std::size_t first = b * wave::kSamplesPerBlock;
        const std::size_t count = OwnSamples(b);
        short* row = &rows_[b * kRowStride];
        for (std::size_t i = 0; i < count; ++i) row[i] = wave::GetLE16(&raw_[2 * (first + i)]);
        std::fill(row + count, row + wave::kSamplesPerBlock + 1, row[count - 1]);
    }
    return {};
}

std::size_t Group::OwnSamples(std::size_t b) const {
    return std::min(samples_ - b * wave::kSamplesPerBlock, wave::kSamplesPerBlock);
}

// A player plays a block's opening sample as it is and one sample for each
// code but the last; of a last block that the samples do not fill, only the
// codes for its own samples count.
void Group::Encode(BestEncoding* best, bool opensTheFile, Fidelity* fidelity) {
    unsigned char* codes = &blocks_[wave::kBlockHeaderSize];
    std::fill_n(startIndices_.begin(), count_, kLaterBlockStepIndex);
    if (opensTheFile) startIndices_[0] = FirstBlockStepIndex(rows_[0]);
    std::uint64_t* errors = fidelity ? squaredErrors_.data() : nullptr;
    const std::size_t lastSamples = OwnSamples(count_ - 1);
    if (best) {
        best->Encode(rows_.data(), kRowStride, wave::kSamplesPerBlock, codes, wave::kBlockSize,
                     startIndices_.data(), count_, lastSamples, errors);
    } else {
        const std::size_t whole = lastSamples == wave::kSamplesPerBlock ? count_ : count_ - 1;
        const SquaredErrors played{errors, wave::kSamplesPerBlock - 1};
        EncodeBlocks(rows_.data(), kRowStride, wave::kSamplesPerBlock, codes, wave::kBlockSize,
                     startIndices_.data(), whole, played);
        EncodeBlocks(&rows_[whole * kRowStride], kRowStride, wave::kSamplesPerBlock,
                     codes + whole * wave::kBlockSize, wave::kBlockSize, &startIndices_[whole],
                     count_ - whole, {played.From(whole).sums, lastSamples - 1});
    }
    for (std::size_t b = 0; b < count_; ++b) {
        wave::PutBlockHeader(&blocks_[b * wave::kBlockSize], rows_[b * kRowStride],
                             startIndices_[b]);
    }
    if (!fidelity) return;
    for (std::size_t b = 0; b < count_; ++b) {
        fidelity->Add(SumOfSquares(&rows_[b * kRowStride], OwnSamples(b)), squaredErrors_[b]);
    }
}

SystemError Group::Write(std::FILE* output) const {
    return WriteExactly(output, blocks_.data(), bytes());
}

// What the file thread and the encoding thread tell each other: how many
// groups each has done, in the order of the file, and the first failure of
// each side. Group g is in ring place g % kRingGroups.
struct EncodingPass::Turns {
    std::mutex mutex;
    std::condition_variable changed;
    std::uint64_t read = 0, encoded = 0, written = 0;
    ReadFailure readFailure;
    SystemError writeError;
};

EncodingPass::EncodingPass(const ConversionOptions& options, std::int64_t inputBlocks)
    : options_(options) {
    groups_.emplace_back(inputBlocks);
    if (options.best) {
        best_.emplace(BestEncoding::WorkersFor(groups_[0].capacity(), options.workers),
                      options.compatible);
    }
    if (options.measure) fidelity_.emplace();
    if (OverlapsFileWork(options, inputBlocks)) {
        fileThread_.emplace(2);
        if (fileThread_->workers() < 2) {
            fileThread_.reset();  // none could start: one group at a time
        } else {
            while (groups_.size() < kRingGroups) groups_.emplace_back(inputBlocks);
        }
    }
}

EncodingPass::~EncodingPass() = default;

ConversionResult EncodingPass::Write(std::FILE* input, const std::string& inputPath,
                                     const SampleSpan& samples, std::FILE* output,
                                     const std::string& outputPath) {
    // The check most often ends at the first sample: no seek, which costs a
    // system call even within the stream's buffer, is then needed.
    if (Tell(input) != samples.start) {
        if (const SystemError error = Seek(input, samples.start, SEEK_SET)) {
            return Failure(inputPath, Message::CannotSeek, error);
        }
    }
    const Files files{input, inputPath, output, outputPath};
    const std::uint64_t total = SampleCount(samples);
    return fileThread_ ? WriteOverlapped(files, total) : WriteInTurn(files, total);
}

void EncodingPass::Encoded(std::size_t samples, std::uint64_t& done, std::uint64_t total) const {
    done += samples;
    if (options_.progress) options_.progress(done, total);
}

ConversionResult EncodingPass::WriteInTurn(const Files& files, std::uint64_t total) {
    Group& group = groups_[0];
    std::uint64_t unstarted = 0, done = 0;
    for (std::uint64_t left = total; left > 0;) {
        if (const ReadFailure failure = group.Fill(files.input, left)) {
            return Failure(files.inputPath, Message::CannotRead, failure.reason());
        }
        group.Encode(best_ ? &*best_ : nullptr, done == 0, fidelity_ ? &*fidelity_ : nullptr);
        if (const SystemError error = group.Write(files.output)) {
            return Failure(files.outputPath, Message::CannotWrite, error);
        }
        unstarted += group.bytes();
        if (unstarted >= kWriteBehindBytes) {
            if (const SystemError error = StartWritingToDisk(files.output)) {
                return Failure(files.outputPath, Message::CannotWrite, error);
            }
            unstarted = 0;
        }
        Encoded(group.samples(), done, total);
    }
    return Converted();
}

// A group is written as soon as it is encoded, which frees its place for the
// next read. Either side stops at its first failure; the other then stops
// too, the reading side having written every group encoded before it.
void EncodingPass::ReadAndWrite(const Files& files, std::uint64_t total, Turns& turns) {
    std::uint64_t left = total, unstarted = 0;
    std::unique_lock<std::mutex> lock(turns.mutex);
    for (;;) {
        const bool readable = left > 0 && !turns.readFailure;
        turns.changed.wait(lock, [&] {
            return turns.encoded > turns.written || turns.written == turns.read ||
                   (readable && turns.read - turns.written < kRingGroups);
        });
        if (turns.encoded > turns.written) {
            const Group& group = groups_[turns.written % kRingGroups];
            lock.unlock();
            SystemError error = group.Write(files.output);
            unstarted += group.bytes();
            if (!error && unstarted >= kWriteBehindBytes) {
                error = StartWritingToDisk(files.output);
                unstarted = 0;
            }
            lock.lock();
            if (error) {
                turns.writeError = error;
                break;
            }
            ++turns.written;
        } else if (readable && turns.read - turns.written < kRingGroups) {
            Group& group = groups_[turns.read % kRingGroups];
            lock.unlock();
            const ReadFailure failure = group.Fill(files.input, left);
            lock.lock();
            if (failure) {
                turns.readFailure = failure;
            } else {
                ++turns.read;
            }
        } else {
            break;  // all read that could be, and written
        }
        turns.changed.notify_all();
    }
    turns.changed.notify_all();
}

ConversionResult EncodingPass::WriteOverlapped(const Files& files, std::uint64_t total) {
    Turns turns;
    const WorkerPool::Job fileWork = [&](std::size_t, std::size_t) {
        ReadAndWrite(files, total, turns);
    };
    fileThread_->Post(1, fileWork);
    std::uint64_t done = 0;
    for (std::uint64_t g = 0;; ++g) {
        std::unique_lock<std::mutex> lock(turns.mutex);
        turns.changed.wait(lock, [&] {
            return turns.read > g || turns.readFailure || turns.writeError || done == total;
        });
        if (turns.writeError || turns.read <= g) break;
        lock.unlock();
        Group& group = groups_[g % kRingGroups];
        group.Encode(nullptr, g == 0, fidelity_ ? &*fidelity_ : nullptr);
        // Once it is counted encoded, the group may be written and refilled.
        const std::size_t encoded = group.samples();
        lock.lock();
        ++turns.encoded;
        turns.changed.notify_all();
        lock.unlock();
        Encoded(encoded, done, total);
    }
    fileThread_->Wait();
    // The writing side stops at a group the reading side read: a failure to
    // write comes first in the file's order.
    if (turns.writeError) return Failure(files.outputPath, Message::CannotWrite, turns.writeError);
    if (turns.readFailure) {
        return Failure(files.inputPath, Message::CannotRead, turns.readFailure.reason());
    }
    return Converted();
}

Summary EncodingPass::Done(const SampleSpan& samples) {
    Summary summary{SampleCount(samples), wave::BlocksFor(SampleCount(samples)), wave::kSampleRate,
                    std::nullopt};
    if (fidelity_) summary.snrDb = fidelity_->SnrDb();
    return summary;
}

}  // namespace convert
