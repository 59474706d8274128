// The preview control. The page and every fetch of the player go through one URL scheme whose
// handler answers from the program's resources, from the Ruffle folder, from http(s) on the C++
// side, and from local files in the permitted folders only.
#include "platform/ShockwaveFlash.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>
#include <QUrlQuery>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestJob>
#include <QWebEngineUrlScheme>
#include <QWebEngineUrlSchemeHandler>
#include <QWebEngineView>

#include <unistd.h>

#include <functional>
#include <stdexcept>

// Resources of a static library are registered by hand, outside any namespace.
static void InitFlashResources() {
    Q_INIT_RESOURCE(FlashPlayer);
}

namespace zephyrine::platform {

namespace {

constexpr qint64 kMaxFetchBytes = 64LL * 1024 * 1024;
constexpr int kFetchTimeoutMs = 30000;
constexpr const char* kPageUrl = "zephyrine-flash://player/index.html";
constexpr const char* kFetchErrorType = "application/x-zephyrine-fetch-error";
constexpr const char* kBridgePrefix = "BRIDGE:";

bool IsSwf(const QByteArray& head) {
    return head.startsWith("FWS") || head.startsWith("CWS") || head.startsWith("ZWS");
}

QString MimeForFile(const QString& name) {
    if (name.endsWith(".js")) return "text/javascript";
    if (name.endsWith(".wasm")) return "application/wasm";
    if (name.endsWith(".swf", Qt::CaseInsensitive)) return "application/x-shockwave-flash";
    return "application/octet-stream";
}

QString WithSlash(QString folder) {
    if (!folder.endsWith('/')) folder += '/';
    return folder;
}

// The movie as the player fetches it: http(s) and file URLs as they are, a full path as a file
// URL.
QString MovieUrlFor(const std::string& movie) {
    const QString text = QString::fromStdString(movie).trimmed();
    if (text.isEmpty()) throw std::runtime_error("No movie has been set to play.");
    if (text.startsWith('/')) return QUrl::fromLocalFile(text).toString(QUrl::FullyEncoded);
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (url.isValid() && ((scheme == "http" || scheme == "https") && !url.host().isEmpty()))
        return url.toString(QUrl::FullyEncoded);
    if (url.isValid() && scheme == "file" && url.toLocalFile().startsWith('/'))
        return url.toString(QUrl::FullyEncoded);
    throw std::runtime_error("The movie must be an http or https URL or a full local path: " +
                             movie);
}

bool SameUrl(const QString& a, const QString& b) {
    return QUrl(a).adjusted(QUrl::NormalizePathSegments) ==
           QUrl(b).adjusted(QUrl::NormalizePathSegments);
}

QString NotSwfMessage(const QString& movie) {
    return QString("%1 is not a SWF movie.").arg(movie);
}

// permitted: canonical folders, each ending in "/".
bool IsPermitted(const QStringList& permitted, const QString& canonical) {
    for (const QString& folder : permitted)
        if (canonical.startsWith(folder)) return true;
    return false;
}

// What keeps the page from reading a local file: a status as HTTP would give it (0: nothing)
// and the text the user is told when the file is the movie.
struct TLocalFileCheck {
    int status = 0;
    QString statusText, message;
};

TLocalFileCheck CheckLocalFile(const QString& path, const QStringList& permitted) {
    const QFileInfo info(path);
    if (!info.exists())
        return {404, "Not Found", QString("The movie file %1 does not exist.").arg(path)};
    if (!IsPermitted(permitted, info.canonicalFilePath()) || !info.isFile())
        return {403, "Forbidden", QString("The preview may not read %1.").arg(path)};
    if (info.size() > kMaxFetchBytes)
        return {413, "Too Large", QString("The movie file %1 is too large to play.").arg(path)};
    return {};
}

QString UnreadableMessage(const QString& path, const QString& why) {
    return QString("The movie file %1 cannot be read: %2").arg(path, why);
}

// Why a local movie cannot be played, empty when it can. Checked before the movie is handed to
// the player, so that what the user is told never depends on which side notices first.
QString LocalMovieProblem(const QString& path, const QStringList& permitted) {
    const TLocalFileCheck check = CheckLocalFile(path, permitted);
    if (check.status != 0) return check.message;
    QFile file(QFileInfo(path).canonicalFilePath());
    if (!file.open(QIODevice::ReadOnly)) return UnreadableMessage(path, file.errorString());
    if (!IsSwf(file.read(3))) return NotSwfMessage(path);
    return {};
}

}  // namespace

class TFlashSchemeHandler : public QWebEngineUrlSchemeHandler {
  public:
    // A fetch of the current movie failed or did not bring a SWF.
    std::function<void(const QString& url, const QString& message)> OnMovieProblem;
    QString MovieUrl;
    QStringList Permitted;  // canonical folders, each ending in "/"
    QString PlayerFolder;   // ends in "/"

