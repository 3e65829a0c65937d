#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>

#include "convert/conversion.h"
#include "test_seed.h"
#include "test_support.h"

using convert::ConversionResult;
using convert::ConvertFile;
using convert::Outcome;

// Allocations of this many bytes or more fail, as under a memory limit; set
// only by the test of that. The program links its C++ runtime in, so no
// library preloaded into it can stand in for its allocator: the conversion
// runs in this process instead. The sanitizers' allocator will not let
// another stand in front of it.
#ifndef __SANITIZE_ADDRESS__
static std::size_t failedAllocation = SIZE_MAX;

void* operator new(std::size_t size) {
    void* memory = size < failedAllocation ? std::malloc(size == 0 ? 1 : size) : nullptr;
    if (!memory) throw std::bad_alloc();
    return memory;
}
// These deletes are the matching ones, which the compiler cannot tell.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
#pragma GCC diagnostic pop
#endif

namespace {

const Bytes kOlderOutput(5000, 0xAB);

// The encoding pass's buffers cannot be had; the stream buffers can.
TEST(OutOfMemory, IsAnOrdinaryFailureThatLeavesTheOlderOutputAsItWas) {
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "the sanitizers' allocator cannot be stood in for";
#else
    TempDir temp;
    WriteBytes(temp.work() / "in.wav", PcmWave(NoisySamples(200 * kSamplesPerBlock, TestSeed())));
    WriteBytes(temp.work() / "Enc_in.wav", kOlderOutput);
    const std::string output = (temp.work() / "Enc_in.wav").string();
    failedAllocation = 100 * 1024;
    const ConversionResult result = ConvertFile((temp.work() / "in.wav").string(), output);
    failedAllocation = SIZE_MAX;
    EXPECT_EQ(result.outcome, Outcome::Failed);
    EXPECT_EQ(result.error, output + ": cannot convert: out of memory");
    EXPECT_EQ(FilesIn(temp.work()), (std::vector<std::string>{"Enc_in.wav", "in.wav"}));
    EXPECT_EQ(ReadBytes(temp.work() / "Enc_in.wav"), kOlderOutput);
#endif
}

bool Succeeds(const fs::path& dir, const std::string& command) {
    return std::system(("cd " + ShellQuoted(dir.string()) + " && " + command + " >/dev/null 2>&1")
                           .c_str()) == 0;
}

// Sets a fault up in the test's folder, which holds the input and an older
// output; returns the shell prefix that starts the program under it, or
// nothing when this machine cannot produce it.
using FaultSetUp = std::optional<std::string> (*)(const TempDir&);

struct Fault {
    const char* name;
    std::size_t blocks;
    FaultSetUp setUp;
    int error;
    const char* failedStep;
    const char* reason = nullptr;  // when it is not the system's reason for `error`
};

void PrintTo(const Fault& fault, std::ostream* out) { *out << fault.name; }

// The folder's files move onto a file system with room for 8 KiB more, so
// the output meets a full disk. Mounting one needs root.
std::optional<std::string> DiskFullAfter8KiB(const TempDir& temp) {
    constexpr std::size_t kPage = 4096, kRoomPages = 2;
    std::vector<std::pair<fs::path, Bytes>> files;
    std::size_t pages = kRoomPages;
    for (const auto& entry : fs::directory_iterator(temp.work())) {
        files.emplace_back(entry.path(), ReadBytes(entry.path()));
        pages += (files.back().second.size() + kPage - 1) / kPage;
    }
    const std::string size = std::to_string(pages * kPage);
    if (!Succeeds(temp.work(), "mount -t tmpfs -o size=" + size + " pcm-encoder-test " +
                                   ShellQuoted(temp.work().string()))) {
        return std::nullopt;
    }
    for (const auto& [path, bytes] : files) WriteBytes(path, bytes);
    return "";
}

// 16 blocks of 512 bytes under dash, of 1024 under bash: either way the
// limit falls inside the output. The program itself sees that the limit
// makes a write fail rather than end it.
std::optional<std::string> FileSizeLimitMidway(const TempDir&) { return "ulimit -f 16; exec "; }

// Root writes anywhere, so as root the program runs as the unprivileged user
// nobody (65534) instead.
std::optional<std::string> ReadOnlyOutputDirectory(const TempDir& temp) {
    // The older output is one the program may write: the folder is what rejects it.
    fs::permissions(temp.work() / "Enc_in.wav", fs::perms::others_write, fs::perm_options::add);
    fs::permissions(temp.work(),
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    const std::string prefix =
        geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
    const bool injected =
        Succeeds(temp.work(), prefix + "true") && !Succeeds(temp.work(), prefix + "test -w .");
    if (!injected) return std::nullopt;
    return prefix;
}

// The older output made read-only in a folder that the program may write:
// as root, the program runs as nobody, for whom the folder is opened up.
std::optional<std::string> ReadOnlyOutput(const TempDir& temp) {
    fs::permissions(temp.work() / "Enc_in.wav",
                    fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    if (geteuid() != 0) return "";
    fs::permissions(temp.work(), fs::perms::all);
    return "setpriv --reuid=65534 --regid=65534 --clear-groups ";
}

// Another user's output, writable by all, in a folder with the sticky bit:
// the program may write it but not replace it. Needs root, to run as nobody.
std::optional<std::string> AnotherUsersOutputInAStickyFolder(const TempDir& temp) {
    if (geteuid() != 0) return std::nullopt;
    fs::permissions(temp.work() / "Enc_in.wav", fs::perms::all);
    fs::permissions(temp.work(), fs::perms::all | fs::perms::sticky_bit);
    return "setpriv --reuid=65534 --regid=65534 --clear-groups ";
}

// Undoes what a fault set up, before the folder is removed.
struct FaultUndo {
    const TempDir& temp;
    ~FaultUndo() {
        fs::permissions(temp.work(), fs::perms::owner_all, fs::perm_options::add);
        Succeeds(temp.scratch(), "! mountpoint -q work || umount work");
    }
};

class ConversionFault : public testing::TestWithParam<Fault> {};

TEST_P(ConversionFault, EndsWithStatus1AndOneLineAndLeavesTheOlderOutputAsItWas) {
    const Fault& fault = GetParam();
    TempDir temp;
    const FaultUndo undo{temp};
    const Bytes input = PcmWave(NoisySamples(fault.blocks * kSamplesPerBlock, TestSeed()));
    WriteBytes(temp.work() / "in.wav", input);
    WriteBytes(temp.work() / "Enc_in.wav", kOlderOutput);
    const std::optional<std::string> prefix = fault.setUp(temp);
    if (!prefix) GTEST_SKIP() << "this machine cannot inject: " << fault.name;

    const RunResult run = RunEncoder(temp, {"in.wav"}, *prefix);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "Press [enter] to exit ");
    EXPECT_EQ(run.err, std::string("Enc_in.wav: ") + fault.failedStep + ": " +
                           (fault.reason ? fault.reason : std::strerror(fault.error)) + "\n");
    EXPECT_EQ(FilesIn(temp.work()), (std::vector<std::string>{"Enc_in.wav", "in.wav"}));
    EXPECT_EQ(ReadBytes(temp.work() / "Enc_in.wav"), kOlderOutput);
    EXPECT_EQ(ReadBytes(temp.work() / "in.wav"), input);
}

// 20 blocks make 20 KiB of output, which meets its limit only when the
// output is closed (the encoding pass writes through a 64 KiB buffer); 200
// blocks meet it inside the block loop.
INSTANTIATE_TEST_SUITE_P(
    Injected, ConversionFault,
    testing::Values(Fault{"DiskFullAtClose", 20, DiskFullAfter8KiB, ENOSPC, "cannot write"},
                    Fault{"DiskFullInsideTheBlockLoop", 200, DiskFullAfter8KiB, ENOSPC,
                          "cannot write"},
                    Fault{"FileSizeLimit", 20, FileSizeLimitMidway, EFBIG, "cannot write"},
                    Fault{"ReadOnlyDirectory", 20, ReadOnlyOutputDirectory, EACCES,
                          "cannot create a file in its folder"},
                    Fault{"ReadOnlyOutput", 20, ReadOnlyOutput, EACCES, "cannot write"},
                    Fault{"AnotherUsersOutputInAStickyFolder", 20,
                          AnotherUsersOutputInAStickyFolder, EPERM, "cannot write"}),
    [](const testing::TestParamInfo<Fault>& info) { return std::string(info.param.name); });

// With no thread to be had (one process a user, and root runs as nobody,
// whom the limit binds), --best, -v and several files work on the calling
// thread alone, to the same bytes and lines. The sanitizers' leak check would need a process.
TEST(ThreadLimit, LeavesTheCallingThreadToDoAllTheWork) {
    TempDir temp;
    fs::permissions(temp.work(), fs::perms::all);
    WriteBytes(temp.work() / "in.wav", PcmWave(NoisySamples(3 * kSamplesPerBlock, TestSeed())));
    WriteBytes(temp.work() / "b.wav", PcmWave(NoisySamples(kSamplesPerBlock, TestSeed() + 1)));
    const std::string limited =
        std::string("ASAN_OPTIONS=\"$ASAN_OPTIONS:detect_leaks=0\" ") +
        (geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "") +
        "prlimit --nproc=1 ";
    if (!Succeeds(temp.work(), limited + "true")) GTEST_SKIP() << "no setpriv or prlimit";
    for (const std::vector<std::string>& options : {std::vector<std::string>{"--best"},
                                                    {"-v"},
                                                    {"--best", "-v"},
                                                    {"-v", "-j", "3", "b.wav"}}) {
        std::vector<std::string> args = options;
        args.push_back("in.wav");
        SCOPED_TRACE(args[0] + " " + args[1]);
        const RunResult free = RunEncoder(temp, args);
        const Bytes expected = ReadBytes(temp.work() / "Enc_in.wav");
        fs::remove(temp.work() / "Enc_in.wav");
        fs::remove(temp.work() / "Enc_b.wav");  // root's, which user 65534 may not replace
        const RunResult run = RunEncoder(temp, args, limited);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out + run.err, free.out + free.err);
        EXPECT_EQ(ReadBytes(temp.work() / "Enc_in.wav"), expected);
    }
}

// The unfinished outputs, once they hold data.
std::vector<fs::path> UnfinishedOutputs(const fs::path& dir) {
    std::vector<fs::path> unfinished;
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (entry.path().extension() == ".part" && entry.file_size() > 0) {
            unfinished.push_back(entry.path());
        }
    }
    return unfinished;
}

