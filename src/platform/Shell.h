// The real shell: web and mail addresses open in the user's programs (QDesktopServices, xdg-open).
#pragma once

#include "platform/Platform.h"

namespace zephyrine::platform {

class TDesktopShell : public IShell {
  public:
    void OpenUrl(const std::string& url) override;  // the result is ignored
};

}  // namespace zephyrine::platform
