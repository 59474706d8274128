// Cabinet files as the program hands them to the cabinet tool (cabextract): the command line that
// unpacks one, its signature, and the file names it holds.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zephyrine::platform {

inline constexpr const char* kCabinetTool = "cabextract";
inline constexpr const char* kCabinetSignature = "MSCF";

// The command that unpacks every file of cab into folder, overwriting what is there:
// tool -q -d folder -- cab. The "--" keeps a file named like an option ("-x.mco") a file.
std::vector<std::string> UnpackCommand(const std::string& tool, const std::string& folder,
                                       const std::string& cab);

// True when the file begins with "MSCF".
bool BeginsWithCabinetSignature(const std::string& path);

// The names of the files a cabinet holds, as stored (folders separated by "\"); nullopt when the
// file is not a cabinet whose file table can be read.
std::optional<std::vector<std::string>> CabinetFileNames(const std::string& path);

// True for a stored name that would place its file outside the folder it is unpacked into: an
// absolute name, an empty one, or one with a ".." component ("/" and "\" both separate).
bool IsEscapingName(const std::string& name);

}  // namespace zephyrine::platform
