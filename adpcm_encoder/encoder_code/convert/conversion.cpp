#include "convert/conversion.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#include "convert/best_encoding.h"
#include "platform/file_system.h"
#include "ima_adpcm.h"
#include "ima_adpcm_blocks.h"
#include "ima_adpcm_tables.h"
#include "convert/pending_output.h"
#include "wave/wave_input.h"
#include "wave/wave_output.h"
#include "convert/worker_pool.h"

namespace {

const char kOutputPrefix[] = "Enc_";
const char kDecodedPrefix[] = "Dec_";
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


ConversionResult Converted(Summary summary = {}) { return {Outcome::Converted, {}, summary, {}}; }
ConversionResult Rejected(const std::string& path, const std::string& reason) {
    return {Outcome::Rejected, Shown(path) + ": " + reason, {}, {}};
}

ConversionResult Failure(const std::string& path, const char* what, const char* reason) {
    return {Outcome::Failed, Shown(path) + ": " + what + ": " + reason, {}, {}};
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

// A block's samples as a standard decoder plays them: its opening sample,
// then one for each code, from the step index in its header.
void DecodeBlock(const unsigned char* block, std::size_t samples, short* out) {
    const short opening = wave::GetLE16(block);
    DecodeBlocks(&opening, 0, &block[wave::kStepIndexAt], block + wave::kBlockHeaderSize, 0,
                 samples, out, 0, 1);
}

// How far the decoded blocks are from the samples they stand for.
class Fidelity {
public:
    // Room for a group of `blocks` blocks' decoded samples.
    explicit Fidelity(std::size_t blocks) : decoded_(blocks * wave::kSamplesPerBlock) {}

    short* decoded() { return decoded_.data(); }

    // Squares of 16-bit values and of their differences fit 32 bits unsigned,
    // and a block's sums 64: whole numbers, which the compiler adds in
    // vector lanes, in any order, to the same result.
    void Add(const short* samples, const short* decoded, std::size_t count) {
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

    // Infinite when nothing was lost, silence included.
    double SnrDb() const {
        return noise_ == 0 ? HUGE_VAL : 10 * std::log10(signal_ / noise_);
    }

private:
    std::vector<short> decoded_;
    double signal_ = 0, noise_ = 0;
};

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
        samples_ = samples;
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

    // Encodes the blocks read into their place in the output, 1028 bytes
    // each: with `best`'s searches if given, else as the default encoder does.
    void Encode(BestEncoding* best) {
        unsigned char* codes = &blocks_[wave::kBlockHeaderSize];
        if (best) {
            best->Encode(rows_.data(), kRowStride, wave::kSamplesPerBlock, codes, wave::kBlockSize,
                         startIndices_.data(), count_);
        } else {
            EncodeBlocks(rows_.data(), kRowStride, wave::kSamplesPerBlock, codes,
                         wave::kBlockSize, startIndices_.data(), count_);
        }
        for (std::size_t b = 0; b < count_; ++b) {
            unsigned char* block = &blocks_[b * wave::kBlockSize];
            wave::PutLE16(block, 0, static_cast<std::uint16_t>(rows_[b * kRowStride]));
            block[wave::kStepIndexAt] = startIndices_[b];
            block[wave::kReservedAt] = 0;
        }
    }

    // Decodes the blocks encoded, as a player would, against the samples
    // read; the samples that fill up a last block do not count.
    void Measure(Fidelity& fidelity) const {
        short* decoded = fidelity.decoded();
        DecodeBlocks(rows_.data(), kRowStride, startIndices_.data(),
                     &blocks_[wave::kBlockHeaderSize], wave::kBlockSize, wave::kSamplesPerBlock,
                     decoded, wave::kSamplesPerBlock, count_);
        for (std::size_t b = 0; b < count_; ++b) {
            const std::size_t first = b * wave::kSamplesPerBlock;
            fidelity.Add(&rows_[b * kRowStride], decoded + first,
                         std::min(samples_ - first, wave::kSamplesPerBlock));
        }
    }

    bool Write(std::FILE* output) const {
        return std::fwrite(blocks_.data(), 1, bytes(), output) == bytes();
    }

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

ConversionResult InputFailure(std::FILE* input, const std::string& path) {
    return std::ferror(input) ? SystemFailure(path, "cannot read")
                              : Failure(path, "cannot read", "file ended early");
}

// With -v, each group's blocks are decoded and measured on a thread of their
// own while the next group is read, encoded and written, so that another
// core hides the decoding. Two groups take turns; the measurements are
// added in the order of the groups, so the sums are the same on any machine.
class BackgroundFidelity {
public:
    explicit BackgroundFidelity(std::size_t blocks) : fidelity_(blocks), thread_(2) {}
    ~BackgroundFidelity() { thread_.Wait(); }
    BackgroundFidelity(const BackgroundFidelity&) = delete;
    BackgroundFidelity& operator=(const BackgroundFidelity&) = delete;

    // Measures `group`, which must not change until the next Measure or Done.
    void Measure(const Group& group) {
        thread_.Wait();
        measured_ = &group;
        thread_.Post(1, job_);
    }

    double SnrDb() {
        thread_.Wait();
        return fidelity_.SnrDb();
    }

private:
    Fidelity fidelity_;
    const Group* measured_ = nullptr;
    const WorkerPool::Job job_ = [this](std::size_t, std::size_t) { measured_->Measure(fidelity_); };
    WorkerPool thread_;
};

// One run's encoding pass: its buffers, and --best's threads and searches,
// all made before the output is, so that a run short of memory or threads
// fails before it has written anything.
class EncodingPass {
public:
    EncodingPass(const ConversionOptions& options, std::int64_t inputBlocks) : options_(options) {
        groups_.emplace_back(inputBlocks);
        if (options.best) best_.emplace(BestEncoding::WorkersFor(groups_[0].capacity()));
        if (options.measure) {
            fidelity_.emplace(groups_[0].capacity());
            groups_.emplace_back(inputBlocks);
        }
    }

    ConversionResult Write(std::FILE* input, const std::string& inputPath,
                           const SampleSpan& samples, std::FILE* output,
                           const std::string& outputPath) {
        // The check most often ends at the first sample: no seek, which costs
        // a system call even within the stream's buffer, is then needed.
        if (Tell(input) != samples.start && Seek(input, samples.start, SEEK_SET) != 0) {
            return SystemFailure(inputPath, "cannot seek");
        }
        const std::uint64_t total = SampleCount(samples);
        std::uint64_t unstarted = 0;
        for (std::uint64_t left = total, turn = 0; left > 0; ++turn) {
            Group& group = groups_[turn % groups_.size()];
            if (!group.Read(input, left)) return InputFailure(input, inputPath);
            group.Encode(best_ ? &*best_ : nullptr);
            if (!group.Write(output)) return SystemFailure(outputPath, "cannot write");
            if (fidelity_) fidelity_->Measure(group);
            unstarted += group.bytes();
            if (unstarted >= kWriteBehindBytes) {
                if (!StartWritingToDisk(output)) return SystemFailure(outputPath, "cannot write");
                unstarted = 0;
            }
            if (options_.progress) options_.progress(total - left, total);
        }
        return Converted();
    }

    Summary Done(const SampleSpan& samples) {
        Summary summary{SampleCount(samples), static_cast<std::uint64_t>(BlockCount(samples)),
                        wave::kSampleRate, std::nullopt};
        if (fidelity_) summary.snrDb = fidelity_->SnrDb();
        return summary;
    }

private:
    const ConversionOptions& options_;
    std::vector<Group> groups_;  // two with a measure
    std::optional<BestEncoding> best_;
    std::optional<BackgroundFidelity> fidelity_;
};

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

// Writes the output's whole content through the file given.
using Filler = std::function<ConversionResult(std::FILE* output)>;

// The file is on the disk before it takes the output's name, so that after a
// power cut that name holds it whole or the previous file.
ConversionResult WriteOutput(const std::string& outputPath, std::uint64_t outputSize,
                             const Filler& fill) {
    // Found now, a folder or a read-only file at the output's name fails the
    // run at once instead of after the encoding pass.
    if (!MayReplace(outputPath)) return SystemFailure(outputPath, "cannot write");
    // Allocated before the temporary file exists: a lack of memory cannot
    // leave it behind.
    StreamBuffer buffer = StreamBufferFor(outputSize);
    PendingOutput pending(outputPath);
    File output = Buffered(pending.Create(), buffer);
    if (!output) return SystemFailure(outputPath, "cannot create a file in its folder");
    // Before any audio is in it: no one the old file kept out may read it.
    if (!TakeAccessOf(output.get(), outputPath)) {
        return SystemFailure(outputPath, "cannot keep its permissions");
    }
    ConversionResult result = fill(output.get());
    if (result.outcome != Outcome::Converted) return result;
    if (!FlushToDisk(output.get()) || std::fclose(output.release()) != 0) {
        return SystemFailure(outputPath, "cannot write");
    }
    if (!pending.MoveIntoPlace()) return SystemFailure(outputPath, "cannot move into place");
    if (!SyncFolderOf(outputPath)) return SystemFailure(outputPath, "cannot sync its folder");
    return result;
}

bool WriteAll(std::FILE* output, const unsigned char* bytes, std::size_t count) {
    return std::fwrite(bytes, 1, count, output) == count;
}

// The canonical header of a 16-bit mono PCM WAVE file.
constexpr std::size_t kPcmHeaderSize = 44;
using PcmHeader = std::array<unsigned char, kPcmHeaderSize>;

PcmHeader MakePcmHeader(std::uint32_t rate, std::uint32_t dataBytes) {
    PcmHeader h{};
    const auto tag = [&h](std::size_t at, const char* id) { std::memcpy(&h[at], id, 4); };
    tag(0, "RIFF");
    wave::PutLE32(h, 4, static_cast<std::uint32_t>(kPcmHeaderSize - wave::kRiffPreambleSize) + dataBytes);
    tag(8, "WAVE");
    tag(12, "fmt ");
    wave::PutLE32(h, 16, wave::kPlainFormatSize);
    wave::PutLE16(h, 20, wave::kPcmTag);
    wave::PutLE16(h, 22, 1);
    wave::PutLE32(h, 24, rate);
    wave::PutLE32(h, 28, rate * sizeof(short));
    wave::PutLE16(h, 32, sizeof(short));
    wave::PutLE16(h, 34, wave::kAcceptedBitsPerSample);
    tag(36, "data");
    wave::PutLE32(h, 40, dataBytes);
    return h;
}

// A block is well formed when its step index is one the table has and its
// reserved byte is 0; players clamp the index and ignore the byte.
bool IsWellFormed(const unsigned char* block) {
    return block[wave::kStepIndexAt] <= kMaxStepIndex && block[wave::kReservedAt] == 0;
}

// One decoding: its buffers, made before the output is, and what it found.
class DecodingPass {
public:
    explicit DecodingPass(const AdpcmCheck& format)
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
    }

    std::uint64_t samples() const { return count_; }

    ConversionResult Write(std::FILE* input, const std::string& inputPath, std::FILE* output,
                           const std::string& outputPath) {
        if (Seek(input, format_.data.start, SEEK_SET) != 0) {
            return SystemFailure(inputPath, "cannot seek");
        }
        std::uint64_t left = count_;
        for (std::uint64_t b = 0; left > 0; ++b) {
            const bool partial = b == wholeBlocks_;
            const std::size_t length = partial ? partialBytes_ : block_.size();
            if (std::fread(block_.data(), 1, length, input) != length) {
                return InputFailure(input, inputPath);
            }
            if (!IsWellFormed(block_.data()) && malformed_++ == 0) firstMalformed_ = b;
            const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(
                left, partial ? PartialSamples() : format_.samplesPerBlock));
            DecodeBlock(block_.data(), count, samples_.data());
            for (std::size_t i = 0; i < count; ++i) {
                wave::PutLE16(bytes_, 2 * i, static_cast<std::uint16_t>(samples_[i]));
            }
            if (!WriteAll(output, bytes_.data(), count * sizeof(short))) {
                return SystemFailure(outputPath, "cannot write");
            }
            left -= count;
        }
        return Converted();
    }

    std::vector<std::string> Warnings(const std::string& inputPath) const {
        std::vector<std::string> warnings;
        if (malformed_ > 0) {
            warnings.push_back(Shown(inputPath) + ": block " + std::to_string(firstMalformed_ + 1) +
                               (malformed_ > 1 ? " and " + std::to_string(malformed_ - 1) +
                                                     " more"
                                               : std::string()) +
                               ": a step index above 88 (taken as 88) or a reserved byte other"
                               " than 0 (ignored)");
        }
        if (partialBytes_ > 0) {
            warnings.push_back(Shown(inputPath) + ": the data is not a whole number of blocks: the last " +
                               std::to_string(partialBytes_) + " bytes decoded as far as they go");
        }
        return warnings;
    }

private:
    // The opening sample and a sample for each whole code of a block cut short.
    std::uint64_t PartialSamples() const {
        if (partialBytes_ < wave::kBlockHeaderSize) return 0;
        return std::min<std::uint64_t>(format_.samplesPerBlock,
                                       1 + 2 * (partialBytes_ - wave::kBlockHeaderSize));
    }

    const AdpcmCheck& format_;
    std::uint64_t wholeBlocks_;
    std::size_t partialBytes_;
    std::vector<unsigned char> block_;
    std::vector<short> samples_;
    std::vector<unsigned char> bytes_;
    std::uint64_t count_;
    std::uint64_t malformed_ = 0, firstMalformed_ = 0;
};

}  // namespace

