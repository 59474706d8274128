// Where the program reads and writes: decided by the layout of its folder, and the per-user
// folders of an installed program made on the first start without losing anything later.
#include "support/AppTestSupport.h"
#include "app/DataFolders.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using zephyrine::app::DataFoldersFor;
using zephyrine::app::PrepareDataFolders;
using zephyrine::app::TDataFolders;
using zephyrine::app::TGlobal;
using zephyrine::test::ReadFile;
using zephyrine::test::TScopedEnv;
using zephyrine::test::TTempDir;
using zephyrine::test::WriteFile;

namespace {

constexpr const char* kSample = "<WinksList><Love/></WinksList>\n";

struct TInstalledPrefix {
    TInstalledPrefix()
        : dataHome("XDG_DATA_HOME", dir / "home/data"),
          configHome("XDG_CONFIG_HOME", dir / "home/config") {
        fs::create_directories(dir / "prefix/bin");
        WriteFile(dir / "prefix/share/zephyrine/WinksList.dat", kSample);
    }
    std::string Bin() const { return dir / "prefix/bin/"; }
    std::string UserData() const { return dir / "home/data/zephyrine/"; }

    TTempDir dir;
    TScopedEnv dataHome, configHome;
};

}  // namespace

TEST(DataFolders, ProgramFolderKeepsEverythingBesideTheExecutable) {
    TTempDir dir;
    // A build folder: bin/ with the catalogue beside the program and no share/ beside bin/.
    WriteFile(dir / "bin/WinksList.dat", kSample);
    const TDataFolders folders = DataFoldersFor(dir / "bin");
    EXPECT_FALSE(folders.Installed);
    for (const std::string& f : {folders.AppFolder, folders.DataFolder, folders.ConfigFolder,
                                 folders.LibraryFolder})
        EXPECT_EQ(f, dir / "bin/");
    EXPECT_EQ(folders.PlayerFolder, dir / "bin/ruffle/");
    PrepareDataFolders(folders);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "bin"), fs::directory_iterator()), 1);

    const TGlobal global(folders, "");
    EXPECT_FALSE(global.Installed);
    EXPECT_EQ(global.ConfigPath, dir / "bin/Config.ini");
}

TEST(DataFolders, InstalledReadsUnderThePrefixAndWritesPerUser) {
    const TInstalledPrefix p;
    const TDataFolders folders = DataFoldersFor(p.Bin());
    EXPECT_TRUE(folders.Installed);
    EXPECT_EQ(folders.AppFolder, p.dir / "prefix/share/zephyrine/");
    EXPECT_EQ(folders.PlayerFolder, p.dir / "prefix/share/zephyrine/ruffle/");
    EXPECT_EQ(folders.DataFolder, p.UserData());
    EXPECT_EQ(folders.ConfigFolder, p.dir / "home/config/zephyrine/");
    EXPECT_EQ(folders.LibraryFolder.rfind(p.dir / "prefix/lib", 0), 0u) << folders.LibraryFolder;

    PrepareDataFolders(folders);
    EXPECT_EQ(ReadFile(p.UserData() + "WinksList.dat"), kSample);
    EXPECT_TRUE(fs::is_empty(p.dir / "home/config/zephyrine"));  // Config.ini is not created
    const TGlobal global(folders, "");
    EXPECT_TRUE(global.Installed);
    EXPECT_EQ(global.DataFolder, p.UserData());
    EXPECT_EQ(global.ConfigPath, p.dir / "home/config/zephyrine/Config.ini");
    EXPECT_EQ(global.SkinPath, p.dir / "prefix/share/zephyrine/Skins/MacOS.sui");
}

TEST(DataFolders, AnUpdatedCatalogueIsNeverReplacedByTheSample) {
    const TInstalledPrefix p;
    const TDataFolders folders = DataFoldersFor(p.Bin());
    WriteFile(p.UserData() + "WinksList.dat", "<WinksList><New/></WinksList>\n");
    PrepareDataFolders(folders);
    EXPECT_EQ(ReadFile(p.UserData() + "WinksList.dat"), "<WinksList><New/></WinksList>\n");
    // Nothing half-copied is left beside it either.
    EXPECT_EQ(std::distance(fs::directory_iterator(p.UserData()), fs::directory_iterator()), 1);
}

TEST(DataFolders, ACatalogueThatCannotBeCopiedIsReported) {
    const TInstalledPrefix p;
    const TDataFolders folders = DataFoldersFor(p.Bin());
    // The per-user folder's name is taken by a file.
    WriteFile(p.dir / "home/data/zephyrine", "");
    EXPECT_THROW(PrepareDataFolders(folders), std::runtime_error);
}

TEST(DataFolders, TheInstalledProgramLeavesTheAssociationToThePackage) {
    const TInstalledPrefix p;
    TGlobal global(DataFoldersFor(p.Bin()), "");
    global.EnsureFileAssociation();
    EXPECT_FALSE(fs::exists(TGlobal::DesktopEntryPath()));
    EXPECT_FALSE(fs::exists(TGlobal::MimePackagePath()));
}
