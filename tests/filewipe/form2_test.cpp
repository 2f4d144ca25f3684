// The folder and file wipe window on real folders: a temporary folder is
// drive t:, each test works on its own copy of the info database, fills of
// the main windows it makes go to memory, and the free-space wipe that
// Cancel hands over to runs on a scratch tmpfs.
#include "app/form1.h"
#include "controls/drivelistbox.h"
#include "controls/filelistbox.h"
#include "filewipe/form2.h"
#include "filewipe/wipeprocedure.h"
#include "infodb/infodb.h"
#include "records/store.h"
#include "support/fakes.h"
#include "support/fillfakes.h"
#include "support/volumes.h"
#include "tree/foldertree.h"
#include "tree/subclass.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <optional>

using filewipe::Form2;

namespace {

bool hooked(QObject* window)
{
    return window->property(tree::OldWndProcProperty).isValid();
}

// The texts of a list's or a combo box's entries.
QStringList rows(const QAbstractItemModel* model)
{
    QStringList texts;
    for (int i = 0; i < model->rowCount(); ++i)
        texts << model->index(i, 0).data().toString();
    return texts;
}
QStringList listed(const Form2& w) { return rows(w.File1->model()); }
QStringList offered(const Form2& w) { return rows(w.Combo1->model()); }

} // namespace

class Form2Test : public ::testing::Test {
protected:
    QTemporaryDir dir, dbDir;
    std::optional<testsupport::EnvGuard> drivesEnv;
    testsupport::FakeDrives drives;
    testsupport::ScriptedPrompter prompter;
    testsupport::FastClock clock;
    testsupport::MemoryVolume memory{2'000'000};
    bool memoryFills = true;
    std::vector<app::Form1*> mains; // the main windows Cancel made
    int ended = 0;

    void SetUp() override
    {
        mapDrives("");
        app::ProcessSettings& s = app::settings() = app::ProcessSettings{};
        s.SystemRootRead = true;
        s.SystemRootPath = "C:\\windows";
        s.SystemDrive = "C:";
        s.SelectedDrive = s.LastSelectedDrive = "t: [" + dir.path() + "]";
        ASSERT_TRUE(QFile::copy(ZARVEX_BUILD_BIN_DIR "/ZarvexWipe.db", dbDir.filePath("info.db")));
        infodb::setDatabasePath(dbDir.filePath("info.db"));
        infodb::resetReports();
    }
    void TearDown() override { qDeleteAll(mains); infodb::setDatabasePath({}); }
    void mapDrives(const QString& more) { drivesEnv.emplace("ZARVEX_DRIVES", "c=/;t=" + dir.path() + more); }
    platform::Services services() { return {&drives, &prompter, &clock}; }
    app::Form1* newMain()
    {
        auto* m = new app::Form1(services(), [this] { ++ended; });
        if (memoryFills)
            m->fillTargetFactory = [this](const QString&) { return testsupport::borrow(memory); };
        return m;
    }
    std::unique_ptr<Form2> open(const QString& code)
    {
        app::settings().ProcessCode = code;
        return std::make_unique<Form2>(
            services(), [this] { return mains.emplace_back(newMain()); }, [this] { ++ended; });
    }
    void put(std::initializer_list<QString> files)
    {
        for (const QString& relative : files) {
            QDir(dir.path()).mkpath(QFileInfo(relative).path());
            QFile f(dir.filePath(relative));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write("12345") == 5);
        }
    }
    static QTreeWidgetItem* node(const Form2& w, const QString& name = {})
    {
        QTreeWidgetItem* root = w.TreeView1->topLevelItem(0);
        for (int i = 0; root && !name.isEmpty() && i < root->childCount(); ++i)
            if (tree::NodeTag(root->child(i)) == "t:\\" + name)
                return root->child(i);
        return name.isEmpty() ? root : nullptr;
    }
    static void click(Form2& w, const QString& name = {}) { emit w.TreeView1->itemClicked(node(w, name), 0); }
    static void choose(Form2& w, const QString& type)
    {
        w.Combo1->setCurrentIndex(w.Combo1->findText(type));
        emit w.Combo1->activated(w.Combo1->currentIndex());
    }
};

