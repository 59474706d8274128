// Installing from a content file in the window, offscreen: cabinets made by gcab and unpacked by
// cabextract, the real embedded server on a port the system picks, and the real installer
// stand-in fetching the pack from it over TCP. The preview records the movies it is given.
#include "platform/IECache.h"
#include "platform/MessengerContentInstaller.h"
#include "platform/PrivateFolder.h"
#include "support/AppTestSupport.h"
#include "support/LocalHttpServer.h"

#include <QDropEvent>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

using namespace zephyrine;
using mediatest::MakeCabinet;
using test::ReadFile;
using test::WriteFile;
namespace fs = std::filesystem;

namespace {

constexpr int kInstallTimeoutMs = 30000;

class TRecordingFlash : public platform::TFlashControl {
  public:
    using TFlashControl::TFlashControl;
    void SetMovie(const std::string& movie) override { movie_ = movie; }
    std::string Movie() const override { return movie_; }
    void Play() override { played.push_back(movie_); }
    std::vector<std::string> played;

  private:
    std::string movie_;
};

// The real URL cache and installer, with what they were asked and answered.
struct TRecord {
    std::vector<std::string> deleted, handedOver;
    std::vector<std::int32_t> results;
};

class TRecordingCache : public platform::TIECache {
  public:
    explicit TRecordingCache(std::shared_ptr<TRecord> r) : r_(std::move(r)) {}
    std::uint32_t DeleteUrlCacheEntry(const std::string& url) override {
        r_->deleted.push_back(url);
        return TIECache::DeleteUrlCacheEntry(url);
    }

  private:
    std::shared_ptr<TRecord> r_;
};

class TRecordingInstaller : public platform::IMessengerContentInstaller {
  public:
    explicit TRecordingInstaller(std::shared_ptr<TRecord> r) : r_(std::move(r)) {
        real_.OnContentInstalled = [this](std::int32_t hr) {
            r_->results.push_back(hr);
            if (OnContentInstalled) OnContentInstalled(hr);
        };
    }
    void InstallFromUrl(const std::string& url) override {
        r_->handedOver.push_back(url);
        real_.InstallFromUrl(url);
    }

  private:
    std::shared_ptr<TRecord> r_;
    platform::TMessengerContentInstaller real_;
};

class MainFormFileTest : public ::testing::Test {
  protected:
    MainFormFileTest()
        : data("XDG_DATA_HOME", dir / "data"),
          cache("XDG_CACHE_HOME", dir / "cache"),
          runtime("XDG_RUNTIME_DIR", dir.Folder()),
          tmp("TMPDIR", dir / "tmp") {
        test::EnsureApp();
        fs::create_directories(dir / "tmp");
        WriteFile(dir / "app/WinksList.dat", test::Catalogue({{"Love", 1}}));
        global = std::make_unique<app::TGlobal>(dir / "app", "http://content.test");
    }

    // A content file: an outer cabinet of the given files, and, unless packFiles is empty, the
    // inner pack "pack.cab" holding them. An .mca lacks the first byte.
    std::string ContentFile(const std::string& name,
                            std::vector<std::pair<std::string, std::string>> outer,
                            const std::vector<std::pair<std::string, std::string>>& packFiles) {
        if (!packFiles.empty()) {
            EXPECT_TRUE(MakeCabinet(dir / "pack.cab", packFiles));
            outer.push_back({"pack.cab", ReadFile(dir / "pack.cab")});
        }
        EXPECT_TRUE(MakeCabinet(dir / "outer.cab", outer));
        const std::string whole = ReadFile(dir / "outer.cab");
        WriteFile(dir / name, app::UpperFileExtension(name) == ".MCA" ? whole.substr(1) : whole);
        return dir / name;
    }
    std::string Mco() { return ContentFile("x.mco", {{"wink.xml", "<wink/>"}}, kMovie); }

