// My Winks: the user's own library of the content files (.mca, .mco) opened in the program. The
// library is one folder that holds a copy of every file, named by its content (two copies of the
// same bytes are kept once), and a catalogue of the copies in the form of WinksList.dat with one
// category. Every write replaces its file by a rename, copy first and catalogue second, so that a
// crash or a full disk during an add leaves the library as it was before that file. Nothing
// outside the folder is ever written or removed.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace zephyrine::app {

// A write that failed, or a library catalogue that cannot be read.
class ELibraryError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct TLibraryItem {
    std::string Name;    // "WinkName": from the content's own XML, else the file's name
    std::string File;    // "File": the kept copy, a name inside the library folder
    std::string Source;  // "Source": the name of the file it was added from
};

enum class TAddOutcome { Added, Duplicate, NotCabinet, Unreadable };

struct TAddResult {
    TAddOutcome Outcome = TAddOutcome::NotCabinet;
    TLibraryItem Item;  // the new item, or for a duplicate the one that holds the same bytes
    std::string Error;  // NotCabinet, Unreadable: why, naming the file
};

class TWinkLibrary {
  public:
    static constexpr const char* kCatalogueName = "MyWinks.dat";
    static constexpr const char* kRootElement = "WinksList";
    static constexpr const char* kCategoryElement = "MyWinks";
    // The caption the tree shows for the category (an element name holds no blank).
    static constexpr const char* kCategoryCaption = "My Winks";
    static constexpr std::uintmax_t kMaxContentFileBytes = 64u << 20;
    static constexpr std::size_t kMaxNameChars = 200;

    // The library in folder (made at the first add). Reads its catalogue when there is one; one
    // that cannot be read is left as it is, LoadError says why, and the library refuses to
    // change until it can be read.
    explicit TWinkLibrary(std::string folder);

    const std::string& Folder() const { return folder_; }  // ends in "/"
    std::string CataloguePath() const { return folder_ + kCatalogueName; }
    std::string CopyPath(const TLibraryItem& item) const { return folder_ + item.File; }
    const std::vector<TLibraryItem>& Items() const { return items_; }
    const std::string& LoadError() const { return loadError_; }

    // Keeps a copy of the content file and lists it. A file that is no cabinet (an .mca is one
    // without its leading "M") is refused (NotCabinet), as is one that cannot be read or is too
    // large (Unreadable); nothing is written then. Throws ELibraryError when the library cannot
    // be written; it is then as it was.
    TAddResult Add(const std::string& file);

    // Takes the item with that kept copy off the list, then deletes the copy. False when there is
    // none. Throws ELibraryError when the catalogue cannot be written; nothing changed then.
    bool Remove(const std::string& copyFile);

  private:
    void Load();
    void WriteCatalogue(const std::vector<TLibraryItem>& items) const;
    void RequireReadable() const;

    std::string folder_;
    std::vector<TLibraryItem> items_;
    std::string loadError_;
};

// True for a name the import and the file dialogs take as a content file: .mca or .mco in any
// case.
bool IsContentFileName(const std::string& path);

}  // namespace zephyrine::app