TEST_F(Form2Test, StartsInFolderOrFileModeOnTheRootOfTheChosenDrive)
{
    put({"sub/x.txt"});
    for (const bool folder : {true, false}) {
        app::settings().SelectedDrive = "t: [" + dir.path() + "]";
        auto w = open(folder ? "Sel" : "Fil");
        EXPECT_EQ(w->windowTitle(), folder ? "Folder Wipe Routine" : "File Wipe Routine");
        EXPECT_EQ(w->Command1->text(), folder ? "&Wipe Folder(s)" : "&Wipe File(s)");
        for (QCheckBox* box : {w->Check1, w->Check2, w->Check3})
            EXPECT_TRUE(box->isChecked() == folder && box->isEnabled() == !folder);
        EXPECT_TRUE(w->Combo1->isVisibleTo(w.get()) == !folder && w->Combo1->isEnabled() == !folder);
        EXPECT_TRUE(w->Text3->isVisibleTo(w.get()) == folder && w->Text3->text() == (folder ? "ALL" : ""));
        // The list entry with its mount point opened the drive's root, and
        // the first level came through the window's hook.
        EXPECT_EQ(app::settings().SelectedDrive, "t:\\");
        EXPECT_TRUE(tree::NodeTag(node(*w)) == "t:\\" && node(*w, "sub"));
        EXPECT_TRUE(w->TreeView1->imageList() && hooked(w->TreeView1) && hooked(w.get()));
        EXPECT_EQ(w->File1->path(), dir.path());
        // No folder chosen: a folder wipe is refused; no file selected: a
        // file wipe touches none.
        w->Command1->click();
        EXPECT_EQ(prompter.texts, folder ? QStringList{filewipe::kNoFolderChosen} : QStringList{});
        EXPECT_TRUE(QFile::exists(dir.filePath("sub/x.txt")));
        prompter.texts.clear();
    }
}

TEST_F(Form2Test, AttributeFiltersApplyAtTheNextTreeClick)
{
    put({"a.txt", ".hidden", "ro.txt", "sub/x.txt", "sub/y.txt"});
    ASSERT_TRUE(QFile::setPermissions(dir.filePath("ro.txt"), QFile::ReadOwner));
    const QStringList all{".hidden", "a.txt", "ro.txt"};
    auto folder = open("Sel");
    click(*folder);
    EXPECT_EQ(listed(*folder), all);

    auto files = open("Fil");
    click(*files);
    EXPECT_EQ(listed(*files), QStringList{"a.txt"});
    files->Check2->setChecked(true);
    files->Check3->setChecked(true);
    EXPECT_EQ(listed(*files), QStringList{"a.txt"});
    click(*files);
    EXPECT_EQ(listed(*files), all);
    // A folder's tag reaches the list; the chosen folder gets its backslash.
    click(*files, "sub");
    EXPECT_TRUE(files->TreeFolder == "t:\\sub\\" && files->File1->path() == dir.filePath("sub"));
    files->Command2->click();
    EXPECT_EQ(files->File1->selectedItems().size(), 2);
}

TEST_F(Form2Test, TypeSelectorOffersTheEndingsFoundAndListsByThemWithoutRegardToCase)
{
    struct Row { QString folder; QStringList files, offered; QString choice; QStringList shown; };
    const Row table[] = {
        {"mixed", {"a.txt", "b.TXT", "c.doc"}, {"ALL", "TXT", "DOC"}, "TXT", {"a.txt", "b.TXT"}},
        {"web", {"page.html", "x.tml"}, {"ALL", "TML"}, "TML", {"x.tml"}},
        {"js", {"run.js"}, {"ALL", ".JS"}, ".JS", {}},
        {"readme", {"README"}, {"ALL", "DME"}, "DME", {}},
        {"empty", {}, {"ALL"}, "ALL", {}},
        // An ending that is a wildcard would list every file under it.
        {"odd", {"n.a;*", "y.txt"}, {"ALL", "TXT"}, "TXT", {"y.txt"}},
    };
    for (const Row& r : table) {
        QDir(dir.path()).mkpath(r.folder);
        for (const QString& f : r.files)
            put({r.folder + "/" + f});
    }
    {
        // A table whose first record is not "ALL" is emptied and made whole.
        infodb::Connection db(infodb::databasePath());
        infodb::Recordset exts(db, "exts");
        exts.setValue("extname", "FOO");
    }
    auto w = open("Fil");
    for (const Row& r : table) {
        SCOPED_TRACE(r.folder.toStdString());
        click(*w, r.folder);
        EXPECT_EQ(offered(*w), r.offered);
        EXPECT_EQ(infodb::readExtNames(), r.offered);
        choose(*w, r.choice);
        EXPECT_EQ(w->FileTypeChoice, r.choice);
        EXPECT_EQ(listed(*w), r.shown);
        click(*w, r.folder); // every file again
        EXPECT_TRUE(w->FileTypeChoice.isEmpty() && w->File1->pattern() == "*.*");
        EXPECT_EQ(listed(*w).size(), r.files.size());
    }
}

