#include "support/AppTestSupport.h"
#include "app/WinksGlobal.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

namespace fs = std::filesystem;
using zephyrine::app::TGlobal;
using zephyrine::test::ReadFile;
using zephyrine::test::TScopedEnv;
using zephyrine::test::TTempDir;
using zephyrine::test::WriteFile;

// ---- creation and settings --------------------------------------------------------------------

TEST(TGlobal, CreationWithoutConfigIni) {
    TTempDir dir;
    TScopedEnv tmp("TMPDIR", "/var/tmp");
    TGlobal global(dir.Path().string(), "http://content.test");  // no trailing "/" given
    EXPECT_EQ(global.AppFolder, dir.Folder());
    EXPECT_EQ(global.ConfigPath, dir.Folder() + "Config.ini");
    EXPECT_EQ(global.CurrentWinks, 0);
    EXPECT_EQ(global.SkinFile, "MacOS.sui");
    EXPECT_EQ(global.SkinPath, dir.Folder() + "Skins/MacOS.sui");
    EXPECT_EQ(global.TempFolder, "/var/tmp/zephyrine-" + std::to_string(geteuid()) + "/");
    EXPECT_EQ(global.PreviewBaseUrl, "http://content.test/download/previewback/");
    EXPECT_FALSE(fs::exists(global.ConfigPath));  // never created at start
    EXPECT_TRUE(fs::is_empty(dir.Path()));
}

TEST(TGlobal, TempFolderDefaultsToTmp) {
    TTempDir dir;
    unsetenv("TMPDIR");
    EXPECT_EQ(TGlobal(dir.Folder(), "").TempFolder,
              "/tmp/zephyrine-" + std::to_string(geteuid()) + "/");
}

TEST(TGlobal, BaseUrls) {
    EXPECT_EQ(zephyrine::app::DownloadBaseUrlFor("http://h:1"), "http://h:1/download/");
    EXPECT_EQ(zephyrine::app::PreviewBaseUrlFor("http://h:1"), "http://h:1/download/previewback/");
}

TEST(TGlobal, LoadSettingsReadsConfigIni) {
    TTempDir dir;
    WriteFile(dir / "Config.ini", "[Config]\nCurrentWinks=0x1F\nSkinFile=Blue.sui\n");
    TGlobal global(dir.Folder(), "");
    EXPECT_EQ(global.CurrentWinks, 31);
    EXPECT_EQ(global.SkinFile, "Blue.sui");
    EXPECT_EQ(global.SkinPath, dir.Folder() + "Skins/Blue.sui");
}

TEST(TGlobal, CurrentWinksNotANumberIsZero) {
    TTempDir dir;
    WriteFile(dir / "Config.ini", "[Config]\nCurrentWinks=abc\n");
    EXPECT_EQ(TGlobal(dir.Folder(), "").CurrentWinks, 0);
}

TEST(TGlobal, SaveSettingsKeepsOtherKeysSectionsAndComments) {
    TTempDir dir;
    WriteFile(dir / "Config.ini",
              ";comment\n[Config]\nSkinFile=Blue.sui\nCurrentWinks=3\nOther=1\n[More]\nX=y\n");
    TGlobal global(dir.Folder(), "");
    global.CurrentWinks = 250;
    global.SaveSettings();
    EXPECT_EQ(ReadFile(dir / "Config.ini"),
              ";comment\n[Config]\nSkinFile=Blue.sui\nCurrentWinks=250\nOther=1\n[More]\nX=y\n");
}

TEST(TGlobal, ReadCountFile) {
    TTempDir dir;
    EXPECT_EQ(TGlobal::ReadCountFile(dir / "missing.ini"), 0);
    WriteFile(dir / "count.ini", "[Config]\nCurrentWinks=140\n");
    EXPECT_EQ(TGlobal::ReadCountFile(dir / "count.ini"), 140);
    WriteFile(dir / "nosection.ini", "CurrentWinks=140\n");
    EXPECT_EQ(TGlobal::ReadCountFile(dir / "nosection.ini"), 0);
    WriteFile(dir / "html.ini", "<html><body>404 Not Found</body></html>\n");
    EXPECT_EQ(TGlobal::ReadCountFile(dir / "html.ini"), 0);
    WriteFile(dir / "abc.ini", "[Config]\nCurrentWinks=abc\n");
    EXPECT_EQ(TGlobal::ReadCountFile(dir / "abc.ini"), 0);
}

