// pcm-encoder: converts each 22050 Hz mono 16-bit PCM WAVE file given (on
// Windows, dropped onto the program), or the WAVE files of a folder given,
// into an IMA ADPCM WAVE file "Enc_" + its stem + ".wav" beside it, or in the
// folder -o names.
//
// A conversion prints nothing and exits 0. Without an argument, or for a file
// it rejects, it prints a message, waits for Enter and exits 0; a rejection
// first says why, in one line on standard error. A failure while converting
// prints one line on standard error and a prompt, waits for Enter and exits
// 1. Of several files, each line comes as its file is done, and the count of
// each outcome, the message and the wait come once, at the end. An input cut short is converted with a warning on standard error.
// Interrupted, it removes its unfinished output first. With --help or
// --version it prints the usage or its version and exits 0 without waiting;
// with an option it does not know, or --best with --decode, it says so and
// exits 2.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "command_line.h"
#include "convert/batch.h"
#include "convert/conversion.h"
#include "convert/worker_pool.h"
#include "platform/arguments.h"
#include "platform/console.h"
#include "platform/folders.h"
#include "platform/interruption.h"
#include "platform/messages.h"
#include "platform/resources.h"
#include "platform/stream.h"

using convert::Batch;
using convert::BatchFile;
using convert::ConversionOptions;
using convert::ConversionResult;
using convert::ConvertFile;
using convert::DecodeFile;
using convert::Outcome;
using convert::PlanBatch;
using convert::Shown;
using convert::Summary;
using convert::WorkerPool;
using platform::About;
using platform::CheckFolder;
using platform::ExpandWildcards;
using platform::FilesThisProcessMayOpen;
using platform::Flush;
using platform::HandleInterruptions;
using platform::InterruptionsHeldOff;
using platform::IsConsole;
using platform::Message;
using platform::OpenClosedStandardStreams;
using platform::SystemError;
using platform::Text;
using platform::UsableCores;
using platform::Worded;
using platform::WriteExactly;
using platform::WriteOnInterruption;
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

// A run that goes on for more than a moment shows how far it is, on one line
// of a console that it rewrites in place and clears at the end; never in a
// file or a pipe.
class Progress {
public:
    explicit Progress(const std::string& name)
        : name_(Shown(name)),
          clearing_("\r" + std::string(name_.size() + kPercentWidth, ' ') + "\r"),
          shown_(IsConsole(stderr)) {}
    ~Progress() { Clear(); }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // Before anything else is printed.
    void Clear() {
        if (percent_ < 0) return;
        {
            const InterruptionsHeldOff heldOff;
            WriteOnInterruption(nullptr);
        }
        std::fputs(clearing_.c_str(), stderr);
        std::fflush(stderr);
        percent_ = -1;
    }

    void Show(std::uint64_t done, std::uint64_t total) {
        if (!shown_ || total == 0 || Clock::now() - start_ < kQuietTime) return;
        const int percent = static_cast<int>(100 * done / total);
        if (percent == percent_) return;
        if (percent_ < 0) {
            // An interruption clears the line too.
            const InterruptionsHeldOff heldOff;
            WriteOnInterruption(&clearing_);
        }
        percent_ = percent;
        std::fprintf(stderr, "\r%s: %3d%%", name_.c_str(), percent);
        std::fflush(stderr);
    }

private:
    using Clock = std::chrono::steady_clock;
    static constexpr auto kQuietTime = std::chrono::seconds(1);
    static constexpr std::size_t kPercentWidth = sizeof ": 100%" - 1;

    const std::string name_;
    const std::string clearing_;
    const bool shown_;
    const Clock::time_point start_ = Clock::now();
    int percent_ = -1;  // last shown; none yet
};

// "Enc_take.wav: 146856 samples, 72 blocks, 6.66 s, SNR 22.48 dB", or for a
// decoding "Dec_take.wav: 146856 samples, 6.66 s".
std::string SummaryLine(const std::string& output, const Summary& summary, bool decoded) {
    const unsigned long long samples = summary.samples, blocks = summary.blocks;
    std::string line = Worded(samples == 1 ? Message::OneSample : Message::Samples,
                              Shown(output).c_str(), samples);
    if (!decoded) line += Worded(blocks == 1 ? Message::OneBlock : Message::Blocks, blocks);
    line += Worded(Message::Seconds,
                   summary.rate ? static_cast<double>(summary.samples) / summary.rate : 0.0);
    if (summary.snrDb) {
        line += std::isinf(*summary.snrDb) ? std::string(Text(Message::SnrInfinite))
                                           : Worded(Message::Snr, *summary.snrDb);
    }
    return line + "\n";
}

// How the files of a run came out.
struct Tally {
    unsigned long long converted = 0, rejected = 0, failed = 0;
    bool summaryLost = false;  // standard output could not take a -v line

