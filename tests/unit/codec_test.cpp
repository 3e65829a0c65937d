#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "codec_at.h"
#include "codec/ima_adpcm.h"
#include "codec/blocks.h"
#include "codec/code_format.h"
#include "codec/search.h"
#include "reference_encoder.h"
#include "test_seed.h"

using codec::BestBlockEncoder;
using codec::DecodeBlocks;
using codec::EncodeBlocks;
using codec::EncodeBlocksScalar;
using codec::FirstBlockStepIndex;
using codec::kBlocksInLanes;
using codec::kLaterBlockStepIndex;
using codec::kMaxStepIndex;

namespace {

// The buffer Encode reads the program-wide seed values; each test sets them.
void ResetProgramWideValues(short header, int firstCallDone) {
    HeaderVal = header;
    StaticVal = 0;
    x = firstCallDone;
}

struct InitCase {
    short sample1, sample2;
    int index;
};

TEST(EncodeInit, ChoosesTheSmallestStepCoveringTheJump) {
    const InitCase cases[] = {
        {0, 0, 0},    {0, 7, 0},     {0, 8, 1},           {100, 50, 20},
        {1000, 0, 52}, {-1000, 0, 52}, {-32768, 32767, 88}, {32767, -32768, 88},
    };
    for (const InitCase& c : cases) {
        IMA_ADPCM codec = CodecAt(123, 45);
        codec.EncodeInit(c.sample1, c.sample2);
        EXPECT_EQ(codec.PredictedValue, c.sample1) << c.sample1 << "," << c.sample2;
        EXPECT_EQ(codec.StepIndex, c.index) << c.sample1 << "," << c.sample2;
    }
}

struct StepCase {
    short predicted;
    unsigned char index;
    short sample;
    int code;
    short newPredicted;
    int newIndex;
};

TEST(Encodes, SingleSamplesFromGivenStates) {
    const StepCase cases[] = {
        {0, 0, 7, 3, 4, 0},            // a difference equal to the step leaves bit 2 clear
        {0, 0, 0, 0, 0, 0},            // zero is positive; the index clamps at 0
        {0, 10, 19, 3, 15, 9},         // equal to the whole step
        {0, 10, 20, 4, 21, 12},        // just above it
        {0, 10, 28, 5, 25, 14},        // a remainder equal to the half step leaves bit 1 clear
        {0, 10, 32, 6, 30, 16},        // above a step and a half
        {0, 88, 32767, 3, 28669, 87},  // the largest step
        {0, 0, -7, 11, -4, 0},         // the sign bit mirrors the magnitude
        {32767, 88, 32767, 0, 32767, 87},   // predictor clamps at the top
        {-32000, 88, -32768, 8, -32768, 87},  // and at the bottom
        {0, 88, 0, 0, 4095, 87},
    };
    for (const StepCase& c : cases) {
        IMA_ADPCM codec = CodecAt(c.predicted, c.index);
        EXPECT_EQ(codec.Encodes(c.sample), c.code) << "sample " << c.sample;
        EXPECT_EQ(codec.PredictedValue, c.newPredicted) << "sample " << c.sample;
        EXPECT_EQ(codec.StepIndex, c.newIndex) << "sample " << c.sample;
    }
}

TEST(Encodes, SequenceCarriesStateFromSampleToSample) {
    IMA_ADPCM codec = CodecAt(0, 0);
    const short samples[] = {0, 100, 1000, -1000};
    const int codes[] = {0, 7, 7, 15};
    const short predicted[] = {0, 11, 41, -22};
    const int indices[] = {0, 8, 16, 24};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(codec.Encodes(samples[i]), codes[i]) << i;
        EXPECT_EQ(codec.PredictedValue, predicted[i]) << i;
        EXPECT_EQ(codec.StepIndex, indices[i]) << i;
    }
}

