// Inputs past the 32-bit limits, from sparse files, for the native build and
// under Wine the Windows one. Labelled "large": the first reads 2 GiB and
// writes about 500 MiB.
#include <gtest/gtest.h>

#include "test_support.h"

namespace {

using LargeFile = ProgramTest;

Bytes ReadHead(const fs::path& path, std::uint64_t at, std::size_t count) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(at));
    Bytes bytes(count);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(count));
    return bytes;
}

void WriteAt(const fs::path& path, std::uint64_t at, const Bytes& bytes) {
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    file.seekp(static_cast<std::streamoff>(at));
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

// The last block opens past 2 GiB, so its sample shows that reading goes on
// beyond 32-bit offsets.
TEST_F(LargeFile, ConvertsAnInputJustOver2GiBWithCorrectSizeFields) {
    const std::uint64_t blocks = (1ull << 31) / kInputBytesPerBlock + 1;
    const std::uint64_t inputSize = kCanonicalSamplesAt + kInputBytesPerBlock * blocks;
    const std::uint64_t lastOpening = kCanonicalSamplesAt + kInputBytesPerBlock * (blocks - 1);
    const Bytes opening = {0xE8, 0x03};  // 1000
    TempDir temp;
    const fs::path in = temp.work() / "big.wav";
    WriteBytes(in, PcmWave({}));
    fs::resize_file(in, inputSize);
    WriteAt(in, lastOpening, opening);

    const RunResult run = RunEncoder(temp, {"big.wav"});
    ASSERT_EQ(run.status, 0) << run.err;
    const fs::path out = temp.work() / "Enc_big.wav";
    const std::uint64_t outputSize = kHeaderSize + kBlockSize * blocks;
    ASSERT_EQ(fs::file_size(out), outputSize);
    const Bytes header = ReadHead(out, 0, kHeaderSize);
    EXPECT_EQ(LE32At(header, 4), outputSize - 8);
    EXPECT_EQ(LE32At(header, 48), blocks * kSamplesPerBlock);
    EXPECT_EQ(LE32At(header, 56), outputSize - kHeaderSize);
    EXPECT_EQ(ReadHead(out, outputSize - kBlockSize, 4), (Bytes{0xE8, 0x03, 0, 0}));
    EXPECT_EQ(fs::file_size(in), inputSize);
    EXPECT_EQ(ReadHead(in, lastOpening, 2), opening);
}

// The fact chunk's 32-bit sample length overflows first: past 2^21 blocks.
TEST_F(LargeFile, RejectsAnInputTooLargeForTheWaveSizeFieldsBeforeWriting) {
    TempDir temp;
    WriteBytes(temp.work() / "huge.wav", PcmWave({}));
    fs::resize_file(temp.work() / "huge.wav", 44 + 4096ull * (1u << 21));
    const RunResult run = RunEncoder(temp, {"huge.wav"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, AsPrinted("huge.wav: cannot convert: too large for the 32-bit size fields "
                                 "of a WAVE file\n"));
    EXPECT_EQ(FilesIn(temp.work()), std::vector<std::string>{"huge.wav"});
}

}  // namespace