    void Add(Outcome outcome) {
        (outcome == Outcome::Converted  ? converted
         : outcome == Outcome::Rejected ? rejected
                                        : failed)++;
    }
    unsigned long long files() const { return converted + rejected + failed; }
};

// Prints what a file's run has to say: its warnings, then the line of a
// rejection or a failure, or with -v the summary of what it wrote. A summary
// that standard output cannot take is said once, and the others not tried.
void Report(const ConversionResult& result, const std::string& output, const Request& request,
            Tally& tally) {
    tally.Add(result.outcome);
    for (const std::string& warning : result.warnings) PrintError(warning);
    if (result.outcome != Outcome::Converted) {
        PrintError(result.error);
        return;
    }
    if (!request.verbose || tally.summaryLost) return;
    const std::string line = SummaryLine(output, result.summary, request.decode);
    SystemError error = WriteExactly(stdout, line.data(), line.size());
    if (!error) error = Flush(stdout);
    if (!error) return;
    tally.summaryLost = true;
    PrintError(
        About(Text(Message::StandardOutput), About(Text(Message::CannotWrite), error.reason())));
}

ConversionResult ConvertOrDecode(const Request& request, const BatchFile& file, unsigned workers,
                                 bool showsProgress) {
    if (!file.refusal.empty()) return {Outcome::Rejected, file.refusal, {}, {}};
    if (request.decode) return DecodeFile(file.input, file.output);
    Progress progress(file.output);
    ConversionOptions options;
    options.best = request.best;
    options.compatible = request.compatible;
    options.measure = request.verbose;
    options.workers = workers;
    if (request.best && showsProgress) {
        options.progress = [&progress](std::uint64_t done, std::uint64_t total) {
            progress.Show(done, total);
        };
    }
    return ConvertFile(file.input, file.output, options);
}

// Reports the files' results in the order they were given, whichever order
// they finish in, on the thread that runs the program, so that a closed
// pipe ends the run there alone, as it ends a run of one file. A file whose
// conversion ran out of memory has no result.
class InOrder {
public:
    // `here`: Finished runs on the program's thread, and reports at once.
    InOrder(const Batch& batch, const Request& request, bool here)
        : batch_(batch),
          request_(request),
          here_(here),
          results_(batch.files.size()),
          finished_(batch.files.size()) {}

    void Finished(std::size_t file, std::optional<ConversionResult> result) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            results_[file] = std::move(result);
            finished_[file] = true;
        }
        if (here_) {
            ReportFinished();
        } else {
            finishedOne_.notify_all();
        }
    }

    // On the program's thread while others convert: reports each file as
    // those before it are reported, until all are.
    void ReportAll() {
        std::unique_lock<std::mutex> lock(mutex_);
        while (next_ < results_.size()) {
            finishedOne_.wait(lock, [&] { return finished_[next_]; });
            lock.unlock();
            ReportFinished();
            lock.lock();
        }
    }

    const Tally& tally() const { return tally_; }

private:
    void ReportFinished() {
        for (;;) {
            std::optional<ConversionResult> result;
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                if (next_ == results_.size() || !finished_[next_]) return;
                result = std::move(results_[next_]);
                results_[next_].reset();
            }
            const std::string& output = batch_.files[next_].output;
            if (result) {
                Report(*result, output, request_, tally_);
            } else {
                PrintOutOfMemory(output);
                tally_.Add(Outcome::Failed);
            }
            const std::lock_guard<std::mutex> lock(mutex_);
            ++next_;
        }
    }

    // Worded without allocating: memory has just run out.
    static void PrintOutOfMemory(const std::string& output) {
        std::fprintf(stderr, Text(Message::About), output.c_str(), Text(Message::CannotConvert));
        std::fprintf(stderr, Text(Message::About), "", Text(Message::OutOfMemory));
        std::fputc('\n', stderr);
        std::fflush(stderr);
    }

    const Batch& batch_;
    const Request& request_;
    const bool here_;
    std::mutex mutex_;
    std::condition_variable finishedOne_;
    std::vector<std::optional<ConversionResult>> results_;
    std::vector<bool> finished_;
    std::size_t next_ = 0;  // the next to report; changed only by the reporting thread
    Tally tally_;
};

// Which file of the run wrote the output that a name stands for: a later
// file with an earlier one's output waits for that one, and is converted
// only if it wrote nothing (it was rejected, or failed).
class Claims {
public:
    explicit Claims(std::size_t files) : writer_(files, kUnsettled) {}

    // `writer`: the file whose output the name holds, or kNone.
    void Settle(std::size_t file, std::size_t writer) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            writer_[file] = writer;
        }
        settled_.notify_all();
    }

    // Waits until `file` is settled. Files are taken in order, so an
    // earlier one is under way on another worker, or done.
    std::size_t WriterFor(std::size_t file) {
        std::unique_lock<std::mutex> lock(mutex_);
        settled_.wait(lock, [&] { return writer_[file] != kUnsettled; });
        return writer_[file];
    }

    static constexpr std::size_t kNone = SIZE_MAX, kUnsettled = SIZE_MAX - 1;