TEST(Encodes, FullScaleRunsSaturateAndSettle) {
    const short climb[] = {11, 41, 104, 240, 533, 1164, 2521, 5431, 11667, 25039};
    for (const int sign : {1, -1}) {
        SCOPED_TRACE(sign);
        IMA_ADPCM codec = CodecAt(0, 0);
        const short sample = sign > 0 ? 32767 : -32768;
        for (int i = 0; i < 10; ++i) {
            EXPECT_EQ(codec.Encodes(sample), sign > 0 ? 7 : 15) << i;
            EXPECT_EQ(codec.PredictedValue, sign * climb[i]) << i;
            EXPECT_EQ(codec.StepIndex, 8 * (i + 1)) << i;
        }
        EXPECT_EQ(codec.Encodes(sample), sign > 0 ? 2 : 10);
        EXPECT_EQ(codec.PredictedValue, sample);
        EXPECT_EQ(codec.StepIndex, 79);
        for (int n = 12; n <= 100; ++n) {
            const int code = codec.Encodes(sample);
            EXPECT_EQ(code & 7, 0) << "sample " << n;
            if (sign > 0) {
                EXPECT_EQ(codec.PredictedValue, 32767) << "sample " << n;
            }
        }
        EXPECT_EQ(codec.StepIndex, 0);
        EXPECT_EQ(codec.PredictedValue, sign > 0 ? 32767 : -32767);
    }
}

TEST(Encodes, MatchesTheReferenceTranscriptionOnRandomStates) {
    const std::uint32_t seed = TestSeed();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> sample(-32768, 32767), index(0, 88);
    for (int i = 0; i < 200000; ++i) {
        ReferenceState reference{sample(random), index(random)};
        IMA_ADPCM codec = CodecAt(static_cast<short>(reference.predicted),
                                  static_cast<unsigned char>(reference.index));
        const short s = static_cast<short>(sample(random));
        ASSERT_EQ(codec.Encodes(s), ReferenceEncode(reference, s)) << "sample " << s;
        ASSERT_EQ(codec.PredictedValue, reference.predicted);
        ASSERT_EQ(codec.StepIndex, reference.index);
    }
}

// The magnitude changes where the distance passes a sum of whole, half and
// quarter steps; random samples seldom land on those edges, so every edge of
// every step is tried, up and down, near the middle and the ends of the range.
TEST(Encodes, MatchesTheReferenceTranscriptionAtEveryDecisionEdge) {
    for (int index = 0; index <= 88; ++index) {
        const int step = kReferenceSteps[index], half = step >> 1, quarter = step >> 2;
        const int edges[] = {quarter,        half,        half + quarter,       step,
                             step + quarter, step + half, step + half + quarter};
        for (const int predicted : {-32768, -30000, 0, 30000, 32767}) {
            for (const int edge : edges) {
                for (const int distance : {edge - 1, edge, edge + 1}) {
                    for (const int sample : {predicted + distance, predicted - distance}) {
                        if (sample < -32768 || sample > 32767) continue;
                        ReferenceState reference{predicted, index};
                        IMA_ADPCM codec = CodecAt(static_cast<short>(predicted),
                                                  static_cast<unsigned char>(index));
                        const short s = static_cast<short>(sample);
                        ASSERT_EQ(codec.Encodes(s), ReferenceEncode(reference, s))
                            << "index " << index << ", predicted " << predicted << ", sample "
                            << sample;
                        ASSERT_EQ(codec.PredictedValue, reference.predicted) << "sample " << s;
                        ASSERT_EQ(codec.StepIndex, reference.index) << "sample " << s;
                    }
                }
            }
        }
    }
}

TEST(BufferEncode, FirstCallSeedsFromTheOpeningSampleThenStaticVal) {
    ResetProgramWideValues(1000, 0);
    IMA_ADPCM codec;
    unsigned char out[1] = {};
    codec.Encode(out, 0, nullptr, 0);
    EXPECT_EQ(x, 1);
    EXPECT_EQ(codec.PredictedValue, 1000);
    EXPECT_EQ(codec.StepIndex, 52);
    EXPECT_EQ(FirstBlockStepIndex(1000), 52);
    codec.Encode(out, 0, nullptr, 1);
    EXPECT_EQ(x, 1);
    EXPECT_EQ(codec.StepIndex, kLaterBlockStepIndex);
}

