#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "codec_at.h"
#include "codec/ima_adpcm.h"
#include "test_seed.h"

namespace {

struct DecodeCase {
    const char* what;
    short predicted;
    unsigned char index;
    std::vector<unsigned int> codes;
    std::vector<int> samples;
    int finalIndex;
};

TEST(Decode, CodesFromGivenStates) {
    const DecodeCase cases[] = {
        // Each code uses the step it found, not the one it moves to.
        {"climb and fall", 0, 0, {0, 7, 7, 15}, {0, 11, 41, -22}, 24},
        // step 337: an eighth 42, a half 168, a quarter 84
        {"each magnitude bit", 1000, 40, {1}, {1126}, 39},
        {"", 1000, 40, {2}, {1210}, 39},
        {"", 1000, 40, {4}, {1379}, 42},
        {"", 1000, 40, {6}, {1547}, 46},
        {"", 1000, 40, {11}, {706}, 39},
        {"", 1000, 40, {13}, {537}, 44},
        {"top of the sample range", 32767, 88, {7}, {32767}, 88},
        {"bottom of the sample range", -32768, 88, {15}, {-32768}, 88},
        {"just short of the top", 32000, 88, {0}, {32767}, 87},
        {"index floor", 5, 0, {8, 3}, {5, 9}, 0},
        // Only the low 4 bits of a code count.
        {"high bits ignored", 1000, 40, {0x13}, {1294}, 39},
        {"", 1000, 40, {0xFFFFFFF6u}, {1547}, 46},
        {"", 1000, 40, {0x80u}, {1042}, 39},
    };
    for (const DecodeCase& c : cases) {
        SCOPED_TRACE(std::string(c.what) + " from " + std::to_string(c.predicted) + "/" +
                     std::to_string(c.index));
        IMA_ADPCM codec = CodecAt(c.predicted, c.index);
        for (std::size_t i = 0; i < c.codes.size(); ++i) {
            EXPECT_EQ(codec.Decode(c.codes[i]), c.samples[i]) << "code " << i;
            EXPECT_EQ(codec.PredictedValue, c.samples[i]) << "code " << i;
        }
        EXPECT_EQ(codec.StepIndex, c.finalIndex);
    }
}

struct BufferCase {
    const char* what;
    int srcOffset;
    unsigned int srcSize;
    std::vector<int> samples;  // of the codes in kPacked, from predictor 0, index 0
};

// Codes 1, 7, 2, 7, 4, 9 in packing order: the earlier code in the low nibble.
const unsigned char kPacked[] = {0x71, 0x72, 0x94};

TEST(BufferDecode, TakesWholeCodesFromBitOffsets) {
    const BufferCase cases[] = {
        {"from the start", 0, 24, {1, 12, 22, 47, 81, 68}},
        {"half a code is ignored", 0, 7, {1}},
        {"less than a code", 0, 3, {}},
        {"nothing", 0, 0, {}},
        {"first code from a high nibble, then the next byte", 4, 8, {11, 21}},
        {"bits 0 and 1 of the offset are ignored", 7, 8, {11, 21}},
        {"", 5, 8, {11, 21}},
        {"from a later byte", 16, 8, {7, 4}},
        {"from a later high nibble", 12, 12, {11, 29, 23}},
    };
    for (const BufferCase& c : cases) {
        SCOPED_TRACE(std::string(c.what) + ": offset " + std::to_string(c.srcOffset) + ", size " +
                     std::to_string(c.srcSize));
        const short untouched = 0x5555;
        std::vector<short> out(8, untouched);
        IMA_ADPCM codec = CodecAt(0, 0);
        EXPECT_EQ(codec.Decode(out.data(), kPacked, c.srcOffset, c.srcSize),
                  c.samples.size() * sizeof(short));
        std::vector<short> expected(c.samples.begin(), c.samples.end());
        expected.resize(out.size(), untouched);
        EXPECT_EQ(out, expected);
        EXPECT_EQ(codec.PredictedValue, c.samples.empty() ? 0 : c.samples.back());
    }
}

// A difference from the predictor drawn from a random power-of-two range, so
// that small steps and large ones, every code and both clamps all turn up.
short SampleNear(int predicted, std::mt19937& random) {
    const int range = 1 << std::uniform_int_distribution<int>(0, 16)(random);
    const int sample = predicted + std::uniform_int_distribution<int>(-range, range)(random);
    return static_cast<short>(std::clamp(sample, -32768, 32767));
}

TEST(Decode, FollowsTheEncoderInLockstep) {
    const std::uint32_t seed = TestSeed();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> predicted(-32768, 32767), index(0, 88);
    int codesSeen = 0;
    for (int i = 0; i < 1000000; ++i) {
        const IMA_ADPCM start = CodecAt(static_cast<short>(predicted(random)),
                                        static_cast<unsigned char>(index(random)));
        const short sample = SampleNear(start.PredictedValue, random);
        IMA_ADPCM encoder = start, decoder = start;
        const int code = encoder.Encodes(sample);
        codesSeen |= 1 << code;
        ASSERT_EQ(decoder.Decode(static_cast<unsigned int>(code)), encoder.PredictedValue)
            << "from " << start.PredictedValue << "/" << int{start.StepIndex} << ", sample "
            << sample;
        ASSERT_EQ(decoder.PredictedValue, encoder.PredictedValue);
        ASSERT_EQ(decoder.StepIndex, encoder.StepIndex)
            << "from " << start.PredictedValue << "/" << int{start.StepIndex} << ", sample "
            << sample;
    }
    EXPECT_EQ(codesSeen, 0xFFFF) << "not every code was exercised";
}

TEST(BufferDecode, StretchesOfWholeCodesGiveWhatOneCallGives) {
    const std::uint32_t seed = TestSeed();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> byte(0, 255), index(0, 88), stretch(0, 9);
    for (int trial = 0; trial < 500; ++trial) {
        std::vector<unsigned char> packed(64);
        for (unsigned char& b : packed) b = static_cast<unsigned char>(byte(random));
        const int firstOffset = 4 * stretch(random);
        const unsigned int codes = 100;
        const IMA_ADPCM start = CodecAt(static_cast<short>(byte(random) * 100 - 12800),
                                        static_cast<unsigned char>(index(random)));

        std::vector<short> whole(codes);
        IMA_ADPCM once = start;
        once.Decode(whole.data(), packed.data(), firstOffset, codes * 4);

        std::vector<short> pieces(codes);
        IMA_ADPCM stretches = start;
        int offset = firstOffset;
        for (unsigned int done = 0; done < codes;) {
            const unsigned int take = std::min<unsigned int>(stretch(random), codes - done);
            done += stretches.Decode(pieces.data() + done, packed.data(), offset, take * 4) /
                    sizeof(short);
            offset += static_cast<int>(take * 4);
        }
        ASSERT_EQ(pieces, whole) << "trial " << trial;
        ASSERT_EQ(stretches.PredictedValue, once.PredictedValue) << "trial " << trial;
        ASSERT_EQ(stretches.StepIndex, once.StepIndex) << "trial " << trial;
    }
}

}  // namespace
