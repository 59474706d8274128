// The real message boxes (QMessageBox, modal, one OK button) and a stand-in that writes each box
// to standard error instead of showing it, for whole-program tests (ZEPHYRINE_MESSAGE_BOX=stderr).
#pragma once

#include "platform/Platform.h"

#include <memory>

namespace zephyrine::platform {

class TQtMessageBox : public IMessageBox {
  public:
    void Show(QWidget* owner, const std::string& text, const std::string& caption,
              TMsgIcon icon) override;
    bool Confirm(QWidget* owner, const std::string& text, const std::string& caption) override;
};

// One line per box on standard error: "MessageBox[<caption>]: <text>"; a question is answered
// No.
class TStderrMessageBox : public IMessageBox {
  public:
    void Show(QWidget* owner, const std::string& text, const std::string& caption,
              TMsgIcon icon) override;
    bool Confirm(QWidget* owner, const std::string& text, const std::string& caption) override;
};

// The stderr stand-in when the environment variable ZEPHYRINE_MESSAGE_BOX is "stderr" (tests
// only), else the real one.
std::unique_ptr<IMessageBox> CreateMessageBox();

}  // namespace zephyrine::platform
