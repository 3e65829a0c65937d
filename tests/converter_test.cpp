#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "adpcm_file.h"
#include "ima_adpcm.h"
#include "test_seed.h"
#include "test_support.h"

namespace {

const std::string kInstruction =
    "Drag n' drop pcm, 22050 mono wave file onto window.  Press [enter] to exit ";
const std::string kRejection =
    "Wave file is already encoded, or wav type is\nstereo or unknown.  Press [enter] to exit ";
const std::string kUsageStart = "Usage: pcm-encoder FILE\n";
const std::string kVersion = "pcm-encoder " PCM_ENCODER_VERSION "\n";

using Program = ProgramTest;

TEST_F(Program, WithoutArgumentPrintsTheInstructionAndEndsAtEndOfInput) {
    TempDir temp;
    const RunResult run = RunEncoder(temp, {});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, AsPrinted(kInstruction));
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(FilesIn(temp.work()).empty());
}

// What the program printed on `fd` until it had printed `length` bytes, or
// until `seconds` had passed.
std::string ReadPrinted(int fd, std::size_t length, double seconds) {
    std::string printed;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (printed.size() < length && std::chrono::steady_clock::now() < deadline) {
        pollfd ready = {fd, POLLIN, 0};
        char chunk[256];
        if (poll(&ready, 1, 10) != 1) continue;
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got <= 0) break;
        printed.append(chunk, static_cast<std::size_t>(got));
    }
    return printed;
}

struct Waiting {
    const char* what;
    std::vector<std::string> args;
    std::string message;  // what it prints (when it does not wait: its first line)
    bool waits;           // false: it must not read at all
    int status;
};

std::string FirstLine(const std::string& text) {
    const std::size_t end = text.find('\n');
    return end == std::string::npos ? text : text.substr(0, end + 1);
}

// At a console the program keeps its message on screen until Enter is
// pressed. With standard input a pipe that stays open, it must have printed
// the whole message, and go on waiting, until a line comes.
TEST_F(Program, WaitsForALineAfterEachMessageButNotAfterAConversion) {
    const Waiting cases[] = {
        {"instruction", {}, kInstruction, true, 0},
        {"rejection", {"stereo.wav"}, kRejection, true, 0},
        {"failure", {"in.wav"}, "Enc_in.wav: cannot move into place: " +
                                    std::string(std::strerror(WindowsExe() ? EACCES : EISDIR)) +
                                    "\n",
         true, 1},
        {"conversion", {"take.wav"}, "", false, 0},
        {"usage", {"--help"}, kUsageStart, false, 0},
        {"usage, short", {"-h", "take.wav"}, kUsageStart, false, 0},
        {"version", {"--version"}, kVersion, false, 0},
        {"version, short", {"-V"}, kVersion, false, 0},
        {"a file named --help", {"./--help"}, "", false, 0},
    };
    const Bytes input = PcmWave(NoisySamples(kSamplesPerBlock, 6));
    for (const Waiting& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir temp;
        WriteBytes(temp.work() / "stereo.wav", PcmWave({}, {16, 2, 22050}));
        WriteBytes(temp.work() / "in.wav", input);
        fs::create_directory(temp.work() / "Enc_in.wav");
        WriteBytes(temp.work() / "take.wav", input);
        WriteBytes(temp.work() / "--help", input);
        std::string line = "cd " + ShellQuoted(temp.work().string()) + " && " + ProgramCommand();
        for (const std::string& arg : c.args) line += " " + ShellQuoted(arg);
        int in[2], out[2];
        ASSERT_EQ(pipe2(in, O_CLOEXEC), 0);
        ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
        const std::string unread = "left for the shell\n";
        if (!c.waits) {
            ASSERT_EQ(write(in[1], unread.data(), unread.size()),
                      static_cast<ssize_t>(unread.size()));
        }
        const pid_t pid = Spawn({"/bin/sh", "-c", line + " 2>&1"}, in[0], out[1]);
        close(out[1]);
        ASSERT_GT(pid, 0);

        std::optional<int> status;
        if (!c.waits) {
            status = StatusWithin(pid, 30);
            EXPECT_EQ(ReadPrinted(in[0], unread.size(), 1), unread);
            EXPECT_EQ(FirstLine(ReadPrinted(out[0], SIZE_MAX, 5)), AsPrinted(c.message));
        } else {
            const std::string expected = AsPrinted(c.message);
            EXPECT_EQ(ReadPrinted(out[0], expected.size(), 30), expected);
            status = StatusWithin(pid, 1);
            EXPECT_FALSE(status.has_value()) << "ended without waiting";
            if (!status) {
                EXPECT_EQ(write(in[1], "\n", 1), 1);
                status = StatusWithin(pid, 30);
            }
        }
        close(in[0]);
        close(in[1]);
        close(out[0]);
        if (!status) kill(pid, SIGKILL);
        ASSERT_TRUE(status.has_value()) << "still waiting";
        EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == c.status) << *status;
    }
}

