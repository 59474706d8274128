// Importing a folder into My Winks: every content file (.mca, .mco) under it, in all its
// subfolders, is added to the library, one file per turn of the event loop so that the window
// stays live. Each add is whole or not at all, so a cancel or a failed write never leaves a file
// half-added.
#pragma once

#include "app/WinkLibrary.h"

#include <QObject>
#include <QTimer>

#include <filesystem>
#include <string>
#include <vector>

namespace zephyrine::app {

class TLibraryImport : public QObject {
    Q_OBJECT
  public:
    // Folder entries looked at per turn while the folder is walked.
    static constexpr int kEntriesPerTurn = 256;

    explicit TLibraryImport(TWinkLibrary& library, QObject* parent = nullptr);

    // Begins importing folder; false (and nothing starts) while an import runs.
    bool Start(const std::string& folder);
    // Stops after the file being added now; Finished follows at once.
    void Cancel();
    bool Running() const { return timer_.isActive(); }
    bool Cancelled() const { return cancelled_; }

    int AddedCount() const { return added_; }
    int NotCabinetCount() const { return notCabinet_; }
    int DuplicateCount() const { return duplicates_; }
    int UnreadableCount() const { return unreadable_; }

  signals:
    // done of total content files handled; total is 0 while the folder is still being walked.
    void Progress(int done, int total);
    // A file kept in the library: its item is Items()[index].
    void ItemAdded(int index);
    // The library could not be written; the import stops there (Finished follows).
    void Failed(const QString& message);
    void Finished(int added, int skippedNotCabinet, int duplicates, int unreadable);

  private:
    void Step();
    void Walk();
    void AddNext();
    void Finish();

    TWinkLibrary& library_;
    QTimer timer_;
    std::filesystem::recursive_directory_iterator walk_;
    bool walking_ = false;
    std::filesystem::path libraryFolder_;  // never imported into itself
    std::vector<std::string> files_;
    std::size_t next_ = 0;
    bool cancelled_ = false;
    int added_ = 0;
    int notCabinet_ = 0;
    int duplicates_ = 0;
    int unreadable_ = 0;
};

}  // namespace zephyrine::app
