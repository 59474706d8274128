// The catalogue update's files and its one rule for a downloaded catalogue: it may take the place
// of WinksList.dat only when the reply that brought it had a success status and it loads as the
// tree loads a catalogue; the replacement is one rename over the old file once the new one is on
// disk, so that at every instant WinksList.dat is the old catalogue or the new one, whole.
#pragma once

#include "platform/XMLDocument.h"

#include <stdexcept>
#include <string>

namespace zephyrine::app {

// On the catalogue server, under its root.
inline constexpr const char* kCountFileUrlPath = "/download/winkscount.txt";
inline constexpr const char* kNewCatalogueUrlPath = "/download/newnmpwinkslist.dat";
// In the data folder (TGlobal::DataFolder).
inline constexpr const char* kCountFileName = "winkscount.ini";
inline constexpr const char* kCatalogueFileName = "WinksList.dat";
inline constexpr const char* kNewCatalogueFileName = "WinksList.temp";

// The replies whose body may become the catalogue.
inline constexpr int kFirstSuccessCode = 200;
inline constexpr int kLastSuccessCode = 299;

// A download that may not become the catalogue; the text says why.
class ECatalogueRefused : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The number of items of the downloaded catalogue, the file named by doc's FileName, which is
// parsed into doc. Throws ECatalogueRefused when replyCode is no success status, when the file
// does not load as a catalogue, or when it holds no item (it cannot be the larger catalogue the
// server announced).
int AcceptDownloadedCatalogue(int replyCode, platform::TXMLDocument& doc);

// Starts writing file's bytes to disk without waiting, so that the flush of ReplaceByRename,
// after other work, has less left to wait for. Best effort: nothing is reported.
void StartWriteback(const std::string& file);

// Puts file's bytes on disk, then renames it over target and puts the folder's entry on disk.
// Throws std::runtime_error with the reason when the file cannot be flushed or renamed; target is
// then as it was.
void ReplaceByRename(const std::string& file, const std::string& target);

}  // namespace zephyrine::app