namespace {

// The input's directory, and its name without the extension.
std::pair<std::string, std::string> FolderAndStem(const std::string& inputPath) {
    const std::size_t nameStart = NameStart(inputPath);
    const std::string name = inputPath.substr(nameStart);
    return {inputPath.substr(0, nameStart), name.substr(0, name.rfind('.'))};
}

}  // namespace

std::string Shown(const std::string& name) {
    std::string shown;
    for (const char c : name) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte >= ' ' && byte != 0x7F) {
            shown += c;
        } else if (c == '\n') {
            shown += "\\n";
        } else if (c == '\r') {
            shown += "\\r";
        } else if (c == '\t') {
            shown += "\\t";
        } else {
            char escaped[sizeof "\\x00"];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            shown += escaped;
        }
    }
    return shown;
}

std::string OutputPathFor(const std::string& inputPath) {
    const auto [folder, stem] = FolderAndStem(inputPath);
    return folder + kOutputPrefix + stem + kOutputExtension;
}

std::string DecodedPathFor(const std::string& inputPath) {
    auto [folder, stem] = FolderAndStem(inputPath);
    if (stem.compare(0, sizeof kOutputPrefix - 1, kOutputPrefix) == 0) {
        stem.erase(0, sizeof kOutputPrefix - 1);
    }
    return folder + kDecodedPrefix + stem + kOutputExtension;
}

