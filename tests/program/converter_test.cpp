#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "adpcm_file.h"
#include "codec/ima_adpcm.h"
#include "test_seed.h"
#include "test_support.h"

namespace {

const std::string kInstruction =
    "Drag n' drop pcm, 22050 mono wave file onto window.  Press [enter] to exit ";
const std::string kRejection =
    "Wave file is already encoded, or wav type is\nstereo or unknown.  Press [enter] to exit ";
const std::string kDecodeRejection =
    "Wave file is not mono IMA ADPCM, so it was not decoded.  Press [enter] to exit ";
const std::string kUsageStart =
    "Usage: pcm-encoder [--best [--compatible]] [-v] [-o DIR] [-j N] FILE...\n";
const std::string kMisuse =
    "Usage: pcm-encoder [--best | --decode] [-v] FILE (--best and --decode do not go together)\n";
const std::string kFailurePrompt = "Press [enter] to exit ";
const std::string kVersion = "pcm-encoder " PCM_ENCODER_VERSION "\n";

const std::string kNeeds =
    "needs 22050 Hz, mono, 16-bit PCM (see \"Preparing input\" in the README)";

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
    bool closedOutput = false;  // standard output a pipe that no one reads
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
        {"instruction for --decode",
         {"--decode"},
         "Give a mono IMA ADPCM wave file to decode.  Press [enter] to exit ",
         true,
         0},
        {"rejection",
         {"stereo.wav"},
         "stereo.wav: 22050 Hz, 2 channels, 16-bit PCM; " + kNeeds + "\n" + kRejection,
         true,
         0},
        {"failure",
         {"in.wav"},
         "Enc_in.wav: cannot write: " + std::string(std::strerror(EISDIR)) + "\n" + kFailurePrompt,
         true,
         1},
        {"conversion", {"take.wav"}, "", false, 0},
        {"several files, one rejected, one failing: one count, one wait",
         {"take.wav", "stereo.wav", "in.wav"},
         "stereo.wav: 22050 Hz, 2 channels, 16-bit PCM; " + kNeeds +
             "\nEnc_in.wav: cannot write: " + std::string(std::strerror(EISDIR)) +
             "\n3 files: 1 converted, 1 rejected, 1 failed\n" + kFailurePrompt,
         true,
         1},
        {"a file twice",
         {"take.wav", "take.wav"},
         "take.wav: same output as take.wav: Enc_take.wav\n2 files: 1 converted, 1 rejected, 0 "
         "failed\n" +
             kRejection,
         true,
         0},
        {"usage", {"--help"}, kUsageStart, false, 0},
        {"usage, short", {"-h", "take.wav"}, kUsageStart, false, 0},
        {"version", {"--version"}, kVersion, false, 0},
        {"version, short", {"-V"}, kVersion, false, 0},
        {"a file named --help", {"./--help"}, "", false, 0},
        {"usage after options", {"-v", "--best", "--help"}, kUsageStart, false, 0},
        {"--best with --decode", {"--best", "--decode", "take.wav"}, kMisuse, false, 2},
        {"a file named --best after --", {"--best", "--", "--best"}, "", false, 0},
        {"usage after the file", {"take.wav", "--help"}, kUsageStart, false, 0},
        {"an unknown option",
         {"take.wav", "--bset"},
         "pcm-encoder: unknown option '--bset'\n",
         false,
         2},
        {"-j without its number",
         {"take.wav", "-j"},
         "pcm-encoder: option '-j' needs a number from 1 to 64\n",
         false,
         2},
        {"an output folder that is not there",
         {"-o", "missing", "take.wav"},
         "missing: cannot use as the output folder: " + std::string(std::strerror(ENOENT)) + "\n" +
             kFailurePrompt,
         true,
         1},
        // Windows's C runtime takes a closed pipe for an invalid argument.
        {"usage into a closed pipe",
         {"--help"},
         "standard output: cannot write: " +
             std::string(std::strerror(WindowsExe() ? EINVAL : EPIPE)) + "\n",
         false,
         1,
         true},
    };
    const Bytes input = PcmWave(NoisySamples(kSamplesPerBlock, 6));
    for (const Waiting& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir temp;
        WriteBytes(temp.work() / "stereo.wav", PcmWave({}, {16, 2, 22050}));
        WriteBytes(temp.work() / "in.wav", input);
        fs::create_directory(temp.work() / "Enc_in.wav");
        WriteBytes(temp.work() / "take.wav", input);
        fs::create_directories(temp.work() / "sub");
        fs::create_directories(temp.work() / "out");
        WriteBytes(temp.work() / "sub/stereo.wav", input);
        WriteBytes(temp.work() / "--help", input);
        WriteBytes(temp.work() / "--best", input);
        std::string line = "cd " + ShellQuoted(temp.work().string()) + " && " + ProgramCommand();
        for (const std::string& arg : c.args) line += " " + ShellQuoted(arg);
        int in[2], out[2], unreadOutput[2];
        ASSERT_EQ(pipe2(in, O_CLOEXEC), 0);
        ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
        ASSERT_EQ(pipe(unreadOutput), 0);  // its write end is the shell's to hand on
        close(unreadOutput[0]);
        line += " 2>&1";
        if (c.closedOutput) line += " >&" + std::to_string(unreadOutput[1]);
        const std::string unread = "left for the shell\n";
        if (!c.waits) {
            ASSERT_EQ(write(in[1], unread.data(), unread.size()),
                      static_cast<ssize_t>(unread.size()));
        }
        const pid_t pid = Spawn({"/bin/sh", "-c", line}, in[0], out[1]);
        close(out[1]);
        close(unreadOutput[1]);
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
        KillIfRunning(pid, status);
        ASSERT_TRUE(status.has_value()) << "still waiting";
        EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == c.status) << *status;
    }
}