private:
    std::mutex mutex_;
    std::condition_variable settled_;
    std::vector<std::size_t> writer_;
};

// Two descriptors a file (its input and its output, a third a moment to sync
// the folder) beside those the run keeps open.
constexpr unsigned long kDescriptorsPerFile = 3, kDescriptorsKept = 8;

// Every file in the order given, each as a run of its own would do it, up
// to `jobs` at once (fewer if the process may not open the files they need);
// --best takes one at a time with its blocks on that many threads. Files that
// depend on each other go one after another.
Tally RunBatch(const Request& request, const Batch& batch) {
    const unsigned jobs = request.jobs ? request.jobs : std::min(UsableCores(), kMostJobs);
    const unsigned long openable = FilesThisProcessMayOpen();
    const std::size_t affordable = openable > kDescriptorsKept + kDescriptorsPerFile
                                       ? (openable - kDescriptorsKept) / kDescriptorsPerFile
                                       : 1;
    const bool oneAtATime = request.best || !batch.independent || batch.files.size() == 1;
    const std::size_t fileWorkers =
        oneAtATime ? 1 : std::min<std::size_t>({jobs, batch.files.size(), affordable});
    // With several threads, one more: the program's own reports.
    WorkerPool pool(fileWorkers > 1 ? fileWorkers + 1 : 1);
    const bool here = pool.workers() == 1;
    InOrder reports(batch, request, here);
    Claims claims(batch.files.size());
    const bool showsProgress = here;
    const WorkerPool::Job job = [&](std::size_t, std::size_t index) {
        const BatchFile& file = batch.files[index];
        std::size_t writer = Claims::kNone;
        std::optional<ConversionResult> result;
        try {
            if (file.sameOutputAs) writer = claims.WriterFor(*file.sameOutputAs);
            if (writer != Claims::kNone) {
                result = ConversionResult{
                    Outcome::Rejected,
                    Worded(Message::SameOutput, Shown(file.input).c_str(),
                           Shown(batch.files[writer].input).c_str(), Shown(file.output).c_str()),
                    {},
                    {}};
            } else {
                result = ConvertOrDecode(request, file, oneAtATime ? jobs : 1, showsProgress);
                if (result->outcome == Outcome::Converted) writer = index;
            }
        } catch (const std::bad_alloc&) {
            result.reset();
        }
        claims.Settle(index, writer);
        reports.Finished(index, std::move(result));
    };
    if (here) {
        pool.Run(batch.files.size(), job);
    } else {
        pool.Post(batch.files.size(), job);
        reports.ReportAll();
        pool.Wait();  // every file is done: nothing is left for this thread
    }
    return reports.tally();
}

// One wait, at the end: after a failure its prompt, after a rejection the
// rejection's message; with several files, first the count of each outcome.
int Finish(const Tally& tally, bool decode) {
    const int status = tally.failed || tally.summaryLost ? kFailureStatus : 0;
    if (tally.rejected + tally.failed == 0) return status;
    if (tally.files() > 1) {
        PrintError(
            Worded(Message::Tally, tally.files(), tally.converted, tally.rejected, tally.failed));
    }
    Prompt(tally.failed ? Message::FailurePrompt
           : decode     ? Message::DecodeRejection
                        : Message::Rejection);
    return status;
}

// A folder for the outputs that is none ends the run before any file.
int RefuseOutputFolder(const std::string& folder, SystemError error) {
    PrintError(About(Shown(folder), About(Text(Message::CannotUseAsOutputFolder), error.reason())));
    Prompt(Message::FailurePrompt);
    return kFailureStatus;
}

}  // namespace

int main(int argc, char** argv) {
    // Before any file is opened, which would otherwise take a closed one's
    // number and receive what is printed there.
    OpenClosedStandardStreams();
    Request request = Parse(argc, argv);
    // A Windows program's start-up expands patterns; elsewhere it is done by
    // hand, and only in file names.
    request.files = ExpandWildcards(request.files);
    if (!request.answer.empty()) return PrintAnswer(request.answer);
    if (!request.misuse.empty()) {
        PrintError(request.misuse);
        PrintError(Text(Message::UsageLine));
        return kMisuseStatus;
    }
    if (request.best && request.decode) {
        PrintError(Text(Message::Misuse));
        return kMisuseStatus;
    }
    HandleInterruptions();
    if (request.verbose) WritesToClosedPipesFail();
    if (request.files.empty()) {
        Prompt(request.decode ? Message::DecodeInstruction : Message::Instruction);
        return 0;
    }
    if (!request.outputFolder.empty()) {
        if (const SystemError error = CheckFolder(request.outputFolder)) {
            return RefuseOutputFolder(request.outputFolder, error);
        }
    }
    return Finish(RunBatch(request, PlanBatch(request.files, request.decode, request.outputFolder)),
                  request.decode);
}