    // The window started with file, which it still opens (see Create).
    std::unique_ptr<app::TfrmMainForm> Start(const std::string& file = {},
                                             std::uint16_t port = 0) {
        platform::TPlatform p;
        p.MessageBox = std::make_unique<test::TRecordingMessageBox>(messages, confirm);
        p.CreateFlash = [this](QWidget* parent) { return flash = new TRecordingFlash(parent); };
        p.UrlCache = std::make_unique<TRecordingCache>(record);
        p.CreateInstaller = [this] { return std::make_unique<TRecordingInstaller>(record); };
        return std::make_unique<app::TfrmMainForm>(
            *global, std::move(p), platform::TRemoteRoots{"http://c.test", "http://k.test"}, file,
            port);
    }
    // The window once it has opened the file it was started with.
    std::unique_ptr<app::TfrmMainForm> Create(const std::string& file = {},
                                              std::uint16_t port = 0) {
        auto window = Start(file, port);
        EXPECT_TRUE(test::StartFileOpened(*window));
        return window;
    }

    // Runs the event loop until the installer has answered count times.
    bool WaitForResults(std::size_t count) {
        return QTest::qWaitFor([&] { return record->results.size() >= count; },
                               kInstallTimeoutMs);
    }

    // A drag of path entering onto, or dropped on it, as the window system delivers it; true
    // when the window accepted it.
    static bool drag(const std::string& path, QWidget* onto, QEvent::Type type) {
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(path))});
        std::unique_ptr<QDropEvent> event(
            type == QEvent::DragEnter
                ? new QDragEnterEvent({20, 20}, Qt::CopyAction, &mime, Qt::LeftButton, {})
                : new QDropEvent(QPointF(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, {}));
        QApplication::sendEvent(onto, event.get());
        return event->isAccepted();
    }

    std::string Work() const { return global->TempFolder + "~MSNContent/"; }
    std::string Stored(const std::string& name) const {
        return platform::TMessengerContentInstaller::StoreFolder() + "temppack11/" + name;
    }

    const std::vector<std::pair<std::string, std::string>> kMovie = {{"wink.swf", "FWS movie"}};
    test::TTempDir dir;
    test::TScopedEnv data, cache, runtime, tmp;
    std::unique_ptr<app::TGlobal> global;
    std::shared_ptr<std::vector<test::TShownMessage>> messages =
        std::make_shared<std::vector<test::TShownMessage>>();
    std::shared_ptr<TRecord> record = std::make_shared<TRecord>();
    TRecordingFlash* flash = nullptr;
    bool confirm = false;  // the answer to the window's questions
};

TEST_F(MainFormFileTest, McaIsUnpackedPreviewedAndInstalledThroughTheServer) {
    const std::string file = ContentFile("X.mca", {{"wink.xml", "<wink/>"}}, kMovie);
    auto window = Create(file);
    std::vector<std::string> log;
    window->EmbeddedServer().OnLogEntry = [&](auto&, auto& entry, bool&) {
        log.push_back(server::LogLine(*entry));
    };
    const std::string whole = "M" + ReadFile(file);
    EXPECT_EQ(ReadFile(dir / "app/msnpack/temp.cab"), whole);
    EXPECT_EQ(ReadFile(dir / "app/msnpack/temppack11.cab"), whole);
    EXPECT_EQ(flash->played, std::vector<std::string>{Work() + "wink.swf"});
    EXPECT_EQ(ReadFile(Work() + "wink.swf"), "FWS movie");
    EXPECT_FALSE(fs::exists(Work() + "wink.xml")) << "the .XML files go before the second run";
    EXPECT_EQ(window->StatusText(), " Installing..");
    ASSERT_TRUE(window->EmbeddedServer().Listening());
    const std::string url =
        "http://127.0.0.1:" + std::to_string(window->EmbeddedServer().ServingPort()) +
        "/temppack11.cab";
    EXPECT_EQ(record->deleted, std::vector<std::string>{url});
    EXPECT_EQ(record->handedOver, std::vector<std::string>{url});

    ASSERT_TRUE(WaitForResults(1));
    EXPECT_EQ(record->results[0], 0);
    EXPECT_EQ(window->StatusText(), " installed successfully.");
    EXPECT_EQ(ReadFile(Stored("wink.xml")), "<wink/>");
    EXPECT_TRUE(fs::exists(Stored("pack.cab")));
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log[0].rfind("GET\t", 0), 0u) << log[0];
    EXPECT_NE(log[0].find("\t/temppack11.cab\t"), std::string::npos) << log[0];
    EXPECT_TRUE(messages->empty());
    EXPECT_TRUE(window->EmbeddedServer().Listening()) << "the server stays on";
}

