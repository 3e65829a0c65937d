// Helpers for the tests that run pcm-encoder as a process on files they
// make in a fresh temporary folder.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "wave_files.h"

// A fresh folder for one test, removed afterwards.
class TempDir {
public:
    TempDir() {
        std::random_device entropy;
        path_ = fs::temp_directory_path() / ("pcm-encoder-test-" + std::to_string(entropy()));
        fs::create_directories(path_ / "work");
    }
    ~TempDir() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    fs::path work() const { return path_ / "work"; }
    fs::path scratch() const { return path_; }

private:
    fs::path path_;
};

struct RunResult {
    int status;
    std::string out, err;
};

inline std::string ShellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// The Windows build, when PCM_ENCODER_WINDOWS_EXE names the .exe to run
// under Wine instead of the native build; null otherwise.
inline const char* WindowsExe() { return std::getenv("PCM_ENCODER_WINDOWS_EXE"); }

inline std::string NativeCommand() { return ShellQuoted(PCM_ENCODER_PATH); }

// Wine in the tests' own prefix, with the settings of WINE_SETTINGS.
inline std::string WineCommand(const std::string& exe) {
    return "WINEPREFIX=" + ShellQuoted(WINE_PREFIX) + " " + WINE_SETTINGS + " wine " +
           ShellQuoted(exe);
}

// Runs a shell command line in the test's work folder with standard input at
// end of file, and collects what it prints.
inline RunResult RunInWork(const TempDir& temp, const std::string& commandLine) {
    const fs::path out = temp.scratch() / "stdout", err = temp.scratch() / "stderr";
    const std::string command = "cd " + ShellQuoted(temp.work().string()) + " && " + commandLine +
                                " </dev/null >" + ShellQuoted(out.string()) + " 2>" +
                                ShellQuoted(err.string());
    const int raw = std::system(command.c_str());
    const Bytes outBytes = ReadBytes(out), errBytes = ReadBytes(err);
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, std::string(outBytes.begin(), outBytes.end()),
            std::string(errBytes.begin(), errBytes.end())};
}

// The program under test: the native build, unless PCM_ENCODER_COMMAND names
// another way to start it (a command line that the arguments are added to) or
// the Windows build is chosen.
inline std::string ProgramCommand() {
    if (const char* command = std::getenv("PCM_ENCODER_COMMAND")) return command;
    if (const char* exe = WindowsExe()) return WineCommand(exe);
    return NativeCommand();
}

// Why the program under test cannot run here, or empty when it can: the
// Windows build needs the .exe and Wine.
inline std::string WhyProgramCannotRun() {
    const char* exe = WindowsExe();
    if (!exe || std::getenv("PCM_ENCODER_COMMAND")) return "";
    if (!fs::exists(exe)) return std::string("no Windows build at ") + exe;
    if (std::system("command -v wine >/dev/null 2>&1") != 0) return "wine is not installed";
    return "";
}

// The fixture of the tests that run the program: skipped when it cannot run,
// so that such a run never passes for a test of it.
class ProgramTest : public testing::Test {
protected:
    void SetUp() override {
        const std::string reason = WhyProgramCannotRun();
        if (!reason.empty()) GTEST_SKIP() << reason;
    }
};

// What the program prints for `text`: the Windows build's console is in text
// mode, where each line feed goes out as CR LF.
inline std::string AsPrinted(const std::string& text) {
    if (!WindowsExe()) return text;
    std::string printed;
    for (char c : text) printed += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return printed;
}

// Runs `command` with `args` in the test's work folder.
inline RunResult RunCommand(const TempDir& temp, const std::string& command,
                            const std::vector<std::string>& args) {
    std::string line = command;
    for (const std::string& arg : args) line += " " + ShellQuoted(arg);
    return RunInWork(temp, line);
}

// The program's last run in this test, shown with the first check that fails
// after it, so that a failure seen once can be read.
struct ProgramRun {
    std::vector<std::string> args;
    RunResult result;
    bool shown;
};
inline std::optional<ProgramRun>& LastProgramRun() {
    static std::optional<ProgramRun> run;
    return run;
}

class ProgramRunReport : public testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo&) override { LastProgramRun().reset(); }
    void OnTestPartResult(const testing::TestPartResult& part) override {
        std::optional<ProgramRun>& run = LastProgramRun();
        if (!part.failed() || !run || run->shown) return;
        run->shown = true;
        std::cout << "The program's last run before this failure: pcm-encoder";
        for (const std::string& arg : run->args) std::cout << " " << ShellQuoted(arg);
        std::cout << "\n  status " << run->result.status << "\n  standard output: "
                  << testing::PrintToString(run->result.out)
                  << "\n  standard error: " << testing::PrintToString(run->result.err) << "\n";
    }
};
inline const bool kProgramRunReported =
    (testing::UnitTest::GetInstance()->listeners().Append(new ProgramRunReport), true);

// Runs the program under test, after `prefix` (e.g. a ulimit) in the same shell.
inline RunResult RunEncoder(const TempDir& temp, const std::vector<std::string>& args,
                            const std::string& prefix = "") {
    const RunResult result = RunCommand(temp, prefix + ProgramCommand(), args);
    LastProgramRun() = ProgramRun{args, result, false};
    return result;
}

inline std::vector<std::string> FilesIn(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        names.push_back(fs::relative(entry.path(), dir).generic_string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Starts `argv` with its standard input and output on the descriptors given;
// returns its process number. The interruptions reach it whatever the test
// runner ignores or blocks (nohup, a shell that ignores Ctrl+C).
inline pid_t Spawn(const std::vector<std::string>& argv, int input, int output) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output, STDOUT_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t interruptions, none;
    sigemptyset(&interruptions);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE}) sigaddset(&interruptions, signal);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &interruptions);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    const int failed = posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return failed ? -1 : pid;
}

// The wait status of `pid` once it has ended, or nothing if it is still
// running after `seconds`.
inline std::optional<int> StatusWithin(pid_t pid, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    do {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) return status;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (std::chrono::steady_clock::now() < deadline);
    return std::nullopt;
}

// Ends a child that a failed check left running, so that it outlives no test.
inline void KillIfRunning(pid_t pid, const std::optional<int>& status) {
    if (status || pid <= 0) return;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}
