#include "app/RemoteRoots.h"

#include <cstdlib>

namespace zephyrine::app {

namespace {

std::string Root(const char* variable, const char* builtIn) {
    const char* value = std::getenv(variable);
    std::string root = (value != nullptr && value[0] != '\0') ? value : builtIn;
    while (!root.empty() && root.back() == '/')
        root.pop_back();
    return root;
}

}  // namespace

platform::TRemoteRoots BuiltInRemoteRoots() {
    return {ZEPHYRINE_CONTENT_ROOT, ZEPHYRINE_CATALOGUE_ROOT};
}

platform::TRemoteRoots RemoteRootsFromEnvironment() {
    return {Root("ZEPHYRINE_CONTENT_ROOT", ZEPHYRINE_CONTENT_ROOT),
            Root("ZEPHYRINE_CATALOGUE_ROOT", ZEPHYRINE_CATALOGUE_ROOT)};
}

}  // namespace zephyrine::app
