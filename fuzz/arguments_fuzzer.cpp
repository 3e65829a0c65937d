// Fuzz target: the program's arguments, and the plan of a run's files.
//
// The input is split at its zero bytes into arguments. Parse must never ask
// for an answer and find a misuse at once, must keep -j within its bounds,
// and must give back as files only arguments it was given, in their order.
// PlanBatch then plans those files from an empty folder of the fuzzer's
// own: each is planned with an output or refused, and of two with one
// output the later names the earlier. Any breach aborts,
// which libFuzzer reports as a finding.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "command_line.h"
#include "convert/batch.h"

namespace {

void Check(bool holds) {
    if (!holds) std::abort();
}

// An empty folder, the current one for every run.
void EnterEmptyFolder() {
    static const bool entered = [] {
        const auto folder = std::filesystem::temp_directory_path() /
                            ("arguments_fuzzer-" + std::to_string(getpid()));
        std::filesystem::create_directories(folder);
        return chdir(folder.c_str()) == 0;
    }();
    Check(entered);
}

bool IsSubsequence(const std::vector<std::string>& part, const std::vector<std::string>& whole) {
    std::size_t next = 0;
    for (const std::string& item : whole) {
        if (next < part.size() && part[next] == item) ++next;
    }
    return next == part.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    EnterEmptyFolder();
    std::vector<std::string> arguments = {"pcm-encoder"};
    std::string argument;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            arguments.push_back(argument);
            argument.clear();
        } else {
            argument += static_cast<char>(data[i]);
        }
    }
    arguments.push_back(argument);
    std::vector<char*> argv;
    for (std::string& each : arguments) argv.push_back(each.data());
    argv.push_back(nullptr);

    const Request request = Parse(static_cast<int>(arguments.size()), argv.data());
    Check(request.answer.empty() || request.misuse.empty());
    Check(request.jobs <= kMostJobs);
    Check(IsSubsequence(request.files, {arguments.begin() + 1, arguments.end()}));
    if (!request.misuse.empty() || !request.answer.empty()) return 0;

    const convert::Batch batch =
        convert::PlanBatch(request.files, request.decode, request.outputFolder);
    std::set<std::string> outputs;
    for (std::size_t i = 0; i < batch.files.size(); ++i) {
        const convert::BatchFile& file = batch.files[i];
        // A folder without WAVE files has no output, and is refused.
        Check(!file.output.empty() || !file.refusal.empty());
        // A later file with an earlier one's output names that one, and the
        // same output, byte for byte, is never planned twice without it.
        if (file.sameOutputAs) Check(*file.sameOutputAs < i);
        if (file.refusal.empty() && !file.sameOutputAs) Check(outputs.insert(file.output).second);
    }
    return 0;
}
