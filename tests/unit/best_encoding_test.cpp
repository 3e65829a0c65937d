// --best's encoding shared out among workers, and conversions one after
// another, in this process.
#include "convert/best_encoding.h"

#include <gtest/gtest.h>

#include "convert/conversion.h"
#include "test_seed.h"
#include "test_support.h"
#include "wave_files.h"

using convert::BestEncoding;
using convert::ConversionOptions;
using convert::ConvertFile;
using convert::Outcome;

namespace {

// Blocks are shared out among the workers as they come free; the bytes must
// not show it. Compatible, each block keeps the step index it was given.
TEST(BestEncoding, GivesTheSameBytesOnOneWorkerAndOnSeveral) {
    constexpr std::size_t kBlocks = 7, kStride = kSamplesPerBlock + 1;
    std::vector<short> rows = NoisySamples(kBlocks * kStride, TestSeed());
    std::vector<unsigned char> given(kBlocks);
    for (std::size_t b = 0; b < kBlocks; ++b) given[b] = static_cast<unsigned char>(b * 13 % 89);
    for (const bool compatible : {false, true}) {
        SCOPED_TRACE(compatible ? "compatible" : "free");
        std::vector<unsigned char> codes[2], indices[2];
        const std::size_t workers[2] = {1, 3};
        for (int run = 0; run < 2; ++run) {
            codes[run].resize(kBlocks * kSamplesPerBlock / 2);
            indices[run] = given;
            BestEncoding(workers[run], compatible)
                .Encode(rows.data(), kStride, kSamplesPerBlock, codes[run].data(),
                        kSamplesPerBlock / 2, indices[run].data(), kBlocks, 700, nullptr);
        }
        EXPECT_EQ(codes[0], codes[1]);
        EXPECT_EQ(indices[0], indices[1]);
        if (compatible) {
            EXPECT_EQ(indices[0], given);
        }
    }
}

// Each file of a process's conversions, in either order and with either
// encoder, gives the bytes of the program run on it alone: its first block
// from the step that suits its opening sample, whatever came before.
TEST(ConvertFile, TwoFilesInOneProcessEachGiveTheBytesOfARunOfTheirOwn) {
    TempDir temp;
    std::vector<short> loud = NoisySamples(3 * kSamplesPerBlock + 5, TestSeed());
    loud[0] = 30000;
    const Bytes inputs[2] = {PcmWave(loud), PcmWave(std::vector<short>(70, -2000))};
    for (const bool best : {false, true}) {
        std::vector<std::string> args = {"in.wav"};
        if (best) args.insert(args.begin(), "--best");
        Bytes alone[2];
        for (int f = 0; f < 2; ++f) {
            WriteBytes(temp.work() / "in.wav", inputs[f]);
            ASSERT_EQ(RunEncoder(temp, args).status, 0);
            alone[f] = ReadBytes(temp.work() / "Enc_in.wav");
        }
        for (const int first : {0, 1}) {
            for (const int f : {first, 1 - first}) {
                SCOPED_TRACE(testing::Message()
                             << "file " << f << " after " << 1 - f << (best ? ", --best" : ""));
                const fs::path in = temp.work() / ("in" + std::to_string(f) + ".wav");
                const fs::path out = temp.work() / "out.wav";
                WriteBytes(in, inputs[f]);
                ConversionOptions options;
                options.best = best;
                ASSERT_EQ(ConvertFile(in.string(), out.string(), options).outcome,
                          Outcome::Converted);
                EXPECT_EQ(ReadBytes(out), alone[f]);
            }
        }
    }
}

}  // namespace
