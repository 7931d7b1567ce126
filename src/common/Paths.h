#pragma once
// Every file of the program lies in the folder of the program file. These are the
// byte-level path helpers that find it: they scan single bytes, so a second byte
// 0x5C of a double-byte character counts as a separator, as it always has.

#include <string>
#include <string_view>

namespace morvane {

// The directory part of path, up to and including its last "\" or "/"; empty when
// there is none. Bytes after a zero byte are not looked at.
std::string GetFilePassName(std::string_view path);
// The part of path after GetFilePassName(path).
std::string GetFileName(std::string_view path);

// Full path of the running executable.
std::string ProgramFile();
// GetFilePassName(ProgramFile()): the program folder, ending with a separator.
std::string ProgramFolder();

} // namespace morvane
