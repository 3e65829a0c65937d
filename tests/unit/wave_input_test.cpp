// CheckInput and CheckAdpcmInput on WAVE files in memory: whether each is
// taken or rejected and why, in the words the program prints after the
// file's name; where its samples lie, and what it warns of.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "wave/wave_input.h"
#include "wave_files.h"

using wave::AdpcmCheck;
using wave::CheckAdpcmInput;
using wave::CheckInput;
using wave::InputCheck;
using wave::SampleSpan;

namespace {

const std::string kNeeds =
    "needs 22050 Hz, mono, 16-bit PCM (see \"Preparing input\" in the README)";

// `check` of `file`, read through a temporary stream.
template <typename Check>
Check Checked(Check (*check)(std::FILE*, std::int64_t), const Bytes& file) {
    std::FILE* stream = std::tmpfile();
    EXPECT_NE(stream, nullptr);
    if (!stream) return {};
    EXPECT_EQ(std::fwrite(file.data(), 1, file.size(), stream), file.size());
    const Check checked = check(stream, static_cast<std::int64_t>(file.size()));
    std::fclose(stream);
    return checked;
}

struct Input {
    const char* what;
    Bytes file;
    std::string reason;  // empty: accepted, with these samples and warning
    SampleSpan samples = {};
    std::string warning = "";
};

TEST(CheckInput, FindsTheSamplesOrSaysWhyTheFileIsRejected) {
    const std::vector<short> samples(1000, 100);
    const Bytes canonical = PcmWave(samples), noSamples = PcmWave({});
    const std::uint32_t bytes = 2000;
    const auto after = [](std::int64_t extra) { return SampleSpan{44 + extra, 2000}; };
    const std::size_t dataSizeAt = kCanonicalDataChunkAt + 4;
    const auto pcm = [&](WaveFields fields) { return PcmWave(samples, fields); };
    const auto format = [&](const Bytes& body) { return WithFormatBody(canonical, body); };
    const auto beforeData = [&](const Bytes& chunk) {
        return Inserted(canonical, kCanonicalDataChunkAt, chunk);
    };
    Bytes tooShort(canonical.begin(), canonical.begin() + 35), bigEndian = canonical;
    std::copy_n("RIFX", 4, bigEndian.begin());
    Bytes dataFirst(canonical.begin(), canonical.begin() + 12);
    dataFirst.insert(dataFirst.end(), canonical.begin() + kCanonicalDataChunkAt, canonical.end());
    dataFirst.insert(dataFirst.end(), canonical.begin() + 12, canonical.begin() + kCanonicalDataChunkAt);
    Bytes withoutPadByte = Chunk("junk", 5), spacePadByte = withoutPadByte;
    withoutPadByte.pop_back();
    spacePadByte.back() = ' ';
    Bytes shortFormat(canonical.begin() + 20, canonical.begin() + kCanonicalDataChunkAt);
    shortFormat.insert(shortFormat.end(), 2, 0);  // no extra bytes
    Bytes oddByte = canonical;
    oddByte.push_back(0x7F);
    const Input cases[] = {
        {"canonical", canonical, "", after(0)},
        {"44100 Hz", pcm({16, 1, 44100}), "44100 Hz, mono, 16-bit PCM; " + kNeeds},
        {"11025 Hz", pcm({16, 1, 11025}), "11025 Hz, mono, 16-bit PCM; " + kNeeds},
        {"8-bit", pcm({16, 1, 22050, 1, 8}), "22050 Hz, mono, 8-bit PCM; " + kNeeds},
        {"32-bit float", pcm({16, 1, 22050, 3, 32}),
         "22050 Hz, mono, 32-bit floating point; " + kNeeds},
        {"MP3, which gives no sample size", pcm({16, 1, 22050, 0x55, 0}),
         "22050 Hz, mono, MP3; " + kNeeds},
        {"big-endian", bigEndian, "big-endian WAVE (RIFX); needs little-endian 16-bit PCM"},
        {"A-law", pcm({16, 1, 22050, 6, 8}), "22050 Hz, mono, 8-bit A-law; " + kNeeds},
        {"extensible float", format(ExtensibleFormat(3, 32, 32)),
         "22050 Hz, mono, 32-bit floating point; " + kNeeds},
        {"extensible, 24 bits in 32", format(ExtensibleFormat(1, 32, 24)),
         "22050 Hz, mono, 24-bit samples in 32-bit PCM; " + kNeeds},
        {"IMA ADPCM", pcm({16, 1, 22050, 0x11, 4}), "already IMA ADPCM"},
        {"data before the format chunk", dataFirst, "data chunk before the format chunk"},
        {"zeros where a chunk should stand", beforeData(Bytes(16, 0)), "no data chunk"},
        {"shorter than its format chunk", tooShort, "not a WAVE file (format chunk cut short)"},
        {"a LIST chunk before the data", beforeData(Chunk("LIST", 26)), "", after(34)},
        {"an odd-sized chunk before the data", beforeData(Chunk("junk", 5)), "", after(14)},
        {"an odd-sized chunk without its pad byte", beforeData(withoutPadByte), "", after(13)},
        {"an odd-sized chunk with a space for its pad byte", beforeData(spacePadByte), "",
         after(14)},
        {"a chunk after the data", Inserted(canonical, canonical.size(), Chunk("id3 ", 200)), "",
         after(0)},
        {"a JUNK chunk before the format chunk", Inserted(canonical, 12, Chunk("JUNK", 28)), "",
         after(36)},
        {"an 18-byte format chunk", format(shortFormat), "", after(2)},
        {"extensible PCM", format(ExtensibleFormat(1, 16, 16)), "", after(24)},
        {"RF64 written to a pipe: ds64 sizes of 0", WithLE32(AsRf64(canonical), 28, 0), "",
         after(36)},
        {"data and RIFF sizes of 0 with samples after them",
         WithLE32(WithLE32(canonical, dataSizeAt, 0), 4, 0), "", after(0)},
        {"an empty data chunk before a LIST chunk",
         Completed(Inserted(noSamples, noSamples.size(), Chunk("LIST", 26))), "", {44, 0}},
        {"a last byte that makes no sample", WithLE32(Completed(oddByte), dataSizeAt, bytes + 1),
         "", after(0)},
        {"a file cut short, its sizes written",
         WithLE32(WithLE32(canonical, 4, LE32At(canonical, 4) + 1000), dataSizeAt, bytes + 1000),
         "", after(0), "data chunk cut short: 2000 of 3000 bytes"},
    };
    for (const Input& c : cases) {
        SCOPED_TRACE(c.what);
        const InputCheck check = Checked(CheckInput, c.file);
        EXPECT_EQ(check.reason, c.reason);
        ASSERT_EQ(check.accepted, c.reason.empty());
        if (!check.accepted) continue;
        EXPECT_EQ(check.samples.start, c.samples.start);
        EXPECT_EQ(check.samples.length, c.samples.length);
        EXPECT_EQ(check.warning, c.warning);
    }
}

// The program's own output header, its block layout as given.
Bytes AdpcmFile(std::uint16_t blockAlign, std::uint16_t samplesPerBlock) {
    Bytes file(wave::WaveHeaderTemplate.begin(), wave::WaveHeaderTemplate.end());
    file.resize(kHeaderSize + 2 * kBlockSize);
    wave::PutLE16(file, 32, blockAlign);
    wave::PutLE16(file, 38, samplesPerBlock);
    wave::PutLE32(file, wave::kFactSampleLengthOffset, 3000);
    return WithLE32(Completed(file), wave::kDataSizeOffset, 2 * kBlockSize);
}

struct AdpcmInput {
    const char* what;
    Bytes file;
    std::string reason;  // empty: accepted, with these blocks
    SampleSpan data = {};
    std::uint32_t samplesPerBlock = 0;
    std::optional<std::uint32_t> factLength = std::nullopt;
};

TEST(CheckAdpcmInput, FindsTheBlocksOrSaysWhyTheFileIsRejected) {
    const Bytes output = AdpcmFile(kBlockSize, kSamplesPerBlock);
    Bytes noFact(output.begin(), output.begin() + 40), bigEndian = output;
    noFact.insert(noFact.end(), output.begin() + 52, output.end());
    std::copy_n("RIFX", 4, bigEndian.begin());
    const std::int64_t blocks = 2 * kBlockSize;
    const AdpcmInput cases[] = {
        {"the program's output", output, "", {kHeaderSize, blocks}, 2048, 3000},
        {"without a fact chunk", Completed(noFact), "", {kHeaderSize - 12, blocks}, 2048},
        {"big-endian", bigEndian, "big-endian WAVE (RIFX)"},
        {"MS ADPCM", PcmWave({}, {16, 1, 22050, 2, 4}), "not IMA ADPCM (format 0x0002)"},
        {"blocks too small", AdpcmFile(512, 2048),
         "2048 samples a block do not fit 512-byte blocks"},
    };
    for (const AdpcmInput& c : cases) {
        SCOPED_TRACE(c.what);
        const AdpcmCheck check = Checked(CheckAdpcmInput, c.file);
        EXPECT_EQ(check.reason, c.reason);
        ASSERT_EQ(check.accepted, c.reason.empty());
        if (!check.accepted) continue;
        EXPECT_EQ(check.data.start, c.data.start);
        EXPECT_EQ(check.data.length, c.data.length);
        EXPECT_EQ(check.rate, 22050u);
        EXPECT_EQ(check.blockAlign, kBlockSize);
        EXPECT_EQ(check.samplesPerBlock, c.samplesPerBlock);
        EXPECT_EQ(check.factLength, c.factLength);
        EXPECT_EQ(check.warning, "");
    }
}

}  // namespace
