// TfrmMainForm installing from a content file (.mca, .mco), given as the first command-line
// argument or dropped on the open window: the file is unpacked with the cabinet tool into the
// work folder and its movie previewed, then copied into the embedded server's folder and handed
// to the messenger's installer by its loopback URL.
#include "platform/Cabinet.h"
#include "platform/PrivateFolder.h"
#include "base/Process.h"
#include "app/uMainForm.h"

#include <QDropEvent>
#include <QUrl>

#include <filesystem>
#include <stdexcept>

namespace zephyrine::app {

namespace fs = std::filesystem;
using platform::TMsgIcon;

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

// TempFolder + "~MSNContent/", emptied, or made when missing. Neither folder is used when it is
// not a real folder private to this user.
std::string FreshWorkFolder(const TGlobal& global) {
    if (!platform::EnsurePrivateFolder(global.TempFolder))
        throw std::runtime_error("The temporary folder " + global.TempFolder +
                                 " is not a folder of this user's own.");
    const std::string work = global.TempFolder + kWorkFolderName;
    std::error_code ec;
    if (fs::exists(fs::symlink_status(work.substr(0, work.size() - 1), ec)))
        TGlobal::ClearFolder(work, "*.*");
    if (!platform::EnsurePrivateFolder(work))
        throw std::runtime_error("The work folder " + work +
                                 " is not a folder of this user's own.");
    return work;
}

// Runs the cabinet tool on cab into work and waits. A file that is no readable cabinet is left
// alone, as the tool would; one that names a file outside work is refused whole.
void Unpack(const std::string& cab, const std::string& work) {
    const auto names = platform::CabinetFileNames(cab);
    if (!names) return;
    for (const std::string& name : *names)
        if (platform::IsEscapingName(name))
            throw std::runtime_error("The content file names a file outside its folder: " + name);
    TGlobal::RunAndWait(
        platform::UnpackCommand(base::FindProgram(platform::kCabinetTool), work, cab), 0);
}

}  // namespace

void TfrmMainForm::UnpackAndPreview(const std::string& file) {
    try {
        std::string cab = Global.DataFolder + kPackFolder + kUnpackCabName;  // 1
        if (UpperFileExtension(file) == ".MCA") {                           // 2
            PackFolder(Global);
            // A copy that failed must not leave an older temp.cab to be shown instead.
            if (!TGlobal::CopyWithPrefix(file, cab)) throw Unreadable(file);
        } else {
            cab = file;
        }
        const std::string work = FreshWorkFolder(Global);  // 3
        Unpack(cab, work);                                 // 4
        std::string inner = TGlobal::FindPackFile(work);   // 5
        if (inner.empty()) return;
        inner = work + inner;                 // 6
        TGlobal::ClearFolder(work, "*.XML");  // 7: the folder stays, the pack is in it
        Unpack(inner, work);                  // 8
        const std::string swf = work + TGlobal::FindSwfFile(work);  // 9
        std::error_code ec;
        if (!fs::is_regular_file(fs::symlink_status(swf, ec)) || flsPreviewControl == nullptr)
            return;
        flsPreviewControl->SetMovie(swf);
        flsPreviewControl->Play();
    } catch (const std::exception& e) {
        SetStatusText(QString::fromStdString(e.what()));  // 10
    }
}

void TfrmMainForm::InstallFileThroughServer(const std::string& name, const std::string& file) {
    // With a port of the system's choice the URL is known only once the server listens.
    if (FServer->ListenPort() == 0) ActivateServer();
    if (Platform.UrlCache) Platform.UrlCache->DeleteUrlCacheEntry(LocalPackUrl());  // 1
    // 2: without a fresh pack the server would hand over whatever an earlier run left.
    if (PrepareLocalPack(file).empty()) throw Unreadable(file);
    ActivateServer();                                                    // 3
    ConnectedMsnInstaller().InstallFromUrl(LocalPackUrl());              // 4
    SetStatusText(QString::fromStdString(name) + " Installing" + "..");  // 5
}

std::string TfrmMainForm::PrepareLocalPack(const std::string& file) {
    const std::string dest = PackFolder(Global) + kLocalPackName;
    // A whole cabinet (an .mco) is handed over as it is; "M" + a whole cabinet is no cabinet.
    if (!CopyBehindPrefix(file, dest, TPrefixRule::UnlessCabinet, kLocalPackPause)) return {};
    return dest;
}

std::string TfrmMainForm::LocalPackUrl() const {
    const std::uint16_t port =
        FServer->Listening() ? FServer->ServingPort() : FServer->ListenPort();
    return "http://127.0.0.1:" + std::to_string(port) + "/" + kLocalPackName;
}

void TfrmMainForm::ActivateServer() {
    // The messenger is only ever given a loopback URL: nobody else is to reach the packs.
    if (!FServer->Listening()) {
        FServer->SetBindAddress(server::kLoopbackAddress);
        FServer->SetListening(true);
    }
}

// ---- dropped files ----------------------------------------------------------------------------

void TfrmMainForm::OpenDroppedFile(const std::string& file) {
    // A drop taken just before an update began arrives in its pump: the update has the commands.
    if (upgrading_) return;
    // A new single install, guarded like the others: the commands wait for its completion.
    SetActionsEnabled(false);
    FQueueMode = false;
    FInstallName.clear();
    UnpackAndPreview(file);
    try {
        InstallFileThroughServer("", file);
    } catch (const std::exception& e) {
        ShowMessage(e.what(), TMsgIcon::Error);
        SetActionsEnabled(true);  // no completion will follow
    }
}

// One local .mca or .mco file, while no install is under way; "" otherwise.
std::string TfrmMainForm::DroppedContentFile(const QMimeData* data) const {
    if (data == nullptr || !actInstallChe->isEnabled() || data->urls().size() != 1) return {};
    const QUrl url = data->urls().front();
    if (!url.isLocalFile()) return {};
    const std::string file = url.toLocalFile().toStdString();
    const std::string ext = UpperFileExtension(file);
    return ext == ".MCA" || ext == ".MCO" ? file : std::string();
}

bool TfrmMainForm::RouteContentFileDrag(QObject* receiver, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop) return false;
    auto* widget = qobject_cast<QWidget*>(receiver);
    if (widget == nullptr || (widget != this && !isAncestorOf(widget))) return false;
    // Every drag over the window ends here, so that the preview's web view never opens a
    // dropped file itself.
    auto* drop = static_cast<QDropEvent*>(event);
    const std::string file = DroppedContentFile(drop->mimeData());
    if (file.empty()) {
        drop->ignore();
        return true;
    }
    drop->acceptProposedAction();
    if (type == QEvent::Drop) {
        // Once the drop has been answered: the unpack blocks, and the source waits for us.
        QMetaObject::invokeMethod(
            this, [this, file] { OpenDroppedFile(file); }, Qt::QueuedConnection);
    }
    return true;
}

}  // namespace zephyrine::app
