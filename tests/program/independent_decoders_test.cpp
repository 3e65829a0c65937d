// Decoders that nobody here wrote, from the system's packages, read the
// program's output. Each test is skipped when its decoder is not installed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iostream>

#include "adpcm_file.h"
#include "test_seed.h"

namespace {

using Program = ProgramTest;
using Ffmpeg = ProgramTest;
using Writers = ProgramTest;

// Other decoders play the opening sample and all 2048 codes of a block.
constexpr std::size_t kPlayedPerBlock = kSamplesPerBlock + 1;
constexpr std::size_t kSamplesPerBlockOffset = 38;

bool Installed(const std::string& tool) {
    return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// The samples that stand for the input: each block's last one, which stands
// for the code that only repeats the block's last sample, is dropped.
std::vector<short> WithoutEachBlocksLastSample(const std::vector<short>& played) {
    std::vector<short> kept;
    for (std::size_t at = 0; at + kPlayedPerBlock <= played.size(); at += kPlayedPerBlock) {
        kept.insert(kept.end(), played.begin() + at, played.begin() + at + kSamplesPerBlock);
    }
    return kept;
}

// The speech example and a loud noise that drives the predictor into its
// clamps; both end in a last block that the samples do not fill.
struct Conversion {
    const char* what;
    Bytes input;
};

std::vector<Conversion> Conversions() {
    std::vector<short> loud = NoisySamples(4 * kSamplesPerBlock + 700, TestSeed());
    for (short& s : loud) s = static_cast<short>(std::clamp(s * 8, -32768, 32767));
    return {{"speech example", ReadBytes(EXAMPLE_WAV)}, {"clipping noise", PcmWave(loud)}};
}

std::optional<std::vector<short>> Decoded(const TempDir& temp, const std::string& command) {
    const RunResult run = RunInWork(temp, command);
    EXPECT_EQ(run.status, 0) << command << ": " << run.err;
    EXPECT_EQ(run.err, "") << command;
    return PcmWaveSamples(ReadBytes(temp.work() / "decoded.wav"));
}

TEST_F(Ffmpeg, PlaysTheOutputAsItIsWithinTwoDecibelsOfOurDecoder) {
    if (!Installed("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
    for (const Conversion& c : Conversions()) {
        SCOPED_TRACE(c.what);
        TempDir temp;
        const Bytes output = ConvertedOutput(temp, c.input);
        const auto played =
            Decoded(temp, "ffmpeg -nostdin -v error -i Enc_in.wav -c:a pcm_s16le decoded.wav");
        ASSERT_TRUE(played.has_value());
        ASSERT_EQ(played->size(), BlocksIn(output) * kPlayedPerBlock);

        const std::vector<short> ours = DecodeOutput(output);
        const std::vector<short> original = PaddedToBlocks(InputSamples(c.input));
        const double ourSnr = SnrDb(original, ours);
        const double ffmpegSnr = SnrDb(original, WithoutEachBlocksLastSample(*played));
        std::cout << c.what << ": signal-to-noise ratio " << ourSnr << " dB ours, " << ffmpegSnr
                  << " dB ffmpeg's\n";
        EXPECT_NEAR(ffmpegSnr, ourSnr, 2.0);
    }
}

struct Writer {
    const char* what;
    const char* command;  // writes other.wav from canonical.wav, a canonical file
};

// What common tools write around the same samples: chunks before the format
// chunk and the data, RF64, the extensible format. All convert as the
// canonical file does.
TEST_F(Writers, FilesOfCommonToolsConvertAsTheCanonicalFile) {
    for (const char* tool : {"ffmpeg", "sndfile-convert", "python3"}) {
        if (!Installed(tool)) GTEST_SKIP() << tool << " is not installed";
    }
    const Writer writers[] = {
        {"ffmpeg's LIST chunk", "ffmpeg -nostdin -y -v error -i canonical.wav other.wav"},
        {"ffmpeg -rf64 auto", "ffmpeg -nostdin -y -v error -i canonical.wav -rf64 auto other.wav"},
        {"ffmpeg -rf64 always", "ffmpeg -nostdin -y -v error -i canonical.wav -rf64 always other.wav"},
        {"ffmpeg -rf64 always to a pipe, no sizes written",
         "sh -c 'ffmpeg -nostdin -v error -i canonical.wav -rf64 always -f wav - | cat >other.wav'"},
        {"sndfile-convert to .wavex", "sndfile-convert canonical.wav o.wavex && mv o.wavex other.wav"},
        {"Python's wave module",
         "python3 -c 'import wave; r = wave.open(\"canonical.wav\"); w = wave.open(\"other.wav\", "
         "\"wb\"); w.setparams(r.getparams()); w.writeframes(r.readframes(r.getnframes()))'"},
    };
    TempDir temp;
    ASSERT_EQ(RunInWork(temp, "ffmpeg -nostdin -v error -i " + ShellQuoted(EXAMPLE_WAV) +
                                  " -fflags +bitexact canonical.wav")
                  .status,
              0);
    ASSERT_EQ(RunEncoder(temp, {"canonical.wav"}).status, 0);
    const Bytes converted = ReadBytes(temp.work() / "Enc_canonical.wav");
    ASSERT_GT(BlocksIn(converted), 0u);
    for (const Writer& writer : writers) {
        SCOPED_TRACE(writer.what);
        fs::remove(temp.work() / "Enc_other.wav");
        const RunResult written = RunInWork(temp, writer.command);
        ASSERT_EQ(written.status, 0) << written.err;
        const RunResult run = RunEncoder(temp, {"other.wav"});
        EXPECT_EQ(run.out + run.err, "");
        EXPECT_EQ(ReadBytes(temp.work() / "Enc_other.wav"), converted);
    }
}

struct StrictDecoder {
    const char* name;  // of the test
    const char* tool;
    const char* command;  // decodes patched.wav into decoded.wav
};

void PrintTo(const StrictDecoder& decoder, std::ostream* out) { *out << decoder.tool; }

class StrictDecoders : public ProgramTest, public testing::WithParamInterface<StrictDecoder> {};

// These decoders reject 2048 samples in a 1028-byte block, since the block
// holds 2049; told 2049, they must agree with us on every sample we count.
TEST_P(StrictDecoders, DecodeACopySaying2049SamplesABlockBitForBitAsWeDo) {
    if (!Installed(GetParam().tool)) GTEST_SKIP() << GetParam().tool << " is not installed";
    for (const Conversion& c : Conversions()) {
        SCOPED_TRACE(c.what);
        TempDir temp;
        Bytes patched = ConvertedOutput(temp, c.input);
        ASSERT_GT(patched.size(), kSamplesPerBlockOffset + 1);
        patched[kSamplesPerBlockOffset] = kPlayedPerBlock & 0xFF;
        patched[kSamplesPerBlockOffset + 1] = kPlayedPerBlock >> 8;
        WriteBytes(temp.work() / "patched.wav", patched);

        const auto played = Decoded(temp, GetParam().command);
        ASSERT_TRUE(played.has_value());
        ASSERT_EQ(played->size(), BlocksIn(patched) * kPlayedPerBlock);
        EXPECT_EQ(WithoutEachBlocksLastSample(*played), DecodeOutput(patched));
    }
}

struct Decoding {
    const char* what;
    const char* tool;     // that writes the file, if not the program
    std::string command;  // writes adpcm.wav from canonical.wav, a canonical file
    // Samples the fact chunk claims, patched in; 0: as written.
    std::uint32_t factLength = 0;
};

std::vector<short> FirstOf(std::vector<short> samples, std::size_t count) {
    samples.resize(std::min(samples.size(), count));
    return samples;
}

// --decode plays the blocks as the standard decoder does (ours, sox's), as
// many samples as the fact chunk says; -v's SNR is that of those samples.
TEST_F(Program, DecodesAsTheStandardDecoderDoes) {
    const std::string ours = ProgramCommand() + " -v ";
    const Decoding cases[] = {
        {"the default", nullptr, "(" + ours + "canonical.wav && mv Enc_canonical.wav adpcm.wav)"},
        {"--best", nullptr, "(" + ours + "--best canonical.wav && mv Enc_canonical.wav adpcm.wav)"},
        {"a fact chunk shorter than the blocks", nullptr,
         "(" + ours + "canonical.wav && mv Enc_canonical.wav adpcm.wav)", 3000},
        {"sox's", "sox", "sox canonical.wav -e ima-adpcm adpcm.wav"},
        {"ffmpeg's", "ffmpeg", "ffmpeg -nostdin -v error -i canonical.wav -c:a adpcm_ima_wav adpcm.wav"},
    };
    const Bytes input = ReadBytes(EXAMPLE_WAV);
    const std::vector<short> samples = InputSamples(input);
    for (const Decoding& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.tool && !Installed(c.tool)) GTEST_SKIP() << c.tool << " is not installed";
        TempDir temp;
        WriteBytes(temp.work() / "canonical.wav", input);
        const RunResult written = RunInWork(temp, c.command);
        ASSERT_EQ(written.status, 0) << written.err;
        Bytes adpcm = ReadBytes(temp.work() / "adpcm.wav");
        if (c.factLength) wave::PutLE32(adpcm, wave::kFactSampleLengthOffset, c.factLength);
        WriteBytes(temp.work() / "adpcm.wav", adpcm);

        const RunResult run = RunEncoder(temp, {"-v", "--decode", "adpcm.wav"});
        ASSERT_EQ(run.status, 0) << run.err;
        const auto decoded = PcmWaveSamples(ReadBytes(temp.work() / "Dec_adpcm.wav"));
        ASSERT_TRUE(decoded.has_value());
        if (c.tool) {
            // As many as its fact chunk says: perhaps with the tool's padding.
            EXPECT_GE(decoded->size(), samples.size());
            const auto standard =
                Decoded(temp, "sox adpcm.wav -e signed-integer -b 16 decoded.wav");
            ASSERT_TRUE(standard.has_value());
            EXPECT_EQ(*decoded, FirstOf(*standard, decoded->size()));
            continue;
        }
        const std::size_t expected = c.factLength ? c.factLength : samples.size();
        EXPECT_EQ(decoded->size(), expected);
        EXPECT_EQ(*decoded, FirstOf(DecodeOutput(adpcm), expected));
        char snr[32];
        std::snprintf(snr, sizeof snr, "SNR %.2f dB\n",
                      SnrDb(samples, FirstOf(DecodeOutput(adpcm), samples.size())));
        EXPECT_NE(written.out.find(AsPrinted(snr)), std::string::npos) << written.out << " lacks " << snr;
    }
}

INSTANTIATE_TEST_SUITE_P(
    , StrictDecoders,
    testing::Values(StrictDecoder{"Sox", "sox",
                                  "sox patched.wav -e signed-integer -b 16 decoded.wav"},
                    StrictDecoder{"SndfileConvert", "sndfile-convert",
                                  "sndfile-convert -pcm16 patched.wav decoded.wav"}),
    [](const testing::TestParamInfo<StrictDecoder>& info) { return info.param.name; });

}  // namespace
