// Wildcard expansion of command-line arguments, as a Windows program's
// start-up does it, for builds whose shell may hand patterns over unexpanded.
// On Windows the start-up does it, and ExpandWildcards gives the arguments
// back as they are.
//
// An argument that names no existing file and holds '*' or '?' in its last
// path component is replaced by the names in that directory that match it,
// sorted; names starting with '.' match only a pattern that does too. A
// pattern that matches nothing stays as it is.
#pragma once

#include <string>
#include <vector>

namespace platform {

bool MatchesWildcard(const std::string& pattern, const std::string& name);

std::vector<std::string> ExpandWildcards(const std::vector<std::string>& arguments);

}  // namespace platform
