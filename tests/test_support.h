// Helpers for the tests that run pcm-encoder as a process on files they
// make in a fresh temporary folder.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <sys/wait.h>

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

inline Bytes ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::uint32_t LE32At(const Bytes& bytes, std::size_t at) {
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | std::uint32_t{bytes[at + 3]} << 24;
}

inline void PutLE(Bytes& out, std::uint32_t value, int width) {
    for (int i = 0; i < width; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

struct WaveFields {
    std::uint32_t formatChunkSize = 16;
    std::uint16_t channels = 1;
    std::uint32_t rate = 22050;
};

// A canonical 44-byte-header PCM WAVE file holding `samples`.
inline Bytes PcmWave(const std::vector<short>& samples, WaveFields fields = {}) {
    const std::uint32_t dataSize = static_cast<std::uint32_t>(samples.size() * 2);
    Bytes out;
    for (char c : std::string("RIFF")) out.push_back(static_cast<unsigned char>(c));
    PutLE(out, 36 + dataSize, 4);
    for (char c : std::string("WAVEfmt ")) out.push_back(static_cast<unsigned char>(c));
    PutLE(out, fields.formatChunkSize, 4);
    PutLE(out, 1, 2);
    PutLE(out, fields.channels, 2);
    PutLE(out, fields.rate, 4);
    PutLE(out, fields.rate * 2 * fields.channels, 4);
    PutLE(out, 2 * fields.channels, 2);
    PutLE(out, 16, 2);
    for (char c : std::string("data")) out.push_back(static_cast<unsigned char>(c));
    PutLE(out, dataSize, 4);
    for (short s : samples) PutLE(out, static_cast<std::uint16_t>(s), 2);
    return out;
}

inline std::vector<short> NoisySamples(std::size_t count, std::uint32_t seed) {
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0.0, 3000.0);
    std::vector<short> samples(count);
    double level = 0;
    for (short& s : samples) {
        level = 0.95 * level + noise(random);
        s = static_cast<short>(level < -32768 ? -32768 : level > 32767 ? 32767 : level);
    }
    return samples;
}

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

// The program under test: the native build, unless PCM_ENCODER_COMMAND names
// another way to start it (a command line that the arguments are added to).
inline std::string ProgramCommand() {
    const char* command = std::getenv("PCM_ENCODER_COMMAND");
    return command ? command : ShellQuoted(PCM_ENCODER_PATH);
}

// Runs a shell command line in the test's work folder with standard input at
// end of file, and collects what it prints.
inline RunResult RunInWork(const TempDir& temp, const std::string& commandLine) {
    const fs::path out = temp.scratch() / "stdout", err = temp.scratch() / "stderr";
    const std::string command = "cd " + ShellQuoted(temp.work().string()) + " && " +
                                commandLine + " </dev/null >" + ShellQuoted(out.string()) +
                                " 2>" + ShellQuoted(err.string());
    const int raw = std::system(command.c_str());
    const Bytes outBytes = ReadBytes(out), errBytes = ReadBytes(err);
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, std::string(outBytes.begin(), outBytes.end()),
            std::string(errBytes.begin(), errBytes.end())};
}

// Runs the program in the test's work folder.
inline RunResult RunEncoder(const TempDir& temp, const std::vector<std::string>& args,
                            const std::string& prefix = "") {
    std::string command = prefix + ProgramCommand();
    for (const std::string& arg : args) command += " " + ShellQuoted(arg);
    return RunInWork(temp, command);
}

inline std::vector<std::string> FilesIn(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        names.push_back(fs::relative(entry.path(), dir).generic_string());
    }
    std::sort(names.begin(), names.end());
    return names;
}