// ---- RunAndWait -------------------------------------------------------------------------------

// The exit code is known only once the child has ended: what it did is done by then.
TEST(RunAndWait, WaitsForTheChildAndReturnsItsExitCode) {
    EXPECT_EQ(TGlobal::RunAndWait({"true"}), 0);
    EXPECT_EQ(TGlobal::RunAndWait({"false"}), 1);
    TTempDir dir;
    EXPECT_EQ(TGlobal::RunAndWait({"sh", "-c", "echo done > \"$0\"; exit 42", dir / "f"}), 42);
    EXPECT_EQ(ReadFile(dir / "f"), "done\n");
}

TEST(RunAndWait, MinusOneWhenTheProgramCannotStart) {
    EXPECT_EQ(TGlobal::RunAndWait({"/no/such/program"}), -1);
    EXPECT_EQ(TGlobal::RunAndWait({"zephyrine-no-such-program-on-path"}), -1);
    EXPECT_EQ(TGlobal::RunAndWait({}), -1);
    TTempDir dir;
    WriteFile(dir / "not-executable", "#!/bin/sh\nexit 0\n");
    EXPECT_EQ(TGlobal::RunAndWait({dir / "not-executable"}), -1);
}

TEST(RunAndWait, ArgumentsReachTheProgramUnchangedWithoutAShell) {
    TTempDir dir;
    const std::string marker = dir / "marker";
    const std::string out = dir / "out";
    // A file name with shell syntax in it is one argument, never a command.
    const std::string tricky = "a b; touch " + marker + " $(touch " + marker + ")";
    EXPECT_EQ(TGlobal::RunAndWait({"sh", "-c", "printf '%s' \"$1\" > \"$2\"", "sh", tricky, out}),
              0);
    EXPECT_EQ(ReadFile(out), tricky);
    EXPECT_FALSE(fs::exists(marker));
}

TEST(RunAndWait, NoInheritedDescriptors) {
    TTempDir dir;
    // fd 3 and above of the caller are closed in the child: /proc/self/fd lists 0, 1, 2 and the
    // one ls itself opens.
    const std::string out = dir / "fds";
    EXPECT_EQ(TGlobal::RunAndWait({"sh", "-c", "ls /proc/self/fd > \"$0\" 2>/dev/null", out}), 0);
    const std::string fds = ReadFile(out);
    int count = 0;
    for (char c : fds)
        count += c == '\n';
    EXPECT_LE(count, 5) << fds;  // 0, 1, 2, the redirection (>) and ls's own directory handle
}

// ---- ClearFolder, FindPackFile, FindSwfFile, CopyWithPrefix -----------------------------------

TEST(FileRoutines, FindPackFileSkipsXmlInAnyCaseAndFolders) {
    TTempDir dir;
    WriteFile(dir / "a.xml", "x");
    WriteFile(dir / "b.cab", "x");
    WriteFile(dir / "c.txt", "x");
    WriteFile(dir / "D.Xml", "x");
    fs::create_directory(dir / "sub.cab");
    const std::string found = TGlobal::FindPackFile(dir.Folder());
    EXPECT_TRUE(found == "b.cab" || found == "c.txt") << found;
}

TEST(FileRoutines, FindPackFileEmptyCases) {
    TTempDir dir;
    EXPECT_EQ(TGlobal::FindPackFile(dir.Folder()), "");
    WriteFile(dir / "content.XML", "x");
    fs::create_directory(dir / "folder");
    EXPECT_EQ(TGlobal::FindPackFile(dir.Folder()), "");
    EXPECT_EQ(TGlobal::FindPackFile(dir / "missing"), "");
    WriteFile(dir / "noextension", "x");
    EXPECT_EQ(TGlobal::FindPackFile(dir.Folder()), "noextension");
}