struct Rejected {
    const char* what;
    Bytes input;  // empty: no file at all
};

TEST_F(Program, RejectsWhatItCannotConvertAndLeavesNoOutput) {
    const std::vector<short> samples(5000, 100);
    Bytes tooShort = PcmWave(samples);
    tooShort.resize(35);
    const Rejected cases[] = {
        {"stereo", PcmWave(samples, {16, 2, 22050})},
        {"44100 Hz", PcmWave(samples, {16, 1, 44100})},
        {"11025 Hz", PcmWave(samples, {16, 1, 11025})},
        {"extended format chunk", PcmWave(samples, {18, 1, 22050})},
        {"8-bit", PcmWave(samples, {16, 1, 22050, 1, 8})},
        {"32-bit float", PcmWave(samples, {16, 1, 22050, 3, 32})},
        {"A-law", PcmWave(samples, {16, 1, 22050, 6, 8})},
        {"shorter than the checked fields", tooShort},
        {"empty", Bytes()},
    };
    for (const Rejected& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir temp;
        WriteBytes(temp.work() / "in.wav", c.input);
        const RunResult run = RunEncoder(temp, {"in.wav"});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, AsPrinted(kRejection));
        EXPECT_EQ(FilesIn(temp.work()), std::vector<std::string>{"in.wav"});
        EXPECT_EQ(ReadBytes(temp.work() / "in.wav"), c.input);
    }
}

// A FIFO is turned away before it is opened, which would wait for a writer;
// should it not be, the timeout ends the run and the test fails.
TEST_F(Program, RejectsAMissingFileWhatIsNoRegularFileAndItsOwnOutput) {
    TempDir temp;
    WriteBytes(temp.work() / "take.wav", PcmWave(NoisySamples(5000, 1)));
    ASSERT_EQ(RunEncoder(temp, {"take.wav"}).status, 0);
    fs::create_directory(temp.work() / "folder.wav");
    ASSERT_EQ(mkfifo((temp.work() / "fifo.wav").c_str(), 0644), 0);
    const std::vector<std::string> before = FilesIn(temp.work());
    for (const char* input : {"Enc_take.wav", "missing.wav", "folder.wav", "fifo.wav", "*.none"}) {
        SCOPED_TRACE(input);
        const RunResult run = RunEncoder(temp, {input}, "timeout 30 env ");
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out, AsPrinted(kRejection));
        EXPECT_EQ(FilesIn(temp.work()), before);
    }
}

struct Geometry {
    std::size_t blocks, tailBytes;
};

