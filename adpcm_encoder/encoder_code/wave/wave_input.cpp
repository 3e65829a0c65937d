#include "wave/wave_input.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "platform/file_system.h"
#include "platform/messages.h"
#include "platform/stream.h"
#include "wave/ima_block.h"
#include "wave/riff.h"

namespace wave {

namespace {

using platform::About;
using platform::Message;
using platform::Text;
using platform::Worded;
using wave::GetLE32, wave::GetUnsignedLE16;

// What an extensible format chunk whose sub-format is no tag in a GUID holds.
constexpr std::uint16_t kUnknownTag = 0;

struct Chunk {
    char id[4];
    std::uint32_t size;
    std::int64_t body;  // where its body starts
};

bool Is(const Chunk& chunk, const wave::ChunkName& name) {
    return std::memcmp(chunk.id, name, wave::kNameSize) == 0;
}

bool IsPrintable(const char (&id)[4]) {
    return std::all_of(std::begin(id), std::end(id), [](char c) { return c >= ' ' && c <= '~'; });
}

// The chunks of a file, in order, from offset 12. Every step moves
// on by at least a chunk header, and the walk stops at the end of the file,
// so it ends on any input. It stops too at an identifier that is not four
// printable characters, as every chunk's is: what follows is no chunk, and
// a run of zeros or noise would otherwise be walked 8 bytes at a time.
//
// A body of odd size is followed by a pad byte, 0. Some writers leave it out:
// a chunk's identifier never starts with 0, so a 0 there is the pad byte and
// anything else the next chunk. Others write it as something else (a space,
// an X); a walk told that every pad byte is there takes it whatever it is.
class ChunkWalk {
public:
    enum class PadBytes { ZeroOrLeftOut, AnyValue };

    ChunkWalk(std::FILE* file, std::int64_t fileSize, PadBytes padBytes)
        : file_(file), fileSize_(fileSize), padBytes_(padBytes) {}

    // The next chunk; nothing at the end of the file or when reading fails.
    std::optional<Chunk> Next() {
        unsigned char header[wave::kChunkHeaderSize];
        if (next_ + static_cast<std::int64_t>(sizeof header) > fileSize_ ||
            !ReadAt(next_, header, sizeof header)) {
            return std::nullopt;
        }
        Chunk chunk;
        std::memcpy(chunk.id, header, sizeof chunk.id);
        if (!IsPrintable(chunk.id)) return std::nullopt;
        chunk.size = GetLE32(header + 4);
        chunk.body = next_ + static_cast<std::int64_t>(sizeof header);
        next_ = chunk.body + chunk.size;
        if ((chunk.size & 1) && (padBytes_ == PadBytes::AnyValue || IsZero(next_))) ++next_;
        return chunk;
    }

    // Reads `count` bytes at `offset`. Chunks are most often read in order,
    // and a seek, even within the stream's buffer, costs a system call: none
    // is made where the last read ended. A seek that fails, as one past the
    // end of a regular file never does, counts as the file ending.
    bool ReadAt(std::int64_t offset, unsigned char* out, std::size_t count) {
        const bool there = offset == position_ || !platform::Seek(file_, offset, SEEK_SET);
        const platform::ReadFailure failure =
            there ? platform::ReadExactly(file_, out, count)
                  : platform::ReadFailure{true, platform::SystemError()};
        if (!failure) {
            position_ = offset + static_cast<std::int64_t>(count);
            return true;
        }
        position_ = kPositionUnknown;
        readError_ = failure.reason();
        return false;
    }

    // Why reading failed; empty while it has not.
    const std::string& readError() const { return readError_; }
    std::int64_t fileSize() const { return fileSize_; }

private:
    bool IsZero(std::int64_t offset) {
        unsigned char byte = 1;
        return offset < fileSize_ && ReadAt(offset, &byte, 1) && byte == 0;
    }

    static constexpr std::int64_t kPositionUnknown = -1;