TEST(FileRoutines, FindSwfFile) {
    TTempDir dir;
    EXPECT_EQ(TGlobal::FindSwfFile(dir.Folder()), "");
    WriteFile(dir / "content.xml", "x");
    WriteFile(dir / "pack.cab", "x");
    EXPECT_EQ(TGlobal::FindSwfFile(dir.Folder()), "");
    WriteFile(dir / "Movie.SwF", "x");
    EXPECT_EQ(TGlobal::FindSwfFile(dir.Folder()), "Movie.SwF");
}

TEST(FileRoutines, ClearFolderDeletesMatchesThenTheFolder) {
    TTempDir dir;
    const std::string work = dir / "~MSNContent/";
    fs::create_directories(work + "nested/deeper");
    WriteFile(work + "a.swf", "x");
    WriteFile(work + "b.xml", "x");
    WriteFile(work + "noext", "x");
    WriteFile(work + "nested/deeper/c", "x");
    TGlobal::ClearFolder(work, "*.*");
    EXPECT_FALSE(fs::exists(dir / "~MSNContent"));
}

TEST(FileRoutines, ClearFolderWithAMaskKeepsTheRestAndTheFolder) {
    TTempDir dir;
    const std::string work = dir / "w/";
    fs::create_directories(work);
    WriteFile(work + "a.swf", "x");
    WriteFile(work + "B.SWF", "x");
    WriteFile(work + "c.xml", "x");
    TGlobal::ClearFolder(work, "*.swf");
    EXPECT_FALSE(fs::exists(work + "a.swf"));
    EXPECT_FALSE(fs::exists(work + "B.SWF"));
    EXPECT_TRUE(fs::exists(work + "c.xml"));  // removing the folder failed silently
}

TEST(FileRoutines, ClearFolderNeverFollowsALink) {
    TTempDir dir;
    fs::create_directories(dir / "target");
    WriteFile(dir / "target/precious", "x");
    fs::create_directory_symlink(dir / "target", dir / "link");
    fs::create_directories(dir / "work");
    fs::create_directory_symlink(dir / "target", dir / "work/inner-link");
    TGlobal::ClearFolder(dir / "link/", "*.*");
    TGlobal::ClearFolder(dir / "work/", "*.*");
    EXPECT_TRUE(fs::exists(dir / "target/precious"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "link")));
    EXPECT_FALSE(fs::exists(dir / "work"));
    TGlobal::ClearFolder(dir / "missing/", "*.*");  // nothing to report
}

TEST(FileRoutines, CopyWithPrefixOfAnEmptySourceWritesOneM) {
    TTempDir dir;
    WriteFile(dir / "empty.mca", "");
    EXPECT_TRUE(TGlobal::CopyWithPrefix(dir / "empty.mca", dir / "temppack11.cab"));
    EXPECT_EQ(ReadFile(dir / "temppack11.cab"), "M");
}

// The pause comes once the copy is written, while the source is still locked.
TEST(FileRoutines, CopyPausesAfterWritingWithTheSourceLocked) {
    TTempDir dir;
    WriteFile(dir / "in.mca", "SCF data");
    int pauses = 0;
    EXPECT_TRUE(zephyrine::app::CopyBehindPrefix(
        dir / "in.mca", dir / "out.cab", zephyrine::app::TPrefixRule::Always, [&] {
            ++pauses;
            EXPECT_EQ(ReadFile(dir / "out.cab"), "MSCF data");
            const int fd = open((dir / "in.mca").c_str(), O_RDONLY | O_CLOEXEC);
            EXPECT_NE(flock(fd, LOCK_EX | LOCK_NB), 0) << "the source is still locked";
            close(fd);
        }));
    EXPECT_EQ(pauses, 1);
}