TEST_F(Program, BlockCountFollowsTheInputSizeAndSizeFieldsAreRewritten) {
    const Geometry cases[] = {{0, 0}, {0, 4095}, {1, 0}, {1, 1}, {1, 4095}, {3, 2}};
    for (const Geometry& c : cases) {
        SCOPED_TRACE(std::to_string(c.blocks) + " blocks + " + std::to_string(c.tailBytes));
        TempDir temp;
        Bytes input = PcmWave(NoisySamples(c.blocks * kSamplesPerBlock, 7));
        input.insert(input.end(), c.tailBytes, 0x7F);
        WriteBytes(temp.work() / "in.wav", input);

        const RunResult run = RunEncoder(temp, {"in.wav"});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out + run.err, "");
        const Bytes output = ReadBytes(temp.work() / "Enc_in.wav");
        const std::size_t size = kHeaderSize + kBlockSize * c.blocks;
        ASSERT_EQ(output.size(), size);
        EXPECT_EQ(LE32At(output, 4), size - 8);
        EXPECT_EQ(LE32At(output, 48), c.blocks * kSamplesPerBlock);
        EXPECT_EQ(LE32At(output, 56), size - kHeaderSize);
        EXPECT_EQ(ReadBytes(temp.work() / "in.wav"), input);
    }
}

TEST_F(Program, WritesTheImaAdpcmHeader) {
    TempDir temp;
    WriteBytes(temp.work() / "in.wav", PcmWave(NoisySamples(2 * kSamplesPerBlock, 3)));
    ASSERT_EQ(RunEncoder(temp, {"in.wav"}).status, 0);
    Bytes header = ReadBytes(temp.work() / "Enc_in.wav");
    header.resize(kHeaderSize);
    const Bytes expected = {
        'R', 'I', 'F', 'F', 0x3C, 0x08, 0x00, 0x00, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ',
        20, 0, 0, 0, 0x11, 0x00, 1, 0, 0x22, 0x56, 0, 0, 0x11, 0x2B, 0, 0,  // 22050 Hz, 11025 B/s
        0x04, 0x04, 4, 0, 2, 0, 0x00, 0x08,  // align 1028, 4 bits, 2 extra bytes, 2048 a block
        'f', 'a', 'c', 't', 4, 0, 0, 0, 0x00, 0x10, 0, 0,  // 4096 samples
        'd', 'a', 't', 'a', 0x08, 0x08, 0, 0};             // 2056 bytes of blocks
    EXPECT_EQ(header, expected);
}

struct Layout {
    const char* what;
    Bytes input;
    const Bytes& expected;  // the conversion of the same samples in a canonical file
};

// Whatever lies around the data chunk, and whether or not its size was ever
// written, the output is that of the same samples in a canonical file.
TEST_F(Program, TakesTheSamplesFromTheDataChunk) {
    const Bytes canonical = PcmWave(NoisySamples(2 * kSamplesPerBlock + 300, TestSeed()));
    const Bytes noSamples = PcmWave({});
    TempDir reference;
    const Bytes fromCanonical = ConvertedOutput(reference, canonical);
    const Bytes fromNoSamples = ConvertedOutput(reference, noSamples);
    ASSERT_EQ(fromCanonical.size(), kHeaderSize + 2 * kBlockSize);
    ASSERT_EQ(fromNoSamples.size(), kHeaderSize);

    const std::size_t dataSizeAt = kCanonicalDataChunkAt + 4;
    Bytes cutShort = noSamples;
    cutShort.resize(dataSizeAt);
    const Layout cases[] = {
        {"a LIST chunk before the data",
         Inserted(canonical, kCanonicalDataChunkAt, Chunk("LIST", 26)), fromCanonical},
        {"an odd-sized chunk before the data",
         Inserted(canonical, kCanonicalDataChunkAt, Chunk("junk", 5)), fromCanonical},
        {"a chunk after the data", Inserted(canonical, canonical.size(), Chunk("id3 ", 20000)),
         fromCanonical},
        {"a data size past the file's end", WithLE32(canonical, dataSizeAt, 0xFFFFFFFF),
         fromCanonical},
        {"a data size of 0 with samples after it", WithLE32(canonical, dataSizeAt, 0),
         fromCanonical},
        {"no data chunk before the end", cutShort, fromNoSamples},
    };
    for (const Layout& c : cases) {
        SCOPED_TRACE(std::string(c.what) + ", seed " + std::to_string(TestSeed()));
        TempDir temp;
        EXPECT_EQ(ConvertedOutput(temp, c.input), c.expected);
        EXPECT_EQ(ReadBytes(temp.work() / "in.wav"), c.input);
    }
}

