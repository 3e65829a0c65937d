#include "conversion.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "file_system.h"
#include "ima_adpcm.h"
#include "pending_output.h"
#include "wave_layout.h"

namespace {

const char kOutputPrefix[] = "Enc_";
const char kOutputExtension[] = ".wav";

// The encoding pass moves 4096 bytes in and 1028 out a block; with stdio's
// default buffer of a few KiB that is a system call for nearly every block.
// A buffer of this size, allocated once a run, makes them rare.
constexpr std::size_t kStreamBufferBytes = 64 * 1024;
using StreamBuffer = std::vector<char>;

// Buffers a file of the encoding pass by `buffer`, which must outlive it.
File Buffered(File file, StreamBuffer& buffer) {
    buffer.resize(kStreamBufferBytes);
    if (file) std::setvbuf(file.get(), buffer.data(), _IOFBF, buffer.size());
    return file;
}

std::int64_t SizeOf(std::FILE* file) { return Seek(file, 0, SEEK_END) == 0 ? Tell(file) : -1; }

ConversionResult Converted() { return {Outcome::Converted, {}}; }
ConversionResult Rejected() { return {Outcome::Rejected, {}}; }

ConversionResult Failure(const std::string& path, const char* what, const char* reason) {
    return {Outcome::Failed, path + ": " + what + ": " + reason};
}

// For failures the system explains; errno must still hold its cause.
ConversionResult SystemFailure(const std::string& path, const char* what) {
    return Failure(path, what, std::strerror(errno));
}

bool HasAcceptedFormat(const unsigned char (&head)[wave::kProbeBytes]) {
    return wave::GetLE32(head + wave::kFormatChunkSizeOffset) == wave::kAcceptedFormatChunkSize &&
           wave::GetUnsignedLE16(head + wave::kFormatTagOffset) == wave::kAcceptedFormatTag &&
           head[wave::kChannelByteOffset] == wave::kAcceptedChannels &&
           wave::GetLE32(head + wave::kSampleRateOffset) == wave::kSampleRate &&
           wave::GetUnsignedLE16(head + wave::kBitsPerSampleOffset) == wave::kAcceptedBitsPerSample;
}

// Where the samples lie in the input: the body of its data chunk.
struct SampleSpan {
    std::int64_t start;
    std::int64_t length;
};

// Writers that stream cannot know the data size when they begin: they leave
// 0 there, or a placeholder such as 0xFFFFFFFF, and never come back to it.
// A size of 0 with bytes after it, or one past the file's end (a placeholder,
// or a file cut short), means the samples run to the end of the file.
std::int64_t DataLength(std::uint32_t declared, std::int64_t available) {
    const bool unknown = declared > available || (declared == 0 && available > 0);
    return unknown ? available : declared;
}

// Walks the chunks that follow the format chunk to the first data chunk.
// Each step advances by at least a chunk header and the walk stops at the
// file's end, so it ends on any input. Without a data chunk there are no
// samples; nothing when the input cannot be read.
std::optional<SampleSpan> FindSamples(std::FILE* input, std::int64_t inputSize) {
    std::int64_t at = wave::kChunksAfterFormatOffset;
    unsigned char header[wave::kChunkHeaderSize];
    while (at + static_cast<std::int64_t>(sizeof header) <= inputSize) {
        if (Seek(input, at, SEEK_SET) != 0 ||
            std::fread(header, 1, sizeof header, input) != sizeof header) {
            return std::nullopt;
        }
        const std::uint32_t size = wave::GetLE32(header + 4);
        const std::int64_t body = at + static_cast<std::int64_t>(sizeof header);
        if (std::memcmp(header, wave::kDataChunkId, 4) == 0) {
            return SampleSpan{body, DataLength(size, inputSize - body)};
        }
        at = body + size + (size & 1);
    }
    return SampleSpan{inputSize, 0};
}

// The samples of an input that passes the header check; nothing for one
// that fails it or cannot be read.
std::optional<SampleSpan> ProbeInput(const std::string& path) {
    const File input = OpenRegularFile(path);
    unsigned char head[wave::kProbeBytes];
    if (!input || std::fread(head, 1, sizeof head, input.get()) != sizeof head ||
        !HasAcceptedFormat(head)) {
        return std::nullopt;
    }
    const std::int64_t size = SizeOf(input.get());
    if (size < 0) return std::nullopt;
    return FindSamples(input.get(), size);
}

std::int64_t BlockCount(const SampleSpan& samples) {
    return samples.length / static_cast<std::int64_t>(wave::kInputBytesPerBlock);
}

std::uint64_t OutputSize(std::int64_t blocks) {
    return wave::kHeaderSize + wave::kBlockSize * static_cast<std::uint64_t>(blocks);
}

std::uint64_t SampleLength(std::int64_t blocks) {
    return wave::kSamplesPerBlock * static_cast<std::uint64_t>(blocks);
}

// The RIFF size and the fact sample length are 32-bit fields; an output whose
// values would not fit them could not be read back correctly.
bool FitsWaveSizeFields(std::int64_t blocks) {
    return OutputSize(blocks) - wave::kRiffPreambleSize <= UINT32_MAX &&
           SampleLength(blocks) <= UINT32_MAX;
}

// Reads one block's 2048 input samples: the opening sample, which goes to
// HeaderVal, and 2047 to be coded. The codec codes 2048 slots a block, so the
// last slot repeats the last sample; a decoder that plays it hears no click.
bool ReadBlock(std::FILE* input, short (&toCode)[wave::kSamplesPerBlock]) {
    unsigned char raw[wave::kInputBytesPerBlock];
    if (std::fread(raw, 1, sizeof raw, input) != sizeof raw) return false;
    HeaderVal = wave::GetLE16(raw);
    for (std::size_t i = 1; i < wave::kSamplesPerBlock; ++i) {
        toCode[i - 1] = wave::GetLE16(raw + 2 * i);
    }
    toCode[wave::kSamplesPerBlock - 1] = toCode[wave::kSamplesPerBlock - 2];
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

ConversionResult WriteBlocks(const std::string& inputPath, const SampleSpan& samples,
                             std::FILE* output, const std::string& outputPath) {
    StreamBuffer buffer;
    const File input = Buffered(OpenRegularFile(inputPath), buffer);
    if (!input) return SystemFailure(inputPath, "cannot open");
    if (Seek(input.get(), samples.start, SEEK_SET) != 0) {
        return SystemFailure(inputPath, "cannot seek");
    }
    IMA_ADPCM codec;
    short toCode[wave::kSamplesPerBlock];
    unsigned char block[wave::kBlockSize];
    for (std::int64_t n = BlockCount(samples); n > 0; --n) {
        if (!ReadBlock(input.get(), toCode)) return InputFailure(input.get(), inputPath);
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
                                   std::int64_t blocks) {
    // Buffered data reaches the file only now, so a full disk shows here.
    if (std::fflush(output) != 0) return SystemFailure(name, "cannot write");
    const std::int64_t size = SizeOf(output);
    if (size < 0) return SystemFailure(name, "cannot seek");
    const std::uint64_t outputSize = static_cast<std::uint64_t>(size);
    const bool written =
        WriteLE32At(output, wave::kRiffSizeOffset,
                    static_cast<std::uint32_t>(outputSize - wave::kRiffPreambleSize)) &&
        WriteLE32At(output, wave::kFactSampleLengthOffset,
                    static_cast<std::uint32_t>(SampleLength(blocks))) &&
        WriteLE32At(output, wave::kDataSizeOffset,
                    static_cast<std::uint32_t>(outputSize - wave::kHeaderSize));
    return written ? Converted() : SystemFailure(name, "cannot write");
}

// The file is on the disk before it takes the output's name, so that after a
// power cut that name holds it whole or the previous file.
ConversionResult FillOutput(const std::string& inputPath, const SampleSpan& samples, File output,
                            const std::string& name) {
    if (std::fwrite(wave::WaveHeaderTemplate.data(), 1, wave::kHeaderSize, output.get()) !=
        wave::kHeaderSize) {
        return SystemFailure(name, "cannot write");
    }
    ConversionResult result = WriteBlocks(inputPath, samples, output.get(), name);
    if (result.outcome != Outcome::Converted) return result;
    result = RewriteSizeFields(output.get(), name, BlockCount(samples));
    if (result.outcome != Outcome::Converted) return result;
    if (!TakeAccessOf(output.get(), name)) return SystemFailure(name, "cannot keep its permissions");
    if (!FlushToDisk(output.get()) || std::fclose(output.release()) != 0) {
        return SystemFailure(name, "cannot write");
    }
    return Converted();
}

ConversionResult WriteOutput(const std::string& inputPath, const SampleSpan& samples,
                             const std::string& outputPath) {
    // Found now, a folder or a read-only file at the output's name fails the
    // run at once instead of after the encoding pass.
    if (!MayReplace(outputPath)) return SystemFailure(outputPath, "cannot write");
    PendingOutput pending(outputPath);
    StreamBuffer buffer;
    File output = Buffered(pending.Create(), buffer);
    if (!output) return SystemFailure(outputPath, "cannot create a file in its folder");
    const ConversionResult result = FillOutput(inputPath, samples, std::move(output), outputPath);
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

ConversionResult ConvertFile(const std::string& inputPath, const std::string& outputPath) {
    const std::optional<SampleSpan> samples = ProbeInput(inputPath);
    if (!samples) return Rejected();
    if (!FitsWaveSizeFields(BlockCount(*samples))) {
        return Failure(inputPath, "cannot convert",
                       "too large for the 32-bit size fields of a WAVE file");
    }
    return WriteOutput(inputPath, *samples, outputPath);
}
