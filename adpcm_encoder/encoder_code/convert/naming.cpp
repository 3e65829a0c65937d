#include "convert/naming.h"

#include <cctype>
#include <cstdio>
#include <utility>

#include "platform/paths.h"

namespace convert {

using platform::NameStart;

namespace {

const char kOutputPrefix[] = "Enc_";
const char kDecodedPrefix[] = "Dec_";
const char kOutputExtension[] = ".wav";

// The input's directory, and its name without the extension.
std::pair<std::string, std::string> FolderAndStem(const std::string& inputPath) {
    const std::size_t nameStart = NameStart(inputPath);
    const std::string name = inputPath.substr(nameStart);
    return {inputPath.substr(0, nameStart), name.substr(0, name.rfind('.'))};
}

// `text` starts with `prefix`, whatever the case of its letters.
bool StartsWithFolded(const std::string& text, const char* prefix) {
    for (std::size_t i = 0; prefix[i]; ++i) {
        if (i == text.size() || std::tolower(static_cast<unsigned char>(text[i])) !=
                                    std::tolower(static_cast<unsigned char>(prefix[i]))) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string Shown(const std::string& name) {
    std::string shown;
    for (const char c : name) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte >= ' ' && byte != 0x7F) {
            shown += c;
        } else if (c == '\n') {
            shown += "\\n";
        } else if (c == '\r') {
            shown += "\\r";
        } else if (c == '\t') {
            shown += "\\t";
        } else {
            char escaped[sizeof "\\x00"];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            shown += escaped;
        }
    }
    return shown;
}

std::string OutputPathFor(const std::string& inputPath) {
    const auto [folder, stem] = FolderAndStem(inputPath);
    return folder + kOutputPrefix + stem + kOutputExtension;
}

std::string DecodedPathFor(const std::string& inputPath) {
    auto [folder, stem] = FolderAndStem(inputPath);
    if (stem.compare(0, sizeof kOutputPrefix - 1, kOutputPrefix) == 0) {
        stem.erase(0, sizeof kOutputPrefix - 1);
    }
    return folder + kDecodedPrefix + stem + kOutputExtension;
}

std::string InFolder(const std::string& folder, const std::string& path) {
    const std::string name = path.substr(NameStart(path));
    if (folder.empty() || NameStart(folder) == folder.size()) return folder + name;
    return folder + platform::FolderSeparator() + name;
}

bool IsConvertedName(const std::string& path) {
    return StartsWithFolded(path.substr(NameStart(path)), kOutputPrefix);
}

bool IsDecodedName(const std::string& path) {
    return StartsWithFolded(path.substr(NameStart(path)), kDecodedPrefix);
}

}  // namespace convert
