// The Windows build run under Wine, on what only it meets: Windows paths, the
// C runtime's own wildcard expansion, names outside the system's code page,
// and output that must match the native build's byte for byte. The rest of
// the end-to-end suite runs on it too (program_test, run whole under Wine).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "adpcm_file.h"
#include "test_seed.h"
#include "test_support.h"

namespace {


class WindowsBuild : public ProgramTest {
protected:
    void SetUp() override {
        if (!WindowsExe()) GTEST_SKIP() << "PCM_ENCODER_WINDOWS_EXE is not set";
        ProgramTest::SetUp();
    }
};

// Wine maps drive Z: to the root of the file system.
std::string WindowsPath(const fs::path& path) {
    std::string windows = "Z:" + path.string();
    for (char& c : windows) c = c == '/' ? '\\' : c;
    return windows;
}

Bytes NativeConversion(const Bytes& input, std::vector<std::string> args) {
    TempDir temp;
    WriteBytes(temp.work() / "in.wav", input);
    args.push_back("in.wav");
    const RunResult run = RunCommand(temp, NativeCommand(), args);
    EXPECT_EQ(run.status, 0);
    return ReadBytes(temp.work() / "Enc_in.wav");
}

struct Input {
    const char* what;
    Bytes bytes;
    std::vector<std::string> options = {};
};

TEST_F(WindowsBuild, WritesTheSameBytesAsTheNativeBuild) {
    std::vector<short> loud = NoisySamples(5 * kSamplesPerBlock + 700, TestSeed());
    loud[0] = -32768;
    loud[kSamplesPerBlock] = 32767;
    const Input cases[] = {
        {"header only", PcmWave({})},
        {"one block", PcmWave(NoisySamples(kSamplesPerBlock, TestSeed() + 1))},
        {"five blocks and a tail, at full scale", PcmWave(loud)},
        {"the same with --best", PcmWave(loud), {"--best"}},
    };
    for (const Input& c : cases) {
        SCOPED_TRACE(std::string(c.what) + ", seed " + std::to_string(TestSeed()));
        TempDir temp;
        WriteBytes(temp.work() / "in.wav", c.bytes);
        std::vector<std::string> args = c.options;
        args.push_back("in.wav");
        const RunResult run = RunEncoder(temp, args);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out + run.err, "");
        const Bytes output = ReadBytes(temp.work() / "Enc_in.wav");
        EXPECT_GE(output.size(), kHeaderSize);
        EXPECT_EQ(output, NativeConversion(c.bytes, c.options));
    }
}

struct Dropped {
    std::string file;      // where the input lies, relative to the work folder
    std::string argument;  // how it is named; empty: by its absolute Windows path
    std::string output;
};

// A dropped file arrives by its absolute path; a dot in a directory's name is
// not the start of an extension, and the name may hold any character.
TEST_F(WindowsBuild, WritesTheOutputBesideTheInputForWindowsNames) {
    const Dropped cases[] = {
        {"sound.lib/take.one.wav", "", "sound.lib/Enc_take.one.wav"},
        {"sound.lib/take", "", "sound.lib/Enc_take.wav"},
        {"sound.lib/take.one.wav", "sound.lib\\take.one.wav", "sound.lib/Enc_take.one.wav"},
        {"take.wav", "Z:take.wav", "Enc_take.wav"},  // in drive Z's current folder
        {"Grüße日本.wav", "Grüße日本.wav", "Enc_Grüße日本.wav"},
        {"音声.lib/Grüße日本.wav", "", "音声.lib/Enc_Grüße日本.wav"},
    };
    const Bytes input = PcmWave(NoisySamples(2 * kSamplesPerBlock, 11));
    const Bytes expected = NativeConversion(input, {});
    for (const Dropped& c : cases) {
        SCOPED_TRACE(c.file);
        TempDir temp;
        fs::create_directories((temp.work() / c.file).parent_path());
        WriteBytes(temp.work() / c.file, input);
        const std::string argument =
            c.argument.empty() ? WindowsPath(temp.work() / c.file) : c.argument;

        const RunResult run = RunEncoder(temp, {argument});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out + run.err, "");
        EXPECT_EQ(ReadBytes(temp.work() / c.output), expected);
        EXPECT_EQ(FilesIn(temp.work()).size(), fs::path(c.file).has_parent_path() ? 3u : 2u);
    }
}

struct Pattern {
    std::string argument;  // relative to the work folder; "Z:" starts an absolute one
    std::vector<std::string> converted;
};

TEST_F(WindowsBuild, ConvertsEveryMatchOfAPattern) {
    const std::vector<std::string> files = {"b.wav", "a.wav", "sound.lib/take2.wav",
                                            "sound.lib/take1.wav", "Grüße日本.wav"};
    const Pattern cases[] = {
        {"*.wav", {"Enc_Grüße日本.wav", "Enc_a.wav", "Enc_b.wav"}},
        {"sound.lib\\take?.wav", {"sound.lib/Enc_take1.wav", "sound.lib/Enc_take2.wav"}},
        {"Z:sound.lib\\*.wav", {"sound.lib/Enc_take1.wav", "sound.lib/Enc_take2.wav"}},
        {"G*", {"Enc_Grüße日本.wav"}},
        {"sound.lib", {"sound.lib/Enc_take1.wav", "sound.lib/Enc_take2.wav"}},  // a folder dropped
        {"Z:sound.lib\\", {"sound.lib/Enc_take1.wav", "sound.lib/Enc_take2.wav"}},
    };
    const Bytes input = PcmWave(NoisySamples(kSamplesPerBlock, 13));
    for (const Pattern& c : cases) {
        SCOPED_TRACE(c.argument);
        TempDir temp;
        fs::create_directory(temp.work() / "sound.lib");
        for (const std::string& file : files) WriteBytes(temp.work() / file, input);
        std::vector<std::string> expected = FilesIn(temp.work());
        expected.insert(expected.end(), c.converted.begin(), c.converted.end());
        std::sort(expected.begin(), expected.end());
        const std::string argument = c.argument.rfind("Z:", 0) == 0
                                         ? WindowsPath(temp.work()) + "\\" + c.argument.substr(2)
                                         : c.argument;

        EXPECT_EQ(RunEncoder(temp, {argument}).status, 0);
        EXPECT_EQ(FilesIn(temp.work()), expected);
        for (const std::string& output : c.converted) {
            EXPECT_EQ(fs::file_size(temp.work() / output), kHeaderSize + kBlockSize);
        }
    }
}

}  // namespace
