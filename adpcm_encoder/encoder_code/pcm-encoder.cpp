// pcm-encoder: converts a 22050 Hz mono 16-bit PCM WAVE file, given as the
// first argument (on Windows, by dropping it onto the program), into an IMA
// ADPCM WAVE file "Enc_" + its stem + ".wav" beside it.
//
// A conversion prints nothing and exits 0. Without an argument, or for a file
// it refuses, it prints a message, waits for Enter and exits 0; a refusal
// first says why, in one line on standard error. A failure while converting
// prints one line on standard error and a prompt, waits for Enter and exits
// 1. An input cut short is converted with a warning on standard error.
// Interrupted, it removes its unfinished output first. With --help or
// --version as its first argument it prints the usage or its version and
// exits 0 without waiting.
#include <cerrno>
#include <cstdio>
#include <cstring>
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
// After a failure's line, so that a console waiting for Enter does not look hung.
const char kFailurePrompt[] = "Press [enter] to exit ";

const char kUsage[] =
    "Usage: pcm-encoder FILE\n"
    "       pcm-encoder --help | -h | --version | -V\n"
    "\n"
    "Converts FILE, a WAVE file of 22050 Hz, mono, 16-bit PCM, into an IMA ADPCM\n"
    "WAVE file (4 bits a sample, blocks of 1028 bytes for 2048 samples) named\n"
    "Enc_ + FILE's name without its extension + .wav, in FILE's folder. FILE is\n"
    "never changed; an older file of the output's name is replaced. Only the\n"
    "first FILE counts. A conversion prints nothing.\n"
    "\n"
    "Accepted: WAVE (and RF64) files whose format is PCM or extensible PCM,\n"
    "16-bit, mono, at 22050 Hz. Anything else (other rates, stereo, other\n"
    "sample formats, files this program wrote) is refused with a line on\n"
    "standard error that says why, then a message; nothing is written.\n"
    "\n"
    "Exit status:\n"
    "  0  converted; or no FILE given, or FILE refused (after a message)\n"
    "  1  the conversion failed (one line on standard error names the file\n"
    "     and the reason; no part of the output is left behind), or standard\n"
    "     output could not take this text or the version\n"
    "After a message or a failure it waits for Enter; at end of input (as\n"
    "with </dev/null) it does not wait.\n"
    "\n"
    "A file named --help, -h, --version or -V is given as ./--help and so on.\n"
    "More in the README: README.txt beside pcm-encoder.exe on Windows; on\n"
    "Linux, the manual (man pcm-encoder) and, from the .deb,\n"
    "/usr/share/doc/pcm-encoder/README.md.gz.\n";
const char kVersion[] = "pcm-encoder " PCM_ENCODER_VERSION "\n";

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

bool IsOneOf(const char* argument, const char* longName, const char* shortName) {
    return std::strcmp(argument, longName) == 0 || std::strcmp(argument, shortName) == 0;
}

// The usage or the version, asked for: no wait, and status 0 unless standard
// output could not take it.
int PrintAnswer(const char* text) {
    WritesToClosedPipesFail();
    if (std::fputs(text, stdout) != EOF && std::fflush(stdout) == 0) return 0;
    std::fprintf(stderr, "standard output: cannot write: %s\n", std::strerror(errno));
    return kFailureStatus;
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
    // Only the words themselves ask: "./--help" names a file.
    if (argc > 1 && IsOneOf(argv[1], "--help", "-h")) return PrintAnswer(kUsage);
    if (argc > 1 && IsOneOf(argv[1], "--version", "-V")) return PrintAnswer(kVersion);
    HandleInterruptions();
    const std::vector<std::string> arguments = Arguments(argc, argv);
    if (arguments.empty()) {
        Prompt(kInstruction);
        return 0;
    }
    const std::string& input = arguments.front();
    const ConversionResult result = ConvertFile(input, OutputPathFor(input));
    if (!result.warning.empty()) PrintError(result.warning);
    switch (result.outcome) {
        case Outcome::Converted:
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
