// Where a path's folder part ends and the file's name starts, by one rule on
// every system: after the last '/' or '\\'; without either, after a drive
// prefix such as "Z:", which only Windows has and which ends the folder part
// as a separator does ("Z:take.wav" is take.wav in drive Z's current
// folder). On Linux "my\\take.wav" is a name in the current folder, and so
// is the "my\\Enc_take.wav" it gives.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

std::size_t NameStart(const std::string& path);

// The length of the drive prefix that `path` starts with: 0 where the system
// has none. Each system's paths unit gives its own.
std::size_t DrivePrefixSize(const std::string& path);

// What goes between a folder and a name put in it: '\\' on Windows, '/'
// elsewhere.
char FolderSeparator();

}  // namespace platform
