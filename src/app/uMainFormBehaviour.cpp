// TfrmMainForm's behaviours besides the installs: the event bindings, showing and resizing, the
// preview of an item, Close, Support and the about box.
#include "app/uAbout.h"
#include "app/uMainForm.h"

#include <QFile>
#include <QMouseEvent>
#include <QShowEvent>

#include <functional>

namespace zephyrine::app {

namespace {

// A skin larger than this is not a style sheet.
constexpr qint64 kMaxSkinBytes = 1024 * 1024;

// Hands the events of one object to a function; true from it drops the event.
class TEventHook : public QObject {
  public:
    using THandler = std::function<bool(QEvent*)>;
    TEventHook(QObject* watched, THandler handler)
        : QObject(watched), handler_(std::move(handler)) {
        watched->installEventFilter(this);
    }

  protected:
    bool eventFilter(QObject*, QEvent* event) override { return handler_(event); }

  private:
    THandler handler_;
};

}  // namespace

QString ReadSkin(const std::string& skinPath) {
    QFile file(QString::fromStdString(skinPath));
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxSkinBytes) return {};
    return QString::fromUtf8(file.readAll());
}

void TfrmMainForm::createEventBindings() {
    // Guarded: what a handler throws goes to the application's error box, never to Qt.
    const auto guarded = [this](void (TfrmMainForm::*handler)()) {
        return [this, handler] {
            try {
                (this->*handler)();
            } catch (const std::exception& e) {
                ApplicationHandleException(e);
            }
        };
    };
    // A click in the tree: the left button released over it, on an item or not.
    new TEventHook(treWinksList->viewport(), [this, guarded](QEvent* event) {
        if (event->type() == QEvent::MouseButtonRelease &&
            static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
            QMetaObject::invokeMethod(this, guarded(&TfrmMainForm::treWinksListClick),
                                      Qt::QueuedConnection);
        return false;
    });
    connect(actInstall, &QAction::triggered, this, guarded(&TfrmMainForm::actInstallExecute));
    connect(actInstallChe, &QAction::triggered, this, guarded(&TfrmMainForm::actInstallCheExecute));
    connect(actUpgrade, &QAction::triggered, this, guarded(&TfrmMainForm::actUpgradeExecute));
    connect(actAbout, &QAction::triggered, this, guarded(&TfrmMainForm::actAboutExecute));
    connect(btnClose, &QPushButton::clicked, this, guarded(&TfrmMainForm::btnCloseClick));
    connect(btnSupport, &QPushButton::clicked, this, guarded(&TfrmMainForm::btnSupportClick));
}

void TfrmMainForm::ApplicationHandleException(const std::exception& e) {
    ShowMessage(e.what(), platform::TMsgIcon::Error);
}

void TfrmMainForm::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!shown_ && !event->spontaneous()) {
        shown_ = true;
        FormShow();
    }
}

void TfrmMainForm::FormShow() {
    const QString sheet = ReadSkin(Global.SkinPath);
    if (!sheet.isEmpty()) setStyleSheet(sheet);
}

void TfrmMainForm::FormResize() {
    if (flsPreview == nullptr) return;
    if (QWidget* focused = focusWidget()) focused->clearFocus();
    flsPreview->setFocus(Qt::OtherFocusReason);
}

void TfrmMainForm::PreviewItem(const platform::TXMLNode& item) {
    FCurrentItem = item;
    SetStatusText("Previewing..");
    const std::string url = Global.PreviewBaseUrl + item.AttributeValue("SwfUrl").Text();
    if (flsPreviewControl == nullptr) return;  // a window without a player shows nothing
    flsPreviewControl->SetMovie(url);
    flsPreviewControl->Play();
}

void TfrmMainForm::btnCloseClick() {
    close();
}

void TfrmMainForm::btnSupportClick() {
    if (Platform.Shell) Platform.Shell->OpenUrl(kSupportPage);
}

// Modal without a nested event loop: the box takes all input until it closes, and is released
// then.
void TfrmMainForm::actAboutExecute() {
    auto* about = new TFrmAbout(this, Platform.Shell.get(), Global.SkinPath);
    about->setAttribute(Qt::WA_DeleteOnClose);
    about->setWindowModality(Qt::ApplicationModal);
    about->show();
}

}  // namespace zephyrine::app
