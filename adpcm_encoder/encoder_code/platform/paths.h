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

// Where the system itself, not the program's naming, ends a path's folder
// part: on Linux after the last '/' alone (a '\\' is part of a name there).
std::size_t SystemNameStart(const std::string& path);

// A file's name as the file systems this program writes to compare names:
// on Linux with ASCII letters in one case (FAT, and NTFS mounted there, take
// take.wav and TAKE.WAV for one file), on Windows every letter, as NTFS does.
std::string FoldedName(const std::string& name);

// What goes between a folder and a name put in it: '\\' on Windows, '/'
// elsewhere.
char FolderSeparator();

}  // namespace platform
