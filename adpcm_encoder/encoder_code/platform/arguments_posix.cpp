#include "platform/arguments.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace platform {

namespace fs = std::filesystem;

namespace {

bool HasWildcard(const std::string& text) {
    return text.find_first_of("*?") != std::string::npos;
}

bool NamesExistingFile(const std::string& path) {
    std::error_code error;
    return fs::exists(fs::path(path), error);
}

std::vector<std::string> Matches(const std::string& argument) {
    const std::size_t separator = argument.rfind('/');
    const std::string directory =
        separator == std::string::npos ? std::string() : argument.substr(0, separator + 1);
    const std::string pattern = argument.substr(directory.size());
    std::vector<std::string> matches;
    if (HasWildcard(directory)) return matches;

    std::error_code error;
    fs::directory_iterator entry(directory.empty() ? fs::path(".") : fs::path(directory), error);
    for (; !error && entry != fs::directory_iterator(); entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        if (MatchesWildcard(pattern, name)) matches.push_back(directory + name);
    }
    std::sort(matches.begin(), matches.end());
    return matches;
}

}  // namespace

bool MatchesWildcard(const std::string& pattern, const std::string& name) {
    if (!name.empty() && name[0] == '.' && (pattern.empty() || pattern[0] != '.')) return false;
    // Greedy match with backtracking to the last '*': linear for the short
    // patterns users type.
    std::size_t p = 0, n = 0, starP = std::string::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (starP != std::string::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

std::vector<std::string> ExpandWildcards(const std::vector<std::string>& arguments) {
    std::vector<std::string> expanded;
    for (const std::string& argument : arguments) {
        const std::vector<std::string> matches =
            HasWildcard(argument) && !NamesExistingFile(argument) ? Matches(argument)
                                                                  : std::vector<std::string>();
        if (matches.empty()) {
            expanded.push_back(argument);
        } else {
            expanded.insert(expanded.end(), matches.begin(), matches.end());
        }
    }
    return expanded;
}

}  // namespace platform
