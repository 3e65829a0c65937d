// pcm-encoder: converts a 22050 Hz mono 16-bit PCM WAVE file, given as the
// first argument (on Windows, by dropping it onto the program), into an IMA
// ADPCM WAVE file "Enc_" + its stem + ".wav" beside it.
//
// A conversion prints nothing and exits 0. Without an argument, or for a file
// it refuses, it prints a message, waits for Enter and exits 0; a refusal
// first says why, in one line on standard error. A failure while converting
// prints one line on standard error, waits for Enter and exits 1.
// Interrupted, it removes its unfinished output first.
#include <cstdio>
#include <string>
#include <vector>

#include "conversion.h"
#include "interruption.h"
#ifndef _WIN32
#include "wildcard_args.h"
#endif

namespace {

const char kInstruction[] =
    "Drag n' drop pcm, 22050 mono wave file onto window.  Press [enter] to exit ";
const char kRejection[] =
    "Wave file is already encoded, or wav type is\nstereo or unknown.  Press [enter] to exit ";

constexpr int kFailureStatus = 1;

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

std::vector<std::string> Arguments(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
#ifndef _WIN32
    // A Windows program's start-up expands patterns; here it is done by hand.
    arguments = ExpandWildcards(arguments);
#endif
    return arguments;
}

}  // namespace

#ifdef _WIN32
// mingw's start-up expands patterns in the arguments only when the program
// defines this as nonzero.
extern "C" {
int _dowildcard = -1;
}
#endif

int main(int argc, char** argv) {
    HandleInterruptions();
    const std::vector<std::string> arguments = Arguments(argc, argv);
    if (arguments.empty()) {
        Prompt(kInstruction);
        return 0;
    }
    const std::string& input = arguments.front();
    const ConversionResult result = ConvertFile(input, OutputPathFor(input));
    switch (result.outcome) {
        case Outcome::Converted:
            return 0;
        case Outcome::Rejected:
            PrintError(result.error);
            Prompt(kRejection);
            return 0;
        case Outcome::Failed:
            PrintError(result.error);
            WaitForEnter();
            return kFailureStatus;
    }
    return kFailureStatus;
}