class Interruption : public testing::TestWithParam<int> {};

// Caught part way through two long conversions at once, after a short one,
// the program ends as the signal ends any program, and removes both
// unfinished outputs first; SIGKILL cannot be caught, but even then the
// older output is as it was. That one is private, and so is its successor
// while it is written. The short one's output stays.
TEST_P(Interruption, LeavesNothingThatCouldPassForAnOutput) {
    const int signal = GetParam();
    // SIGQUIT's default leaves a core dump, here of no use.
    rlimit core;
    ASSERT_EQ(getrlimit(RLIMIT_CORE, &core), 0);
    core.rlim_cur = 0;
    ASSERT_EQ(setrlimit(RLIMIT_CORE, &core), 0);
    TempDir temp;
    const fs::path input = temp.work() / "big.wav", other = temp.work() / "big2.wav";
    WriteBytes(temp.work() / "small.wav", PcmWave(NoisySamples(100, 1)));
    for (const fs::path& big : {input, other}) {
        WriteBytes(big, PcmWave({}));
        fs::resize_file(big, kCanonicalSamplesAt + kInputBytesPerBlock * (1u << 20));  // 4 GiB
    }
    const fs::path older = temp.work() / "Enc_big.wav", olderOther = temp.work() / "Enc_big2.wav";
    const fs::path olderSmall = temp.work() / "Enc_small.wav";
    const fs::perms ownerOnly = fs::perms::owner_read | fs::perms::owner_write;
    for (const fs::path& output : {older, olderOther, olderSmall}) {
        WriteBytes(output, kOlderOutput);
        fs::permissions(output, ownerOnly);
    }
    const int devNull = open("/dev/null", O_RDWR);
    const pid_t pid = Spawn({PCM_ENCODER_PATH, "-j", "3", (temp.work() / "small.wav").string(),
                             input.string(), other.string()},
                            devNull, devNull);
    close(devNull);
    ASSERT_GT(pid, 0);
    std::vector<fs::path> unfinished;
    bool underWay = false;  // the short one done, the long ones being written
    for (int i = 0; i < 3000 && !underWay; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        unfinished = UnfinishedOutputs(temp.work());
        underWay = unfinished.size() == 2 && ReadBytes(olderSmall) != kOlderOutput;
    }
    for (const fs::path& part : unfinished) {
        EXPECT_EQ(fs::status(part).permissions() & fs::perms::all, ownerOnly) << part;
    }
    kill(pid, signal);
    const std::optional<int> status = StatusWithin(pid, 30);
    KillIfRunning(pid, status);
    ASSERT_TRUE(underWay) << "not the short output done and two being written";
    ASSERT_TRUE(status.has_value()) << "still running";
    EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == signal) << "wait status " << *status;

    std::vector<std::string> files = FilesIn(temp.work());
    if (signal == SIGKILL) {
        files.erase(
            std::remove_if(files.begin(), files.end(),
                           [](const std::string& f) { return fs::path(f).extension() == ".part"; }),
            files.end());
    }
    EXPECT_EQ(files, (std::vector<std::string>{"Enc_big.wav", "Enc_big2.wav", "Enc_small.wav",
                                               "big.wav", "big2.wav", "small.wav"}));
    EXPECT_EQ(ReadBytes(older), kOlderOutput);
    EXPECT_EQ(ReadBytes(olderOther), kOlderOutput);
    EXPECT_EQ(ReadBytes(olderSmall).size(), kHeaderSize + kBlockSize);
}

INSTANTIATE_TEST_SUITE_P(, Interruption,
                         testing::Values(SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGPIPE, SIGKILL),
                         [](const testing::TestParamInfo<int>& info) {
                             return std::string(sigabbrev_np(info.param));
                         });

}  // namespace
