#include "convert/conversion.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#include "convert/decoding_pass.h"
#include "convert/encoding_pass.h"
#include "convert/pending_output.h"
#include "convert/results.h"
#include "convert/tuning.h"
#include "platform/file_system.h"
#include "platform/stream.h"
#include "wave/wave_input.h"
#include "wave/wave_output.h"

namespace convert {

using platform::About;
using platform::CheckReplaceable;
using platform::Close;
using platform::File;
using platform::FlushToDisk;
using platform::Message;
using platform::OpenRegularFile;
using platform::Opened;
using platform::SyncFolderOf;
using platform::SystemError;
using platform::TakeAccessOf;
using platform::Text;
using platform::WriteExactly;
using wave::AdpcmCheck;
using wave::CheckAdpcmInput;
using wave::CheckInput;
using wave::InputCheck;
using wave::SampleCount;
using wave::SampleSpan;

namespace {

using StreamBuffer = std::vector<char>;

// A buffer for a file of `fileBytes`: the smallest power of two from a page
// up that holds it, or kStreamBufferBytes. After a seek glibc reads from a
// multiple of its buffer's size, so such a buffer holds a small file whole.
StreamBuffer StreamBufferFor(std::uint64_t fileBytes) {
    std::size_t bytes = kPageBytes;
    while (bytes < fileBytes && bytes < kStreamBufferBytes) bytes *= 2;
    return StreamBuffer(bytes);
}

// Buffers a file by `buffer`, which must outlive it; before any other use of
// the file.
void Buffer(std::FILE* file, StreamBuffer& buffer) {
    std::setvbuf(file, buffer.data(), _IOFBF, buffer.size());
}

// Why the input cannot be opened for the check, in the user's terms.
std::string OpenRejection(const SystemError& error) {
    switch (error.code()) {
        case EISDIR:
            return Text(Message::IsADirectory);
        case EINVAL:
            return Text(Message::NotARegularFile);
        default:
            return About(Text(Message::CannotOpen), error.reason());
    }
}

// Writes the output's whole content through the file given.
using Filler = std::function<ConversionResult(std::FILE* output)>;

// The file is on the disk before it takes the output's name, so that after a
// power cut that name holds it whole or the previous file.
ConversionResult WriteOutput(const std::string& outputPath, std::uint64_t outputSize,
                             const Filler& fill) {
    // Found now, a folder or a read-only file at the output's name fails the
    // run at once instead of after the encoding pass.
    if (const SystemError error = CheckReplaceable(outputPath)) {
        return Failure(outputPath, Message::CannotWrite, error);
    }
    // Allocated before the temporary file exists: a lack of memory cannot
    // leave it behind.
    StreamBuffer buffer = StreamBufferFor(outputSize);
    PendingOutput pending(outputPath);
    Opened output = pending.Create();
    if (!output.file) return Failure(outputPath, Message::CannotCreate, output.error);
    Buffer(output.file.get(), buffer);
    // Before any audio is in it: no one the old file kept out may read it.
    if (const SystemError error = TakeAccessOf(output.file.get(), outputPath)) {
        return Failure(outputPath, Message::CannotKeepPermissions, error);
    }
    ConversionResult result = fill(output.file.get());
    if (result.outcome != Outcome::Converted) return result;
    if (const SystemError error = FlushToDisk(output.file.get())) {
        return Failure(outputPath, Message::CannotWrite, error);
    }
    if (const SystemError error = Close(std::move(output.file))) {
        return Failure(outputPath, Message::CannotWrite, error);
    }
    if (const SystemError error = pending.MoveIntoPlace()) {
        return Failure(outputPath, Message::CannotMoveIntoPlace, error);
    }
    if (const SystemError error = SyncFolderOf(outputPath)) {
        return Failure(outputPath, Message::CannotSyncFolder, error);
    }
    return result;
}

// The input, opened once, only for reading, and buffered as its size needs:
// the file checked is the file the pass reads, whatever happens to its name
// meanwhile.
struct Input {
    StreamBuffer buffer;  // outlives the file
    File file;
    std::int64_t size = 0;
};

// Opens and checks the input (CheckInput or CheckAdpcmInput), then runs
// `pass` on it, or gives the rejection.
template <typename Check, typename Pass>
ConversionResult WithCheckedInput(const std::string& inputPath, const Check& check,
                                  const Pass& pass) {
    Input input;
    Opened opened = OpenRegularFile(inputPath, input.size);
    if (!opened.file) {
        // Out of descriptors or memory, the run failed, not the file.
        const int code = opened.error.code();
        if (code == EMFILE || code == ENFILE || code == ENOMEM) {
            return Failure(inputPath, Message::CannotOpen, opened.error);
        }
        return Rejected(inputPath, OpenRejection(opened.error));
    }
    input.buffer = StreamBufferFor(static_cast<std::uint64_t>(input.size));
    input.file = std::move(opened.file);
    Buffer(input.file.get(), input.buffer);
    const auto checked = check(input.file.get(), input.size);
    if (!checked.accepted) return Rejected(inputPath, checked.reason);
    return pass(input.file, checked);
}

// The check's warning, if any, after the pass's.
ConversionResult WithWarning(ConversionResult result, const std::string& inputPath,
                             const std::string& warning) {
    if (!warning.empty()) result.warnings.push_back(About(Shown(inputPath), warning));
    return result;
}

ConversionResult Decode(const std::string& inputPath, const std::string& outputPath) {
    return WithCheckedInput(inputPath, CheckAdpcmInput, [&](File& input, const AdpcmCheck& check) {
        DecodingPass pass(check);
        const std::uint64_t dataBytes = pass.samples() * sizeof(short);
        if (!wave::PcmFitsWaveSizeFields(dataBytes)) {
            return Failure(inputPath, Message::CannotDecode, Message::TooLarge);
        }
        ConversionResult result =
            WriteOutput(outputPath, wave::kPcmHeaderSize + dataBytes, [&](std::FILE* output) {
                const wave::PcmHeader header =
                    wave::MakePcmHeader(check.rate, static_cast<std::uint32_t>(dataBytes));
                if (const SystemError error = WriteExactly(output, header.data(), header.size())) {
                    return Failure(outputPath, Message::CannotWrite, error);
                }
                ConversionResult written = pass.Write(input.get(), inputPath, output, outputPath);
                input.reset();  // as for a conversion: before the move
                return written;
            });
        result.warnings = pass.Warnings(inputPath);
        result.summary = {pass.samples(), 0, check.rate, std::nullopt};
        return WithWarning(std::move(result), inputPath, check.warning);
    });
}

ConversionResult Convert(const std::string& inputPath, const std::string& outputPath,
                         const ConversionOptions& options) {
    return WithCheckedInput(inputPath, CheckInput, [&](File& input, const InputCheck& check) {
        const SampleSpan& samples = check.samples;
        const std::uint64_t count = SampleCount(samples);
        if (!wave::FitsWaveSizeFields(count)) {
            return Failure(inputPath, Message::CannotConvert, Message::TooLarge);
        }
        // Sized to the input, and allocated before the temporary file exists:
        // a lack of memory cannot leave it behind.
        EncodingPass pass(options, static_cast<std::int64_t>(wave::BlocksFor(count)));
        ConversionResult result =
            WriteOutput(outputPath, wave::OutputSize(count), [&](std::FILE* output) {
                const wave::Header header = wave::OutputHeader(count);
                if (const SystemError error = WriteExactly(output, header.data(), header.size())) {
                    return Failure(outputPath, Message::CannotWrite, error);
                }
                ConversionResult written =
                    pass.Write(input.get(), inputPath, samples, output, outputPath);
                if (written.outcome != Outcome::Converted) return written;
                // Read to the end; on Windows a file still open cannot be replaced,
                // and the output's name may be a link to the input.
                input.reset();
                return Converted(pass.Done(samples));
            });
        return WithWarning(std::move(result), inputPath, check.warning);
    });
}

// Caught here, an allocation that fails has unwound the run, and with it the
// temporary file's removal.
template <typename Run>
ConversionResult WithoutRunningOutOfMemory(const std::string& outputPath, const Run& run) {
    try {
        return run();
    } catch (const std::bad_alloc&) {
        return Failure(outputPath, Message::CannotConvert, Message::OutOfMemory);
    }
}

}  // namespace

ConversionResult DecodeFile(const std::string& inputPath, const std::string& outputPath) {
    return WithoutRunningOutOfMemory(outputPath, [&] { return Decode(inputPath, outputPath); });
}

ConversionResult ConvertFile(const std::string& inputPath, const std::string& outputPath,
                             const ConversionOptions& options) {
    return WithoutRunningOutOfMemory(outputPath,
                                     [&] { return Convert(inputPath, outputPath, options); });
}

}  // namespace convert
