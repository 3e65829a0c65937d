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
#include <string>
#include <utility>
#include <vector>

#include "platform/console.h"
#include "convert/conversion.h"
#include "platform/interruption.h"
#include "platform/arguments.h"
#include "platform/messages.h"
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
using platform::About;
using platform::ExpandWildcards;
using platform::Flush;
using platform::HandleInterruptions;
using platform::IsConsole;
using platform::Message;
using platform::SystemError;
using platform::Text;
using platform::Worded;
using platform::WriteExactly;
using platform::WritesToClosedPipesFail;

namespace {

constexpr int kFailureStatus = 1;
constexpr int kMisuseStatus = 2;

// Keeps a console window that the shell opened for a dropped file on screen
// until the user has read it; at end of input it returns at once.
void WaitForEnter() { std::getchar(); }

void Prompt(Message message) {
    std::fputs(Text(message), stdout);
    std::fflush(stdout);
    WaitForEnter();
}

void PrintError(const std::string& line) {
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

bool IsOneOf(const std::string& argument, Message longName, Message shortName) {
    return argument == Text(longName) || argument == Text(shortName);
}

// The usage or the version, asked for: no wait, and status 0 unless standard
// output could not take it.
int PrintAnswer(const std::string& text) {
    WritesToClosedPipesFail();
    SystemError error = WriteExactly(stdout, text.data(), text.size());
    if (!error) error = Flush(stdout);
    if (!error) return 0;
    PrintError(
        About(Text(Message::StandardOutput), About(Text(Message::CannotWrite), error.reason())));
    return kFailureStatus;
}

// What the arguments ask for. Options are whole arguments before the file,
// in any order; "--" ends them. Only the words themselves ask: "./--help"
// names a file.
struct Request {
    std::string answer;  // the usage or the version, asked for
    bool best = false, decode = false, verbose = false;
    std::vector<std::string> files;
};

Request Parse(int argc, char** argv) {
    Request request;
    int next = 1;
    for (; next < argc; ++next) {
        const std::string argument = argv[next];
        if (IsOneOf(argument, Message::HelpOption, Message::HelpShortOption)) {
            request.answer = Text(Message::Usage);
            return request;
        }
        if (IsOneOf(argument, Message::VersionOption, Message::VersionShortOption)) {
            request.answer = Worded(Message::Version, PCM_ENCODER_VERSION);
            return request;
        }
        if (argument == Text(Message::BestOption)) {
            request.best = true;
        } else if (argument == Text(Message::DecodeOption)) {
            request.decode = true;
        } else if (IsOneOf(argument, Message::VerboseOption, Message::VerboseShortOption)) {
            request.verbose = true;
        } else {
            if (argument == Text(Message::EndOfOptions)) ++next;
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
    const unsigned long long samples = summary.samples, blocks = summary.blocks;
    std::string line = Worded(samples == 1 ? Message::OneSample : Message::Samples,
                              Shown(output).c_str(), samples);
    if (blocks) line += Worded(blocks == 1 ? Message::OneBlock : Message::Blocks, blocks);
    line += Worded(Message::Seconds,
                   summary.rate ? static_cast<double>(summary.samples) / summary.rate : 0.0);
    if (summary.snrDb) {
        line += std::isinf(*summary.snrDb) ? std::string(Text(Message::SnrInfinite))
                                           : Worded(Message::Snr, *summary.snrDb);
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
            Prompt(Message::Rejection);
            return 0;
        case Outcome::Failed:
            PrintError(result.error);
            Prompt(Message::FailurePrompt);
            return kFailureStatus;
    }
    return kFailureStatus;
}

}  // namespace

int main(int argc, char** argv) {
    const Request request = Parse(argc, argv);
    if (!request.answer.empty()) return PrintAnswer(request.answer);
    if (request.best && request.decode) {
        PrintError(Text(Message::Misuse));
        return kMisuseStatus;
    }
    HandleInterruptions();
    if (request.files.empty()) {
        Prompt(Message::Instruction);
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
