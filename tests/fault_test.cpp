#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "test_seed.h"
#include "test_support.h"

namespace {

constexpr std::size_t kBlocks = 20;  // 20 KiB of output, well past each limit below

// Sets a fault up in the test's folder; returns the shell prefix that starts
// the program under it, or nothing when this machine cannot produce it.
using FaultSetUp = std::optional<std::string> (*)(const TempDir&);

struct Fault {
    const char* name;
    FaultSetUp setUp;
    int error;
    const char* failedStep;
};

std::optional<std::string> OutputIsDevFull(const TempDir& temp) {
    fs::create_symlink("/dev/full", temp.work() / "Enc_in.wav");
    return "";
}

// 16 blocks of 512 bytes under dash, of 1024 under bash: either way the
// limit falls inside the blocks. SIGXFSZ ignored turns it into a failed write.
std::optional<std::string> FileSizeLimitMidway(const TempDir&) {
    return "trap '' XFSZ; ulimit -f 16; exec ";
}

bool Succeeds(const fs::path& dir, const std::string& command) {
    return std::system(("cd " + ShellQuoted(dir.string()) + " && " + command + " >/dev/null 2>&1")
                           .c_str()) == 0;
}

// Root writes anywhere, so as root the program runs as the unprivileged user
// nobody (65534) instead.
std::optional<std::string> ReadOnlyOutputDirectory(const TempDir& temp) {
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

class ConversionFault : public testing::TestWithParam<Fault> {};

TEST_P(ConversionFault, EndsWithStatus1AndOneLineAndLeavesNoOutput) {
    const Fault& fault = GetParam();
    TempDir temp;
    const Bytes input = PcmWave(NoisySamples(kBlocks * 2048, TestSeed()));
    WriteBytes(temp.work() / "in.wav", input);
    const std::optional<std::string> prefix = fault.setUp(temp);
    if (!prefix) GTEST_SKIP() << "this machine cannot inject: " << fault.name;

    const RunResult run = RunEncoder(temp, {"in.wav"}, *prefix);
    fs::permissions(temp.work(), fs::perms::owner_all, fs::perm_options::add);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, std::string("Enc_in.wav: ") + fault.failedStep + ": " +
                           std::strerror(fault.error) + "\n");
    EXPECT_EQ(FilesIn(temp.work()), std::vector<std::string>{"in.wav"});
    EXPECT_EQ(ReadBytes(temp.work() / "in.wav"), input);
}

INSTANTIATE_TEST_SUITE_P(
    Injected, ConversionFault,
    testing::Values(Fault{"DiskFull", OutputIsDevFull, ENOSPC, "cannot write"},
                    Fault{"FileSizeLimit", FileSizeLimitMidway, EFBIG, "cannot write"},
                    Fault{"ReadOnlyDirectory", ReadOnlyOutputDirectory, EACCES, "cannot create"}),
    [](const testing::TestParamInfo<Fault>& info) { return std::string(info.param.name); });

}  // namespace