    std::FILE* file_;
    std::int64_t fileSize_;
    PadBytes padBytes_;
    std::int64_t next_ = wave::kFirstChunkOffset;
    std::int64_t position_ = kPositionUnknown;  // where the last read ended
    std::string readError_;
};

// What the file's first 12 bytes say about the sizes to come.
struct Form {
    bool large;        // RF64 or BW64: a ds64 chunk holds the sizes past 4 GiB
    bool bigEndian;    // RIFX: every number big-endian
    bool sizeWritten;  // the RIFF size is the file's size less 8
};

Form ReadForm(ChunkWalk& walk) {
    unsigned char preamble[wave::kFirstChunkOffset];
    if (walk.fileSize() < wave::kFirstChunkOffset || !walk.ReadAt(0, preamble, sizeof preamble)) {
        return {false, false, false};
    }
    const auto named = [&preamble](const wave::ChunkName& name) {
        return std::memcmp(preamble + wave::kFormOffset, name, wave::kNameSize) == 0;
    };
    return {named(wave::kRf64Name) || named(wave::kBw64Name), named(wave::kRifxName),
            GetLE32(preamble + wave::kFormSizeOffset) + wave::kRiffPreambleSize ==
                       static_cast<std::uint64_t>(walk.fileSize())};
}

std::string EncodingName(std::uint16_t tag) {
    switch (tag) {
        case wave::kPcmTag: return Text(Message::Pcm);
        case wave::kMsAdpcmTag: return Text(Message::MsAdpcm);
        case wave::kFloatTag: return Text(Message::FloatingPoint);
        case wave::kALawTag: return Text(Message::ALaw);
        case wave::kMuLawTag: return Text(Message::MuLaw);
        case wave::kMp3Tag: return Text(Message::Mp3);
        case kUnknownTag: return Text(Message::UnknownFormat);
        default: return Worded(Message::FormatTag, unsigned{tag});
    }
}

// A format as the user knows it: an extensible chunk's sub-format and valid
// bits stand in for its format tag and sample size.
struct Format {
    std::uint16_t encoding;
    std::uint16_t channels;
    std::uint32_t rate;
    std::uint16_t bits, validBits;
};

Format ReadFormat(const unsigned char* body, bool extensible) {
    Format format{GetUnsignedLE16(body + wave::kFormatTagAt), GetUnsignedLE16(body + wave::kChannelsAt),
                  GetLE32(body + wave::kSampleRateAt), GetUnsignedLE16(body + wave::kBitsPerSampleAt),
                  GetUnsignedLE16(body + wave::kBitsPerSampleAt)};
    if (!extensible) return format;
    const unsigned char* subFormat = body + wave::kSubFormatAt;
    const bool known = std::memcmp(subFormat + 2, wave::kSubFormatGuidTail,
                                   sizeof wave::kSubFormatGuidTail) == 0;
    format.encoding = known ? GetUnsignedLE16(subFormat) : kUnknownTag;
    const std::uint16_t validBits = GetUnsignedLE16(body + wave::kValidBitsAt);
    if (validBits != 0) format.validBits = validBits;
    return format;
}

bool IsAccepted(const Format& format) {
    return format.encoding == wave::kPcmTag && format.bits == wave::kAcceptedBitsPerSample &&
           format.validBits == wave::kAcceptedBitsPerSample &&
           format.channels == wave::kAcceptedChannels && format.rate == wave::kSampleRate;
}

// "44100 Hz, 2 channels, 16-bit PCM; needs ...": what the file holds, then
// what it would have to. Compressed formats such as MP3 give no sample size.
std::string Mismatch(const Format& format) {
    const std::string channels = format.channels == 1
                                     ? std::string(Text(Message::Mono))
                                     : Worded(Message::Channels, unsigned{format.channels});
    const std::string name = EncodingName(format.encoding);
    const std::string encoding =
        format.bits == 0 ? name
        : format.validBits == format.bits
            ? Worded(Message::SizedEncoding, unsigned{format.bits}, name.c_str())
            : Worded(Message::ValidBitsEncoding, unsigned{format.validBits},
                     unsigned{format.bits}, name.c_str());
    const std::string held =
        Worded(Message::Held, unsigned{format.rate}, channels.c_str(), encoding.c_str());
    return Worded(Message::NotNeeded, held.c_str());
}

// Reading failed, for the system's reason or because the file ended.
std::string CannotRead(const ChunkWalk& walk) {
    return About(Text(Message::CannotRead), walk.readError());
}

// Why the format chunk's format is not taken; empty when it is.
std::string FormatRejection(ChunkWalk& walk, const Chunk& chunk) {
    unsigned char body[wave::kExtensibleFormatSize] = {};
    const std::uint32_t length = std::min<std::uint32_t>(chunk.size, sizeof body);
    if (chunk.size < wave::kPcmFormatSize || chunk.body + length > walk.fileSize()) {
        return Text(Message::FormatChunkCutShort);
    }
    if (!walk.ReadAt(chunk.body, body, length)) return CannotRead(walk);
    const bool extensible = GetUnsignedLE16(body + wave::kFormatTagAt) == wave::kExtensibleTag;
    if (extensible && chunk.size < wave::kExtensibleFormatSize) {
        return Text(Message::ExtensibleFormatChunkCutShort);
    }
    const Format format = ReadFormat(body, extensible);
    if (format.encoding == wave::kImaAdpcmTag) return Text(Message::AlreadyImaAdpcm);
    return IsAccepted(format) ? std::string() : Mismatch(format);
}

// The 64-bit sizes of an RF64 file's ds64 chunk, if it has one.
struct Ds64 {
    std::uint64_t riffSize, dataSize;
};

std::optional<Ds64> ReadDs64(ChunkWalk& walk, const Chunk& chunk) {
    unsigned char sizes[wave::kDs64MinimumSize];
    if (chunk.size < sizeof sizes ||
        chunk.body + static_cast<std::int64_t>(sizeof sizes) > walk.fileSize() ||
        !walk.ReadAt(chunk.body, sizes, sizeof sizes)) {
        return std::nullopt;
    }
    return Ds64{wave::GetLE64(sizes), wave::GetLE64(sizes + wave::kDs64DataSizeAt)};
}

InputCheck InputRejected(std::string reason) { return {false, {}, std::move(reason), {}}; }

// Writers that stream cannot go back to write sizes: they leave all ones
// there, or 0, and the RIFF size unwritten too. Then the samples are
// everything to the end of the file. In a complete file a 0 is true: there
// are no samples. In an RF64 file the sizes are those of its ds64 chunk
// (which ffmpeg, writing to a pipe, leaves at 0). A size that was written
// but runs past the end of the file is a file cut short: its samples are
// taken as far as they go, with a warning.
struct DataExtent {
    SampleSpan span;      // in bytes, perhaps odd
    std::string warning;  // when the file cuts the chunk short
};

DataExtent Extent(const Chunk& data, const Form& form, std::optional<Ds64> ds64,
                  std::int64_t fileSize) {
    const std::uint64_t available = static_cast<std::uint64_t>(fileSize - data.body);
    const bool sizesIn64 = form.large && ds64;
    const bool riffSizeWritten =
        sizesIn64 ? ds64->riffSize + wave::kRiffPreambleSize == static_cast<std::uint64_t>(fileSize)
                  : form.sizeWritten;
    const bool fromDs64 = sizesIn64 && data.size == wave::kSizeNotWritten;
    const std::uint64_t written = fromDs64 ? ds64->dataSize : data.size;
    const std::uint64_t notWritten = fromDs64 ? UINT64_MAX : wave::kSizeNotWritten;
    const bool neverWritten = written == notWritten || (written == 0 && !riffSizeWritten);
    const std::uint64_t length = neverWritten ? available : std::min(written, available);
    std::string warning;
    if (!neverWritten && written > available) {
        warning = Worded(Message::DataCutShort, static_cast<unsigned long long>(available),
                         static_cast<unsigned long long>(written));
    }
    return {{data.body, static_cast<std::int64_t>(length)}, std::move(warning)};
}

// A last byte that makes no whole sample is left out.
InputCheck Taken(const Chunk& data, const Form& form, std::optional<Ds64> ds64,
                 std::int64_t fileSize) {
    DataExtent extent = Extent(data, form, ds64, fileSize);
    extent.span.length &= ~std::int64_t{1};
    return {true, extent.span, {}, std::move(extent.warning)};
}

constexpr std::uint32_t kFactChunkSize = 4;

AdpcmCheck AdpcmRejected(std::string reason) {
    AdpcmCheck check{};
    check.reason = std::move(reason);
    return check;
}

// The blocks' layout, or why they cannot be decoded. A block holds its
// opening sample and step index in 4 bytes, then a code for every other
// sample, two a byte.
AdpcmCheck ReadAdpcmFormat(ChunkWalk& walk, const Chunk& chunk) {
    unsigned char body[wave::kExtensibleFormatSize] = {};
    const std::uint32_t length = std::min<std::uint32_t>(chunk.size, sizeof body);
    if (chunk.size < wave::kPcmFormatSize || chunk.body + length > walk.fileSize()) {
        return AdpcmRejected(Text(Message::FormatChunkCutShort));
    }
    if (!walk.ReadAt(chunk.body, body, length)) return AdpcmRejected(CannotRead(walk));
    const bool extensible = GetUnsignedLE16(body + wave::kFormatTagAt) == wave::kExtensibleTag &&
                            chunk.size >= wave::kExtensibleFormatSize;
    const Format format = ReadFormat(body, extensible);
    if (format.encoding == wave::kPcmTag) return AdpcmRejected(Text(Message::AlreadyPcm));
    if (format.encoding != wave::kImaAdpcmTag) {
        return AdpcmRejected(Worded(Message::NotImaAdpcm, unsigned{format.encoding}));
    }
    if (format.channels != 1) {
        return AdpcmRejected(Worded(Message::AdpcmChannels, unsigned{format.channels}));
    }
    if (format.bits != wave::kBitsPerCode) {
        return AdpcmRejected(Worded(Message::AdpcmBits, unsigned{format.bits}));
    }
    AdpcmCheck check{};
    check.rate = format.rate;
    check.blockAlign = GetUnsignedLE16(body + wave::kBlockAlignAt);
    const std::uint32_t codeBytes =
        check.blockAlign > wave::kBlockHeaderSize ? check.blockAlign - wave::kBlockHeaderSize : 0;
    // Without the field, a block holds as many samples as its codes can.
    check.samplesPerBlock = chunk.size >= wave::kImaFormatSize
                                ? GetUnsignedLE16(body + wave::kSamplesPerBlockAt)
                                : codeBytes * 2 + 1;
    if (check.blockAlign < wave::kBlockHeaderSize || check.samplesPerBlock == 0 ||
        check.samplesPerBlock - 1 > codeBytes * 2) {
        return AdpcmRejected(Worded(Message::BlocksMisfit, unsigned{check.samplesPerBlock},
                                    unsigned{check.blockAlign}));
    }
    check.accepted = true;
    return check;
}

std::optional<std::uint32_t> ReadFactLength(ChunkWalk& walk, const Chunk& chunk) {
    unsigned char length[kFactChunkSize];
    if (chunk.size < kFactChunkSize || chunk.body + std::int64_t{kFactChunkSize} > walk.fileSize() ||
        !walk.ReadAt(chunk.body, length, sizeof length)) {
        return std::nullopt;
    }
    return GetLE32(length);
}

}  // namespace

namespace {

InputCheck Walk(std::FILE* input, std::int64_t size, ChunkWalk::PadBytes padBytes) {
    ChunkWalk walk(input, size, padBytes);
    const Form form = ReadForm(walk);
    if (form.bigEndian) return InputRejected(Text(Message::BigEndian));
    std::optional<Ds64> ds64;
    bool formatSeen = false, dataBeforeFormat = false;
    while (const std::optional<Chunk> chunk = walk.Next()) {
        if (form.large && !ds64 && Is(*chunk, wave::kDs64Name)) {
            ds64 = ReadDs64(walk, *chunk);
        } else if (!formatSeen && Is(*chunk, wave::kFormatName)) {
            std::string rejection = FormatRejection(walk, *chunk);
            if (!rejection.empty()) return InputRejected(std::move(rejection));
            formatSeen = true;
        } else if (Is(*chunk, wave::kDataName)) {
            if (formatSeen) return Taken(*chunk, form, ds64, size);
            dataBeforeFormat = true;
        }
    }
    if (!walk.readError().empty()) return InputRejected(CannotRead(walk));
    if (!formatSeen) return InputRejected(Text(Message::NoFormatChunk));
    return InputRejected(Text(dataBeforeFormat ? Message::DataBeforeFormat : Message::NoDataChunk));
}

}  // namespace

// A file that a walk taking only 0 for a pad byte cannot make out is walked
// again taking every pad byte, whatever its value; a writer does one or the
// other throughout.
InputCheck CheckInput(std::FILE* input, std::int64_t size) {
    const InputCheck check = Walk(input, size, ChunkWalk::PadBytes::ZeroOrLeftOut);
    if (check.accepted) return check;
    const InputCheck padded = Walk(input, size, ChunkWalk::PadBytes::AnyValue);
    return padded.accepted ? padded : check;
}

AdpcmCheck CheckAdpcmInput(std::FILE* input, std::int64_t size) {
    ChunkWalk walk(input, size, ChunkWalk::PadBytes::ZeroOrLeftOut);
    const Form form = ReadForm(walk);
    if (form.bigEndian) return AdpcmRejected(Text(Message::BigEndianAdpcm));
    std::optional<Ds64> ds64;
    std::optional<std::uint32_t> factLength;
    std::optional<AdpcmCheck> format;
    while (const std::optional<Chunk> chunk = walk.Next()) {
        if (form.large && !ds64 && Is(*chunk, wave::kDs64Name)) {
            ds64 = ReadDs64(walk, *chunk);
        } else if (!factLength && Is(*chunk, wave::kFactName)) {
            factLength = ReadFactLength(walk, *chunk);
        } else if (!format && Is(*chunk, wave::kFormatName)) {
            format = ReadAdpcmFormat(walk, *chunk);
            if (!format->accepted) return *format;
        } else if (format && Is(*chunk, wave::kDataName)) {
            DataExtent extent = Extent(*chunk, form, ds64, size);
            format->data = extent.span;
            format->warning = std::move(extent.warning);
            format->factLength = factLength;
            return *format;
        }
    }
    if (!walk.readError().empty()) return AdpcmRejected(CannotRead(walk));
    return AdpcmRejected(Text(format ? Message::NoDataChunk : Message::NoFormatChunk));
}

}  // namespace wave
