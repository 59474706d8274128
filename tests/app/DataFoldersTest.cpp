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

// An installed program: bin/ and share/zephyrine/ under a prefix, the per-user folders in a home
// of the test's own, and the folders decided for it.
class Installed : public ::testing::Test {
  protected:
    Installed()
        : dataHome("XDG_DATA_HOME", dir / "home/data"),
          configHome("XDG_CONFIG_HOME", dir / "home/config") {
        fs::create_directories(dir / "prefix/bin");
        WriteFile(dir / "prefix/share/zephyrine/WinksList.dat", kSample);
        folders = DataFoldersFor(dir / "prefix/bin/");
    }
    std::string UserData() const { return dir / "home/data/zephyrine/"; }

    TTempDir dir;
    TScopedEnv dataHome, configHome;
    TDataFolders folders;
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

TEST_F(Installed, ReadsUnderThePrefixAndWritesPerUser) {
    EXPECT_TRUE(folders.Installed);
    EXPECT_EQ(folders.AppFolder, dir / "prefix/share/zephyrine/");
    EXPECT_EQ(folders.PlayerFolder, dir / "prefix/share/zephyrine/ruffle/");
    EXPECT_EQ(folders.DataFolder, UserData());
    EXPECT_EQ(folders.ConfigFolder, dir / "home/config/zephyrine/");
    EXPECT_EQ(folders.LibraryFolder.rfind(dir / "prefix/lib", 0), 0u) << folders.LibraryFolder;

    PrepareDataFolders(folders);
    EXPECT_EQ(ReadFile(UserData() + "WinksList.dat"), kSample);
    EXPECT_TRUE(fs::is_empty(dir / "home/config/zephyrine"));  // Config.ini is not created
    const TGlobal global(folders, "");
    EXPECT_TRUE(global.Installed);
    EXPECT_EQ(global.DataFolder, UserData());
    EXPECT_EQ(global.ConfigPath, dir / "home/config/zephyrine/Config.ini");
    EXPECT_EQ(global.SkinPath, dir / "prefix/share/zephyrine/Skins/MacOS.sui");
}

TEST_F(Installed, AnUpdatedCatalogueIsNeverReplacedByTheSample) {
    WriteFile(UserData() + "WinksList.dat", "<WinksList><New/></WinksList>\n");
    PrepareDataFolders(folders);
    EXPECT_EQ(ReadFile(UserData() + "WinksList.dat"), "<WinksList><New/></WinksList>\n");
    // Nothing half-copied is left beside it either.
    EXPECT_EQ(std::distance(fs::directory_iterator(UserData()), fs::directory_iterator()), 1);
}

TEST_F(Installed, ACatalogueThatCannotBeCopiedIsReported) {
    // The per-user folder's name is taken by a file.
    WriteFile(dir / "home/data/zephyrine", "");
    EXPECT_THROW(PrepareDataFolders(folders), std::runtime_error);
}

TEST_F(Installed, TheProgramLeavesTheAssociationToThePackage) {
    TGlobal global(folders, "");
    global.EnsureFileAssociation();
    EXPECT_FALSE(fs::exists(TGlobal::DesktopEntryPath()));
    EXPECT_FALSE(fs::exists(TGlobal::MimePackagePath()));
}
