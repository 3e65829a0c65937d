#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>

#include "adpcm_file.h"
#include "test_seed.h"

namespace {

// Full-scale square waves drive the predictor into both clamps.
std::vector<short> FullScaleSquare(std::size_t count, std::size_t halfPeriod) {
    std::vector<short> samples(count);
    for (std::size_t i = 0; i < count; ++i) samples[i] = (i / halfPeriod) % 2 ? -32768 : 32767;
    return samples;
}

std::vector<short> Tone(std::size_t count, double cyclesPerSample, double amplitude) {
    std::vector<short> samples(count);
    for (std::size_t i = 0; i < count; ++i) {
        samples[i] = static_cast<short>(amplitude * std::sin(2 * M_PI * cyclesPerSample * i));
    }
    return samples;
}

// A sine driven `gain` times past full scale, and clipped there.
std::vector<short> ClippedTone(std::size_t count, double cyclesPerSample, double gain) {
    std::vector<short> samples(count);
    for (std::size_t i = 0; i < count; ++i) {
        samples[i] = static_cast<short>(
            std::clamp(gain * 32767 * std::sin(2 * M_PI * cyclesPerSample * i), -32768.0, 32767.0));
    }
    return samples;
}

std::vector<short> Sweep(std::size_t count) {
    std::vector<short> samples(count);
    for (std::size_t i = 0; i < count; ++i) {
        samples[i] = static_cast<short>(20000 * std::sin(2 * M_PI * 0.5e-5 * i * i / 2));
    }
    return samples;
}

using OutputAudio = ProgramTest;

struct AudioCase {
    const char* what;
    Bytes input;
    double bestFloorDb = 0;  // well under what --best reaches, to catch a collapse
};

std::vector<AudioCase> AudioCases() {
    return {
        {"speech example", ReadBytes(EXAMPLE_WAV)},
        {"noise with a tail", PcmWave(NoisySamples(3 * kSamplesPerBlock + 700, TestSeed()))},
        {"full-scale square", PcmWave(FullScaleSquare(2 * kSamplesPerBlock, 37))},
        {"full-scale square, 50 Hz", PcmWave(FullScaleSquare(4 * kSamplesPerBlock, 220)), 32},
        {"full-scale square, 3000 Hz", PcmWave(FullScaleSquare(4 * kSamplesPerBlock, 4)), 16},
        {"a 440 Hz sine 12 dB into clipping",
         PcmWave(ClippedTone(4 * kSamplesPerBlock, 440.0 / 22050, 4)), 30},
        {"loud tone", PcmWave(Tone(3 * kSamplesPerBlock, 440.0 / 22050, 30000))},
        {"sweep", PcmWave(Sweep(4 * kSamplesPerBlock))},
        {"a sweep long enough to be read and written beside its encoding",
         PcmWave(Sweep(70 * kSamplesPerBlock + 9))},
        {"silence", PcmWave(std::vector<short>(kSamplesPerBlock + 5, 0))},
        {"one sample", PcmWave({1234})},
        {"three samples: only they count, not the ones that fill the block",
         PcmWave({-238, 39, 603})},
    };
}

TEST_F(OutputAudio, DecodesToWhatTheEncoderReconstructed) {
    for (const AudioCase& c : AudioCases()) {
        SCOPED_TRACE(c.what);
        TempDir temp;
        const Bytes output = ConvertedOutput(temp, c.input);
        ASSERT_GT(BlocksIn(output), 0u);
        std::vector<short> decoded = DecodeOutput(output);
        EXPECT_EQ(decoded, EncoderReconstruction(PaddedToBlocks(InputSamples(c.input)), output));
        // -v's figure, which the encoder sums as it codes, is that of the
        // decoded samples against the input's own.
        const std::vector<short> input = InputSamples(c.input);
        decoded.resize(input.size());
        char expected[64];
        if (SquaredError(input, decoded) == 0) {
            std::snprintf(expected, sizeof expected, "SNR inf dB");
        } else {
            std::snprintf(expected, sizeof expected, "SNR %.2f dB", SnrDb(input, decoded));
        }
        const RunResult measured = RunEncoder(temp, {"-v", "in.wav"});
        EXPECT_NE(measured.out.find(expected), std::string::npos)
            << "expected " << expected << " in " << measured.out;
    }
}

// The header, sizes and opening samples of the default output; codes that
// decode no worse. With --compatible every block's header is the default's.
TEST_F(OutputAudio, BestKeepsTheLayoutAndDecodesAtLeastAsWell) {
    for (const AudioCase& c : AudioCases()) {
        for (const bool compatible : {false, true}) {
            SCOPED_TRACE(std::string(c.what) + (compatible ? ", --compatible" : ""));
            TempDir temp;
            const Bytes output = ConvertedOutput(temp, c.input);
            WriteBytes(temp.work() / "in.wav", c.input);
            std::vector<std::string> args = {"--best", "in.wav"};
            if (compatible) args.insert(args.begin(), "--compatible");
            ASSERT_EQ(RunEncoder(temp, args).status, 0);
            const Bytes best = ReadBytes(temp.work() / "Enc_in.wav");
            ASSERT_EQ(best.size(), output.size());
            EXPECT_TRUE(std::equal(output.begin(), output.begin() + kHeaderSize, best.begin()));
            const std::vector<short> input = InputSamples(c.input);
            std::vector<short> decoded = DecodeOutput(output), bestDecoded = DecodeOutput(best);
            for (std::size_t b = 0; b < BlocksIn(output); ++b) {
                EXPECT_EQ(decoded[b * kSamplesPerBlock], bestDecoded[b * kSamplesPerBlock]);
                const auto header = output.begin() + kHeaderSize + b * kBlockSize;
                if (compatible) {
                    EXPECT_TRUE(std::equal(header, header + kBlockHeaderSize,
                                           best.begin() + (header - output.begin())))
                        << "block " << b;
                }
            }
            decoded.resize(input.size());
            bestDecoded.resize(input.size());
            EXPECT_LE(SquaredError(input, bestDecoded), SquaredError(input, decoded));
            if (!compatible && c.bestFloorDb > 0) {
                EXPECT_GE(SnrDb(input, bestDecoded), c.bestFloorDb);
            }
        }
    }
}

TEST_F(OutputAudio, SpeechExampleKeepsTwentyDecibelsOfSignalToNoise) {
    TempDir temp;
    const Bytes input = ReadBytes(EXAMPLE_WAV);
    const std::vector<short> decoded = DecodeOutput(ConvertedOutput(temp, input));
    const std::vector<short> original = PaddedToBlocks(InputSamples(input));
    const double snr = SnrDb(original, decoded);
    std::cout << "signal-to-noise ratio of the decoded speech example: " << snr << " dB\n";
    EXPECT_GE(snr, 20.0);
}

}  // namespace