// Each block: its opening sample, the step index its codes start from, 0, and
// the codes of the block's next 2047 samples, the last one coded twice.
TEST_F(Program, BlocksCarryTheirOpeningSampleAndTheCodesOfTheRest) {
    const std::size_t blocks = 3;
    std::vector<short> samples = NoisySamples(blocks * kSamplesPerBlock + 100, TestSeed());
    samples[0] = 1000;
    samples[kSamplesPerBlock] = -5;
    TempDir temp;
    WriteBytes(temp.work() / "in.wav", PcmWave(samples));
    ASSERT_EQ(RunEncoder(temp, {"in.wav"}).status, 0);
    const Bytes output = ReadBytes(temp.work() / "Enc_in.wav");
    ASSERT_EQ(output.size(), kHeaderSize + blocks * kBlockSize);

    const Bytes expectedStarts[] = {{0xE8, 0x03, 52, 0}, {0xFB, 0xFF, 0, 0}};
    for (std::size_t b = 0; b < 2; ++b) {
        EXPECT_EQ(Bytes(output.begin() + kHeaderSize + b * kBlockSize,
                        output.begin() + kHeaderSize + b * kBlockSize + 4),
                  expectedStarts[b])
            << "block " << b;
    }
    for (std::size_t b = 0; b < blocks; ++b) {
        const std::size_t first = b * kSamplesPerBlock;
        const unsigned char* block = output.data() + kHeaderSize + b * kBlockSize;
        EXPECT_EQ(static_cast<short>(block[0] | block[1] << 8), samples[first]) << "block " << b;
        IMA_ADPCM plain;
        plain.PredictedValue = samples[first];
        plain.StepIndex = block[2];
        for (std::size_t i = 1; i <= kSamplesPerBlock; ++i) {
            const short sample = samples[first + std::min(i, kSamplesPerBlock - 1)];
            const int code = plain.Encodes(sample);
            const unsigned char byte = block[4 + (i - 1) / 2];
            ASSERT_EQ((i % 2 ? byte : byte >> 4) & 0x0F, code) << "block " << b << " code " << i;
        }
    }
}

struct Naming {
    std::string input, output;
};

TEST_F(Program, WritesTheOutputBesideTheInput) {
    const Naming cases[] = {
        {"song.wav", "Enc_song.wav"},
        {"song", "Enc_song.wav"},
        {"take.one.wav", "Enc_take.one.wav"},
        {"sound.lib/take.one.wav", "sound.lib/Enc_take.one.wav"},
        {"sound.lib/take", "sound.lib/Enc_take.wav"},
    };
    for (const Naming& c : cases) {
        SCOPED_TRACE(c.input);
        TempDir temp;
        fs::create_directories((temp.work() / c.input).parent_path());
        WriteBytes(temp.work() / c.input, PcmWave(NoisySamples(kSamplesPerBlock, 5)));
        std::vector<std::string> expected = FilesIn(temp.work());
        expected.push_back(c.output);
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(RunEncoder(temp, {c.input}).status, 0);
        EXPECT_EQ(FilesIn(temp.work()), expected);
    }
}

TEST_F(Program, ConvertsOnlyTheFirstFileOfSeveral) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"a.wav", "b.wav"}, std::vector<std::string>{"*.wav"}}) {
        SCOPED_TRACE(args[0]);
        TempDir temp;
        for (const char* name : {"b.wav", "a.wav"}) {
            WriteBytes(temp.work() / name, PcmWave(NoisySamples(kSamplesPerBlock, 9)));
        }
        EXPECT_EQ(RunEncoder(temp, args).status, 0);
        EXPECT_EQ(FilesIn(temp.work()), (std::vector<std::string>{"Enc_a.wav", "a.wav", "b.wav"}));
    }
}

struct AtTheOutputsName {
    const char* what;
    void (*put)(const fs::path& outputName);
    bool underWine;  // Wine will not replace a FIFO, which Windows does not have
};

