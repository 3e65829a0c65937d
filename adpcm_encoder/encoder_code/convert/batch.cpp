#include "convert/batch.h"

#include <algorithm>
#include <map>
#include <set>
#include <utility>

#include "convert/naming.h"
#include "platform/folders.h"
#include "platform/messages.h"
#include "platform/paths.h"

namespace convert {

using platform::About;
using platform::FoldedName;
using platform::FolderIdentity;
using platform::IsFolder;
using platform::IsLink;
using platform::ListFolder;
using platform::Message;
using platform::NameStart;
using platform::SystemError;
using platform::SystemNameStart;
using platform::Text;

namespace {

const char kWaveExtension[] = ".wav";

// A WAVE file's name, and none that a run of this kind writes: decoding
// takes a folder of Enc_ files, converting leaves them out.
bool IsInputName(const std::string& name, bool decode) {
    const std::size_t extension = sizeof kWaveExtension - 1;
    return name.size() > extension &&
           FoldedName(name.substr(name.size() - extension)) == FoldedName(kWaveExtension) &&
           !IsDecodedName(name) && (decode || !IsConvertedName(name));
}

// The same text for every path to one file: its folder's identity (one
// lookup a folder) and its name in one case, the folder and the name split
// where the system splits them.
class FileKeys {
public:
    std::string KeyOf(const std::string& path) {
        const std::string folder = path.substr(0, SystemNameStart(path));
        auto known = folders_.find(folder);
        if (known == folders_.end()) {
            std::string identity = FolderIdentity(folder.empty() ? "." : folder);
            if (identity.empty()) identity = std::string(1, '\0') + folder;  // not a folder yet
            known = folders_.emplace(folder, identity).first;
        }
        return known->second + "/" + FoldedName(path.substr(folder.size()));
    }

private:
    std::map<std::string, std::string> folders_;
};

// The WAVE files in `folder`, or the line that says why there are none.
std::vector<std::string> WaveFilesIn(const std::string& folder, bool decode, std::string& refusal) {
    std::vector<std::string> names;
    if (const SystemError error = ListFolder(folder, names)) {
        refusal = About(Shown(folder), About(Text(Message::CannotOpen), error.reason()));
        return {};
    }
    std::sort(names.begin(), names.end());
    std::vector<std::string> files;
    for (const std::string& name : names) {
        const std::string path = InFolder(folder, name);
        if (IsInputName(name, decode) && !IsFolder(path)) files.push_back(path);
    }
    if (files.empty()) refusal = About(Shown(folder), Text(Message::NoWaveFiles));
    return files;
}

}  // namespace

Batch PlanBatch(const std::vector<std::string>& arguments, bool decode,
                const std::string& outputFolder) {
    Batch batch;
    FileKeys keys;
    std::map<std::string, std::size_t> lastWithOutput;  // by the output's key
    std::set<std::string> inputKeys;
    const auto add = [&](const std::string& input) {
        BatchFile file;
        file.input = input;
        file.output = decode ? DecodedPathFor(input) : OutputPathFor(input);
        if (!outputFolder.empty()) file.output = InFolder(outputFolder, file.output);
        const auto [earlier, first] =
            lastWithOutput.emplace(keys.KeyOf(file.output), batch.files.size());
        if (!first) file.sameOutputAs = std::exchange(earlier->second, batch.files.size());
        inputKeys.insert(keys.KeyOf(input));
        if (IsLink(input)) batch.independent = false;  // it may lead to an output
        batch.files.push_back(std::move(file));
    };
    for (const std::string& argument : arguments) {
        if (!IsFolder(argument)) {
            add(argument);
            continue;
        }
        std::string refusal;
        for (const std::string& input : WaveFilesIn(argument, decode, refusal)) add(input);
        if (!refusal.empty()) {
            BatchFile none;
            none.input = argument;
            none.refusal = refusal;
            batch.files.push_back(std::move(none));
        }
    }
    for (const auto& [outputKey, file] : lastWithOutput) {
        if (inputKeys.count(outputKey)) batch.independent = false;
    }
    return batch;
}

}  // namespace convert