TEST(BufferEncode, OpeningStepOfTheFirstCallOnlyShapesTheFirstCode) {
    for (const int firstCallDone : {0, 1}) {
        ResetProgramWideValues(-1000, firstCallDone);
        IMA_ADPCM codec;
        const short sample = -1000;
        unsigned char out[1] = {};
        codec.Encode(out, 0, &sample, sizeof sample);
        EXPECT_EQ(out[0], 0);
        EXPECT_EQ(codec.PredictedValue, firstCallDone ? -1000 : -868);
        EXPECT_EQ(codec.StepIndex, firstCallDone ? 0 : 51);
    }
}

struct PackCase {
    int dstOffset;
    std::vector<short> samples;
    unsigned int srcSize;
    std::vector<unsigned char> before, after;
    unsigned int bits;
};

TEST(BufferEncode, PacksCodesAtBitOffsetsAndLeavesOtherBytes) {
    const PackCase cases[] = {
        // An odd byte count drops the half sample; bytes 0, 1 and 4 stay.
        {16, {7, 7, 7}, 7, {0xEE, 0xEE, 0xEE, 0xEE, 0xEE}, {0xEE, 0xEE, 0x13, 0x01, 0xEE}, 12},
        // The first code fills a high nibble, keeping the low one.
        {4, {100, 200, 300}, 6, {0xAA, 0xAA, 0xAA}, {0x7A, 0x77, 0xAA}, 12},
        // Bits 0 and 1 of the offset are ignored.
        {7, {100, 200, 300}, 6, {0xAA, 0xAA, 0xAA}, {0x7A, 0x77, 0xAA}, 12},
        {0, {7}, 1, {0xEE}, {0xEE}, 0},
        {0, {}, 0, {0xEE}, {0xEE}, 0},
    };
    for (const PackCase& c : cases) {
        ResetProgramWideValues(0, 1);
        std::vector<unsigned char> buffer = c.before;
        IMA_ADPCM codec;
        EXPECT_EQ(codec.Encode(buffer.data(), c.dstOffset, c.samples.data(), c.srcSize), c.bits);
        EXPECT_EQ(buffer, c.after) << "offset " << c.dstOffset;
    }
}

TEST(BufferEncode, ReseedsAtEveryCallAndMatchesPerSampleCodes) {
    const std::uint32_t seed = TestSeed();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> sample(-32768, 32767), count(0, 40), offset(0, 15);
    for (int trial = 0; trial < 2000; ++trial) {
        std::vector<short> samples(count(random));
        for (short& s : samples) s = static_cast<short>(sample(random));
        const int dstOffset = offset(random) * 4;
        ResetProgramWideValues(static_cast<short>(sample(random)), trial % 2);
        const short opening = HeaderVal;
        const unsigned char seedIndex = x ? kLaterBlockStepIndex : FirstBlockStepIndex(opening);

        std::vector<unsigned char> packed(32, 0x5C);
        IMA_ADPCM codec = CodecAt(1, 2);
        codec.Encode(packed.data(), dstOffset, samples.data(),
                     static_cast<unsigned int>(samples.size() * sizeof(short)));

        std::vector<unsigned char> expected(32, 0x5C);
        IMA_ADPCM perSample = CodecAt(opening, seedIndex);
        for (std::size_t i = 0; i < samples.size(); ++i) {
            const std::size_t nibble = dstOffset / 4 + i;
            unsigned char& byte = expected[nibble / 2];
            const int code = perSample.Encodes(samples[i]);
            byte = nibble % 2 ? static_cast<unsigned char>((byte & 0x0F) | code << 4)
                              : static_cast<unsigned char>(code);
        }
        ASSERT_EQ(packed, expected) << "trial " << trial << ", offset " << dstOffset;
        ASSERT_EQ(codec.PredictedValue, perSample.PredictedValue);
        ASSERT_EQ(codec.StepIndex, perSample.StepIndex);
    }
}

enum class Signal { SpeechLike, FullScaleSquare, Silence, Random, Tone, Sweep };

short SampleOf(Signal signal, std::size_t i, std::mt19937& random) {
    switch (signal) {
        case Signal::SpeechLike:
            return static_cast<short>(12000 * std::sin(0.03 * i) * std::sin(0.0007 * i) +
                                      std::uniform_int_distribution<int>(-400, 400)(random));
        case Signal::FullScaleSquare:
            return (i / 37) % 2 ? 32767 : -32768;
        case Signal::Silence:
            return 0;
        case Signal::Random:
            return static_cast<short>(random());
        case Signal::Tone:
            return static_cast<short>(20000 * std::sin(0.1 * i));
        case Signal::Sweep:
            return static_cast<short>(30000 * std::sin(1e-5 * i * i));
    }
    return 0;
}