// The output is written beside its name and moved onto it: whatever was
// there is replaced, and a link is never written through.
TEST_F(Program, ReplacesWhateverIsAtTheOutputsNameAndNothingItLeadsTo) {
    const AtTheOutputsName cases[] = {
        {"nothing", [](const fs::path&) {}, true},
        {"an older output", [](const fs::path& at) { WriteBytes(at, Bytes(100000, 0xAB)); },
         true},
        {"a hard link to the input",
         [](const fs::path& at) { fs::create_hard_link(at.parent_path() / "in.wav", at); }, true},
        {"a symlink to the input", [](const fs::path& at) { fs::create_symlink("in.wav", at); },
         true},
        {"a symlink to another file",
         [](const fs::path& at) { fs::create_symlink("other.txt", at); }, true},
        {"a FIFO", [](const fs::path& at) { ASSERT_EQ(mkfifo(at.c_str(), 0644), 0); }, false},
    };
    const Bytes input = PcmWave(NoisySamples(kSamplesPerBlock, 2));
    const Bytes other = {'k', 'e', 'e', 'p'};
    TempDir reference;
    const Bytes expected = ConvertedOutput(reference, input);
    ASSERT_EQ(expected.size(), kHeaderSize + kBlockSize);
    for (const AtTheOutputsName& c : cases) {
        if (WindowsExe() && !c.underWine) continue;
        SCOPED_TRACE(c.what);
        TempDir temp;
        WriteBytes(temp.work() / "in.wav", input);
        WriteBytes(temp.work() / "other.txt", other);
        c.put(temp.work() / "Enc_in.wav");

        const RunResult run = RunEncoder(temp, {"in.wav"});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out + run.err, "");
        // Reading a FIFO left there would wait for ever.
        ASSERT_TRUE(fs::is_regular_file(fs::symlink_status(temp.work() / "Enc_in.wav")));
        EXPECT_EQ(ReadBytes(temp.work() / "Enc_in.wav"), expected);
        EXPECT_EQ(ReadBytes(temp.work() / "in.wav"), input);
        EXPECT_EQ(ReadBytes(temp.work() / "other.txt"), other);
        EXPECT_EQ(FilesIn(temp.work()),
                  (std::vector<std::string>{"Enc_in.wav", "in.wav", "other.txt"}));
    }
}

// Found only once the output is complete; nothing is left beside the folder.
TEST_F(Program, ReportsAnOutputNameTakenByAFolder) {
    TempDir temp;
    const Bytes input = PcmWave(NoisySamples(kSamplesPerBlock, 4));
    WriteBytes(temp.work() / "in.wav", input);
    fs::create_directory(temp.work() / "Enc_in.wav");
    const RunResult run = RunEncoder(temp, {"in.wav"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    // Windows gives no reason of its own for a folder in the way.
    const int reason = WindowsExe() ? EACCES : EISDIR;
    EXPECT_EQ(run.err, AsPrinted(std::string("Enc_in.wav: cannot move into place: ") +
                                 std::strerror(reason) + "\n"));
    EXPECT_TRUE(fs::is_directory(temp.work() / "Enc_in.wav"));
    EXPECT_EQ(FilesIn(temp.work()), (std::vector<std::string>{"Enc_in.wav", "in.wav"}));
    EXPECT_EQ(ReadBytes(temp.work() / "in.wav"), input);
}

std::uint64_t Fnv1a(const Bytes& bytes) {
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char b : bytes) hash = (hash ^ b) * 1099511628211ull;
    return hash;
}

// Pins every byte of the bundled example's conversion; a change here changes
// what users' files contain.
TEST_F(Program, ConvertsTheBundledExampleToTheSameBytes) {
    TempDir temp;
    fs::copy_file(EXAMPLE_WAV, temp.work() / "hello.wav");
    ASSERT_EQ(RunEncoder(temp, {"hello.wav"}).status, 0);
    const Bytes output = ReadBytes(temp.work() / "Enc_hello.wav");
    EXPECT_EQ(output.size(), 73048u);
    EXPECT_EQ(Fnv1a(output), 0x36bd98de1464d472ull);
}

}  // namespace