// One locked source serves several copies, each from its start, and keeps others out meanwhile.
TEST(FileRoutines, OneLockedSourceServesEveryCopy) {
    TTempDir dir;
    WriteFile(dir / "in.mco", "MSCF data");
    const zephyrine::app::TLockedSource source(dir / "in.mco");
    ASSERT_TRUE(source.Locked());
    EXPECT_FALSE(zephyrine::app::TLockedSource(dir / "in.mco").Locked());
    EXPECT_FALSE(TGlobal::CopyWithPrefix(dir / "in.mco", dir / "other.cab")) << "held by source";
    const auto noPause = [] {};
    using zephyrine::app::TPrefixRule;
    EXPECT_TRUE(CopyBehindPrefix(source, dir / "a.cab", TPrefixRule::Always, noPause));
    EXPECT_TRUE(CopyBehindPrefix(source, dir / "b.cab", TPrefixRule::UnlessCabinet, noPause));
    EXPECT_EQ(ReadFile(dir / "a.cab"), "MMSCF data");
    EXPECT_EQ(ReadFile(dir / "b.cab"), "MSCF data");
    EXPECT_FALSE(zephyrine::app::TLockedSource(dir / "missing").Locked());
}

TEST(FileRoutines, CopyWithPrefixReplacesTheDestination) {
    TTempDir dir;
    std::string content = "SCF";
    content += std::string(100000, '\0');
    content += "tail";
    WriteFile(dir / "pack.mca", content);
    WriteFile(dir / "out.cab", "an older and much longer file that must not survive in part");
    EXPECT_TRUE(TGlobal::CopyWithPrefix(dir / "pack.mca", dir / "out.cab"));
    EXPECT_EQ(ReadFile(dir / "out.cab"), "M" + content);
}

TEST(FileRoutines, PackPrefixOnlyWithoutTheCabinetSignature) {
    TTempDir dir;
    for (const std::string content : {"SCF\1\2", "MSCF\1\2", "", "MSC"}) {
        WriteFile(dir / "in", content);
        EXPECT_TRUE(zephyrine::app::CopyBehindPrefix(dir / "in", dir / "out",
                                                     zephyrine::app::TPrefixRule::UnlessCabinet,
                                                     std::chrono::milliseconds(0)));
        EXPECT_EQ(ReadFile(dir / "out"), content.rfind("MSCF", 0) == 0 ? content : "M" + content);
    }
}

TEST(FileRoutines, CopyWithPrefixFailures) {
    TTempDir dir;
    EXPECT_FALSE(TGlobal::CopyWithPrefix(dir / "missing.mca", dir / "out.cab"));
    EXPECT_FALSE(fs::exists(dir / "out.cab"));
    WriteFile(dir / "pack.mca", "x");
    EXPECT_FALSE(TGlobal::CopyWithPrefix(dir / "pack.mca", dir / "no/such/folder/out.cab"));
}

// ---- file association -------------------------------------------------------------------------

TEST(FileAssociation, WrittenOnceUnderXdgDataHomeAndNeverRewritten) {
    TTempDir dir;
    TScopedEnv data("XDG_DATA_HOME", dir / "data");
    TGlobal global(dir.Folder(), "");
    global.EnsureFileAssociation();
    const std::string desktop = dir / "data/applications/zephyrine.desktop";
    const std::string mime = dir / "data/mime/packages/zephyrine.xml";
    ASSERT_TRUE(fs::exists(desktop));
    ASSERT_TRUE(fs::exists(mime));
    const std::string entry = ReadFile(desktop);
    EXPECT_NE(entry.find("[Desktop Entry]\n"), std::string::npos);
    EXPECT_NE(entry.find("Name=Zephyrine\n"), std::string::npos);
    EXPECT_NE(entry.find("Exec=\"" + zephyrine::app::ExecutablePath() + "\" %f\n"),
              std::string::npos);
    EXPECT_NE(entry.find("MimeType=application/x-zephyrine;\n"), std::string::npos);
    EXPECT_NE(entry.find("Icon=" + dir / "data/icons/hicolor/scalable/apps/zephyrine.svg\n"),
              std::string::npos);
    EXPECT_EQ(ReadFile(dir / "data/icons/hicolor/scalable/apps/zephyrine.svg").rfind("<svg ", 0),
              0u);
    const std::string package = ReadFile(mime);
    EXPECT_NE(package.find("<glob pattern=\"*.mca\"/>"), std::string::npos);
    EXPECT_NE(package.find("<glob pattern=\"*.mco\"/>"), std::string::npos);
    if (TGlobal::RunAndWait({"sh", "-c", "command -v update-mime-database >/dev/null"}) == 0) {
        EXPECT_TRUE(fs::exists(dir / "data/mime/mime.cache"));  // the caches were refreshed
    }

    // An existing entry is never rewritten, whatever it holds.
    WriteFile(desktop, "edited by the user\n");
    fs::remove(mime);
    global.EnsureFileAssociation();
    EXPECT_EQ(ReadFile(desktop), "edited by the user\n");
    EXPECT_FALSE(fs::exists(mime));  // the .MCA-missing case writes nothing
}