// The file given at start is unpacked beside the window's first turns of the event loop; the
// commands wait for it.
TEST_F(MainFormFileTest, StartFileOpensBesideTheWindowAndTheCommandsWait) {
    const std::string file = Mco();
    auto window = Start(file);
    window->show();
    EXPECT_TRUE(window->FileInstall().Opening());
    EXPECT_FALSE(test::Parts(*window).actUpgrade->isEnabled());
    EXPECT_FALSE(drag(file, window.get(), QEvent::DragEnter)) << "one file at a time";
    ASSERT_TRUE(test::StartFileOpened(*window));
    EXPECT_EQ(flash->played, std::vector<std::string>{Work() + "wink.swf"});
    EXPECT_EQ(window->StatusText(), " Installing..");
    ASSERT_TRUE(WaitForResults(1));
    EXPECT_EQ(window->StatusText(), " installed successfully.");
    EXPECT_TRUE(test::Parts(*window).actUpgrade->isEnabled());
}

TEST_F(MainFormFileTest, McoIsUnpackedDirectlyAndHandedOverWhole) {
    const std::string file = ContentFile("X.MCO", {{"a.xml", "<a/>"}}, kMovie);
    auto window = Create(file);
    EXPECT_FALSE(fs::exists(dir / "app/msnpack/temp.cab"));
    EXPECT_EQ(ReadFile(dir / "app/msnpack/temppack11.cab"), ReadFile(file));
    EXPECT_EQ(flash->played, std::vector<std::string>{Work() + "wink.swf"});
    ASSERT_TRUE(WaitForResults(1));
    EXPECT_EQ(record->results[0], 0) << "a whole cabinet behind an extra M installs nowhere";
    EXPECT_EQ(window->StatusText(), " installed successfully.");
}

TEST_F(MainFormFileTest, OuterCabinetOfOnlyXmlFilesInstallsWithoutPreview) {
    auto window = Create(ContentFile("x.mca", {{"a.xml", "<a/>"}, {"B.XML", "<b/>"}}, {}));
    EXPECT_TRUE(flash->played.empty());
    EXPECT_TRUE(fs::exists(Work() + "a.xml")) << "no second run, so nothing deleted";
    ASSERT_TRUE(WaitForResults(1));
    EXPECT_EQ(window->StatusText(), " installed successfully.");
    EXPECT_EQ(ReadFile(Stored("B.XML")), "<b/>");
}

TEST_F(MainFormFileTest, LeftoverWorkFolderIsEmptiedAndTheLastPackEnumeratedIsTaken) {
    auto window = Create();
    ASSERT_TRUE(MakeCabinet(dir / "one.cab", {{"one.swf", "FWS 1"}}));
    ASSERT_TRUE(MakeCabinet(dir / "two.cab", {{"two.swf", "FWS 2"}}));
    const std::string file = ContentFile("x.mco",
                                         {{"c.xml", "<c/>"},
                                          {"one.cab", ReadFile(dir / "one.cab")},
                                          {"two.cab", ReadFile(dir / "two.cab")}},
                                         {});
    fs::create_directories(Work());
    fs::permissions(global->TempFolder, fs::perms::owner_all);
    WriteFile(Work() + "old.swf", "FWS old");
    WriteFile(Work() + "old/stale.cab", "x");
    window->UnpackAndPreview(file);
    EXPECT_FALSE(fs::exists(Work() + "old.swf"));
    EXPECT_FALSE(fs::exists(Work() + "old"));
    std::string last;
    for (const auto& entry : fs::directory_iterator(Work()))
        if (entry.path().extension() == ".cab") last = entry.path().stem().string();
    ASSERT_FALSE(last.empty());
    EXPECT_EQ(flash->played, std::vector<std::string>{Work() + last + ".swf"});
    EXPECT_FALSE(fs::exists(Work() + (last == "one" ? "two" : "one") + ".swf"));
}