TEST_F(Form2Test, MissingDatabaseVanishedFolderFileOrDriveAreNamedAndTheWindowStaysUsable)
{
    put({"a.txt", "gone/b.txt", "mixed/c.doc", "mixed/d.txt"});
    mapDrives(";u=" + dir.filePath("missing"));
    infodb::setDatabasePath(dbDir.filePath("missing.db"));
    auto w = open("Fil");
    ASSERT_EQ(prompter.texts.size(), 1); // once, however often the list is rebuilt
    EXPECT_TRUE(prompter.texts[0].contains(dbDir.filePath("missing.db")));
    click(*w, "mixed");
    EXPECT_EQ(offered(*w), QStringList({"ALL", "DOC", "TXT"}));
    choose(*w, "DOC");
    EXPECT_EQ(listed(*w), QStringList{"c.doc"});

    ASSERT_TRUE(QDir(dir.filePath("gone")).removeRecursively());
    click(*w, "gone");
    ASSERT_EQ(prompter.texts.size(), 2);
    EXPECT_TRUE(prompter.texts[1].startsWith("The folder t:\\gone cannot be listed:"));
    EXPECT_TRUE(listed(*w).isEmpty() && w->TreeFolder.isEmpty());

    click(*w);
    QListWidgetItem* a = w->File1->item(0);
    emit w->File1->itemClicked(a);
    EXPECT_TRUE(w->CurrentFile == "t:\\a.txt" && w->FileLength == 5);
    ASSERT_TRUE(QFile::remove(dir.filePath("a.txt")));
    emit w->File1->itemClicked(a);
    ASSERT_EQ(prompter.texts.size(), 3);
    EXPECT_TRUE(prompter.texts[2].startsWith("The length of the file t:\\a.txt cannot be read:"));

    ASSERT_EQ(w->TreeFolder, "t:\\");
    w->Drive1->setDrive("u:"); // the folder chosen on t: is chosen no more
    EXPECT_TRUE(w->TreeFolder.isEmpty());
    ASSERT_EQ(prompter.texts.size(), 4);
    EXPECT_TRUE(prompter.texts[3].startsWith("The drive u: ["));
    EXPECT_TRUE(w->TreeView1->topLevelItemCount() == 0 && listed(*w).isEmpty());
}

TEST_F(Form2Test, CancelWithAutoWipeStartsAShortFreeSpaceWipeOfTheLastChosenDrive)
{
    VOLUME_OR_SKIP(volume, Tmpfs, 3);
    // Every letter is the scratch volume or names nothing: whatever drive a
    // fault might pick, no real folder is filled.
    drivesEnv.emplace("ZARVEX_DRIVES", "c=" + dir.filePath("none") + ";v=" + volume.folder());
    memoryFills = false;
    app::ProcessSettings& s = app::settings();
    s.SelectedDrive = s.LastSelectedDrive = "v: [" + volume.folder() + "]";
    s.AutoWipeFree = 1;
    s.WipeLevel = 40; // a file was wiped with 41 passes
    auto w = open("Fil");
    w->show();
    int pauses = 0, lockedPauses = 0;
    clock.onPause = [&] {
        const app::Form1& m = *mains.at(0);
        ++pauses;
        lockedPauses += m.Drive1->drive().startsWith("v:") && !m.Drive1->isEnabled() &&
                        m.Combo1->currentText() == "Security Wipe Free Space" && !m.Combo1->isEnabled() &&
                        m.Option7->isChecked() && !m.Option6->isEnabled() && !m.Option7->isEnabled() &&
                        m.Check1->isChecked() && !m.Check1->isEnabled();
    };
    w->Command3->click();
    clock.onPause = nullptr;
    ASSERT_EQ(mains.size(), 1u);
    EXPECT_TRUE(mains[0]->lastFill.completed) << mains[0]->lastFill.message.toStdString();
    EXPECT_EQ(mains[0]->PatternCallCount, 6);
    EXPECT_TRUE(pauses > 0 && lockedPauses == pauses);
    EXPECT_TRUE(QDir(volume.folder()).entryList({"tmptxt*"}, QDir::Files).isEmpty());
}

