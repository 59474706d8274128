#include "app/LibraryImport.h"

#include <algorithm>

namespace zephyrine::app {

namespace fs = std::filesystem;

namespace {

fs::path Canonical(const fs::path& path) {
    std::error_code ec;
    const fs::path canonical = fs::weakly_canonical(path, ec);
    return ec ? path : canonical;
}

}  // namespace

TLibraryImport::TLibraryImport(TWinkLibrary& library, QObject* parent)
    : QObject(parent), library_(library) {
    timer_.setInterval(0);
    connect(&timer_, &QTimer::timeout, this, &TLibraryImport::Step);
}

bool TLibraryImport::Start(const std::string& folder) {
    if (Running()) return false;
    files_.clear();
    next_ = 0;
    cancelled_ = false;
    added_ = notCabinet_ = duplicates_ = unreadable_ = 0;
    libraryFolder_ = Canonical(library_.Folder());
    std::error_code ec;
    // Links to folders are not followed: a link back up the tree would never end.
    walk_ =
        fs::recursive_directory_iterator(folder, fs::directory_options::skip_permission_denied, ec);
    walking_ = !ec;
    timer_.start();
    emit Progress(0, 0);
    return true;
}

void TLibraryImport::Cancel() {
    if (!Running()) return;
    cancelled_ = true;
    Finish();
}

void TLibraryImport::Step() {
    if (walking_)
        Walk();
    else
        AddNext();
}

void TLibraryImport::Walk() {
    std::error_code ec;
    for (int n = 0; n < kEntriesPerTurn && walk_ != fs::recursive_directory_iterator();
         ++n, walk_.increment(ec)) {
        if (ec) break;
        std::error_code sec;
        const fs::file_status status = walk_->symlink_status(sec);
        if (fs::is_directory(status)) {
            if (Canonical(walk_->path()) == libraryFolder_) walk_.disable_recursion_pending();
            continue;
        }
        if (IsContentFileName(walk_->path().filename().string()) &&
            fs::is_regular_file(walk_->status(sec)))
            files_.push_back(walk_->path().string());
    }
    if (!ec && walk_ != fs::recursive_directory_iterator()) return;
    walking_ = false;
    walk_ = {};
    std::sort(files_.begin(), files_.end());  // the same order on every file system
    emit Progress(0, static_cast<int>(files_.size()));
    if (files_.empty()) Finish();
}

void TLibraryImport::AddNext() {
    if (next_ >= files_.size()) {
        Finish();
        return;
    }
    const std::string& file = files_[next_++];
    try {
        const TAddResult result = library_.Add(file);
        switch (result.Outcome) {
            case TAddOutcome::Added:
                ++added_;
                emit ItemAdded(static_cast<int>(library_.Items().size()) - 1);
                if (!Running()) return;  // cancelled by a receiver
                break;
            case TAddOutcome::Duplicate:
                ++duplicates_;
                break;
            case TAddOutcome::NotCabinet:
                ++notCabinet_;
                break;
            case TAddOutcome::Unreadable:
                ++unreadable_;
                break;
        }
    } catch (const ELibraryError& e) {
        emit Progress(static_cast<int>(next_), static_cast<int>(files_.size()));
        emit Failed(QString::fromStdString(e.what()));
        Finish();
        return;
    }
    emit Progress(static_cast<int>(next_), static_cast<int>(files_.size()));
    if (next_ >= files_.size()) Finish();
}

void TLibraryImport::Finish() {
    timer_.stop();
    walking_ = false;
    walk_ = {};
    emit Finished(added_, notCabinet_, duplicates_, unreadable_);
}

}  // namespace zephyrine::app