// Groups smaller than, as large as and larger than the blocks encoded in
// SSE2 lanes, so that every way through is taken (all lanes, fewer lanes,
// the scalar path), from start indices across the table, on signals that
// reach both clamps;
// blocks of the program's length, the last padded as a short tail is (its
// samples repeat from the middle on), and of a length the lanes do not take.
TEST(EncodeBlocks, EqualsOneBufferEncodePerBlockTouchesNoProgramWideValueAndDecodes) {
    const std::size_t lanes = kBlocksInLanes;
    std::mt19937 random(TestSeed());
    for (const Signal signal :
         {Signal::SpeechLike, Signal::FullScaleSquare, Signal::Silence, Signal::Random}) {
        for (const std::size_t codesPerBlock : {std::size_t{2048}, std::size_t{20}}) {
            for (const std::size_t count :
                 {std::size_t{1}, lanes - 1, lanes, lanes + 1, 2 * lanes + 3}) {
                if (count == 0) continue;  // the scalar path, one lane: no group is smaller
                const std::size_t rowStride = codesPerBlock + 7,
                                  codesStride = codesPerBlock / 2 + 4;
                std::vector<short> rows(count * rowStride);
                for (std::size_t i = 0; i < rows.size(); ++i) rows[i] = SampleOf(signal, i, random);
                short* last = &rows[(count - 1) * rowStride];
                std::fill(last + codesPerBlock / 2, last + codesPerBlock + 1,
                          last[codesPerBlock / 2]);
                std::vector<unsigned char> indices(count);
                for (unsigned char& index : indices) index = random() % (kMaxStepIndex + 1);
                indices[0] = kMaxStepIndex;
                for (const auto encode : {EncodeBlocks, EncodeBlocksScalar}) {
                    SCOPED_TRACE(testing::Message() << "signal " << static_cast<int>(signal) << ", "
                                                    << count << " blocks of " << codesPerBlock
                                                    << (encode == EncodeBlocks ? "" : ", scalar"));
                    std::vector<unsigned char> codes(count * codesStride, 0xEE), expected = codes;
                    ResetProgramWideValues(-5, 0);
                    // Summed over a number of codes that ends within a pass of the lanes.
                    const std::size_t summed = codesPerBlock - 3;
                    std::vector<std::uint64_t> squaredErrors(count);
                    encode(rows.data(), rowStride, codesPerBlock, codes.data(), codesStride,
                           indices.data(), count, {squaredErrors.data(), summed});
                    EXPECT_TRUE(HeaderVal == -5 && StaticVal == 0 && x == 0)
                        << "a program-wide value changed";
                    IMA_ADPCM codec;
                    for (std::size_t b = 0; b < count; ++b) {
                        ResetProgramWideValues(rows[b * rowStride], 1);
                        StaticVal = indices[b];
                        codec.Encode(&expected[b * codesStride], 0, &rows[b * rowStride + 1],
                                     static_cast<unsigned int>(2 * codesPerBlock));
                    }
                    EXPECT_EQ(codes, expected);

                    // And back: the blocks' samples, in lanes and on the scalar path.
                    std::vector<short> decoded(count * rowStride), expectedDecoded(decoded.size());
                    DecodeBlocks(rows.data(), rowStride, indices.data(), codes.data(), codesStride,
                                 codesPerBlock, decoded.data(), rowStride, count);
                    for (std::size_t b = 0; b < count; ++b) {
                        short* out = &expectedDecoded[b * rowStride];
                        codec.PredictedValue = out[0] = rows[b * rowStride];
                        codec.StepIndex = indices[b];
                        codec.Decode(out + 1, &codes[b * codesStride], 0,
                                     static_cast<unsigned int>(4 * (codesPerBlock - 1)));
                    }
                    EXPECT_EQ(decoded, expectedDecoded);
                    for (std::size_t b = 0; b < count; ++b) {
                        std::uint64_t error = 0;
                        for (std::size_t i = 1; i <= summed; ++i) {
                            const std::int64_t e =
                                rows[b * rowStride + i] - decoded[b * rowStride + i];
                            error += static_cast<std::uint64_t>(e * e);
                        }
                        EXPECT_EQ(squaredErrors[b], error) << "block " << b;
                    }
                }
            }
        }
    }
}

