#include "command_line.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/messages.h"

using platform::Message;
using platform::Text;
using platform::Worded;

namespace {

bool IsOneOf(const std::string& argument, Message longName, Message shortName) {
    return argument == Text(longName) || argument == Text(shortName);
}

// The arguments as options take them, one after another.
class Arguments {
public:
    Arguments(int argc, char** argv) : next_(argv + 1), end_(argv + argc) {}

    bool done() const { return next_ == end_; }
    std::string Take() { return *next_++; }
    std::vector<std::string> TakeTheRest() { return {std::exchange(next_, end_), end_}; }

    // Whether `argument` names the option: alone, or as its long name, "="
    // and the value.
    static bool Names(const std::string& argument, Message longName, Message shortName) {
        return IsOneOf(argument, longName, shortName) ||
               argument.compare(0, std::strlen(Text(longName)) + 1,
                                std::string(Text(longName)) + "=") == 0;
    }

    // The value of the option that `argument` names: after its "=", or the
    // next argument. False when there is none.
    bool TakeValue(const std::string& argument, std::string& value) {
        const std::size_t equals = argument.find('=');
        if (equals != std::string::npos) {
            value = argument.substr(equals + 1);
            return true;
        }
        if (done()) return false;
        value = Take();
        return true;
    }

private:
    char** next_;
    char** end_;
};

// "8" gives 8; anything but a whole number from 1 to kMostJobs gives 0.
unsigned JobsIn(const std::string& value) {
    constexpr std::size_t kMostDigits = 9;  // within unsigned long everywhere
    if (value.empty() || value.size() > kMostDigits ||
        !std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return 0;
    }
    const unsigned jobs = static_cast<unsigned>(std::stoul(value));
    return jobs <= kMostJobs ? jobs : 0;
}

// Takes an option that has a value; false when `argument` is none.
bool TakeValuedOption(const std::string& argument, Arguments& arguments, Request& request) {
    const std::string option = argument.substr(0, argument.find('='));
    std::string value;
    if (Arguments::Names(argument, Message::OutputFolderOption, Message::OutputFolderShortOption)) {
        if (!arguments.TakeValue(argument, value) || value.empty()) {
            request.misuse = Worded(Message::NeedsFolder, option.c_str());
        }
        request.outputFolder = value;
    } else if (Arguments::Names(argument, Message::JobsOption, Message::JobsShortOption)) {
        if (!arguments.TakeValue(argument, value) || !(request.jobs = JobsIn(value))) {
            request.misuse = Worded(Message::NeedsJobs, option.c_str(), kMostJobs);
        }
    } else {
        return false;
    }
    return true;
}

// Takes `argument` as an option: false when it is none.
bool TakeOption(const std::string& argument, Arguments& arguments, Request& request) {
    if (IsOneOf(argument, Message::HelpOption, Message::HelpShortOption)) {
        request.answer = Text(Message::Usage);
    } else if (IsOneOf(argument, Message::VersionOption, Message::VersionShortOption)) {
        request.answer = Worded(Message::Version, PCM_ENCODER_VERSION);
    } else if (argument == Text(Message::BestOption)) {
        request.best = true;
    } else if (argument == Text(Message::CompatibleOption)) {
        request.compatible = true;
    } else if (argument == Text(Message::DecodeOption)) {
        request.decode = true;
    } else if (IsOneOf(argument, Message::VerboseOption, Message::VerboseShortOption)) {
        request.verbose = true;
    } else {
        return TakeValuedOption(argument, arguments, request);
    }
    return true;
}

}  // namespace

Request Parse(int argc, char** argv) {
    Request request;
    Arguments arguments(argc, argv);
    while (!arguments.done() && request.answer.empty() && request.misuse.empty()) {
        const std::string argument = arguments.Take();
        if (argument == Text(Message::EndOfOptions)) {
            const std::vector<std::string> rest = arguments.TakeTheRest();
            request.files.insert(request.files.end(), rest.begin(), rest.end());
        } else if (TakeOption(argument, arguments, request)) {
            continue;
        } else if (argument.size() > 1 && argument[0] == '-') {  // "-" names a file
            request.misuse = Worded(Message::UnknownOption, argument.c_str());
        } else {
            request.files.push_back(argument);
        }
    }
    return request;
}
