// Decoders that nobody here wrote, from the system's packages, read the
// program's output. Each test is skipped when its decoder is not installed.
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>

#include "adpcm_file.h"
#include "test_seed.h"

namespace {

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

TEST(Ffmpeg, PlaysTheOutputAsItIsWithinTwoDecibelsOfOurDecoder) {
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
    const char* command;  // writes other.wav from plain.wav, a canonical file
};

// What common tools write around the same samples: chunks before the format
// chunk and the data, RF64, the extensible format. All convert as the
// canonical file does.
TEST(Writers, FilesOfCommonToolsConvertAsTheCanonicalFile) {
    for (const char* tool : {"ffmpeg", "sndfile-convert", "python3"}) {
        if (!Installed(tool)) GTEST_SKIP() << tool << " is not installed";
    }
    const Writer writers[] = {
        {"ffmpeg's LIST chunk", "ffmpeg -nostdin -y -v error -i plain.wav other.wav"},
        {"ffmpeg -rf64 auto", "ffmpeg -nostdin -y -v error -i plain.wav -rf64 auto other.wav"},
        {"ffmpeg -rf64 always", "ffmpeg -nostdin -y -v error -i plain.wav -rf64 always other.wav"},
        {"ffmpeg -rf64 always to a pipe, no sizes written",
         "sh -c 'ffmpeg -nostdin -v error -i plain.wav -rf64 always -f wav - | cat >other.wav'"},
        {"sndfile-convert to .wavex", "sndfile-convert plain.wav o.wavex && mv o.wavex other.wav"},
        {"Python's wave module",
         "python3 -c 'import wave; r = wave.open(\"plain.wav\"); w = wave.open(\"other.wav\", "
         "\"wb\"); w.setparams(r.getparams()); w.writeframes(r.readframes(r.getnframes()))'"},
    };
    TempDir temp;
    ASSERT_EQ(RunInWork(temp, "ffmpeg -nostdin -v error -i " + ShellQuoted(EXAMPLE_WAV) +
                                  " -fflags +bitexact plain.wav")
                  .status,
              0);
    ASSERT_EQ(RunEncoder(temp, {"plain.wav"}).status, 0);
    const Bytes converted = ReadBytes(temp.work() / "Enc_plain.wav");
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

class StrictDecoders : public testing::TestWithParam<StrictDecoder> {};

// These decoders refuse 2048 samples in a 1028-byte block, since the block
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

INSTANTIATE_TEST_SUITE_P(
    , StrictDecoders,
    testing::Values(StrictDecoder{"Sox", "sox",
                                  "sox patched.wav -e signed-integer -b 16 decoded.wav"},
                    StrictDecoder{"SndfileConvert", "sndfile-convert",
                                  "sndfile-convert -pcm16 patched.wav decoded.wav"}),
    [](const testing::TestParamInfo<StrictDecoder>& info) { return info.param.name; });

}  // namespace