TEST_F(MainFormFileTest, NamesOutsideTheWorkFolderAreRefused) {
    // gcab stores neither "../" nor a leading "/": the names are written in afterwards.
    ASSERT_TRUE(
        MakeCabinet(dir / "pack.cab", {{"XX/escape.txt", "out"}, {"Xescape-abs.txt", "abs"}}));
    std::string pack = ReadFile(dir / "pack.cab");
    pack.replace(pack.find("XX\\escape.txt"), 2, "..");
    pack.replace(pack.find("Xescape-abs.txt"), 1, "/");
    const std::string file = ContentFile("x.mco", {{"a.xml", "<a/>"}, {"pack.cab", pack}}, {});
    auto window = Create();
    window->UnpackAndPreview(file);
    EXPECT_EQ(window->StatusText(),
              "The content file names a file outside its folder: ..\\escape.txt");
    EXPECT_FALSE(fs::exists(global->TempFolder + "escape.txt"));
    EXPECT_FALSE(fs::exists(Work() + "xx"));  // cabextract's own renaming never ran
    EXPECT_FALSE(fs::exists("/escape-abs.txt"));
    EXPECT_TRUE(flash->played.empty());
}

// A temporary folder name taken by something else (a link, another owner, open permissions) is
// never used: the preview plays from a fresh private folder of the window's own, which goes with
// the window, and nothing is written through the link.
TEST_F(MainFormFileTest, TempFolderThatIsNotPrivateIsReplacedByAFreshOne) {
    const std::string temp = global->TempFolder.substr(0, global->TempFolder.size() - 1);
    const std::string other = dir / "other";
    const std::function<void()> setups[] = {
        [&] { fs::create_directory_symlink(other, temp); },
        [&] { fs::create_directory(temp), chmod(temp.c_str(), 0755); },
        [&] {
            fs::create_directory(temp), chmod(temp.c_str(), 0700), chown(temp.c_str(), 4242, 4242);
        },
    };
    const std::string file = Mco();
    for (std::size_t i = 0; i < std::size(setups); ++i) {
        if (i == 2 && geteuid() != 0) continue;  // only root can give a folder away
        fs::remove_all(temp);
        fs::create_directories(other);
        setups[i]();
        auto window = Create();
        window->UnpackAndPreview(file);
        ASSERT_EQ(flash->played.size(), 1u) << i << " " << window->StatusText().toStdString();
        const std::string fresh = window->FileInstall().TempFolder();
        EXPECT_EQ(flash->played[0], fresh + "~MSNContent/wink.swf") << i;
        EXPECT_EQ(fresh.rfind(dir.Folder() + "zephyrine-", 0), 0u) << fresh;  // $XDG_RUNTIME_DIR
        EXPECT_TRUE(platform::IsPrivateFolder(fresh)) << i;
        EXPECT_TRUE(fs::is_empty(other)) << i;
        EXPECT_FALSE(fs::exists(temp + "/~MSNContent")) << i;
        window.reset();
        EXPECT_FALSE(fs::exists(fresh)) << "the fresh folder goes with the window";
    }
}

// A refusal of the preview stays said through the install's texts.
TEST_F(MainFormFileTest, RefusedPreviewStaysShownThroughTheInstall) {
    ASSERT_TRUE(MakeCabinet(dir / "pack.cab", {{"XX/escape.swf", "FWS"}}));
    std::string pack = ReadFile(dir / "pack.cab");
    pack.replace(pack.find("XX\\escape.swf"), 2, "..");
    auto window = Create(ContentFile("x.mco", {{"a.xml", "<a/>"}, {"pack.cab", pack}}, {}));
    const std::string refusal = "The content file names a file outside its folder: ..\\escape.swf";
    EXPECT_EQ(window->StatusText().toStdString(), " Installing.. Not previewed: " + refusal);
    ASSERT_TRUE(WaitForResults(1));
    EXPECT_EQ(record->results[0], 0);
    EXPECT_EQ(window->StatusText().toStdString(),
              " installed successfully. Not previewed: " + refusal);
}

// An association that cannot be written is reported, and the file is previewed and installed.
TEST_F(MainFormFileTest, UnwritableAssociationIsReportedAndTheFileStillInstalls) {
    WriteFile(dir / "data/applications", "a file where the folder would be");
    auto window = Create(Mco());
    ASSERT_EQ(messages->size(), 1u);
    EXPECT_EQ((*messages)[0].Icon, platform::TMsgIcon::Error);
    EXPECT_NE((*messages)[0].Text.find("applications"), std::string::npos) << (*messages)[0].Text;
    EXPECT_EQ(flash->played, std::vector<std::string>{Work() + "wink.swf"});
    ASSERT_TRUE(WaitForResults(1));
    EXPECT_EQ(record->results[0], 0);
    EXPECT_EQ(window->StatusText(), " installed successfully.");
    EXPECT_TRUE(fs::exists(Stored("wink.xml")));
}