TEST_F(Form2Test, LeavingReleasesTheWindowAndAsksOnlyWhileAWipeRuns)
{
    mapDrives(";v=" + dir.filePath("missing"));
    app::settings().LastSelectedDrive = "v: [/somewhere/else]"; // the letter names another folder now
    const QString question = "This will close the program even if a process is still running\r\n\r\n"
                             "Do you want to continue the Close Process?";
    struct Row { bool cancel, autoWipe, running, yes, leaves; };
    for (const Row r : {Row{true, false, false, false, true}, Row{true, true, false, false, true},
                        Row{false, false, false, false, true}, Row{false, false, true, false, false},
                        Row{false, false, true, true, true}}) {
        app::settings().AutoWipeFree = r.autoWipe ? 1 : 0;
        prompter.texts.clear();
        prompter.questions.clear();
        prompter.answers = {r.yes};
        ended = 0;
        auto w = open("Fil");
        w->show();
        w->WipeInProgress = r.running ? 1 : 0;
        r.cancel ? w->Command3->click() : void(w->close());
        EXPECT_EQ(w->isVisible(), !r.leaves);
        EXPECT_TRUE(hooked(w->TreeView1) == !r.leaves && w->databaseOpen() == !r.leaves);
        EXPECT_TRUE(!r.leaves || (!w->TreeView1->imageList() && !w->TreeView1->topLevelItemCount()));
        EXPECT_EQ(prompter.questions, r.running ? QStringList{question} : QStringList{});
        EXPECT_EQ(ended, r.running && r.yes ? 1 : 0);
        // Cancel shows a new main window on the system drive; the free-space
        // wipe of a drive whose letter moved is refused, nothing is written.
        ASSERT_EQ(mains.size(), r.cancel ? 1u : 0u);
        EXPECT_TRUE(!r.cancel || (mains[0]->isVisible() && mains[0]->Drive1->drive().startsWith("c:")));
        EXPECT_EQ(prompter.texts.filter("The free space of V: was not wiped").size(), r.autoWipe ? 1 : 0);
        EXPECT_TRUE(memory.created.isEmpty());
        qDeleteAll(mains);
        mains.clear();
    }
}

