// Where the program finds what it only reads and where it writes, decided once, by the layout of
// the folder it runs from:
// - a program folder (the build folder, or any copy of it): everything beside the executable;
// - installed (PREFIX/bin/zephyrine with its data in PREFIX/share/zephyrine/): the read-only data
//   stays under the prefix; the catalogue, the update's files and msnpack/ go to
//   $XDG_DATA_HOME/zephyrine/, Config.ini to $XDG_CONFIG_HOME/zephyrine/, and nothing under the
//   prefix is written. The package's desktop entry and MIME package carry the file association.
#pragma once

#include <string>

namespace zephyrine::app {

// What marks the installed data folder: the sample catalogue shipped there.
inline constexpr const char* kSampleCatalogueName = "WinksList.dat";
// The player's files under the folder that holds the read-only data.
inline constexpr const char* kPlayerFolderName = "ruffle/";
// The per-user folder's name under $XDG_DATA_HOME and $XDG_CONFIG_HOME.
inline constexpr const char* kUserFolderName = "zephyrine";

struct TDataFolders {
    bool Installed = false;
    std::string AppFolder;      // read-only data: the sample catalogue, Skins/, the player files
    std::string DataFolder;     // written: WinksList.dat, WinksList.temp, winkscount.ini, msnpack/
    std::string ConfigFolder;   // holds Config.ini
    std::string LibraryFolder;  // holds the player library
    std::string PlayerFolder;   // the player's files
};

// Every folder ends in "/".
TDataFolders DataFoldersFor(const std::string& executableFolder);

// Installed: makes the per-user folders and, when the per-user catalogue is missing, copies the
// sample there (beside it first, then renamed, so that an interrupted copy is never taken for a
// catalogue). Config.ini is not created. Nothing for a program folder. Throws
// std::runtime_error when a folder cannot be made or the copy fails.
void PrepareDataFolders(const TDataFolders& folders);

}  // namespace zephyrine::app
