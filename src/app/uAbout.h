// Unit uAbout: the about box TFrmAbout, a fixed-size modal dialog with the program's name and
// version, the maker's addresses as links, and a notice line.
#pragma once

#include "platform/Platform.h"

#include <QDialog>
#include <QLabel>

#include <string>

namespace zephyrine::app {

// The maker's addresses.
inline constexpr const char* kHomePage = "https://zephyrine.example/";
inline constexpr const char* kSupportPage = "https://zephyrine.example/support/";
inline constexpr const char* kSupportMail = "support@zephyrine.example";
inline constexpr const char* kSalesMail = "sales@zephyrine.example";

// The style sheet in a skin file; empty when the file is missing, unreadable or too large.
QString ReadSkin(const std::string& skinPath);

// A label that reports the mouse moving over it, leaving it and clicking it.
class TLinkLabel : public QLabel {
    Q_OBJECT
  public:
    using QLabel::QLabel;
  signals:
    void MouseMove();
    void MouseLeave();
    void Clicked();

  protected:
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};

class TFrmAbout : public QDialog {
    Q_OBJECT
  public:
    static constexpr int kClientWidth = 370;
    static constexpr int kClientHeight = 179;

    // Centred on owner (when given); links open through shell (may be null).
    TFrmAbout(QWidget* owner, platform::IShell* shell, std::string skinPath);

    QLabel* Image1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label3 = nullptr;
    TLinkLabel* Label4 = nullptr;
    QLabel* Label6 = nullptr;
    TLinkLabel* Label5 = nullptr;
    QLabel* Label9 = nullptr;
    TLinkLabel* Label8 = nullptr;
    QLabel* Label7 = nullptr;

    void Label5MouseMove(TLinkLabel* label);
    void Label5MouseLeave(TLinkLabel* label);
    void Label4Click();
    void Label5Click();
    void Label8Click();
    void FormShow();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    QLabel* AddLabel(QLabel* label, int left, int top);
    TLinkLabel* AddLink(const QString& text, int left, int top);
    void Open(const std::string& address);

    platform::IShell* shell_;
    std::string skinPath_;
    bool shown_ = false;
};

}  // namespace zephyrine::app