struct Rejected {
    const char* what;
    Bytes input;  // empty: no file at all
    std::string reason;
    std::vector<std::string> options = {};
};

// A few rows; the other reasons are unit tests of CheckInput and CheckAdpcmInput.
TEST_F(Program, RejectsWhatItCannotConvertSaysWhyAndLeavesNoOutput) {
    const std::vector<short> samples(5000, 100);
    const Bytes canonical = PcmWave(samples);
    Bytes noData = canonical;
    noData.resize(kCanonicalDataChunkAt);
    const Rejected cases[] = {
        {"stereo", PcmWave(samples, {16, 2, 22050}), "22050 Hz, 2 channels, 16-bit PCM; " + kNeeds},
        {"no data chunk", noData, "no data chunk"},
        {"empty", Bytes(), "not a WAVE file (no format chunk)"},
        {"--decode: PCM", canonical, "already PCM", {"--decode"}},
        {"--decode: stereo",
         PcmWave(samples, {16, 2, 22050, 0x11, 4}),
         "2 channels; only mono IMA ADPCM is decoded",
         {"--decode"}},
    };
    for (const Rejected& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir temp;
        WriteBytes(temp.work() / "in.wav", c.input);
        std::vector<std::string> args = c.options;
        args.push_back("in.wav");
        const RunResult run = RunEncoder(temp, args);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, AsPrinted("in.wav: " + c.reason + "\n"));
        EXPECT_EQ(run.out, AsPrinted(c.options.empty() ? kRejection : kDecodeRejection));
        EXPECT_EQ(FilesIn(temp.work()), std::vector<std::string>{"in.wav"});
        EXPECT_EQ(ReadBytes(temp.work() / "in.wav"), c.input);
    }
}

struct Unopened {
    std::string input, reason;
    std::string shown = input;  // the name as the message shows it
};

