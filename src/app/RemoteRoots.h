// The two remote hosts: built-in roots (CMake cache variables ZEPHYRINE_CONTENT_ROOT and
// ZEPHYRINE_CATALOGUE_ROOT), each overridden at start by an environment variable of that name.
#pragma once

#include "platform/Platform.h"

namespace zephyrine::app {

platform::TRemoteRoots BuiltInRemoteRoots();
// The built-in roots with the environment's overrides; trailing "/" removed.
platform::TRemoteRoots RemoteRootsFromEnvironment();

}  // namespace zephyrine::app
