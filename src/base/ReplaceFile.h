// Replacing a file's contents so that it holds either its old bytes or all of the new ones, even
// when the system stops half-way: written beside it, flushed to the disk, renamed over it.
#pragma once

#include <string>
#include <string_view>

namespace zephyrine::base {

// The name prefix of the temporary file, for a folder's owner that sweeps up what a crash left.
inline constexpr const char* kReplaceTempPrefix = ".tmp-";

// Writes bytes to a temporary file in path's folder, flushes it, gives it mode 0644 and renames
// it over path; then flushes the folder. Throws std::system_error (the failed call's errno) and
// leaves nothing behind on failure.
void ReplaceFileContents(const std::string& path, std::string_view bytes);

}  // namespace zephyrine::base