// A FIFO is turned away before it is opened, which would wait for a writer;
// should it not be, the timeout ends the run and the test fails.
TEST_F(Program, RejectsAMissingFileWhatIsNoRegularFileAndItsOwnOutput) {
    TempDir temp;
    WriteBytes(temp.work() / "take.wav", PcmWave(NoisySamples(5000, 1)));
    ASSERT_EQ(RunEncoder(temp, {"take.wav"}).status, 0);
    fs::create_directory(temp.work() / "folder.wav");
    ASSERT_EQ(mkfifo((temp.work() / "fifo.wav").c_str(), 0644), 0);
    // Past MAX_PATH, which Windows opens only with long paths enabled.
    const std::string folder(100, 'd'), deep = folder + "/" + folder + "/" + folder + "/take.wav";
    fs::create_directories((temp.work() / deep).parent_path());
    WriteBytes(temp.work() / deep, PcmWave(NoisySamples(5000, 1)));
    const std::vector<std::string> before = FilesIn(temp.work());
    const std::string missing = std::string("cannot open: ") + std::strerror(ENOENT);
    std::vector<Unopened> cases = {
        {"Enc_take.wav", "already IMA ADPCM"},
        {"missing.wav", missing},
        {"folder.wav", "no WAVE files in this folder"},
        {"fifo.wav", WindowsExe() ? missing : "not a regular file"},  // Wine sees no FIFO
        {"*.none", missing},
        {"line\nfeed\x1B.wav", missing, "line\\nfeed\\x1B.wav"},
    };
    if (WindowsExe()) {
        cases.push_back({deep, std::string("cannot open: ") + std::strerror(ENAMETOOLONG)});
    }
    for (const Unopened& c : cases) {
        SCOPED_TRACE(c.input);
        const RunResult run = RunEncoder(temp, {c.input}, "timeout 30 env ");
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, AsPrinted(c.shown + ": " + c.reason + "\n"));
        EXPECT_EQ(run.out, AsPrinted(kRejection));
        EXPECT_EQ(FilesIn(temp.work()), before);
    }
}

// Every sample is encoded, the last block filled up with the last sample; the
// header's sizes are those of the blocks written.
TEST_F(Program, BlockCountAndSizeFieldsFollowTheSamples) {
    // The last: a whole group of 32 blocks, then a group of one.
    for (const std::size_t samples : {0, 1, 1427, 2047, 2048, 2049, 3 * 2048 + 2, 32 * 2048 + 1}) {
        SCOPED_TRACE(std::to_string(samples) + " samples");
        TempDir temp;
        const Bytes input = PcmWave(NoisySamples(samples, 7));
        WriteBytes(temp.work() / "in.wav", input);

        const RunResult run = RunEncoder(temp, {"in.wav"});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out + run.err, "");
        const Bytes output = ReadBytes(temp.work() / "Enc_in.wav");
        const std::size_t blocks = (samples + kSamplesPerBlock - 1) / kSamplesPerBlock;
        const std::size_t size = kHeaderSize + kBlockSize * blocks;
        ASSERT_EQ(output.size(), size);
        EXPECT_EQ(LE32At(output, 4), size - 8);
        EXPECT_EQ(LE32At(output, 48), samples);
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
    const Bytes expected = {'R', 'I', 'F', 'F', 0x3C, 0x08, 0x00, 0x00, 'W', 'A', 'V', 'E', 'f',
                            'm', 't', ' ', 20, 0, 0, 0, 0x11, 0x00, 1, 0, 0x22, 0x56, 0, 0, 0x11,
                            0x2B, 0, 0,                          // 22050 Hz, 11025 B/s
                            0x04, 0x04, 4, 0, 2, 0, 0x00, 0x08,  // align 1028, 4 bits, 2 extra
                                                                 // bytes, 2048 a block
                            'f', 'a', 'c', 't', 4, 0, 0, 0, 0x00, 0x10, 0, 0,  // 4096 samples
                            'd', 'a', 't', 'a', 0x08, 0x08, 0, 0};  // 2056 bytes of blocks
    EXPECT_EQ(header, expected);
}

