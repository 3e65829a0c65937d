#include <gtest/gtest.h>

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

struct AudioCase {
    const char* what;
    Bytes input;
};

TEST(OutputAudio, DecodesToWhatTheEncoderReconstructed) {
    const AudioCase cases[] = {
        {"speech example", ReadBytes(EXAMPLE_WAV)},
        {"noise with a tail", PcmWave(NoisySamples(3 * kSamplesPerBlock + 700, TestSeed()))},
        {"full-scale square", PcmWave(FullScaleSquare(2 * kSamplesPerBlock, 37))},
    };
    for (const AudioCase& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir temp;
        const Bytes output = ConvertedOutput(temp, c.input);
        ASSERT_GT(BlocksIn(output), 0u);
        EXPECT_EQ(DecodeOutput(output),
                  EncoderReconstruction(PaddedToBlocks(InputSamples(c.input)), output));
    }
}

TEST(OutputAudio, SpeechExampleKeepsTwentyDecibelsOfSignalToNoise) {
    TempDir temp;
    const Bytes input = ReadBytes(EXAMPLE_WAV);
    const std::vector<short> decoded = DecodeOutput(ConvertedOutput(temp, input));
    const std::vector<short> original = PaddedToBlocks(InputSamples(input));
    const double snr = SnrDb(original, decoded);
    std::cout << "signal-to-noise ratio of the decoded speech example: " << snr << " dB\n";
    EXPECT_GE(snr, 20.0);
}

}  // namespace
