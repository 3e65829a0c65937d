#include "convert/decoding_pass.h"

#include <algorithm>

#include "convert/naming.h"
#include "convert/results.h"
#include "codec/blocks.h"
#include "codec/code_format.h"
#include "platform/file_system.h"
#include "platform/stream.h"
#include "wave/wave_output.h"

namespace convert {

using codec::DecodeBlocks;
using codec::kMaxStepIndex;
using platform::About;
using platform::Message;
using platform::ReadExactly;
using platform::ReadFailure;
using platform::Seek;
using platform::SystemError;
using platform::Worded;
using platform::WriteExactly;
using wave::AdpcmCheck;

namespace {

// A block's samples as a standard decoder plays them: its opening sample,
// then one for each code, from the step index in its header.
void DecodeBlock(const unsigned char* block, std::size_t samples, short* out) {
    const short opening = wave::GetLE16(block);
    DecodeBlocks(&opening, 0, &block[wave::kStepIndexAt], block + wave::kBlockHeaderSize, 0,
                 samples, out, 0, 1);
}

// A block is well formed when its step index is one the table has and its
// reserved byte is 0; players clamp the index and ignore the byte.
bool IsWellFormed(const unsigned char* block) {
    return block[wave::kStepIndexAt] <= kMaxStepIndex && block[wave::kReservedAt] == 0;
}

}  // namespace

DecodingPass::DecodingPass(const AdpcmCheck& format)
    : format_(format),
      wholeBlocks_(static_cast<std::uint64_t>(format.data.length) / format.blockAlign),
      partialBytes_(static_cast<std::size_t>(format.data.length % format.blockAlign)),
      block_(format.blockAlign),
      samples_(format.samplesPerBlock),
      bytes_(format.samplesPerBlock * sizeof(short)) {
    const std::uint64_t held = wholeBlocks_ * format.samplesPerBlock + PartialSamples();
    // A fact chunk of 0 beside blocks is one a writer never filled in.
    const bool factTrue = format.factLength && *format.factLength > 0 && *format.factLength <= held;
    count_ = factTrue ? *format.factLength : held;
    if (format.factLength && *format.factLength > held) factBeyondBlocks_ = *format.factLength;
}

ConversionResult DecodingPass::Write(std::FILE* input, const std::string& inputPath,
                                     std::FILE* output, const std::string& outputPath) {
    if (const SystemError error = Seek(input, format_.data.start, SEEK_SET)) {
        return Failure(inputPath, Message::CannotSeek, error);
    }
    std::uint64_t left = count_;
    for (std::uint64_t b = 0; left > 0; ++b) {
        const bool partial = b == wholeBlocks_;
        const std::size_t length = partial ? partialBytes_ : block_.size();
        if (const ReadFailure failure = ReadExactly(input, block_.data(), length)) {
            return Failure(inputPath, Message::CannotRead, failure.reason());
        }
        if (!IsWellFormed(block_.data()) && malformed_++ == 0) firstMalformed_ = b;
        const std::size_t count = static_cast<std::size_t>(
            std::min<std::uint64_t>(left, partial ? PartialSamples() : format_.samplesPerBlock));
        DecodeBlock(block_.data(), count, samples_.data());
        for (std::size_t i = 0; i < count; ++i) {
            wave::PutLE16(bytes_, 2 * i, static_cast<std::uint16_t>(samples_[i]));
        }
        if (const SystemError error = WriteExactly(output, bytes_.data(), count * sizeof(short))) {
            return Failure(outputPath, Message::CannotWrite, error);
        }
        left -= count;
    }
    return Converted();
}

std::vector<std::string> DecodingPass::Warnings(const std::string& inputPath) const {
    std::vector<std::string> warnings;
    const std::string shown = Shown(inputPath);
    const unsigned long long first = firstMalformed_ + 1;  // counted from 1
    if (malformed_ == 1) {
        warnings.push_back(About(shown, Worded(Message::MalformedBlock, first)));
    } else if (malformed_ > 1) {
        const unsigned long long more = malformed_ - 1;
        warnings.push_back(About(shown, Worded(Message::MalformedBlocks, first, more)));
    }
    if (partialBytes_ > 0) {
        warnings.push_back(About(
            shown, Worded(Message::PartialBlock, static_cast<unsigned long long>(partialBytes_))));
    }
    if (factBeyondBlocks_) {
        const unsigned long long claimed = *factBeyondBlocks_, held = count_;
        warnings.push_back(About(shown, Worded(Message::FactBeyondBlocks, claimed, held)));
    }
    return warnings;
}

// The opening sample and a sample for each whole code of a block cut short.
std::uint64_t DecodingPass::PartialSamples() const {
    if (partialBytes_ < wave::kBlockHeaderSize) return 0;
    return std::min<std::uint64_t>(format_.samplesPerBlock,
                                   1 + 2 * (partialBytes_ - wave::kBlockHeaderSize));
}

}  // namespace convert