struct Layout {
    const char* what;
    Bytes input;
    std::string warning = "";
};

// Whatever lies around the data chunk, and whether or not its size was ever
// written, the output is that of the same samples in a canonical file; a
// file cut short says so. A few layouts; the rest are unit tests of CheckInput.
TEST_F(Program, TakesTheSamplesFromTheDataChunk) {
    const Bytes canonical = PcmWave(NoisySamples(2 * kSamplesPerBlock + 300, TestSeed()));
    TempDir reference;
    const Bytes fromCanonical = ConvertedOutput(reference, canonical);
    ASSERT_EQ(fromCanonical.size(), kHeaderSize + 3 * kBlockSize);

    const std::size_t dataSizeAt = kCanonicalDataChunkAt + 4;
    Bytes xPadByte = Chunk("junk", 5);
    xPadByte.back() = 'X';
    const std::uint32_t dataBytes = LE32At(canonical, dataSizeAt);
    const Layout cases[] = {
        {"an odd-sized chunk with an X for its pad byte",
         Inserted(canonical, kCanonicalDataChunkAt, xPadByte)},
        {"RF64 with a chunk after the data",
         Inserted(AsRf64(canonical), canonical.size() + 36, Chunk("id3 ", 20000))},
        {"a data size never written", WithLE32(canonical, dataSizeAt, 0xFFFFFFFF)},
        {"a file cut short",
         WithLE32(WithLE32(canonical, 4, LE32At(canonical, 4) + 1000), dataSizeAt,
                  dataBytes + 1000),
         "in.wav: data chunk cut short: " + std::to_string(dataBytes) + " of " +
             std::to_string(dataBytes + 1000) + " bytes\n"},
    };
    for (const Layout& c : cases) {
        SCOPED_TRACE(std::string(c.what) + ", seed " + std::to_string(TestSeed()));
        TempDir temp;
        WriteBytes(temp.work() / "in.wav", c.input);
        const RunResult run = RunEncoder(temp, {"in.wav"});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out + run.err, AsPrinted(c.warning));
        EXPECT_EQ(ReadBytes(temp.work() / "Enc_in.wav"), fromCanonical);
        EXPECT_EQ(ReadBytes(temp.work() / "in.wav"), c.input);
    }
}