    void requestStarted(QWebEngineUrlRequestJob* job) override {
        const QUrl url = job->requestUrl();
        const QString path = url.path();
        if (url.host() != "player") {
            job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        } else if (path == "/" || path == "/index.html") {
            ReplyFile(job, ":/zephyrine/flash/player.html", "text/html");
        } else if (path == "/bridge.js") {
            ReplyFile(job, ":/zephyrine/flash/bridge.js", "text/javascript");
        } else if (path.startsWith("/ruffle/")) {
            const QString name = path.mid(8);
            if (name.isEmpty() || name.contains('/') || name.startsWith('.'))
                job->fail(QWebEngineUrlRequestJob::UrlNotFound);
            else
                ReplyFile(job, PlayerFolder + name, MimeForFile(name));
        } else if (path == "/fetch") {
            Fetch(job, QUrlQuery(url).queryItemValue("url", QUrl::FullyDecoded));
        } else {
            job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        }
    }

  private:
    static void ReplyFile(QWebEngineUrlRequestJob* job, const QString& path, const QString& mime) {
        auto* file = new QFile(path, job);
        if (!file->open(QIODevice::ReadOnly)) {
            job->fail(QWebEngineUrlRequestJob::UrlNotFound);
            return;
        }
        job->reply(mime.toUtf8(), file);
    }

    static void ReplyBytes(QWebEngineUrlRequestJob* job, const QByteArray& bytes,
                           const QString& mime) {
        auto* buffer = new QBuffer(job);
        buffer->setData(bytes);
        buffer->open(QIODevice::ReadOnly);
        job->reply(mime.toUtf8(), buffer);
    }

    // The job cannot carry an HTTP status, so the page's fetch turns this body back into one;
    // status 0 stands for a network failure.
    static void ReplyError(QWebEngineUrlRequestJob* job, int status, const QString& statusText,
                           const QString& message) {
        QJsonObject info{{"status", status}, {"statusText", statusText}, {"message", message}};
        ReplyBytes(job, QJsonDocument(info).toJson(QJsonDocument::Compact), kFetchErrorType);
    }

    void Problem(const QString& url, const QString& message) {
        if (OnMovieProblem && SameUrl(url, MovieUrl)) OnMovieProblem(url, message);
    }

    void Fetch(QWebEngineUrlRequestJob* job, const QString& target) {
        const QUrl url(target);
        const QString scheme = url.scheme().toLower();
        if (scheme == "file") {
            FetchFile(job, target, url.toLocalFile());
        } else if (scheme == "http" || scheme == "https") {
            FetchHttp(job, target, url);
        } else {
            ReplyError(job, 0, "", "URL scheme not allowed: " + target);
        }
    }

    void FetchFile(QWebEngineUrlRequestJob* job, const QString& target, const QString& path) {
        const TLocalFileCheck check = CheckLocalFile(path, Permitted);
        if (check.status != 0) {
            ReplyError(job, check.status, check.statusText, check.message);
            Problem(target, check.message);
            return;
        }
        auto* file = new QFile(QFileInfo(path).canonicalFilePath(), job);
        if (!file->open(QIODevice::ReadOnly)) {
            ReplyError(job, 403, "Forbidden", file->errorString());
            Problem(target, UnreadableMessage(path, file->errorString()));
            return;
        }
        if (!IsSwf(file->peek(3))) Problem(target, NotSwfMessage(path));
        job->reply(MimeForFile(path).toUtf8(), file);
    }

