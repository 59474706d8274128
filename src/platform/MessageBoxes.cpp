#include "platform/MessageBoxes.h"

#include <QMessageBox>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace zephyrine::platform {

void TQtMessageBox::Show(QWidget* owner, const std::string& text, const std::string& caption,
                         TMsgIcon icon) {
    QMessageBox box(owner);
    box.setWindowTitle(QString::fromStdString(caption));
    box.setText(QString::fromStdString(text));
    box.setTextFormat(Qt::PlainText);
    switch (icon) {
        case TMsgIcon::None:
            box.setIcon(QMessageBox::NoIcon);
            break;
        case TMsgIcon::Information:
            box.setIcon(QMessageBox::Information);
            break;
        case TMsgIcon::Error:
            box.setIcon(QMessageBox::Critical);
            break;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

bool TQtMessageBox::Confirm(QWidget* owner, const std::string& text, const std::string& caption) {
    QMessageBox box(owner);
    box.setWindowTitle(QString::fromStdString(caption));
    box.setText(QString::fromStdString(text));
    box.setTextFormat(Qt::PlainText);
    box.setIcon(QMessageBox::Question);
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

bool TStderrMessageBox::Confirm(QWidget*, const std::string& text, const std::string& caption) {
    std::fprintf(stderr, "Confirm[%s]: %s\n", caption.c_str(), text.c_str());
    std::fflush(stderr);
    return false;
}

void TStderrMessageBox::Show(QWidget*, const std::string& text, const std::string& caption,
                             TMsgIcon) {
    std::fprintf(stderr, "MessageBox[%s]: %s\n", caption.c_str(), text.c_str());
    std::fflush(stderr);
}

std::unique_ptr<IMessageBox> CreateMessageBox() {
    const char* hook = std::getenv("ZEPHYRINE_MESSAGE_BOX");
    if (hook != nullptr && std::strcmp(hook, "stderr") == 0) {
        return std::make_unique<TStderrMessageBox>();
    }
    return std::make_unique<TQtMessageBox>();
}

}  // namespace zephyrine::platform