// Each block: its opening sample, the step index its codes start from, 0, and
// the codes of the block's next 2047 samples, the last one coded twice; the
// last block's missing samples are its last sample again.
TEST_F(Program, BlocksCarryTheirOpeningSampleAndTheCodesOfTheRest) {
    const std::size_t blocks = 4;
    std::vector<short> samples = NoisySamples(3 * kSamplesPerBlock + 100, TestSeed());
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
    samples.resize(blocks * kSamplesPerBlock, samples.back());
    for (std::size_t b = 0; b < blocks; ++b) {
        const std::size_t first = b * kSamplesPerBlock;
        const unsigned char* block = output.data() + kHeaderSize + b * kBlockSize;
        EXPECT_EQ(static_cast<short>(block[0] | block[1] << 8), samples[first]) << "block " << b;
        IMA_ADPCM perSample;
        perSample.PredictedValue = samples[first];
        perSample.StepIndex = block[2];
        for (std::size_t i = 1; i <= kSamplesPerBlock; ++i) {
            const short sample = samples[first + std::min(i, kSamplesPerBlock - 1)];
            const int code = perSample.Encodes(sample);
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
        {std::string(247, 'a') + ".wav", "Enc_" + std::string(247, 'a') + ".wav"},  // 255 bytes
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

// Each to the bytes of a run of its own, on one thread or several.
TEST_F(Program, ConvertsEveryFileOfSeveral) {
    const std::vector<std::string> beside = {"Enc_a.wav", "Enc_b.wav", "a.wav", "b.wav", "out"};
    const std::vector<std::vector<std::string>> cases = {
        {"b.wav", "a.wav"},
        {"*.wav"},
        {"-j", "1", "."},
        {".", "--jobs=3", "-v"},  // the folder leaves out its outputs of the run before
        {"b.wav", "a.wav", "-o", "out"},
        {"--decode", "Enc_a.wav", "--output-dir", "out", "Enc_b.wav"},
    };
    for (const std::vector<std::string>& args : cases) {
        SCOPED_TRACE(args[0] + " " + args.back());
        TempDir temp;
        WriteBytes(temp.work() / "a.wav", PcmWave(NoisySamples(kSamplesPerBlock + 9, 9)));
        WriteBytes(temp.work() / "b.wav", PcmWave(std::vector<short>(99, 20000)));
        fs::create_directory(temp.work() / "out");
        ASSERT_EQ(RunEncoder(temp, {"a.wav"}).status, 0);
        ASSERT_EQ(RunEncoder(temp, {"b.wav"}).status, 0);
        const bool decoding = args[0] == "--decode";
        if (decoding) {
            for (const char* name : {"Enc_a.wav", "Enc_b.wav"}) {
                ASSERT_EQ(RunEncoder(temp, {"--decode", "-o", "out", name}).status, 0);
            }
        }
        const bool intoFolder = std::find(args.begin(), args.end(), "out") != args.end();
        const fs::path made = temp.work() / (intoFolder ? "out" : "");
        const std::string prefix = decoding ? "Dec_" : "Enc_";
        const fs::path alone = temp.work() / (decoding ? "out" : "");
        const Bytes aloneA = ReadBytes(alone / (prefix + "a.wav"));
        const Bytes aloneB = ReadBytes(alone / (prefix + "b.wav"));
        fs::remove(made / (prefix + "a.wav"));
        fs::remove(made / (prefix + "b.wav"));

        const RunResult run = RunEncoder(temp, args);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, "");
        std::vector<std::string> expected = beside;
        if (intoFolder)
            expected.insert(expected.end(), {"out/" + prefix + "a.wav", "out/" + prefix + "b.wav"});
        EXPECT_EQ(FilesIn(temp.work()), expected);
        EXPECT_EQ(ReadBytes(made / (prefix + "a.wav")), aloneA);
        EXPECT_EQ(ReadBytes(made / (prefix + "b.wav")), aloneB);
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
        {"an older output", [](const fs::path& at) { WriteBytes(at, Bytes(100000, 0xAB)); }, true},
        {"a hard link to the input",
         [](const fs::path& at) { fs::create_hard_link(at.parent_path() / "in.wav", at); }, true},
        {"a symlink to the input", [](const fs::path& at) { fs::create_symlink("in.wav", at); },
         true},
        {"a symlink to another file",
         [](const fs::path& at) { fs::create_symlink("other.txt", at); }, true},
        {"a FIFO", [](const fs::path& at) { ASSERT_EQ(mkfifo(at.c_str(), 0644), 0); }, false},
        {"a private older output, of another user where root can make it so",
         [](const fs::path& at) {
             WriteBytes(at, Bytes(100, 0xAB));
             fs::permissions(at, fs::perms::owner_read | fs::perms::owner_write);
             if (geteuid() == 0) {
                 ASSERT_EQ(chown(at.c_str(), 65534, 65534), 0);
             }
         },
         false},  // a Windows file takes its folder's access
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
        struct stat before, after;
        const bool replacesAFile = lstat((temp.work() / "Enc_in.wav").c_str(), &before) == 0 &&
                                   S_ISREG(before.st_mode) && !WindowsExe();

        const RunResult run = RunEncoder(temp, {"in.wav"});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out + run.err, "");
        // Reading a FIFO left there would wait for ever.
        ASSERT_TRUE(fs::is_regular_file(fs::symlink_status(temp.work() / "Enc_in.wav")));
        if (replacesAFile) {
            ASSERT_EQ(lstat((temp.work() / "Enc_in.wav").c_str(), &after), 0);
            EXPECT_EQ(after.st_mode, before.st_mode);
            EXPECT_EQ(after.st_uid, before.st_uid);
            EXPECT_EQ(after.st_gid, before.st_gid);
        }
        EXPECT_EQ(ReadBytes(temp.work() / "Enc_in.wav"), expected);
        EXPECT_EQ(ReadBytes(temp.work() / "in.wav"), input);
        EXPECT_EQ(ReadBytes(temp.work() / "other.txt"), other);
        EXPECT_EQ(FilesIn(temp.work()),
                  (std::vector<std::string>{"Enc_in.wav", "in.wav", "other.txt"}));
    }
}

struct InTheWay {
    const char* what;
    void (*put)(const fs::path& outputName);
    int reason;
    std::string stem = "in";
    bool natively = true;  // false: a Windows matter, under Wine only
};

// Found before the encoding pass: natively under a file-size limit that the
// output's first write would pass, the run fails for what is in the way.
// Nothing is left beside it.
TEST_F(Program, RejectsAFolderOrAReadOnlyFileAtTheOutputsNameBeforeEncoding) {
    const InTheWay cases[] = {
        {"a folder", [](const fs::path& at) { fs::create_directory(at); }, EISDIR},
        {"a read-only file",
         [](const fs::path& at) {
             WriteBytes(at, Bytes(100, 0xAB));
             fs::permissions(
                 at, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
         },
         EACCES},
        {"a name too long for the file system", [](const fs::path&) {}, ENAMETOOLONG,
         std::string(251, 'a')},
        // On Linux the link is replaced; on Windows the move could not replace it.
        {"a link to a folder",
         [](const fs::path& at) {
             fs::create_directory(at.parent_path() / "folder");
             fs::create_directory_symlink("folder", at);
         },
         EISDIR, "in", false},
    };
    const Bytes input = PcmWave(NoisySamples(2 * kSamplesPerBlock, 4));
    for (const InTheWay& c : cases) {
        // Root may write it; Injected/ConversionFault.ReadOnlyOutput runs it as another user.
        if (c.reason == EACCES && !WindowsExe() && geteuid() == 0) continue;
        if (!c.natively && !WindowsExe()) continue;
        SCOPED_TRACE(c.what);
        TempDir temp;
        const std::string inputName = c.stem + ".wav", outputName = "Enc_" + inputName;
        WriteBytes(temp.work() / inputName, input);
        c.put(temp.work() / outputName);
        const std::vector<std::string> before = FilesIn(temp.work());
        const RunResult run =
            RunEncoder(temp, {inputName}, WindowsExe() ? "" : "ulimit -f 1; exec ");
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, AsPrinted(kFailurePrompt));
        EXPECT_EQ(run.err,
                  AsPrinted(outputName + ": cannot write: " + std::strerror(c.reason) + "\n"));
        EXPECT_EQ(FilesIn(temp.work()), before);
        EXPECT_EQ(ReadBytes(temp.work() / inputName), input);
    }
}

std::uint64_t Fnv1a(const Bytes& bytes) {
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char b : bytes) hash = (hash ^ b) * 1099511628211ull;
    return hash;
}

// Pins every byte of the bundled example's conversion; a change here changes
// what users' files contain. The same conversion is decoded by ffmpeg, sox and
// sndfile-convert in independent_decoders_test.cpp.
TEST_F(Program, ConvertsTheBundledExampleToTheSameBytes) {
    TempDir temp;
    fs::copy_file(EXAMPLE_WAV, temp.work() / "hello.wav");
    ASSERT_EQ(RunEncoder(temp, {"hello.wav"}).status, 0);
    const Bytes output = ReadBytes(temp.work() / "Enc_hello.wav");
    EXPECT_EQ(output.size(), 74076u);
    EXPECT_EQ(Fnv1a(output), 0xcf93d20065c97b91ull);
}

}  // namespace