TEST_F(MainFormFileTest, PortTakenGoesToTheMessageBoxAndTheWindowOpens) {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    socklen_t length = sizeof a;
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(listen(s, 1), 0);
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &length);
    auto window = Create(Mco(), ntohs(a.sin_port));
    close(s);
    EXPECT_EQ(flash->played.size(), 1u) << "the unpack runs before";
    ASSERT_EQ(messages->size(), 1u);
    EXPECT_EQ((*messages)[0].Icon, platform::TMsgIcon::Error);
    EXPECT_NE((*messages)[0].Text.find("bind"), std::string::npos) << (*messages)[0].Text;
    EXPECT_FALSE(window->EmbeddedServer().Listening());
    EXPECT_TRUE(record->handedOver.empty());
    window->show();
    EXPECT_TRUE(window->isVisible());
}

TEST_F(MainFormFileTest, CorruptMissingAndUnunpackableFiles) {
    WriteFile(dir / "bad.mca", "this is no cabinet at all");
    auto corrupt = Create(dir / "bad.mca");
    EXPECT_TRUE(flash->played.empty());
    EXPECT_TRUE(messages->empty());
    ASSERT_TRUE(WaitForResults(1));
    EXPECT_EQ(record->results[0], platform::kHrNotACabinet);
    EXPECT_EQ(corrupt->StatusText(), " Installing..") << "a failed install only enables again";

    // A file that cannot be read never hands over what an earlier run left in the pack folder.
    for (const std::string missing : {"gone.mca", "gone.mco"}) {
        messages->clear();
        auto window = Create(dir / missing);
        ASSERT_EQ(messages->size(), 1u);
        EXPECT_EQ((*messages)[0].Text, "The content file cannot be read: " + dir / missing);
        EXPECT_EQ(record->handedOver.size(), 1u);
    }

    // No cabinet tool: nothing is unpacked, and the installer refuses the hand-over.
    const std::string file = Mco();
    test::TScopedEnv path("PATH", dir / "empty");
    messages->clear();
    auto window = Create(file);
    EXPECT_TRUE(flash->played.empty());
    ASSERT_EQ(messages->size(), 1u);
    EXPECT_NE((*messages)[0].Text.find("cabextract"), std::string::npos);
}

TEST_F(MainFormFileTest, DroppedContentFileIsUnpackedPreviewedAndInstalled) {
    auto window = Create();
    window->show();
    WriteFile(dir / "notes.txt", "x");
    EXPECT_FALSE(drag(dir / "notes.txt", window.get(), QEvent::DragEnter));
    const std::string file = Mco();
    EXPECT_TRUE(drag(file, test::Parts(*window).flsPreview, QEvent::DragEnter));
    EXPECT_TRUE(drag(file, test::Parts(*window).flsPreview, QEvent::Drop));
    QApplication::processEvents();
    EXPECT_EQ(flash->played, std::vector<std::string>{Work() + "wink.swf"});
    EXPECT_FALSE(test::Parts(*window).actUpgrade->isEnabled()) << "an install is under way";
    EXPECT_FALSE(drag(file, window.get(), QEvent::DragEnter)) << "one install at a time";
    ASSERT_TRUE(WaitForResults(1));
    EXPECT_EQ(window->StatusText(), " installed successfully.");
    EXPECT_TRUE(test::Parts(*window).actUpgrade->isEnabled());
    EXPECT_TRUE(fs::exists(Stored("wink.xml")));
}