// Squared error of codes from `index` over row[1] .. row[codes - 1], the
// samples a decoder plays.
std::uint64_t DecodedError(const std::vector<short>& row, std::size_t codes,
                           const std::vector<unsigned char>& packed, unsigned char index) {
    IMA_ADPCM decoder = CodecAt(row[0], index);
    std::uint64_t error = 0;
    for (std::size_t i = 1; i < codes; ++i) {
        const std::int64_t miss = row[i] - decoder.Decode(packed[(i - 1) / 2] >> (i % 2 ? 0 : 4));
        error += static_cast<std::uint64_t>(miss * miss);
    }
    return error;
}

// The search errs no more than the default encoder's codes from the step
// index the default starts the first block from (EncodeInit's), from the one
// it starts every later block from (0), and from the index the search chose.
// The last code, which stands for no sample, codes row[codes] from the state
// the others leave. A second call and a second object give the same bytes.
TEST(BestBlockEncoder, ErrsNoMoreThanTheDefault) {
    struct Case {
        Signal signal;
        std::size_t codes, filledFrom;  // a last block repeats its last sample
        bool searchGains;               // errs less than the default from index 0
    };
    const Case cases[] = {
        {Signal::Tone, 2048, 2048, true},       {Signal::Sweep, 2048, 2048, true},
        {Signal::SpeechLike, 2048, 2048, true}, {Signal::Random, 2048, 2048, true},
        {Signal::Silence, 2048, 2048, false},   {Signal::FullScaleSquare, 2048, 2048, true},
        {Signal::SpeechLike, 2048, 300, true},  {Signal::Tone, 2048, 1, false},
        {Signal::Random, 20, 20, true},         {Signal::Sweep, 2, 2, false}};
    std::mt19937 random(TestSeed());
    BestBlockEncoder encoder, second;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "signal " << static_cast<int>(c.signal) << ", "
                                        << c.codes << " codes, filled from " << c.filledFrom);
        std::vector<short> row(c.codes + 1);
        for (std::size_t i = 0; i < row.size(); ++i) row[i] = SampleOf(c.signal, 5000 + i, random);
        std::fill(row.begin() + static_cast<std::ptrdiff_t>(c.filledFrom), row.end(),
                  row[c.filledFrom - 1]);
        std::vector<unsigned char> codes(c.codes / 2), again(codes.size(), 0xEE);
        const unsigned char index = encoder.Encode(row.data(), c.codes, codes.data());
        ASSERT_LE(index, 88);
        const std::uint64_t error = DecodedError(row, c.codes, codes, index);
        IMA_ADPCM first;
        first.EncodeInit(row[0], 0);
        for (const unsigned char start : {first.StepIndex, static_cast<unsigned char>(0), index}) {
            IMA_ADPCM greedy = CodecAt(row[0], start);
            std::vector<unsigned char> greedyCodes(codes.size());
            for (std::size_t i = 1; i <= c.codes; ++i) {
                greedyCodes[(i - 1) / 2] |= greedy.Encodes(row[i]) << (i % 2 ? 0 : 4);
            }
            const std::uint64_t greedyError = DecodedError(row, c.codes, greedyCodes, start);
            EXPECT_LE(error, greedyError) << "start " << +start;
            if (start == 0 && c.searchGains) {
                EXPECT_LT(error, greedyError);
            }
        }
        IMA_ADPCM last = CodecAt(row[0], index);
        for (std::size_t i = 1; i < c.codes; ++i) last.Decode(codes[(i - 1) / 2] >> (i % 2 ? 0 : 4));
        EXPECT_EQ(codes.back() >> 4, last.Encodes(row[c.codes]));

        EXPECT_EQ(second.Encode(row.data(), c.codes, again.data()), index);
        EXPECT_EQ(again, codes);
        std::fill(again.begin(), again.end(), 0x11);
        EXPECT_EQ(encoder.Encode(row.data(), c.codes, again.data()), index);
        EXPECT_EQ(again, codes);
    }
}

}  // namespace
