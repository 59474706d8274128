#include "platform/LazyFlash.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>

#include <dlfcn.h>

#include <map>
#include <mutex>
#include <stdexcept>

namespace zephyrine::platform {

namespace {

using TFactory = TFlashControl* (*)(QWidget*, const TFlashSettings*);

// The library stays loaded until the process ends: the engine it holds cannot be unloaded.
// Called from the UI thread and from a warm-up's loader thread.
TFactory LoadFactory(const std::string& path) {
    static std::mutex mutex;  // guards loaded
    static std::map<std::string, TFactory> loaded;
    const std::lock_guard lock(mutex);
    if (const auto it = loaded.find(path); it != loaded.end()) return it->second;
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr)
        throw std::runtime_error(std::string("The Flash player cannot be loaded: ") + dlerror());
    const auto factory =
        reinterpret_cast<TFactory>(dlsym(library, "ZephyrineCreateShockwaveFlash"));
    if (factory == nullptr)
        throw std::runtime_error("The Flash player library " + path + " has no player.");
    loaded[path] = factory;
    return factory;
}

}  // namespace

void TLazyFlash::PrepareProcess() {
    if (QCoreApplication::instance() == nullptr)
        QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    // The engine lists its start-up parameters on standard error each time it starts, which
    // now happens at every start of the program; QT_LOGGING_RULES can still turn them on.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false"));
}

TLazyFlash::TLazyFlash(QWidget* parent, TFlashSettings settings, std::string libraryFolder)
    : TFlashControl(parent),
      settings_(std::move(settings)),
      libraryFolder_(std::move(libraryFolder)) {
    if (libraryFolder_.empty())
        libraryFolder_ = QCoreApplication::applicationDirPath().toStdString();
    if (libraryFolder_.back() != '/') libraryFolder_ += '/';
    movie_ = settings_.Movie;
    setFocusPolicy(Qt::StrongFocus);
    setContextMenuPolicy(Qt::NoContextMenu);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
}

TLazyFlash::~TLazyFlash() {
    if (loader_.joinable()) loader_.join();
}

void TLazyFlash::SetMovie(const std::string& movie) {
    movie_ = movie;
    if (player_) player_->SetMovie(movie);
}

std::string TLazyFlash::Movie() const {
    return movie_;
}

void TLazyFlash::Load() {
    if (loader_.joinable()) loader_.join();
    if (player_) return;
    const TFactory factory = LoadFactory(LibraryPath());
    player_ = factory(this, &settings_);
    connect(player_, SIGNAL(MovieFailed(QString)), this, SIGNAL(MovieFailed(QString)));
    connect(player_, SIGNAL(FirstFrameDrawn()), this, SIGNAL(FirstFrameDrawn()));
    connect(player_, SIGNAL(WarmedUp()), this, SIGNAL(WarmedUp()));
    layout()->addWidget(player_);
    setFocusProxy(player_);
    player_->show();
    if (hasFocus()) player_->setFocus();
}

void TLazyFlash::Play() {
    Load();
    player_->SetMovie(movie_);
    player_->Play();
}

void TLazyFlash::WarmUp() {
    if (warmUpStarted_ || player_) return;
    warmUpStarted_ = true;
    // The browser engine is a large library: its loading and relocation would stall the window.
    loader_ = std::thread([this, path = LibraryPath()] {
        try {
            LoadFactory(path);
        } catch (const std::exception&) {
            // Play loads it again and reports the failure.
        }
        QMetaObject::invokeMethod(this, &TLazyFlash::FinishWarmUp, Qt::QueuedConnection);
    });
}

void TLazyFlash::FinishWarmUp() {
    if (player_) return;  // a Play came first
    try {
        Load();
    } catch (const std::exception&) {
        emit WarmedUp();  // nothing to warm: Play reports why
        return;
    }
    player_->WarmUp();
}

void TLazyFlash::WarmUpWhenShown() {
    warmUpWhenShown_ = true;
    update();
}

void TLazyFlash::paintEvent(QPaintEvent* event) {
    TFlashControl::paintEvent(event);
    if (!warmUpWhenShown_) return;
    warmUpWhenShown_ = false;
    // A zero timer runs once the events queued by the first showing have been handled.
    QTimer::singleShot(0, this, &TLazyFlash::WarmUp);
}

}  // namespace zephyrine::platform