// Open…: the files the dialog accepted are unpacked, previewed and installed, one after another.
TEST_F(MainFormFileTest, OpenedFilesAreInstalledOneAfterAnother) {
    const std::string first =
        ContentFile("first.mco", {{"first.xml", "<first/>"}}, {{"first.swf", "FWS 1"}});
    const std::string second =
        ContentFile("second.mca", {{"second.xml", "<second/>"}}, {{"second.swf", "FWS 2"}});
    auto window = Create();
    window->show();
    int asked = 0;
    window->SetOpenFilesDialog([&](QWidget* owner) {
        ++asked;
        EXPECT_EQ(owner, window.get());
        return QStringList{QString::fromStdString(first), QString::fromStdString(second)};
    });
    QAction* open = test::Child<QAction>(*window, "actOpen");
    EXPECT_EQ(open->shortcut(), QKeySequence(QKeySequence::Open));
    open->trigger();
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(flash->played, std::vector<std::string>{Work() + "first.swf"});
    EXPECT_EQ(record->handedOver.size(), 1u) << "the second waits for the first";
    EXPECT_FALSE(open->isEnabled());
    open->trigger();
    EXPECT_EQ(asked, 1) << "no second dialog while the files are under way";

    ASSERT_TRUE(WaitForResults(2));
    EXPECT_EQ(flash->played,
              (std::vector<std::string>{Work() + "first.swf", Work() + "second.swf"}));
    EXPECT_EQ(record->results, (std::vector<std::int32_t>{0, 0}));
    EXPECT_EQ(record->handedOver.size(), 2u);
    EXPECT_EQ(ReadFile(Stored("second.xml")), "<second/>");
    EXPECT_EQ(window->StatusText(), " installed successfully.");
    EXPECT_TRUE(open->isEnabled());
    EXPECT_EQ(test::Child<QToolButton>(*window, "btnOpen")->text(), "…") << "after the changes";
    EXPECT_TRUE(messages->empty());
}

// My Winks: every file opened is kept, listed after the catalogue, and still there in a new
// window; its items preview from the kept copy and install through the embedded server.
TEST_F(MainFormFileTest, OpenedFilesAreKeptInMyWinksAcrossRestarts) {
    const std::string first = ContentFile("first.mco", {{"first.xml", "<wink name=\"Kiss\"/>"}},
                                          {{"first.swf", "FWS 1"}});
    const std::string second =
        ContentFile("second.mca", {{"second.xml", "<wink/>"}}, {{"second.swf", "FWS 2"}});
    {
        auto window = Create();
        window->SetOpenFilesDialog([&](QWidget*) {
            return QStringList{QString::fromStdString(first), QString::fromStdString(second)};
        });
        test::Child<QAction>(*window, "actOpen")->trigger();
        ASSERT_TRUE(WaitForResults(2));
        EXPECT_EQ(window->ItemCount(), 1) << "the catalogue's count only";
        EXPECT_EQ(window->StatusText(), " installed successfully.");
    }
    fs::remove(first);
    fs::remove(second);
    auto window = Create();
    EXPECT_EQ(window->StatusText(), "1 Winks of MSN Messenger in the list.");
    const app::TWinksTreeModel& model = *test::Parts(*window).treWinksListModel;
    ASSERT_EQ(model.CategoryCount(), 2);
    EXPECT_EQ(model.TrailingCategory(), 1);
    EXPECT_EQ(model.Caption(model.CategoryIndex(1)), "My Winks");
    ASSERT_EQ(model.ItemCount(1), 2);
    EXPECT_EQ(model.Caption(model.ItemIndex(1, 0)), "Kiss");
    EXPECT_EQ(model.Caption(model.ItemIndex(1, 1)), "second");
    EXPECT_FALSE(model.flags(model.ItemIndex(1, 0)) & Qt::ItemIsUserCheckable);
    // Find counts what the tree can show, My Winks too; the status text stays the catalogue's.
    test::Child<QLineEdit>(*window, "edtFind")->setText("i");  // "Wink 0" and "Kiss"
    EXPECT_EQ(test::Child<QLabel>(*window, "lblShown")->text(), "2 of 3 shown");
    EXPECT_EQ(window->StatusText(), "1 Winks of MSN Messenger in the list.");
    test::Child<QLineEdit>(*window, "edtFind")->clear();

    window->show();
    QTreeView* tree = test::Parts(*window).treWinksList;
    tree->expand(model.CategoryIndex(1));
    const QRect r = tree->visualRect(model.ItemIndex(1, 1));
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, QPoint(r.right() - 4, r.center().y()));
    QApplication::processEvents();
    EXPECT_EQ(flash->played, std::vector<std::string>{Work() + "second.swf"});
    ASSERT_TRUE(test::Parts(*window).actInstall->isEnabled());
    test::Parts(*window).actInstall->trigger();
    ASSERT_TRUE(WaitForResults(3));
    EXPECT_EQ(record->results.back(), 0);
    EXPECT_EQ(ReadFile(Stored("second.xml")), "<wink/>");
    EXPECT_TRUE(messages->empty());

    // Remove asks first: No keeps the item, Yes removes it and its copy.
    const std::string library = window->Library().Folder();
    const std::string copy = window->Library().CopyPath(window->Library().Items()[0]);
    for (const bool answer : {false, true}) {
        window.reset();
        confirm = answer;
        messages->clear();
        window = Create();
        window->show();
        QTreeView* view = test::Parts(*window).treWinksList;
        view->expand(test::Parts(*window).treWinksListModel->CategoryIndex(1));
        view->setCurrentIndex(test::Parts(*window).treWinksListModel->ItemIndex(1, 0));
        test::Child<QAction>(*window, "actRemove")->trigger();
        ASSERT_EQ(messages->size(), 1u);
        EXPECT_EQ((*messages)[0].Text, "Remove \"Kiss\" from My Winks?");
        EXPECT_EQ(test::Parts(*window).treWinksListModel->ItemCount(1), answer ? 1 : 2);
        EXPECT_EQ(fs::exists(copy), !answer);
    }
    EXPECT_EQ(app::TWinkLibrary(library).Items().size(), 1u);
}

