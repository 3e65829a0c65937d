// --best's encoding shared out among workers, in this process.
#include <gtest/gtest.h>

#include "convert/best_encoding.h"
#include "test_seed.h"
#include "wave_files.h"

namespace {

// Blocks are shared out among the workers as they come free; the bytes must
// not show it.
TEST(BestEncoding, GivesTheSameBytesOnOneWorkerAndOnSeveral) {
    constexpr std::size_t kBlocks = 7, kStride = kSamplesPerBlock + 1;
    std::vector<short> rows = NoisySamples(kBlocks * kStride, TestSeed());
    std::vector<unsigned char> codes[2], indices[2];
    const std::size_t workers[2] = {1, 3};
    for (int run = 0; run < 2; ++run) {
        codes[run].resize(kBlocks * kSamplesPerBlock / 2);
        indices[run].resize(kBlocks);
        BestEncoding(workers[run]).Encode(rows.data(), kStride, kSamplesPerBlock,
                                          codes[run].data(), kSamplesPerBlock / 2,
                                          indices[run].data(), kBlocks);
    }
    EXPECT_EQ(codes[0], codes[1]);
    EXPECT_EQ(indices[0], indices[1]);
}

}  // namespace
