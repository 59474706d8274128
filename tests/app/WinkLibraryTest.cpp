// My Winks and the folder import with real content files: cabinets made by gcab, unpacked by
// cabextract. The full disk is a file-size limit on a child process.
#include "app/LibraryImport.h"
#include "app/WinkLibrary.h"
#include "support/AppTestSupport.h"
#include "support/LocalHttpServer.h"

#include <gtest/gtest.h>

#include <QEventLoop>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>

using namespace zephyrine;
namespace fs = std::filesystem;
using app::TAddOutcome;
using app::TWinkLibrary;

namespace {

// A content file as the program receives one: an outer cabinet holding a description and an
// inner pack with the movie; an .mca lacks the outer cabinet's first byte.
std::string MakeContentFile(const std::string& path, const std::string& description,
                            const std::string& movie = "FWS movie") {
    test::TTempDir work;
    EXPECT_TRUE(mediatest::MakeCabinet(work / "pack.cab", {{"movie.swf", movie}}));
    std::vector<std::pair<std::string, std::string>> files = {
        {"pack.cab", test::ReadFile(work / "pack.cab")}};
    if (!description.empty()) files.emplace_back("content.xml", description);
    EXPECT_TRUE(mediatest::MakeCabinet(work / "outer.cab", files));
    const std::string whole = test::ReadFile(work / "outer.cab");
    test::WriteFile(
        path, app::IsContentFileName(path) && path.ends_with(".mca") ? whole.substr(1) : whole);
    return path;
}

std::string Described(const std::string& name) {
    return "<?xml version=\"1.0\"?>\n<package type=\"wink\" name=\"" + name + "\"/>\n";
}

// Every file of the folder with its bytes: what "as it was" compares.
std::map<std::string, std::string> Snapshot(const std::string& folder) {
    std::map<std::string, std::string> files;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        files[it->path().filename().string()] = test::ReadFile(it->path().string());
    return files;
}

std::vector<std::string> Names(const TWinkLibrary& library) {
    std::vector<std::string> names;
    for (const auto& item : library.Items())
        names.push_back(item.Name);
    return names;
}

class WinkLibrary : public ::testing::Test {
  protected:
    WinkLibrary() { test::EnsureApp(); }  // the import's event loop
    std::string Library() const { return dir.Folder() + "data/MyWinks/"; }
    std::string Import() const { return dir.Folder() + "import/"; }
    test::TTempDir dir;
};

// The same bytes under another name are kept once.
TEST_F(WinkLibrary, KeepsACopyNamedFromTheContentOrTheFileAndSurvivesARestart) {
    const std::string described =
        MakeContentFile(dir / "in/cat.mco", Described("Waving Cat"), "FWS cat");
    const std::string titled = MakeContentFile(
        dir / "in/DANCE.MCO",
        "<package xmlns=\"urn:x\"><item/><x:title xmlns:x=\"urn:x\"> Dancing Banana </x:title>"
        "</package>",
        "FWS dance");
    const std::string plain = MakeContentFile(dir / "in/red heart.mca", "", "FWS red");
    {
        TWinkLibrary library(Library());
        for (const std::string& file : {described, titled, plain})
            EXPECT_EQ(library.Add(file).Outcome, TAddOutcome::Added) << file;
        EXPECT_EQ(Names(library),
                  std::vector<std::string>({"Waving Cat", "Dancing Banana", "red heart"}));
        const app::TLibraryItem& red = library.Items()[2];
        EXPECT_EQ(red.Source, "red heart.mca");
        EXPECT_TRUE(red.File.ends_with(".mca"));
        EXPECT_EQ(test::ReadFile(library.CopyPath(red)), test::ReadFile(plain));

        fs::copy_file(described, dir / "in/renamed copy.mco");
        const app::TAddResult again = library.Add(dir / "in/renamed copy.mco");
        EXPECT_EQ(again.Outcome, TAddOutcome::Duplicate);
        EXPECT_EQ(again.Item.File, library.Items()[0].File);
        EXPECT_EQ(Snapshot(Library()).size(), 4u);  // three copies, the catalogue
    }
    // The catalogue has the form of WinksList.dat: one category, items with WinkName.
    const std::string catalogue = test::ReadFile(Library() + TWinkLibrary::kCatalogueName);
    EXPECT_NE(catalogue.find("<WinksList>"), std::string::npos);
    EXPECT_NE(catalogue.find("<MyWinks>"), std::string::npos);
    EXPECT_NE(catalogue.find("WinkName=\"Waving Cat\""), std::string::npos);
    TWinkLibrary reopened(Library());
    EXPECT_TRUE(reopened.LoadError().empty());
    EXPECT_EQ(Names(reopened),
              std::vector<std::string>({"Waving Cat", "Dancing Banana", "red heart"}));
}

TEST_F(WinkLibrary, FilesThatAreNoCabinetsAreRefusedAndNothingIsWritten) {
    TWinkLibrary library(Library());
    library.Add(MakeContentFile(dir / "kept.mco", Described("Kept")));
    const auto before = Snapshot(Library());
    std::string truncated = test::ReadFile(dir / "kept.mco").substr(0, 20);
    const struct {
        const char* name;
        std::string bytes;
        TAddOutcome outcome;
    } cases[] = {
        {"text.mco", "just some text", TAddOutcome::NotCabinet},
        {"empty.mca", "", TAddOutcome::NotCabinet},
        {"whole-cab-as.mca", test::ReadFile(dir / "kept.mco"), TAddOutcome::NotCabinet},
        {"truncated.mco", truncated, TAddOutcome::NotCabinet},
        {"missing.mco", {}, TAddOutcome::Unreadable},
    };
    for (const auto& c : cases) {
        const std::string path = dir / c.name;
        if (std::string(c.name) != "missing.mco") test::WriteFile(path, c.bytes);
        const app::TAddResult result = library.Add(path);
        EXPECT_EQ(result.Outcome, c.outcome) << c.name;
        EXPECT_NE(result.Error.find(path), std::string::npos) << result.Error;
    }
    EXPECT_EQ(Snapshot(Library()), before);
    EXPECT_EQ(Names(library), std::vector<std::string>({"Kept"}));
}

TEST_F(WinkLibrary, RemovalTakesTheItemAndItsCopy) {
    TWinkLibrary library(Library());
    const auto a = library.Add(MakeContentFile(dir / "a.mco", Described("A"), "FWS a")).Item;
    library.Add(MakeContentFile(dir / "b.mco", Described("B"), "FWS b"));
    EXPECT_TRUE(library.Remove(a.File));
    EXPECT_FALSE(library.Remove(a.File));
    EXPECT_FALSE(fs::exists(library.CopyPath(a)));
    EXPECT_EQ(Names(TWinkLibrary(Library())), std::vector<std::string>({"B"}));
}

// Add in a child whose files may not grow beyond limit bytes; its exit status.
int AddWithFileSizeLimit(const std::string& folder, const std::string& file, rlim_t limit) {
    const pid_t pid = fork();
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);  // a write beyond the limit fails with EFBIG
        const rlimit rl{limit, limit};
        setrlimit(RLIMIT_FSIZE, &rl);
        try {
            TWinkLibrary(folder).Add(file);
            _exit(0);
        } catch (const app::ELibraryError&) {
            _exit(3);
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST_F(WinkLibrary, AFullDiskDuringAnAddLeavesTheLibraryAsItWas) {
    {
        TWinkLibrary library(Library());
        for (int i = 0; i < 6; ++i)  // a catalogue larger than a copy
            library.Add(
                MakeContentFile(dir / ("old" + std::to_string(i) + ".mco"),
                                Described("An item with a long name number " + std::to_string(i)),
                                "FWS " + std::to_string(i)));
    }
    const auto before = Snapshot(Library());
    const std::string file = MakeContentFile(dir / "new.mco", Described("New"), "FWS new");
    const auto copySize = static_cast<rlim_t>(fs::file_size(file));
    ASSERT_GT(before.at(TWinkLibrary::kCatalogueName).size(), copySize + 100);
    // The copy cannot be written; the copy can, the catalogue cannot.
    for (rlim_t limit : {copySize / 2, copySize + 50}) {
        EXPECT_EQ(AddWithFileSizeLimit(Library(), file, limit), 3) << limit;
        EXPECT_EQ(Snapshot(Library()), before) << limit;
    }
    EXPECT_EQ(AddWithFileSizeLimit(Library(), file, RLIM_INFINITY), 0);
    EXPECT_EQ(TWinkLibrary(Library()).Items().size(), 7u);
}

// ---- the folder import ------------------------------------------------------------------------

struct TFinished {
    int added = -1, notCabinet = -1, duplicates = -1, unreadable = -1;
};

TFinished RunImport(app::TLibraryImport& import, const std::string& folder) {
    TFinished finished;
    QEventLoop loop;
    QObject::connect(&import, &app::TLibraryImport::Finished, &loop,
                     [&](int added, int notCabinet, int duplicates, int unreadable) {
                         finished = {added, notCabinet, duplicates, unreadable};
                         loop.quit();
                     });
    EXPECT_TRUE(import.Start(folder));
    if (import.Running()) loop.exec();
    return finished;
}

TEST_F(WinkLibrary, ImportAddsEveryContentFileUnderTheFolder) {
    const std::string in = Import();
    MakeContentFile(in + "one.mco", Described("One"), "FWS 1");
    MakeContentFile(in + "deep/er/two.mca", Described("Two"), "FWS 2");
    fs::copy_file(in + "one.mco", in + "deep/same as one.MCO");
    test::WriteFile(in + "deep/not a cabinet.mca", "hello");
    test::WriteFile(in + "readme.txt", "not a content file at all");
    TWinkLibrary library(Library());
    app::TLibraryImport import(library);
    std::vector<std::pair<int, int>> progress;
    QObject::connect(&import, &app::TLibraryImport::Progress,
                     [&](int done, int total) { progress.emplace_back(done, total); });
    const TFinished f = RunImport(import, in);
    EXPECT_EQ(f.added, 2);
    EXPECT_EQ(f.notCabinet, 1);
    EXPECT_EQ(f.duplicates, 1);
    EXPECT_EQ(f.unreadable, 0);
    EXPECT_EQ(Names(library).size(), 2u);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.front(), std::make_pair(0, 0));  // walking
    EXPECT_EQ(progress.back(), std::make_pair(4, 4));
    // The library's own folder inside the imported one is not imported into itself.
    TWinkLibrary inside(in + "MyWinks/");
    app::TLibraryImport again(inside);
    EXPECT_EQ(RunImport(again, in).added, 2);
    EXPECT_EQ(RunImport(again, in).duplicates, 3);
}

TEST_F(WinkLibrary, CancelStopsBetweenFilesWithNothingHalfAdded) {
    const std::string in = Import();
    for (int i = 0; i < 3; ++i)
        MakeContentFile(in + std::to_string(i) + ".mco", Described("N" + std::to_string(i)),
                        "FWS " + std::to_string(i));
    TWinkLibrary library(Library());
    app::TLibraryImport import(library);
    QObject::connect(&import, &app::TLibraryImport::ItemAdded, &import,
                     [&](int) { import.Cancel(); });
    const TFinished f = RunImport(import, in);
    EXPECT_TRUE(import.Cancelled());
    EXPECT_FALSE(import.Running());
    EXPECT_EQ(f.added, 1);
    EXPECT_EQ(Names(library), std::vector<std::string>({"N0"}));
    EXPECT_EQ(Names(TWinkLibrary(Library())), std::vector<std::string>({"N0"}));
    EXPECT_EQ(Snapshot(Library()).size(), 2u);  // one copy and the catalogue, no temporary
}

}  // namespace