// Import folder… and a folder dropped on the window: every content file under the folder, a
// non-cabinet skipped and counted, the same bytes kept once; Escape stops an import.
TEST_F(MainFormFileTest, ImportedFolderFillsMyWinksAndEscapeStopsIt) {
    fs::create_directories(dir / "winks/deeper");
    const std::string a = ContentFile("a.mco", {{"a.xml", "<a/>"}}, kMovie);
    fs::copy_file(a, dir / "winks/a.mco");
    fs::copy_file(a, dir / "winks/deeper/again.MCO");
    fs::rename(ContentFile("b.mca", {{"b.xml", "<b/>"}}, kMovie), dir / "winks/deeper/b.mca");
    WriteFile(dir / "winks/broken.mca", "not a cabinet");
    WriteFile(dir / "winks/notes.txt", "x");
    auto window = Create();
    window->show();
    window->SetImportFolderDialog([&](QWidget*) { return QString::fromStdString(dir / "winks"); });

    QAction* import = test::Child<QAction>(*window, "actImport");
    import->trigger();  // stopped before its first step
    ASSERT_TRUE(window->Import().Running());
    EXPECT_FALSE(test::Parts(*window).actUpgrade->isEnabled());
    QTest::keyClick(test::Parts(*window).treWinksList, Qt::Key_Escape);
    EXPECT_FALSE(window->Import().Running());
    EXPECT_NE(window->StatusText().indexOf("(stopped)"), -1) << window->StatusText().toStdString();
    EXPECT_TRUE(test::Parts(*window).actUpgrade->isEnabled());

    // The folder dropped on the tree: the same import, once the drop has been answered.
    QSignalSpy finished(&window->Import(), &app::TLibraryImport::Finished);
    EXPECT_TRUE(drag(dir / "winks", test::Parts(*window).treWinksList, QEvent::DragEnter));
    EXPECT_TRUE(drag(dir / "winks", test::Parts(*window).treWinksList->viewport(), QEvent::Drop));
    ASSERT_TRUE(finished.wait(kInstallTimeoutMs));
    EXPECT_EQ(window->StatusText(),
              "2 Winks added to My Winks: 1 not content files, 1 kept already, 0 unreadable.");
    EXPECT_FALSE(test::Parts(*window).prgUpgrade->isVisible());
    const app::TWinksTreeModel& model = *test::Parts(*window).treWinksListModel;
    ASSERT_EQ(model.TrailingCategory(), 1);
    EXPECT_EQ(model.ItemCount(1), 2);
    EXPECT_EQ(window->ItemCount(), 1);
    EXPECT_TRUE(messages->empty());
}

}  // namespace
