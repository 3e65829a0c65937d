// pcm-encoder: converts a 22050 Hz mono 16-bit PCM WAVE file, given as the
// first argument (on Windows, by dropping it onto the program), into an IMA
// ADPCM WAVE file "Enc_" + its stem + ".wav" beside it.
//
// A conversion prints nothing and exits 0. Without an argument, or for a file
// it rejects, it prints a message, waits for Enter and exits 0; a rejection
// first says why, in one line on standard error. A failure while converting
// prints one line on standard error and a prompt, waits for Enter and exits
// 1. An input cut short is converted with a warning on standard error.
// Interrupted, it removes its unfinished output first. With --help or
// --version as its first argument it prints the usage or its version and
// exits 0 without waiting.
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/console.h"
#include "convert/conversion.h"
#include "platform/interruption.h"
#include "platform/arguments.h"
#include "platform/stream.h"

using convert::ConversionOptions;
using convert::ConversionResult;
using convert::ConvertFile;
using convert::DecodeFile;
using convert::DecodedPathFor;
using convert::Outcome;
using convert::OutputPathFor;
using convert::Shown;
using convert::Summary;
using platform::ExpandWildcards;
using platform::Flush;
using platform::HandleInterruptions;
using platform::IsConsole;
using platform::SystemError;
using platform::WriteExactly;
using platform::WritesToClosedPipesFail;