TEST(FileAssociation, ARegistrationCutOffBeforeItsCachesIsCompletedByTheNextStart) {
    if (TGlobal::RunAndWait({"sh", "-c", "command -v update-desktop-database >/dev/null"}) != 0)
        GTEST_SKIP() << "update-desktop-database is not installed";
    TTempDir dir;
    TScopedEnv data("XDG_DATA_HOME", dir / "data");
    TGlobal global(dir.Folder(), "");
    global.EnsureFileAssociation();
    const std::string cache = dir / "data/applications/mimeinfo.cache";
    ASSERT_NE(ReadFile(cache).find("application/x-zephyrine="), std::string::npos);
    EXPECT_TRUE(TGlobal::AssociationCachesCurrent());

    // As a start killed after writing the entry leaves it: the entry, no caches.
    fs::remove(cache);
    fs::remove(dir / "data/mime/mime.cache");
    const std::string entry = ReadFile(dir / "data/applications/zephyrine.desktop");
    EXPECT_FALSE(TGlobal::AssociationCachesCurrent());
    global.EnsureFileAssociation();
    EXPECT_NE(ReadFile(cache).find("application/x-zephyrine="), std::string::npos);
    EXPECT_TRUE(fs::exists(dir / "data/mime/mime.cache"));
    EXPECT_EQ(ReadFile(dir / "data/applications/zephyrine.desktop"), entry);
}

TEST(FileAssociation, AnEntryThatCannotBeOpenedForWritingCountsAsMissing) {
    if (geteuid() == 0) GTEST_SKIP() << "root may write any file";
    TTempDir dir;
    TScopedEnv data("XDG_DATA_HOME", dir / "data");
    fs::create_directories(dir / "data/applications");
    WriteFile(dir / "data/applications/zephyrine.desktop", "old\n");
    chmod((dir / "data/applications/zephyrine.desktop").c_str(), 0444);
    EXPECT_THROW(TGlobal(dir.Folder(), "").EnsureFileAssociation(), std::runtime_error);
}

TEST(FileAssociation, AFailedWriteThrowsAndLeavesTheIdentifierMissing) {
    TTempDir dir;
    WriteFile(dir / "a-file", "x");  // a folder cannot be created below a file, even by root
    TScopedEnv data("XDG_DATA_HOME", dir / "a-file/data");
    TGlobal global(dir.Folder(), "");
    EXPECT_THROW(global.EnsureFileAssociation(), std::runtime_error);
    EXPECT_THROW(global.EnsureFileAssociation(), std::runtime_error);  // every start tries again
}

TEST(FileAssociation, DefaultDataHomeIsUnderHome) {
    TTempDir dir;
    unsetenv("XDG_DATA_HOME");
    TScopedEnv home("HOME", dir.Path().string());
    EXPECT_EQ(TGlobal::DataHome(), dir.Path().string() + "/.local/share");
    TScopedEnv relative("XDG_DATA_HOME", "relative/path");  // not absolute: ignored
    EXPECT_EQ(TGlobal::DesktopEntryPath(),
              dir.Path().string() + "/.local/share/applications/zephyrine.desktop");
}
