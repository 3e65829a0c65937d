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
// --version it prints the usage or its version and exits 0 without waiting;
// with an option it does not know, or --best with --decode, it says so and
// exits 2.
#include <algorithm>
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

// What the arguments ask for. Options are whole arguments anywhere before
// "--", in any order; the others are files. Only the words themselves ask:
// "./--help" names a file. An argument that starts with "-" and is none of
// them is a misuse, which `unknown` names.
struct Request {
    std::string answer;  // the usage or the version, asked for
    std::string unknown;
    bool best = false, decode = false, verbose = false;
    std::vector<std::string> files;
};

// Takes `argument` as an option: false when it is none.
bool TakeOption(const std::string& argument, Request& request) {
    if (IsOneOf(argument, Message::HelpOption, Message::HelpShortOption)) {
        request.answer = Text(Message::Usage);
    } else if (IsOneOf(argument, Message::VersionOption, Message::VersionShortOption)) {
        request.answer = Worded(Message::Version, PCM_ENCODER_VERSION);
    } else if (argument == Text(Message::BestOption)) {
        request.best = true;
    } else if (argument == Text(Message::DecodeOption)) {
        request.decode = true;
    } else if (IsOneOf(argument, Message::VerboseOption, Message::VerboseShortOption)) {
        request.verbose = true;
    } else {
        return false;
    }
    return true;
}

// The first answer asked for, or the first unknown option, decides.
Request Parse(int argc, char** argv) {
    Request request;
    int next = 1;
    for (; next < argc && request.answer.empty() && request.unknown.empty(); ++next) {
        const std::string argument = argv[next];
        if (argument == Text(Message::EndOfOptions)) {
            request.files.insert(request.files.end(), argv + next + 1, argv + argc);
            break;
        }
        if (TakeOption(argument, request)) continue;
        if (argument[0] == '-') {
            request.unknown = argument;
        } else {
            request.files.push_back(argument);
        }
    }
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

// Prints what a file's run has to say: its warnings, then the line of a
// rejection or a failure, or with -v the summary of what it wrote.
Outcome Report(const ConversionResult& result, const std::string& output, bool verbose) {
    for (const std::string& warning : result.warnings) PrintError(warning);
    if (result.outcome == Outcome::Converted) {
        if (verbose) PrintSummary(output, result.summary);
    } else {
        PrintError(result.error);
    }
    return result.outcome;
}

Outcome ConvertOrDecode(const Request& request, const std::string& input,
                        const std::string& output) {
    if (request.decode) return Report(DecodeFile(input, output), output, request.verbose);
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
    return Report(result, output, request.verbose);
}

// How the files of a run came out.
struct Tally {
    unsigned long long converted = 0, rejected = 0, failed = 0;

    void Add(Outcome outcome) {
        (outcome == Outcome::Converted ? converted
         : outcome == Outcome::Rejected ? rejected
                                        : failed)++;
    }
    unsigned long long files() const { return converted + rejected + failed; }
};

// Every file in the order given, each as a run of its own would do it; a
// second input with the output of an earlier one is reported and left alone,
// so that nothing is written twice.
Tally RunEach(const Request& request) {
    Tally tally;
    std::vector<std::pair<std::string, std::string>> written;  // output, input
    for (const std::string& input : request.files) {
        const std::string output = request.decode ? DecodedPathFor(input) : OutputPathFor(input);
        const auto earlier = std::find_if(written.begin(), written.end(),
                                          [&](const auto& done) { return done.first == output; });
        if (earlier != written.end()) {
            PrintError(Worded(Message::SameOutput, Shown(input).c_str(),
                              Shown(earlier->second).c_str(), Shown(output).c_str()));
            tally.Add(Outcome::Rejected);
            continue;
        }
        written.emplace_back(output, input);
        tally.Add(ConvertOrDecode(request, input, output));
    }
    return tally;
}

// One wait, at the end: after a failure its prompt, after a rejection the
// rejection's message; with several files, first the count of each outcome.
int Finish(const Tally& tally) {
    if (tally.rejected + tally.failed == 0) return 0;
    if (tally.files() > 1) {
        PrintError(Worded(Message::Tally, tally.files(), tally.converted, tally.rejected,
                          tally.failed));
    }
    Prompt(tally.failed ? Message::FailurePrompt : Message::Rejection);
    return tally.failed ? kFailureStatus : 0;
}

}  // namespace

int main(int argc, char** argv) {
    const Request request = Parse(argc, argv);
    if (!request.answer.empty()) return PrintAnswer(request.answer);
    if (!request.unknown.empty()) {
        PrintError(Worded(Message::UnknownOption, request.unknown.c_str()));
        PrintError(Text(Message::UsageLine));
        return kMisuseStatus;
    }
    if (request.best && request.decode) {
        PrintError(Text(Message::Misuse));
        return kMisuseStatus;
    }
    HandleInterruptions();
    if (request.files.empty()) {
        Prompt(Message::Instruction);
        return 0;
    }
    return Finish(RunEach(request));
}
