#include "app/ContentFileInstall.h"

#include "base/Process.h"
#include "platform/Cabinet.h"
#include "platform/PrivateFolder.h"

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <thread>

namespace zephyrine::app {

namespace fs = std::filesystem;

namespace {

constexpr const char* kWorkFolderName = "~MSNContent/";
constexpr const char* kUnpackCabName = "temp.cab";  // an .mca made whole for unpacking
constexpr const char* kLocalPackName = "temppack11.cab";
constexpr std::chrono::milliseconds kLocalPackPause{100};

std::runtime_error Unreadable(const std::string& file) {
    return std::runtime_error("The content file cannot be read: " + file);
}

// The pack folder in the data folder, made when it is missing.
std::string PackFolder(const TGlobal& global) {
    const std::string folder = global.DataFolder + kPackFolder;
    std::error_code ec;
    fs::create_directories(folder, ec);
    return folder;
}

// Runs the cabinet tool on cab into work and waits. A file that is no readable cabinet is left
// alone, as the tool would; one that names a file outside work is refused whole.
void UnpackCabinet(const std::string& cab, const std::string& work) {
    const auto names = platform::CabinetFileNames(cab);
    if (!names) return;
    for (const std::string& name : *names)
        if (platform::IsEscapingName(name))
            throw std::runtime_error("The content file names a file outside its folder: " + name);
    TGlobal::RunAndWait(
        platform::UnpackCommand(base::FindProgram(platform::kCabinetTool), work, cab), 0);
}

// The work folder inside temp, emptied, or made when missing. It is not used when it is not a
// real folder private to this user.
std::string FreshWorkFolder(const std::string& temp) {
    const std::string work = temp + kWorkFolderName;
    std::error_code ec;
    if (fs::exists(fs::symlink_status(work.substr(0, work.size() - 1), ec)))
        TGlobal::ClearFolder(work, "*.*");
    if (!platform::EnsurePrivateFolder(work))
        throw std::runtime_error("The work folder " + work +
                                 " is not a folder of this user's own.");
    return work;
}

}  // namespace

TContentFileInstall::TContentFileInstall(TGlobal& global, server::TCustomWebServer& server,
                                         TInstallQueue& queue, platform::IUrlCache* urlCache,
                                         QObject* parent)
    : QObject(parent), Global(global), FServer(server), installs_(queue), urlCache_(urlCache) {}

TContentFileInstall::~TContentFileInstall() {
    if (worker_.joinable()) worker_.join();
    if (ownTempFolder_.empty()) return;
    std::error_code ec;
    fs::remove_all(ownTempFolder_, ec);  // links inside are removed, never followed
}

std::string TContentFileInstall::TempFolder() {
    if (!ownTempFolder_.empty() && platform::IsPrivateFolder(ownTempFolder_)) return ownTempFolder_;
    if (platform::EnsurePrivateFolder(Global.TempFolder)) return Global.TempFolder;
    // The name is taken by something else (a link, another owner, open permissions): anyone
    // who can write the shared folder could otherwise stop every preview.
    ownTempFolder_ = platform::MakeFreshPrivateFolder();
    if (ownTempFolder_.empty())
        throw std::runtime_error("The temporary folder " + Global.TempFolder +
                                 " is not a folder of this user's own, and no private folder"
                                 " can be made instead.");
    return ownTempFolder_;
}

TContentFileInstall::TUnpacked TContentFileInstall::Unpack(const std::string& file,
                                                           const TLockedSource& source,
                                                           const std::string& temp) const {
    TUnpacked result;
    try {
        std::string cab = Global.DataFolder + kPackFolder + kUnpackCabName;
        if (UpperFileExtension(file) == ".MCA") {
            PackFolder(Global);
            // A copy that failed must not leave an older temp.cab to be shown instead.
            if (!TGlobal::CopyWithPrefix(source, cab)) throw Unreadable(file);
        } else {
            cab = file;
        }
        const std::string work = FreshWorkFolder(temp);
        UnpackCabinet(cab, work);
        std::string inner = TGlobal::FindPackFile(work);
        if (inner.empty()) return result;
        inner = work + inner;
        TGlobal::ClearFolder(work, "*.XML");  // the folder stays: the inner pack is in it
        UnpackCabinet(inner, work);
        const std::string swf = work + TGlobal::FindSwfFile(work);
        std::error_code ec;
        if (fs::is_regular_file(fs::symlink_status(swf, ec))) result.Movie = swf;
    } catch (const std::exception& e) {
        result.Refusal = e.what();
    }
    return result;
}

void TContentFileInstall::Show(const TUnpacked& unpacked) {
    refusal_ = unpacked.Refusal;
    if (!refusal_.empty())
        emit StatusText(QString::fromStdString(refusal_));
    else if (!unpacked.Movie.empty())
        emit PreviewMovie(QString::fromStdString(unpacked.Movie));
}

void TContentFileInstall::UnpackAndPreview(const std::string& file) {
    FinishBackground();  // one unpack at a time in the work folder
    TUnpacked unpacked;
    try {
        const std::string temp = TempFolder();
        unpacked = Unpack(file, TLockedSource(file), temp);
    } catch (const std::exception& e) {
        unpacked.Refusal = e.what();
    }
    Show(unpacked);
}

void TContentFileInstall::InstallFileThroughServer(const std::string& name,
                                                   const std::string& file) {
    ForgetCachedPack();
    // Without a fresh pack the server would hand over whatever an earlier run left.
    if (PrepareLocalPack(file).empty()) throw Unreadable(file);
    HandOver(name);
}

void TContentFileInstall::ForgetCachedPack() {
    // With a port of the system's choice the URL is known only once the server listens.
    if (FServer.ListenPort() == 0) ActivateServer();
    if (urlCache_ != nullptr) urlCache_->DeleteUrlCacheEntry(LocalPackUrl());
}

void TContentFileInstall::HandOver(const std::string& name) {
    ActivateServer();
    // A refused preview stays said in the install's texts.
    const std::string remark = refusal_.empty() ? "" : "Not previewed: " + refusal_;
    installs_.InstallOne({LocalPackUrl(), name, remark});
    if (!installs_.Pending()) return;  // the hand-over failed, and said why
    emit StatusText(
        QString::fromStdString(name + " Installing" + ".." + (remark.empty() ? "" : " " + remark)));
}

void TContentFileInstall::OpenInBackground(const std::string& name, const std::string& file,
                                           std::function<void(std::exception_ptr)> done) {
    FinishBackground();
    opening_ = true;
    previewDropped_ = false;
    std::string temp;
    std::string refusal;
    try {
        temp = TempFolder();
    } catch (const std::exception& e) {
        refusal = e.what();
    }
    std::exception_ptr failure;
    try {
        ForgetCachedPack();
    } catch (...) {
        failure = std::current_exception();
    }
    auto job = [this, name, file, temp, refusal, failure, done = std::move(done)] {
        // One lock for both copies: taken again, it could be refused while a process that the
        // UI thread starts meanwhile (the player's) still holds a copy of the first descriptor.
        const TLockedSource source(file);
        TUnpacked unpacked =
            refusal.empty() ? Unpack(file, source, temp) : TUnpacked{{}, refusal};
        const bool packed = !failure && !PrepareLocalPack(source).empty();
        QMetaObject::invokeMethod(
            this,
            [this, name, file, unpacked, packed, failure, done] {
                TUnpacked shown = unpacked;
                if (previewDropped_) shown.Movie.clear();
                Show(shown);
                std::exception_ptr error = failure;
                try {
                    if (!error && !packed) throw Unreadable(file);
                    if (!error) HandOver(name);
                } catch (...) {
                    error = std::current_exception();
                }
                opening_ = false;
                done(error);
            },
            Qt::QueuedConnection);
    };
    try {
        worker_ = std::thread(job);
    } catch (const std::system_error&) {
        job();  // no thread to be had: the same work on this one, its end still in the loop
    }
}

void TContentFileInstall::FinishBackground() {
    if (worker_.joinable()) worker_.join();
    previewDropped_ = true;  // a later unpack's movie is the one to show
}

std::string TContentFileInstall::PrepareLocalPack(const std::string& file) {
    return PrepareLocalPack(TLockedSource(file));
}

std::string TContentFileInstall::PrepareLocalPack(const TLockedSource& source) {
    const std::string dest = PackFolder(Global) + kLocalPackName;
    // A whole cabinet (an .mco) is handed over as it is; "M" + a whole cabinet is no cabinet.
    if (!CopyBehindPrefix(source, dest, TPrefixRule::UnlessCabinet, kLocalPackPause)) return {};
    return dest;
}

std::string TContentFileInstall::LocalPackUrl() const {
    const std::uint16_t port = FServer.Listening() ? FServer.ServingPort() : FServer.ListenPort();
    return "http://127.0.0.1:" + std::to_string(port) + "/" + kLocalPackName;
}

void TContentFileInstall::ActivateServer() {
    // The messenger is only ever given a loopback URL: nobody else is to reach the packs.
    if (!FServer.Listening()) {
        FServer.SetBindAddress(server::kLoopbackAddress);
        FServer.SetListening(true);
    }
}

}  // namespace zephyrine::app