    void FetchHttp(QWebEngineUrlRequestJob* job, const QString& target, const QUrl& url) {
        QNetworkRequest request(url);
        request.setTransferTimeout(kFetchTimeoutMs);
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                             QNetworkRequest::NoLessSafeRedirectPolicy);
        QNetworkReply* reply = net_.get(request);
        QPointer<QWebEngineUrlRequestJob> guard(job);
        QObject::connect(job, &QObject::destroyed, reply, &QNetworkReply::abort);
        QObject::connect(reply, &QNetworkReply::downloadProgress, reply,
                         [reply](qint64 received, qint64) {
                             if (received <= kMaxFetchBytes) return;
                             reply->setProperty("tooLarge", true);
                             reply->abort();
                         });
        QObject::connect(reply, &QNetworkReply::finished, reply, [this, reply, guard, target]() {
            reply->deleteLater();
            if (!guard) return;
            const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            if (status >= 400) {
                const QString reason =
                    reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
                ReplyError(guard, status, reason, reply->errorString());
                Problem(target, QString("The movie %1 could not be fetched: HTTP %2 %3")
                                    .arg(target)
                                    .arg(status)
                                    .arg(reason)
                                    .trimmed());
                return;
            }
            if (reply->error() != QNetworkReply::NoError || status == 0) {
                const QString why = reply->property("tooLarge").toBool()
                                        ? QString("it is too large")
                                        : reply->errorString();
                ReplyError(guard, 0, "", why);
                Problem(target, QString("The movie %1 could not be fetched: %2").arg(target, why));
                return;
            }
            const QByteArray body = reply->readAll();
            if (!IsSwf(body.left(3))) Problem(target, NotSwfMessage(target));
            QString mime = reply->header(QNetworkRequest::ContentTypeHeader).toString();
            if (mime.isEmpty()) mime = "application/octet-stream";
            ReplyBytes(guard, body, mime);
        });
    }

    QNetworkAccessManager net_;
};

class TFlashPage : public QWebEnginePage {
  public:
    TFlashPage(QWebEngineProfile* profile, QObject* parent,
               std::function<void(const QString&)> onBridge)
        : QWebEnginePage(profile, parent), onBridge_(std::move(onBridge)) {}

  protected:
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message, int,
                                  const QString&) override {
        if (message.startsWith(kBridgePrefix))
            onBridge_(message.mid(static_cast<int>(qstrlen(kBridgePrefix))));
        else if (level == ErrorMessageLevel)
            qWarning("Preview player: %s", qUtf8Printable(message));
    }

  private:
    std::function<void(const QString&)> onBridge_;
};

