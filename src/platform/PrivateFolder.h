// Folders private to the user: a real folder (never a symbolic link) that this user owns and that
// no other user may enter.
#pragma once

#include <string>

namespace zephyrine::platform {

bool IsPrivateFolder(const std::string& folder);
// Makes the folder (mode 0700) when it is missing; true when it is then private.
bool EnsurePrivateFolder(const std::string& folder);
// A new private folder of the caller's own, ending in "/": made by mkdtemp under
// $XDG_RUNTIME_DIR when that is private, else under $TMPDIR (or /tmp). "" when none can be made.
std::string MakeFreshPrivateFolder();

}  // namespace zephyrine::platform
