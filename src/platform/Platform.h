// The platform pieces the main window drives, as small interfaces. The program gives the window
// the real implementations; tests give it their own (message boxes that record, say).
#pragma once

#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace zephyrine::platform {

enum class TMsgIcon { None, Information, Error };  // Error: the default error box

// Every message box of the program goes through this hook, so no test ever blocks on a dialog.
class IMessageBox {
  public:
    virtual ~IMessageBox() = default;
    virtual void Show(QWidget* owner, const std::string& text, const std::string& caption,
                      TMsgIcon icon) = 0;
    // A question with Yes and No, No the default; true for Yes.
    virtual bool Confirm(QWidget* owner, const std::string& text, const std::string& caption) = 0;
};

// Opens web and mail addresses in the user's programs (xdg-open).
class IShell {
  public:
    virtual ~IShell() = default;
    virtual void OpenUrl(const std::string& url) = 0;
};

// The preview control: a widget that plays a movie given as an http URL or a full local path.
class TFlashControl : public QWidget {
  public:
    using QWidget::QWidget;
    // Both throw std::runtime_error on failure.
    virtual void SetMovie(const std::string& movie) = 0;
    virtual std::string Movie() const = 0;
    virtual void Play() = 0;
    // Starts the player without a movie, so that the first Play only hands one over. Returns at
    // once; the rest runs through the event loop. Does nothing once started or played.
    virtual void WarmUp() {}
};

// The messenger's content installer. InstallFromUrl returns at once (throwing std::runtime_error
// when the installer cannot be used); OnContentInstalled arrives later on the UI thread, once per
// accepted hand-over, with 0 when installed and a failing HRESULT otherwise.
class IMessengerContentInstaller {
  public:
    virtual ~IMessengerContentInstaller() = default;
    virtual void InstallFromUrl(const std::string& url) = 0;
    std::function<void(std::int32_t lhrResult)> OnContentInstalled;
};

// The download cache in front of the installer; returns 0 or the system error code.
class IUrlCache {
  public:
    virtual ~IUrlCache() = default;
    virtual std::uint32_t DeleteUrlCacheEntry(const std::string& url) = 0;
};

// What the main window is given by its creator.
struct TPlatform {
    std::unique_ptr<IMessageBox> MessageBox;
    std::unique_ptr<IShell> Shell;
    std::function<TFlashControl*(QWidget* parent)> CreateFlash;  // parent owns the widget
    std::function<std::unique_ptr<IMessengerContentInstaller>()> CreateInstaller;  // first use
    std::unique_ptr<IUrlCache> UrlCache;
    // Told every status text as the window shows it (a trace for tests); may be empty.
    std::function<void(const std::string& text)> OnStatusText;
};

// The two remote hosts, roots without a trailing "/" (e.g. "http://127.0.0.1:21888").
struct TRemoteRoots {
    std::string ContentRoot;
    std::string CatalogueRoot;
};

}  // namespace zephyrine::platform