void TShockwaveFlash::PrepareProcess() {
    static bool prepared = false;
    if (prepared) return;
    prepared = true;
    QWebEngineUrlScheme scheme(kScheme);
    scheme.setSyntax(QWebEngineUrlScheme::Syntax::Host);
    scheme.setDefaultPort(QWebEngineUrlScheme::PortUnspecified);
    scheme.setFlags(QWebEngineUrlScheme::SecureScheme | QWebEngineUrlScheme::CorsEnabled |
                    QWebEngineUrlScheme::ContentSecurityPolicyIgnored);
    QWebEngineUrlScheme::registerScheme(scheme);
    // The browser engine refuses to start as root inside its sandbox.
    if (geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    // No GPU: Ruffle draws on its canvas renderer. The player's 14 MB wasm module is compiled
    // by the baseline compiler only: measured on two busy cores, the player was up about 1.6 s
    // after the engine's start, against 3 to 4 s when the optimising compiler recompiled it
    // meanwhile and 3 to 14 s when each function was compiled on its first call.
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    const auto add = [&flags](const char* flag, const char* unless) {
        if (flags.contains(unless)) return;
        if (!flags.isEmpty()) flags += ' ';
        flags += flag;
    };
    add("--disable-gpu", "--disable-gpu");
    add("--js-flags=--liftoff-only", "--js-flags");
    // Without a GPU the compositor needs no process of its own.
    add("--in-process-gpu", "--in-process-gpu");
    // Unsandboxed, the renderer is started straight away: the start of the engine then does not
    // wait on the UI thread for a zygote process to come up (about as long as the rest of it).
    if (!qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX")) add("--no-zygote", "zygote");
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags);
    if (QCoreApplication::instance() == nullptr)
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

TShockwaveFlash::TShockwaveFlash(QWidget* parent, TFlashSettings settings)
    : TFlashControl(parent),
      settings_(std::move(settings)),
      playerFolder_(settings_.PlayerFolder.empty()
                        ? QCoreApplication::applicationDirPath() + "/ruffle/"
                        : WithSlash(QString::fromStdString(settings_.PlayerFolder))) {
    InitFlashResources();
    setFocusPolicy(Qt::StrongFocus);
    setContextMenuPolicy(Qt::NoContextMenu);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    movie_ = settings_.Movie;
}

TShockwaveFlash::~TShockwaveFlash() {
    // The page must go before its profile, and the profile before the scheme handler.
    delete view_;
    delete profile_;
}

void TShockwaveFlash::SetMovie(const std::string& movie) {
    movie_ = movie;
}

std::string TShockwaveFlash::Movie() const {
    return movie_;
}

void TShockwaveFlash::AddPermittedFolder(const std::string& folder) {
    const QFileInfo info(QString::fromStdString(folder));
    const QString canonical = info.canonicalFilePath();
    if (!canonical.isEmpty() && !permittedFolders_.contains(WithSlash(canonical)))
        permittedFolders_ << WithSlash(canonical);
    if (handler_) handler_->Permitted = permittedFolders_;
}

void TShockwaveFlash::SetPlayerFolder(const std::string& folder) {
    playerFolder_ = WithSlash(QString::fromStdString(folder));
    if (handler_) handler_->PlayerFolder = playerFolder_;
}

std::string TShockwaveFlash::PlayerFolder() const {
    return playerFolder_.toStdString();
}

void TShockwaveFlash::Play() {
    const QString url = MovieUrlFor(movie_);
    QStringList permitted = permittedFolders_;
    QString problem;
    if (url.startsWith("file:")) {
        const QString path = QUrl(url).toLocalFile();
        const QString canonical = QFileInfo(QFileInfo(path).absolutePath()).canonicalFilePath();
        if (!canonical.isEmpty()) permitted << WithSlash(canonical);
        problem = LocalMovieProblem(path, permitted);
    }
    EnsureView();
    movieUrl_ = url;
    ++serial_;
    handler_->MovieUrl = url;
    handler_->Permitted = permitted;
    if (!problem.isEmpty()) {
        // The player is given nothing: the pane is emptied and only this failure is reported.
        pending_ = false;
        if (pageReady_) page_->runJavaScript(QString("zephyrineBridge.clear()"));
        ReportFailure(serial_, problem);
        return;
    }
    pending_ = true;
    if (pageReady_ || !pageFailure_.isEmpty()) StartPending();
}

void TShockwaveFlash::WarmUp() {
    if (warming_ || serial_ != 0) return;
    warming_ = true;
    EnsureView();
    if (pageReady_) StartWarmUp();
}

void TShockwaveFlash::StartWarmUp() {
    if (serial_ == 0)
        page_->runJavaScript(QString("zephyrineBridge.warmUp(%1)").arg(OptionsJson()));
}

void TShockwaveFlash::EnsureView() {
    if (view_) return;
    PrepareProcess();                        // when it did not run before the application object
    profile_ = new QWebEngineProfile(this);  // no storage name: off the record
    handler_ = std::make_unique<TFlashSchemeHandler>();
    handler_->PlayerFolder = playerFolder_;
    handler_->OnMovieProblem = [this](const QString&, const QString& message) {
        ReportFailure(serial_, message);
    };
    profile_->installUrlSchemeHandler(kScheme, handler_.get());

    view_ = new QWebEngineView(this);
    view_->setContextMenuPolicy(Qt::NoContextMenu);
    page_ = new TFlashPage(profile_, view_, [this](const QString& json) { OnBridgeEvent(json); });
    QWebEngineSettings* s = page_->settings();
    s->setAttribute(QWebEngineSettings::PlaybackRequiresUserGesture, false);
    s->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    s->setAttribute(QWebEngineSettings::FullScreenSupportEnabled,
                    settings_.AllowFullScreen == "true");
    s->setAttribute(QWebEngineSettings::ShowScrollBars, false);
    view_->setPage(page_);
    connect(page_, &QWebEnginePage::loadFinished, this, [this](bool ok) {
        if (!ok) PageFailed("The preview page could not be loaded.");
    });
    layout()->addWidget(view_);
    setFocusProxy(view_);
    // The start of the engine above and the load of the page each hold the UI thread for a
    // while: in turns of their own, the window is drawn and handles input between them.
    QTimer::singleShot(0, page_, [this] {
        view_->show();
        page_->load(QUrl(kPageUrl));
    });
}

QString TShockwaveFlash::OptionsJson() const {
    const auto q = [](const std::string& s) { return QString::fromStdString(s); };
    QJsonObject o{
        {"autoplay", settings_.Playing ? "on" : "off"},
        {"unmuteOverlay", "hidden"},
        {"splashScreen", false},
        {"contextMenu", "off"},
        {"menu", settings_.Menu},
        {"openUrlMode", "deny"},
        {"allowScriptAccess", false},
        {"polyfills", false},
        {"upgradeToHttps", false},
        {"warnOnUnsupportedContent", false},
        {"showSwfDownload", false},
        {"preferredRenderer", "canvas"},  // no GPU: skip probing WebGPU and WebGL
        {"quality", q(settings_.Quality2).toLower()},
        {"scale", q(settings_.Scale).toLower()},
        {"wmode", q(settings_.WMode).toLower()},
        {"allowNetworking", q(settings_.AllowNetworking).toLower()},
        {"allowFullscreen", q(settings_.AllowFullScreen).toLower() == "true"},
    };
    if (!settings_.SAlign.empty()) o["salign"] = q(settings_.SAlign).toLower();
    if (!settings_.Base.empty()) o["base"] = q(settings_.Base);
    if (!settings_.BGColor.empty()) {
        QString colour = q(settings_.BGColor);
        if (!colour.startsWith('#')) colour.prepend('#');
        o["backgroundColor"] = colour;
    }
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

// The page cannot play anything: the movie handed over (now or later) fails with this text.
void TShockwaveFlash::PageFailed(const QString& message) {
    pageFailure_ = message;
    if (serial_ != 0) ReportFailure(serial_, message);
    if (warming_) emit WarmedUp();
}

void TShockwaveFlash::StartPending() {
    if (!pending_ || !page_) return;
    pending_ = false;
    if (!pageFailure_.isEmpty()) {
        ReportFailure(serial_, pageFailure_);
        return;
    }
    QJsonObject request{{"serial", static_cast<qint64>(serial_)}, {"url", movieUrl_}};
    const QString call =
        QString("zephyrineBridge.play(Object.assign(%1, {options: %2}))")
            .arg(QString::fromUtf8(QJsonDocument(request).toJson(QJsonDocument::Compact)),
                 OptionsJson());
    page_->runJavaScript(call);
}

void TShockwaveFlash::OnBridgeEvent(const QString& json) {
    const QJsonObject e = QJsonDocument::fromJson(json.toUtf8()).object();
    const QString event = e.value("event").toString();
    const auto serial = static_cast<std::uint64_t>(e.value("serial").toInteger());
    if (event == "ready") {
        pageReady_ = true;
        if (warming_) StartWarmUp();
        StartPending();
    } else if (event == "warm") {
        emit WarmedUp();
    } else if (event == "missing") {
        PageFailed(QString("The Flash player is missing from %1 (%2).")
                       .arg(playerFolder_, e.value("message").toString()));
    } else if (event == "panic" || event == "error") {
        if (serial != 0 && serial == serial_)  // 0: the warm-up's blank movie
            ReportFailure(serial, QString("The Flash player could not play %1: %2")
                                      .arg(movieUrl_, e.value("message").toString()));
    } else if (event == "frame") {
        if (serial != 0 && serial == serial_) emit FirstFrameDrawn();
    }
}

void TShockwaveFlash::ReportFailure(std::uint64_t serial, const QString& message) {
    if (serial == reportedSerial_) return;  // one report per movie handed over
    reportedSerial_ = serial;
    lastError_ = message;
    qWarning("Preview: %s", qUtf8Printable(message));
    emit MovieFailed(message);
}

}  // namespace zephyrine::platform

extern "C" Q_DECL_EXPORT zephyrine::platform::TFlashControl* ZephyrineCreateShockwaveFlash(
    QWidget* parent, const zephyrine::platform::TFlashSettings* settings) {
    return new zephyrine::platform::TShockwaveFlash(parent, *settings);
}
