// The per-user base folders (XDG_DATA_HOME, XDG_CACHE_HOME, ...) found by one rule.
#pragma once

#include <string>

namespace zephyrine::base {

// The folder a base-directory variable names when it holds an absolute path; otherwise the
// user's home folder followed by "/" and homeDefault (".local/share", ".cache", ...). The home
// folder is $HOME, or the one the password database gives when HOME is unset or empty. No
// trailing "/".
std::string XdgFolder(const char* variable, const char* homeDefault);

std::string XdgDataHome();   // $XDG_DATA_HOME or ~/.local/share
std::string XdgCacheHome();  // $XDG_CACHE_HOME or ~/.cache
std::string XdgConfigHome();  // $XDG_CONFIG_HOME or ~/.config

}  // namespace zephyrine::base