namespace {

// The input opened once, only for reading, and buffered as its size needs.
File OpenInput(const std::string& inputPath, std::int64_t& size, StreamBuffer& buffer) {
    File input = OpenRegularFile(inputPath, size);
    if (!input) return input;
    buffer = StreamBufferFor(static_cast<std::uint64_t>(size));
    return Buffered(std::move(input), buffer);
}

ConversionResult Decode(const std::string& inputPath, const std::string& outputPath) {
    std::int64_t inputSize = 0;
    StreamBuffer buffer;  // outlives the input
    File input = OpenInput(inputPath, inputSize, buffer);
    if (!input) return Rejected(inputPath, OpenRefusal());
    const AdpcmCheck check = CheckAdpcmInput(input.get(), inputSize);
    if (!check.accepted) return Rejected(inputPath, check.reason);
    DecodingPass pass(check);
    const std::uint64_t dataBytes = pass.samples() * sizeof(short);
    if (dataBytes > UINT32_MAX - (kPcmHeaderSize - wave::kRiffPreambleSize)) {
        return Failure(inputPath, "cannot decode",
                       "too large for the 32-bit size fields of a WAVE file");
    }
    ConversionResult result = WriteOutput(outputPath, kPcmHeaderSize + dataBytes, [&](std::FILE* output) {
        const PcmHeader header =
            MakePcmHeader(check.rate, static_cast<std::uint32_t>(dataBytes));
        if (!WriteAll(output, header.data(), header.size())) {
            return SystemFailure(outputPath, "cannot write");
        }
        ConversionResult written = pass.Write(input.get(), inputPath, output, outputPath);
        input.reset();  // as for a conversion: before the move
        return written;
    });
    result.warnings = pass.Warnings(inputPath);
    if (!check.warning.empty()) result.warnings.push_back(Shown(inputPath) + ": " + check.warning);
    result.summary = {pass.samples(), 0, check.rate, std::nullopt};
    return result;
}

// The input is opened once: the file checked is the file encoded, whatever
// happens to its name meanwhile.
ConversionResult Convert(const std::string& inputPath, const std::string& outputPath,
                         const ConversionOptions& options) {
    std::int64_t inputSize = 0;
    StreamBuffer buffer;  // outlives the input
    File input = OpenInput(inputPath, inputSize, buffer);
    if (!input) return Rejected(inputPath, OpenRefusal());
    const InputCheck check = CheckInput(input.get(), inputSize);
    if (!check.accepted) return Rejected(inputPath, check.reason);
    const SampleSpan& samples = check.samples;
    if (!FitsWaveSizeFields(samples)) {
        return Failure(inputPath, "cannot convert",
                       "too large for the 32-bit size fields of a WAVE file");
    }
    // Sized to the input, and allocated before the temporary file exists: a
    // lack of memory cannot leave it behind.
    const std::int64_t blocks = BlockCount(samples);
    EncodingPass pass(options, blocks);
    ConversionResult result = WriteOutput(outputPath, OutputSize(blocks), [&](std::FILE* output) {
        const wave::Header header = OutputHeader(samples);
        if (!WriteAll(output, header.data(), header.size())) {
            return SystemFailure(outputPath, "cannot write");
        }
        ConversionResult written = pass.Write(input.get(), inputPath, samples, output, outputPath);
        if (written.outcome != Outcome::Converted) return written;
        // Read to the end; on Windows a file still open cannot be replaced,
        // and the output's name may be a link to the input.
        input.reset();
        return Converted(pass.Done(samples));
    });
    if (!check.warning.empty()) result.warnings.push_back(Shown(inputPath) + ": " + check.warning);
    return result;
}

// Caught here, an allocation that fails has unwound the run, and with it the
// temporary file's removal.
template <typename Run>
ConversionResult WithoutRunningOutOfMemory(const std::string& outputPath, const Run& run) {
    try {
        return run();
    } catch (const std::bad_alloc&) {
        return Failure(outputPath, "cannot convert", "out of memory");
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