TEST_F(Form2Test, MainWindowsWipeButtonOpensItInTheChosenMode)
{
    put({"a.txt"});
    for (const int item : {1, 2}) { // Select Folder, File or Range of Files
        app::Form1* main = newMain();
        main->setAttribute(Qt::WA_DeleteOnClose);
        const QPointer<app::Form1> alive(main);
        main->show();
        ASSERT_TRUE(main->Drive1->setDrive("t:"));
        main->Combo1->setCurrentIndex(item);
        main->Combo1_click();
        main->Command1->click();
        Form2* w = nullptr;
        for (QWidget* top : QApplication::topLevelWidgets())
            if (auto* f = qobject_cast<Form2*>(top); f && f->isVisible())
                w = f;
        ASSERT_NE(w, nullptr);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(alive.isNull()); // closed and discarded first
        const bool fileMode = item == 2;
        EXPECT_EQ(w->windowTitle(), fileMode ? "File Wipe Routine" : "Folder Wipe Routine");
        EXPECT_TRUE(w->File1->isEnabled() == fileMode && w->Command2->isEnabled() == fileMode);
        EXPECT_EQ(tree::NodeTag(node(*w)), "t:\\");
        EXPECT_EQ(listed(*w), QStringList{"a.txt"});
        w->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    EXPECT_EQ(ended, 0);
}

// The Wipe button on a scratch volume: the chosen folder and its files go,
// nothing that could change the list is usable meanwhile, and the window is
// ready again after.
TEST_F(Form2Test, FolderWipeFromTheWindowLocksTheListAndEndsReady)
{
    VOLUME_OR_SKIP(volume, Tmpfs, 4);
    drivesEnv.emplace("ZARVEX_DRIVES", "c=/;t=" + volume.folder());
    app::settings().SelectedDrive = "t: [" + volume.folder() + "]";
    QDir(volume.folder()).mkpath("docs");
    for (const char* name : {"a.txt", ".hidden", "b.doc"}) {
        QFile f(volume.folder() + "/docs/" + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write("secret") == 6);
    }
    auto w = open("Sel");
    click(*w, "docs");
    ASSERT_EQ(listed(*w).size(), 3);
    bool lockedWhileRunning = true;
    clock.onPause = [&] {
        for (QWidget* c : std::initializer_list<QWidget*>{w->Command1, w->Command2, w->Command3, w->TreeView1,
                                                          w->Drive1})
            lockedWhileRunning = lockedWhileRunning && !c->isEnabled();
        lockedWhileRunning = lockedWhileRunning && w->WipeInProgress == 1;
    };
    w->Command1->click();
    clock.onPause = nullptr;

    EXPECT_TRUE(lockedWhileRunning);
    EXPECT_EQ(w->lastWipe.filesWiped, 3);
    EXPECT_TRUE(w->lastWipe.folderRemoved);
    EXPECT_FALSE(QFileInfo::exists(volume.folder() + "/docs"));
    EXPECT_TRUE(prompter.texts.isEmpty()) << prompter.texts.join('|').toStdString();
    EXPECT_EQ(w->Text2->text(), "DONE");
    EXPECT_EQ(w->WipeInProgress, 0);
    for (QWidget* c : std::initializer_list<QWidget*>{w->Command1, w->Command2, w->Command3, w->TreeView1})
        EXPECT_TRUE(c->isEnabled());
    EXPECT_FALSE(w->Text4->isVisibleTo(w.get()));
}

// A file wipe leaves a record listing the files it was given, with their
// sizes, its passes and the read-back of every file's finalizing pass.
TEST_F(Form2Test, AFileWipeIsRecordedWithItsFilesAndTheirSizes)
{
    VOLUME_OR_SKIP(volume, Tmpfs, 8);
    drivesEnv.emplace("ZARVEX_DRIVES", "c=/;t=" + volume.folder());
    app::settings().SelectedDrive = "t: [" + volume.folder() + "]";
    const QMap<QString, qsizetype> sizes{{"a.txt", 5}, {"big.bin", 1'200'000}, {"keep.txt", 7}};
    for (auto it = sizes.begin(); it != sizes.end(); ++it) {
        QFile f(volume.folder() + "/" + it.key());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(QByteArray(it.value(), 'o')) == it.value());
    }
    auto w = open("Fil");
    click(*w);
    for (int i = 0; i < w->File1->listCount(); ++i)
        w->File1->setSelected(i, w->File1->entry(i) != "keep.txt");
    w->Command1_Click();
    EXPECT_TRUE(w->lastWipe.completed()) << prompter.texts.join("|").toStdString();
    EXPECT_EQ(QDir(volume.folder()).entryList(QDir::Files), QStringList{"keep.txt"});

    const QList<records::WipeRecord> kept = records::Store().all();
    ASSERT_EQ(kept.size(), 1);
    const records::WipeRecord& r = kept[0];
    EXPECT_EQ(r.process, records::ProcessKind::Files);
    QMap<QString, qsizetype> listedSizes;
    for (const records::WipedItem& item : r.items)
        listedSizes[item.path] = item.folder ? -1 : item.size;
    EXPECT_EQ(listedSizes, (QMap<QString, qsizetype>{{volume.folder() + "/a.txt", 5},
                                                     {volume.folder() + "/big.bin", 1'200'000}}));
    EXPECT_EQ(r.passesPlanned, 41 + 21);
    EXPECT_EQ(r.passesDone, r.passesPlanned);
    EXPECT_GE(r.bytesWritten, 21u * 1'200'000);
    EXPECT_EQ(r.verification, platform::Verification::Passed) << r.verificationDetail.toStdString();
    EXPECT_EQ(r.outcome, records::Outcome::Completed);
    EXPECT_EQ(r.drive.letter, "T:");
}
