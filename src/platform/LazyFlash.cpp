#include "platform/LazyFlash.h"

#include <QCoreApplication>
#include <QVBoxLayout>

#include <dlfcn.h>

#include <map>
#include <stdexcept>

namespace zephyrine::platform {

namespace {

using TFactory = TFlashControl* (*)(QWidget*, const TFlashSettings*);

// The library stays loaded until the process ends: the engine it holds cannot be unloaded.
TFactory LoadFactory(const std::string& path) {
    static std::map<std::string, TFactory> loaded;
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

TLazyFlash::~TLazyFlash() = default;

void TLazyFlash::SetMovie(const std::string& movie) {
    movie_ = movie;
    if (player_) player_->SetMovie(movie);
}

std::string TLazyFlash::Movie() const {
    return movie_;
}

void TLazyFlash::Load() {
    if (player_) return;
    const TFactory factory = LoadFactory(libraryFolder_ + kLibraryName);
    player_ = factory(this, &settings_);
    connect(player_, SIGNAL(MovieFailed(QString)), this, SIGNAL(MovieFailed(QString)));
    connect(player_, SIGNAL(FirstFrameDrawn()), this, SIGNAL(FirstFrameDrawn()));
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

}  // namespace zephyrine::platform