namespace {

const char kInstruction[] =
    "Drag n' drop pcm, 22050 mono wave file onto window.  Press [enter] to exit ";
const char kRejection[] =
    "Wave file is already encoded, or wav type is\nstereo or unknown.  Press [enter] to exit ";
// After a failure's line, so that a console waiting for Enter does not look hung.
const char kFailurePrompt[] = "Press [enter] to exit ";

const char kUsage[] =
    "Usage: pcm-encoder [--best] [-v] FILE\n"
    "       pcm-encoder --decode [-v] FILE\n"
    "       pcm-encoder --help | -h | --version | -V\n"
    "\n"
    "Converts FILE, a WAVE file of 22050 Hz, mono, 16-bit PCM, into an IMA ADPCM\n"
    "WAVE file (4 bits a sample, blocks of 1028 bytes for 2048 samples) named\n"
    "Enc_ + FILE's name without its extension + .wav, in FILE's folder. FILE is\n"
    "never changed; an older file of the output's name is replaced. Only the\n"
    "first FILE counts. A conversion prints nothing.\n"
    "\n"
    "  --best      better sound, from every block's best step index and codes\n"
    "              searched for; takes over a hundred times as long (some 5 s\n"
    "              for 10 minutes of sound on two cores). Needs a player\n"
    "              that reads each block's step index from its header, as every\n"
    "              standard IMA ADPCM decoder does.\n"
    "  --decode    FILE is mono IMA ADPCM (this program's or another's): writes\n"
    "              the samples a player decodes from it as 16-bit PCM, named\n"
    "              Dec_ + FILE's name without Enc_ and its extension + .wav.\n"
    "  -v, --verbose  after success, one line on standard output: the samples,\n"
    "              blocks, length and, for a conversion, the signal-to-noise\n"
    "              ratio of what was written.\n"
    "  --          ends the options: the next argument is FILE.\n"
    "\n"
    "Accepted: WAVE (and RF64) files whose format is PCM or extensible PCM,\n"
    "16-bit, mono, at 22050 Hz. Anything else (other rates, stereo, other\n"
    "sample formats, files this program wrote) is rejected with a line on\n"
    "standard error that says why, then a message; nothing is written.\n"
    "\n"
    "Exit status:\n"
    "  0  converted; or no FILE given, or FILE rejected (after a message)\n"
    "  1  the conversion failed (one line on standard error names the file\n"
    "     and the reason; no part of the output is left behind), or standard\n"
    "     output could not take this text or the version\n"
    "  2  --best and --decode given together\n"
    "After a message or a failure it waits for Enter; at end of input (as\n"
    "with </dev/null) it does not wait.\n"
    "\n"
    "A file named like an option is given as ./--help, or after --.\n"
    "More in the README: README.txt beside pcm-encoder.exe on Windows; on\n"
    "Linux, the manual (man pcm-encoder) and, from the .deb,\n"
    "/usr/share/doc/pcm-encoder/README.md.gz.\n";
const char kMisuse[] =
    "Usage: pcm-encoder [--best | --decode] [-v] FILE (--best and --decode do not go together)";
const char kVersion[] = "pcm-encoder " PCM_ENCODER_VERSION "\n";

constexpr int kFailureStatus = 1;
constexpr int kMisuseStatus = 2;

// Keeps a console window that the shell opened for a dropped file on screen
// until the user has read it; at end of input it returns at once.
void WaitForEnter() { std::getchar(); }

void Prompt(const char* message) {
    std::fputs(message, stdout);
    std::fflush(stdout);
    WaitForEnter();
}

void PrintError(const std::string& line) {
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

bool IsOneOf(const std::string& argument, const char* longName, const char* shortName) {
    return argument == longName || argument == shortName;
}

// The usage or the version, asked for: no wait, and status 0 unless standard
// output could not take it.
int PrintAnswer(const char* text) {
    WritesToClosedPipesFail();
    SystemError error = WriteExactly(stdout, text, std::strlen(text));
    if (!error) error = Flush(stdout);
    if (!error) return 0;
    std::fprintf(stderr, "standard output: cannot write: %s\n", error.reason());
    return kFailureStatus;
}

// What the arguments ask for. Options are whole arguments before the file,
// in any order; "--" ends them. Only the words themselves ask: "./--help"
// names a file.
struct Request {
    const char* answer = nullptr;  // the usage or the version, asked for
    bool best = false, decode = false, verbose = false;
    std::vector<std::string> files;
};

Request Parse(int argc, char** argv) {
    Request request;
    int next = 1;
    for (; next < argc; ++next) {
        const std::string argument = argv[next];
        if (IsOneOf(argument, "--help", "-h")) {
            request.answer = kUsage;
            return request;
        }
        if (IsOneOf(argument, "--version", "-V")) {
            request.answer = kVersion;
            return request;
        }
        if (argument == "--best") {
            request.best = true;
        } else if (argument == "--decode") {
            request.decode = true;
        } else if (IsOneOf(argument, "--verbose", "-v")) {
            request.verbose = true;
        } else {
            if (argument == "--") ++next;
            break;
        }
    }
    request.files.assign(argv + next, argv + argc);
    // A Windows program's start-up expands patterns; elsewhere it is done by
    // hand, and only in file names.
    request.files = ExpandWildcards(request.files);
    return request;
}

// A run that goes on for more than a moment shows how far it is, on one line
// of a console that it rewrites in place and clears at the end; never in a
// file or a pipe.
class Progress {
public:
    explicit Progress(const std::string& name) : name_(Shown(name)), shown_(IsConsole(stderr)) {}

    // Before anything else is printed.
    void Clear() {
        if (percent_ < 0) return;
        std::fprintf(stderr, "\r%*s\r", static_cast<int>(name_.size() + kPercentWidth), "");
        std::fflush(stderr);
        percent_ = -1;
    }

    void Show(std::uint64_t done, std::uint64_t total) {
        if (!shown_ || total == 0 || Clock::now() - start_ < kQuietTime) return;
        const int percent = static_cast<int>(100 * done / total);
        if (percent == percent_) return;
        percent_ = percent;
        std::fprintf(stderr, "\r%s: %3d%%", name_.c_str(), percent);
        std::fflush(stderr);
    }

private:
    using Clock = std::chrono::steady_clock;
    static constexpr auto kQuietTime = std::chrono::seconds(1);
    static constexpr std::size_t kPercentWidth = sizeof ": 100%" - 1;

    std::string name_;
    bool shown_;
    Clock::time_point start_ = Clock::now();
    int percent_ = -1;  // last shown; none yet
};

// "Enc_take.wav: 146856 samples, 72 blocks, 6.66 s, SNR 22.48 dB", or for a
// decoding "Dec_take.wav: 146856 samples, 6.66 s".
void PrintSummary(const std::string& output, const Summary& summary) {
    std::string line = Shown(output) + ": " + std::to_string(summary.samples) +
                       (summary.samples == 1 ? " sample" : " samples");
    if (summary.blocks) {
        line += ", " + std::to_string(summary.blocks) + (summary.blocks == 1 ? " block" : " blocks");
    }
    char figures[64];
    std::snprintf(figures, sizeof figures, ", %.2f s",
                  summary.rate ? static_cast<double>(summary.samples) / summary.rate : 0.0);
    line += figures;
    if (summary.snrDb) {
        // Spelled out: C runtimes print an infinity differently.
        if (std::isinf(*summary.snrDb)) {
            line += ", SNR inf dB";
        } else {
            std::snprintf(figures, sizeof figures, ", SNR %.2f dB", *summary.snrDb);
            line += figures;
        }
    }
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

int Finish(const ConversionResult& result, const std::string& output, bool verbose) {
    for (const std::string& warning : result.warnings) PrintError(warning);
    switch (result.outcome) {
        case Outcome::Converted:
            if (verbose) PrintSummary(output, result.summary);
            return 0;
        case Outcome::Rejected:
            PrintError(result.error);
            Prompt(kRejection);
            return 0;
        case Outcome::Failed:
            PrintError(result.error);
            Prompt(kFailurePrompt);
            return kFailureStatus;
    }
    return kFailureStatus;
}

}  // namespace

int main(int argc, char** argv) {
    const Request request = Parse(argc, argv);
    if (request.answer) return PrintAnswer(request.answer);
    if (request.best && request.decode) {
        PrintError(kMisuse);
        return kMisuseStatus;
    }
    HandleInterruptions();
    if (request.files.empty()) {
        Prompt(kInstruction);
        return 0;
    }
    const std::string& input = request.files.front();
    if (request.decode) {
        const std::string output = DecodedPathFor(input);
        return Finish(DecodeFile(input, output), output, request.verbose);
    }
    const std::string output = OutputPathFor(input);
    Progress progress(output);
    ConversionOptions options;
    options.best = request.best;
    options.measure = request.verbose;
    if (request.best) {
        options.progress = [&progress](std::uint64_t done, std::uint64_t total) {
            progress.Show(done, total);
        };
    }
    const ConversionResult result = ConvertFile(input, output, options);
    progress.Clear();
    return Finish(result, output, request.verbose);
}
