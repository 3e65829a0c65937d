#include "conversion.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "file_system.h"
#include "ima_adpcm_blocks.h"
#include "pending_output.h"
#include "wave_input.h"
#include "wave_layout.h"

namespace {

const char kOutputPrefix[] = "Enc_";
const char kOutputExtension[] = ".wav";

// The check reads the input's chunk headers a few bytes at a time, and the
// encoding pass writes 32 blocks' 32 KiB at a time; with stdio's default
// buffer of a few KiB those are many system calls. A buffer of up to this
// size, allocated once a run for each file, makes them rare.
constexpr std::size_t kStreamBufferBytes = 64 * 1024;
constexpr std::size_t kPageBytes = 4096;
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
File Buffered(File file, StreamBuffer& buffer) {
    if (file) std::setvbuf(file.get(), buffer.data(), _IOFBF, buffer.size());
    return file;
}

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
    return static_cast<std::int64_t>(wave::BlocksFor(SampleCount(samples)));
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

// The encoding pass reads, encodes and writes this many blocks at a time, or
// the nearest multiple of what the codec encodes side by side.
constexpr std::size_t kGroupBlocks = 32;
// A row holds a block's opening sample and the 2048 it codes. Rows 4098
// bytes apart would share the processor's cache sets; a few samples more
// keep them apart.
constexpr std::size_t kRowStride = wave::kSamplesPerBlock + 1 + 32;

// The output goes on the disk before it takes its name. That writing, begun
// every so many bytes, goes on while later blocks are encoded, and the sync
// at the end has little left to wait for.
constexpr std::uint64_t kWriteBehindBytes = 1 << 20;

// A whole group's blocks, or the nearest multiple of what the codec encodes
// side by side.
std::size_t WholeGroupBlocks() {
    return (kGroupBlocks + kBlocksSideBySide - 1) / kBlocksSideBySide * kBlocksSideBySide;
}

// The encoding pass's buffers, allocated once a run, for a whole group of
// blocks or for all the input's blocks when it has fewer.
class Group {
public:
    explicit Group(std::int64_t inputBlocks)
        : capacity_(std::min(static_cast<std::size_t>(inputBlocks), WholeGroupBlocks())),
          raw_(capacity_ * wave::kInputBytesPerBlock),
          rows_(capacity_ * kRowStride),
          blocks_(capacity_ * wave::kBlockSize),
          startIndices_(capacity_) {}

    // Reads the next blocks' samples, as many of the `left` as fit, into
    // rows; false when the input cannot give them. The codec codes 2048
    // samples after a block's opening one, the input gives 2047, so the
    // last is coded twice; a last block that the samples do not fill is
    // filled up with its last sample, so a decoder that plays it hears
    // neither a click nor a gap.
    bool Read(std::FILE* input, std::uint64_t& left) {
        const std::size_t samples = static_cast<std::size_t>(
            std::min<std::uint64_t>(left, capacity_ * wave::kSamplesPerBlock));
        if (std::fread(raw_.data(), sizeof(short), samples, input) != samples) return false;
        left -= samples;
        count_ = static_cast<std::size_t>(wave::BlocksFor(samples));
        for (std::size_t b = 0; b < count_; ++b) {
            const std::size_t first = b * wave::kSamplesPerBlock;
            const std::size_t count = std::min(samples - first, wave::kSamplesPerBlock);
            short* row = &rows_[b * kRowStride];
            for (std::size_t i = 0; i < count; ++i) row[i] = wave::GetLE16(&raw_[2 * (first + i)]);
            std::fill(row + count, row + wave::kSamplesPerBlock + 1, row[count - 1]);
        }
        return true;
    }

    // Encodes the blocks read into their place in the output, 1028 bytes each.
    void Encode() {
        EncodeBlocks(rows_.data(), kRowStride, wave::kSamplesPerBlock,
                     &blocks_[wave::kBlockHeaderSize], wave::kBlockSize, startIndices_.data(),
                     count_);
        for (std::size_t b = 0; b < count_; ++b) {
            unsigned char* block = &blocks_[b * wave::kBlockSize];
            wave::PutLE16(block, 0, static_cast<std::uint16_t>(rows_[b * kRowStride]));
            block[2] = startIndices_[b];
            block[3] = 0;
        }
    }

    bool Write(std::FILE* output) const {
        return std::fwrite(blocks_.data(), 1, bytes(), output) == bytes();
    }

