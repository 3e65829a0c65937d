#include "convert/encoding_pass.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "codec/blocks.h"
#include "convert/results.h"
#include "convert/tuning.h"
#include "platform/file_system.h"
#include "wave/wave_output.h"

namespace convert {

using codec::DecodeBlocks;
using codec::EncodeBlocks;
using codec::FirstBlockStepIndex;
using codec::kBlocksInLanes;
using codec::kLaterBlockStepIndex;
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

}  // namespace

Fidelity::Fidelity(std::size_t blocks) : decoded_(blocks * wave::kSamplesPerBlock) {}

// Squares of 16-bit values and of their differences fit 32 bits unsigned,
// and a block's sums 64: whole numbers, which the compiler adds in vector
// lanes, in any order, to the same result.
void Fidelity::Add(const short* samples, const short* decoded, std::size_t count) {
    std::uint64_t signal = 0, noise = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t magnitude = static_cast<std::uint32_t>(std::abs(samples[i]));
        const std::uint32_t error = static_cast<std::uint32_t>(std::abs(samples[i] - decoded[i]));
        signal += magnitude * magnitude;
        noise += error * error;
    }
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
      startIndices_(capacity_) {}

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
        const std::size_t count = std::min(samples - first, wave::kSamplesPerBlock);
        short* row = &rows_[b * kRowStride];
        for (std::size_t i = 0; i < count; ++i) row[i] = wave::GetLE16(&raw_[2 * (first + i)]);
        std::fill(row + count, row + wave::kSamplesPerBlock + 1, row[count - 1]);
    }
    return {};
}

void Group::Encode(BestEncoding* best, bool opensTheFile) {
    unsigned char* codes = &blocks_[wave::kBlockHeaderSize];
    std::fill_n(startIndices_.begin(), count_, kLaterBlockStepIndex);
    if (opensTheFile && count_ > 0) startIndices_[0] = FirstBlockStepIndex(rows_[0]);
    if (best) {
        const std::size_t lastSamples =
            count_ > 0 ? samples_ - (count_ - 1) * wave::kSamplesPerBlock : 0;
        best->Encode(rows_.data(), kRowStride, wave::kSamplesPerBlock, codes, wave::kBlockSize,
                     startIndices_.data(), count_, lastSamples);
    } else {
        EncodeBlocks(rows_.data(), kRowStride, wave::kSamplesPerBlock, codes, wave::kBlockSize,
                     startIndices_.data(), count_);
    }
    for (std::size_t b = 0; b < count_; ++b) {
        wave::PutBlockHeader(&blocks_[b * wave::kBlockSize], rows_[b * kRowStride],
                             startIndices_[b]);
    }
}

void Group::Measure(Fidelity& fidelity) const {
    short* decoded = fidelity.decoded();
    DecodeBlocks(rows_.data(), kRowStride, startIndices_.data(), &blocks_[wave::kBlockHeaderSize],
                 wave::kBlockSize, wave::kSamplesPerBlock, decoded, wave::kSamplesPerBlock, count_);
    for (std::size_t b = 0; b < count_; ++b) {
        const std::size_t first = b * wave::kSamplesPerBlock;
        fidelity.Add(&rows_[b * kRowStride], decoded + first,
                     std::min(samples_ - first, wave::kSamplesPerBlock));
    }
}

SystemError Group::Write(std::FILE* output) const {
    return WriteExactly(output, blocks_.data(), bytes());
}

BackgroundFidelity::BackgroundFidelity(std::size_t blocks) : fidelity_(blocks), thread_(2) {}

BackgroundFidelity::~BackgroundFidelity() { thread_.Wait(); }

void BackgroundFidelity::Measure(const Group& group) {
    thread_.Wait();
    measured_ = &group;
    thread_.Post(1, job_);
}

double BackgroundFidelity::SnrDb() {
    thread_.Wait();
    return fidelity_.SnrDb();
}

EncodingPass::EncodingPass(const ConversionOptions& options, std::int64_t inputBlocks)
    : options_(options) {
    groups_.emplace_back(inputBlocks);
    if (options.best) {
        best_.emplace(BestEncoding::WorkersFor(groups_[0].capacity(), options.workers),
                      options.compatible);
    }
    if (options.measure) {
        fidelity_.emplace(groups_[0].capacity());
        groups_.emplace_back(inputBlocks);
    }
}

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
    const std::uint64_t total = SampleCount(samples);
    std::uint64_t unstarted = 0;
    for (std::uint64_t left = total, turn = 0; left > 0; ++turn) {
        Group& group = groups_[turn % groups_.size()];
        if (const ReadFailure failure = group.Fill(input, left)) {
            return Failure(inputPath, Message::CannotRead, failure.reason());
        }
        group.Encode(best_ ? &*best_ : nullptr, turn == 0);
        if (const SystemError error = group.Write(output)) {
            return Failure(outputPath, Message::CannotWrite, error);
        }
        if (fidelity_) fidelity_->Measure(group);
        unstarted += group.bytes();
        if (unstarted >= kWriteBehindBytes) {
            if (const SystemError error = StartWritingToDisk(output)) {
                return Failure(outputPath, Message::CannotWrite, error);
            }
            unstarted = 0;
        }
        if (options_.progress) options_.progress(total - left, total);
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
