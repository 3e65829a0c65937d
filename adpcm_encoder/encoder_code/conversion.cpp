#include "conversion.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "file_system.h"
#include "ima_adpcm.h"
#include "pending_output.h"
#include "wave_input.h"
#include "wave_layout.h"

namespace {

const char kOutputPrefix[] = "Enc_";
const char kOutputExtension[] = ".wav";

// The encoding pass moves 4096 bytes in and 1028 out a block; with stdio's
// default buffer of a few KiB that is a system call for nearly every block.
// A buffer of this size, allocated once a run for each file, makes them rare.
constexpr std::size_t kStreamBufferBytes = 64 * 1024;
using StreamBuffer = std::vector<char>;

// Buffers a file by `buffer`, which must outlive it; before any other use of
// the file.
File Buffered(File file, StreamBuffer& buffer) {
    buffer.resize(kStreamBufferBytes);
    if (file) std::setvbuf(file.get(), buffer.data(), _IOFBF, buffer.size());
    return file;
}

std::int64_t SizeOf(std::FILE* file) { return Seek(file, 0, SEEK_END) == 0 ? Tell(file) : -1; }

ConversionResult Converted() { return {Outcome::Converted, {}}; }
ConversionResult Rejected(const std::string& path, const std::string& reason) {
    return {Outcome::Rejected, path + ": " + reason};
}

ConversionResult Failure(const std::string& path, const char* what, const char* reason) {
    return {Outcome::Failed, path + ": " + what + ": " + reason};
}

// For failures the system explains; errno must still hold its cause.
ConversionResult SystemFailure(const std::string& path, const char* what) {
    return Failure(path, what, std::strerror(errno));
}

// Why the input cannot be opened for the check, in the user's terms.
std::string OpenRefusal() {
    switch (errno) {
        case EISDIR:
            return "is a directory";
        case EINVAL:
            return "not a regular file";
        default:
            return std::string("cannot open: ") + std::strerror(errno);
    }
}

std::uint64_t SampleCount(const SampleSpan& samples) {
    return static_cast<std::uint64_t>(samples.length) / sizeof(short);
}

// Every sample is encoded: a last block that the samples do not fill is
// filled up with its last sample.
std::int64_t BlockCount(const SampleSpan& samples) {
    return static_cast<std::int64_t>((SampleCount(samples) + wave::kSamplesPerBlock - 1) /
                                     wave::kSamplesPerBlock);
}

std::uint64_t OutputSize(std::int64_t blocks) {
    return wave::kHeaderSize + wave::kBlockSize * static_cast<std::uint64_t>(blocks);
}

// The RIFF size and the fact sample length are 32-bit fields; an output whose
// values would not fit them could not be read back correctly.
bool FitsWaveSizeFields(const SampleSpan& samples) {
    return OutputSize(BlockCount(samples)) - wave::kRiffPreambleSize <= UINT32_MAX &&
           SampleCount(samples) <= UINT32_MAX;
}

// Reads one block's `count` input samples (1 to 2048): the opening sample,
// which goes to HeaderVal, and the rest to be coded. The codec codes 2048
// slots a block, so the slots after the last sample repeat it; a decoder
// that plays them hears neither a click nor a gap.
bool ReadBlock(std::FILE* input, std::size_t count, short (&toCode)[wave::kSamplesPerBlock]) {
    unsigned char raw[wave::kInputBytesPerBlock];
    if (std::fread(raw, sizeof(short), count, input) != count) return false;
    HeaderVal = wave::GetLE16(raw);
    for (std::size_t i = 1; i < count; ++i) toCode[i - 1] = wave::GetLE16(raw + 2 * i);
    const short last = wave::GetLE16(raw + 2 * (count - 1));
    std::fill(toCode + count - 1, std::end(toCode), last);
    return true;
}

void EncodeBlock(IMA_ADPCM& codec, const short (&toCode)[wave::kSamplesPerBlock],
                 unsigned char (&block)[wave::kBlockSize]) {
    wave::PutLE16(block, 0, static_cast<std::uint16_t>(HeaderVal));
    block[2] = IMA_ADPCM::SeedStepIndex();
    block[3] = 0;
    codec.Encode(block, wave::kBlockHeaderSize * 8, toCode, sizeof toCode);
}

ConversionResult InputFailure(std::FILE* input, const std::string& path) {
    return std::ferror(input) ? SystemFailure(path, "cannot read")
                              : Failure(path, "cannot read", "file ended early");
}

ConversionResult WriteBlocks(std::FILE* input, const std::string& inputPath,
                             const SampleSpan& samples, std::FILE* output,
                             const std::string& outputPath) {
    if (Seek(input, samples.start, SEEK_SET) != 0) return SystemFailure(inputPath, "cannot seek");
    IMA_ADPCM codec;
    short toCode[wave::kSamplesPerBlock];
    unsigned char block[wave::kBlockSize];
    for (std::uint64_t left = SampleCount(samples); left > 0;) {
        const std::size_t count = static_cast<std::size_t>(
            std::min<std::uint64_t>(left, wave::kSamplesPerBlock));
        left -= count;
        if (!ReadBlock(input, count, toCode)) return InputFailure(input, inputPath);
        EncodeBlock(codec, toCode, block);
        if (std::fwrite(block, 1, sizeof block, output) != sizeof block) {
            return SystemFailure(outputPath, "cannot write");
        }
    }
    return Converted();
}

bool WriteLE32At(std::FILE* file, long offset, std::uint32_t value) {
    unsigned char bytes[4];
    wave::PutLE32(bytes, 0, value);
    return Seek(file, offset, SEEK_SET) == 0 && std::fwrite(bytes, 1, 4, file) == 4;
}

// Through the file the blocks went to: opened again by name, it could be a
// link swapped in meanwhile.
ConversionResult RewriteSizeFields(std::FILE* output, const std::string& name,
                                   std::uint64_t sampleCount) {
    // Buffered data reaches the file only now, so a full disk shows here.
    if (std::fflush(output) != 0) return SystemFailure(name, "cannot write");
    const std::int64_t size = SizeOf(output);
    if (size < 0) return SystemFailure(name, "cannot seek");
    const std::uint64_t outputSize = static_cast<std::uint64_t>(size);
    const bool written =
        WriteLE32At(output, wave::kRiffSizeOffset,
                    static_cast<std::uint32_t>(outputSize - wave::kRiffPreambleSize)) &&
        WriteLE32At(output, wave::kFactSampleLengthOffset,
                    static_cast<std::uint32_t>(sampleCount)) &&
        WriteLE32At(output, wave::kDataSizeOffset,
                    static_cast<std::uint32_t>(outputSize - wave::kHeaderSize));
    return written ? Converted() : SystemFailure(name, "cannot write");
}

// The file is on the disk before it takes the output's name, so that after a
// power cut that name holds it whole or the previous file.
ConversionResult FillOutput(File input, const std::string& inputPath,
                            const SampleSpan& samples, File output, const std::string& name) {
    if (std::fwrite(wave::WaveHeaderTemplate.data(), 1, wave::kHeaderSize, output.get()) !=
        wave::kHeaderSize) {
        return SystemFailure(name, "cannot write");
    }
    ConversionResult result = WriteBlocks(input.get(), inputPath, samples, output.get(), name);
    if (result.outcome != Outcome::Converted) return result;
    // Read to the end; on Windows a file still open cannot be replaced, and
    // the output's name may be a link to the input.
    input.reset();
    result = RewriteSizeFields(output.get(), name, SampleCount(samples));
    if (result.outcome != Outcome::Converted) return result;
    if (!TakeAccessOf(output.get(), name)) return SystemFailure(name, "cannot keep its permissions");
    if (!FlushToDisk(output.get()) || std::fclose(output.release()) != 0) {
        return SystemFailure(name, "cannot write");
    }
    return Converted();
}

ConversionResult WriteOutput(File input, const std::string& inputPath,
                             const SampleSpan& samples, const std::string& outputPath) {
    // Found now, a folder or a read-only file at the output's name fails the
    // run at once instead of after the encoding pass.
    if (!MayReplace(outputPath)) return SystemFailure(outputPath, "cannot write");
    PendingOutput pending(outputPath);
    StreamBuffer buffer;
    File output = Buffered(pending.Create(), buffer);
    if (!output) return SystemFailure(outputPath, "cannot create a file in its folder");
    const ConversionResult result =
        FillOutput(std::move(input), inputPath, samples, std::move(output), outputPath);
    if (result.outcome != Outcome::Converted) return result;
    if (!pending.MoveIntoPlace()) return SystemFailure(outputPath, "cannot move into place");
    if (!SyncFolderOf(outputPath)) return SystemFailure(outputPath, "cannot sync its folder");
    return result;
}

}  // namespace

std::string OutputPathFor(const std::string& inputPath) {
    const std::size_t separator = inputPath.find_last_of("\\/");
    const std::size_t nameStart = separator == std::string::npos ? 0 : separator + 1;
    const std::string name = inputPath.substr(nameStart);
    const std::string stem = name.substr(0, name.rfind('.'));
    return inputPath.substr(0, nameStart) + kOutputPrefix + stem + kOutputExtension;
}

// The input is opened once: the file checked is the file encoded, whatever
// happens to its name meanwhile.
ConversionResult ConvertFile(const std::string& inputPath, const std::string& outputPath) {
    StreamBuffer buffer;
    File input = Buffered(OpenRegularFile(inputPath), buffer);
    if (!input) return Rejected(inputPath, OpenRefusal());
    const InputCheck check = CheckInput(input.get());
    if (!check.accepted) return Rejected(inputPath, check.reason);
    if (!FitsWaveSizeFields(check.samples)) {
        return Failure(inputPath, "cannot convert",
                       "too large for the 32-bit size fields of a WAVE file");
    }
    return WriteOutput(std::move(input), inputPath, check.samples, outputPath);
}