    // Of the blocks read, encoded and written.
    std::size_t bytes() const { return count_ * wave::kBlockSize; }

private:
    std::size_t capacity_;  // blocks
    std::vector<unsigned char> raw_;
    std::vector<short> rows_;
    std::vector<unsigned char> blocks_;
    std::vector<unsigned char> startIndices_;
    std::size_t count_ = 0;  // blocks read
};

ConversionResult InputFailure(std::FILE* input, const std::string& path) {
    return std::ferror(input) ? SystemFailure(path, "cannot read")
                              : Failure(path, "cannot read", "file ended early");
}

// The check most often ends at the first sample: no seek, which costs a
// system call even within the stream's buffer, is then needed.
ConversionResult WriteBlocks(std::FILE* input, const std::string& inputPath,
                             const SampleSpan& samples, Group& group, std::FILE* output,
                             const std::string& outputPath) {
    if (Tell(input) != samples.start && Seek(input, samples.start, SEEK_SET) != 0) {
        return SystemFailure(inputPath, "cannot seek");
    }
    std::uint64_t unstarted = 0;
    for (std::uint64_t left = SampleCount(samples); left > 0;) {
        if (!group.Read(input, left)) return InputFailure(input, inputPath);
        group.Encode();
        if (!group.Write(output)) return SystemFailure(outputPath, "cannot write");
        unstarted += group.bytes();
        if (unstarted >= kWriteBehindBytes) {
            if (!StartWritingToDisk(output)) return SystemFailure(outputPath, "cannot write");
            unstarted = 0;
        }
    }
    return Converted();
}

// The sizes are known before the first block is written: every sample is
// encoded, into whole blocks.
wave::Header OutputHeader(const SampleSpan& samples) {
    const std::uint64_t outputSize = OutputSize(BlockCount(samples));
    wave::Header header = wave::WaveHeaderTemplate;
    wave::PutLE32(header, wave::kRiffSizeOffset,
                  static_cast<std::uint32_t>(outputSize - wave::kRiffPreambleSize));
    wave::PutLE32(header, wave::kFactSampleLengthOffset,
                  static_cast<std::uint32_t>(SampleCount(samples)));
    wave::PutLE32(header, wave::kDataSizeOffset,
                  static_cast<std::uint32_t>(outputSize - wave::kHeaderSize));
    return header;
}

// The file is on the disk before it takes the output's name, so that after a
// power cut that name holds it whole or the previous file.
ConversionResult FillOutput(File input, const std::string& inputPath, const SampleSpan& samples,
                            Group& group, File output, const std::string& name) {
    const wave::Header header = OutputHeader(samples);
    if (std::fwrite(header.data(), 1, header.size(), output.get()) != header.size()) {
        return SystemFailure(name, "cannot write");
    }
    const ConversionResult result =
        WriteBlocks(input.get(), inputPath, samples, group, output.get(), name);
    if (result.outcome != Outcome::Converted) return result;
    // Read to the end; on Windows a file still open cannot be replaced, and
    // the output's name may be a link to the input.
    input.reset();
    // The last blocks reach the file only now, so a full disk may show here.
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
    // Sized to the input, and allocated before the temporary file exists: a
    // lack of memory cannot leave it behind.
    const std::int64_t blocks = BlockCount(samples);
    Group group(blocks);
    StreamBuffer buffer = StreamBufferFor(OutputSize(blocks));
    PendingOutput pending(outputPath);
    File output = Buffered(pending.Create(), buffer);
    if (!output) return SystemFailure(outputPath, "cannot create a file in its folder");
    // Before any audio is in it: no one the old file kept out may read it.
    if (!TakeAccessOf(output.get(), outputPath)) {
        return SystemFailure(outputPath, "cannot keep its permissions");
    }
    const ConversionResult result =
        FillOutput(std::move(input), inputPath, samples, group, std::move(output), outputPath);
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
    std::int64_t inputSize = 0;
    StreamBuffer buffer;  // outlives the input
    File input = OpenRegularFile(inputPath, inputSize);
    if (!input) return Rejected(inputPath, OpenRefusal());
    buffer = StreamBufferFor(static_cast<std::uint64_t>(inputSize));
    input = Buffered(std::move(input), buffer);
    const InputCheck check = CheckInput(input.get(), inputSize);
    if (!check.accepted) return Rejected(inputPath, check.reason);
    if (!FitsWaveSizeFields(check.samples)) {
        return Failure(inputPath, "cannot convert",
                       "too large for the 32-bit size fields of a WAVE file");
    }
    return WriteOutput(std::move(input), inputPath, check.samples, outputPath);
}
