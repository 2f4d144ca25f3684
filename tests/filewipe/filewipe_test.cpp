// The folder and file wipe on small real volumes: what each pass writes, the
// procedure's choices and refusals, and what is left in the raw image. Then
// its window on real folders: a temporary folder is drive t:, each test works
// on its own copy of the info database, fills of the main windows it makes go
// to memory, and the free-space wipe that Cancel hands over to runs on a
// scratch tmpfs.
#include "app/console.h"
#include "app/form1.h"
#include "controls/drivelistbox.h"
#include "controls/filelistbox.h"
#include "filewipe/folderlist.h"
#include "filewipe/form2.h"
#include "filewipe/overwrite.h"
#include "platform/names.h"
#include "platform/overwritefile.h"
#include "infodb/infodb.h"
#include "records/store.h"
#include "support/fakes.h"
#include "support/fillfakes.h"
#include "support/rawimage.h"
#include "support/volumes.h"
#include "tree/foldertree.h"
#include "tree/subclass.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QProgressBar>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <sys/inotify.h>
#include <sys/xattr.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

using filewipe::Form2;
using testsupport::ScratchVolume;

namespace {

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

struct ProgressRecorder : filewipe::OverwriteView {
    void setTime(const QString&) override {}
    void setProgress(std::int64_t v, std::int64_t m) override { value = v, maximum = m; }
    std::int64_t value = -1, maximum = -1;
};

// A scratch volume (tmpfs unless told) mapped to t:, and a wipe of one of
// its folders.
class FileWipe : public ::testing::Test {
protected:
    std::optional<ScratchVolume> volume;
    std::optional<testsupport::EnvGuard> drives;
    testsupport::ScriptedPrompter prompter;
    testsupport::FastClock clock;

    void SetUp() override { makeVolume(ScratchVolume::Kind::Tmpfs, 8); }
    void makeVolume(ScratchVolume::Kind kind, int sizeMiB)
    {
        volume.emplace(kind, sizeMiB);
        if (!volume->ok())
            GTEST_SKIP() << volume->skipReason().toStdString();
        drives.emplace("ZARVEX_DRIVES", "c=/;t=" + volume->folder());
        session::settings() = session::ProcessSettings{};
    }
    QString path(const QString& relative) const { return volume->folder() + '/' + relative; }
    bool put(const QString& relative, const QByteArray& data)
    {
        QFile f(path(relative));
        return QDir().mkpath(QFileInfo(f).path()) && f.open(QIODevice::WriteOnly) && f.write(data) == data.size() &&
               f.flush() && ::fsync(f.handle()) == 0;
    }

    // Wipes `folder` (relative, "" for the root): the named files, or in
    // folder mode all of them and the folder. `listed` runs between the
    // listing and the wipe.
    filewipe::FileWipeResult wipe(const QString& folder, const QStringList& names, bool folderMode = false,
                                  const std::function<void()>& listed = {})
    {
        const QString drivePath = folder.isEmpty() ? QStringLiteral("t:\\") : "t:\\" + QString(folder).replace('/', '\\');
        filewipe::FolderList list(drivePath, path(folder));
        running = &list;
        EXPECT_TRUE(list.choose(names));
        if (listed)
            listed();
        std::int16_t inProgress = 0;
        testsupport::FakeDrives fake;
        filewipe::FileWipeContext ctx{folderMode, folderMode ? drivePath + '\\' : QString(), session::settings(),
                                      inProgress, list, {&fake, &prompter, &clock}};
        const filewipe::FileWipeResult result = filewipe::runFileWipe(ctx);
        EXPECT_EQ(inProgress, 0);
        EXPECT_FALSE(list.locked);
        running = nullptr;
        statuses = list.statuses;
        return result;
    }
    QStringList statuses; // of the last wipe
    // The list of the wipe that runs (its status lines say which file).
    const filewipe::FolderList* running = nullptr;
};

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

// Every pass overwrites the whole file, rounded up to whole blocks, and a
// file under 1,000 bytes as 1,000, with its pass's byte; only OW_File drives
// the bar.
TEST_F(FileWipe, EveryPassWritesTheWholeFileWithEitherRoutine)
{
    const struct { qint64 size, written, blocks; } cases[] = {
        {50, 1000, 10}, {1000, 1000, 10}, {2500, 2500, 25}, {999'999, 1'000'000, 10'000}, {1'000'000, 1'000'000, 5'000}};
    for (const auto& c : cases) {
        for (const std::int16_t level : {1, 2}) {
            SCOPED_TRACE(testing::Message() << c.size << " bytes, pass " << level);
            ASSERT_TRUE(put("f.bin", testsupport::repeated("old-data-", c.size)));
            const platform::WipeFolder folder(volume->folder());
            platform::OverwriteFile file = folder.open("f.bin", {});
            filewipe::OverwriteState state{path("f.bin"), &file, std::max<qint64>(c.size, 1000)};
            ProgressRecorder view;
            const bool ownFile = level == 1;
            (ownFile ? filewipe::OW_File : filewipe::OW_FileB)(state, level, view, clock);
            EXPECT_EQ(readAll(path("f.bin")), QByteArray(c.written, ownFile ? '0' : '1'));
            EXPECT_EQ(state.BlockCount, c.blocks);
            EXPECT_EQ(view.value, ownFile ? c.blocks : -1);
        }
    }
}

// Every pass reaches the disk before the next one begins: between two
// writes of a file's contents there is always a flush of that file, and its
// last write is flushed too (seen through the platform's observer): small
// files wiped as a batch (flushed together on ext4, one by one through
// ntfs-3g) and a large file alone.
TEST_F(FileWipe, EveryPassIsFlushedBeforeTheNextBegins)
{
    for (const auto kind : {ScratchVolume::Kind::Ext4, ScratchVolume::Kind::Ntfs}) {
        makeVolume(kind, 16);
        if (!volume->ok())
            return;
        const QStringList names = {"a.txt", "b.bin", "c.bin", "large.bin"};
        for (const QString& name : names)
            ASSERT_TRUE(put(name, name == "large.bin" ? testsupport::repeated("old-data-", 1'200'000) : "secret"));
        std::map<QString, std::string> events;
        platform::setOverwriteObserver([&](platform::OverwriteEvent e, const QString& file) {
            events[QFileInfo(file).fileName()] += e == platform::OverwriteEvent::Written ? 'w' : 'f';
        });
        const QString home = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(volume->folder()));
        QStringList args = {"files", "--yes"};
        const int rc = app::runConsole(args + names, {&platform::systemDrives(), nullptr, &clock});
        QDir::setCurrent(home);
        platform::setOverwriteObserver({});
        EXPECT_EQ(rc, 0);
        for (const QString& name : names) {
            const std::string& seen = events[name];
            SCOPED_TRACE(name.toStdString() + ": " + seen);
            EXPECT_EQ(seen.find("ww"), std::string::npos);
            EXPECT_TRUE(!seen.empty() && seen.back() == 'f');
            EXPECT_GE(std::count(seen.begin(), seen.end(), 'f'), name == "large.bin" ? 21 : 41);
        }
    }
}

TEST_F(FileWipe, LetterPatternsTypesAndDriveRoots)
{
    const QByteArray letters = filewipe::passPattern(3, true);
    EXPECT_EQ(letters, QByteArray(20, letters[0]));
    // Documents get OW_File (1), everything else OW_FileB (2).
    for (const auto& [name, type] : {std::pair{"notes.TXT", 1}, {"page.html", 1}, {"letter.doc", 1}, {"a.rt", 1},
                                     {"photo.jpg", 2}, {"setup.exe", 2}, {"readme", 2}})
        EXPECT_EQ(filewipe::Set_Type(name), type) << name;
    // A drive root is never deleted.
    ASSERT_TRUE(put("root.bin", "kept"));
    const platform::WipeFolder folder(volume->folder());
    platform::OverwriteFile file = folder.open("root.bin", {});
    for (const char* root : {"c:\\", "c:"})
        EXPECT_NO_THROW(filewipe::KillIt(root, file, clock));
    EXPECT_EQ(clock.pausedMs, 0);
    EXPECT_EQ(readAll(path("root.bin")), "kept");
}

// File mode: only the selected file goes; the others keep their bytes and
// their modes. A file of exactly 1,000,000 bytes is large.
TEST_F(FileWipe, FileModeWipesOnlyTheSelectedFile)
{
    for (const char* name : {"a.txt", "c.jpg"})
        ASSERT_TRUE(put(QStringLiteral("docs/") + name, name));
    ASSERT_TRUE(put("docs/b.txt", QByteArray(1'000'000, 'b')));
    ASSERT_TRUE(QFile::setPermissions(path("docs/a.txt"), QFile::ReadOwner));
    // The name goes before the file: renamed away, never deleted as it was.
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(::inotify_add_watch(watch, QFile::encodeName(path("docs")).constData(), IN_MOVED_FROM | IN_DELETE), 0);

    QFile holder(path("docs/b.txt")); // another program's, open through the wipe
    ASSERT_TRUE(holder.open(QIODevice::ReadOnly));

    const filewipe::FileWipeResult r = wipe("docs", {"b.txt"});
    // The file it holds was emptied before it went: nothing of it is read.
    EXPECT_EQ(holder.size(), 0);
    EXPECT_TRUE(holder.readAll().isEmpty());
    QStringList renamed, deleted;
    alignas(inotify_event) char events[4096];
    for (ssize_t n = ::read(watch, events, sizeof events), at = 0; n > 0 && at < n;) {
        const auto* e = reinterpret_cast<const inotify_event*>(events + at);
        (e->mask & IN_MOVED_FROM ? renamed : deleted) << QString::fromUtf8(e->name);
        at += ssize_t(sizeof(inotify_event) + e->len);
    }
    ::close(watch);
    EXPECT_EQ(renamed.value(0), "b.txt");
    EXPECT_FALSE(deleted.contains("b.txt")) << deleted.join(' ').toStdString();
    EXPECT_TRUE(r.completed());
    EXPECT_EQ(r.filesWiped, 1);
    EXPECT_EQ(QDir(path("docs")).entryList(QDir::Files), (QStringList{"a.txt", "c.jpg"}));
    EXPECT_EQ(readAll(path("docs/a.txt")) + readAll(path("docs/c.jpg")), "a.txtc.jpg");
    EXPECT_FALSE(QFileInfo(path("docs/a.txt")).permissions() & QFile::WriteOwner);
    EXPECT_EQ(session::settings().WipeLevel, 20); // 20 numbered passes and the finalizing one
    EXPECT_TRUE(prompter.texts.isEmpty()) << prompter.texts.join('|').toStdString();
}

// Folders right after the drive root, compared exactly: two are refused, one
// warned about; a subfolder left behind keeps its folder, with the message.
TEST_F(FileWipe, ProtectedFoldersAndAFolderThatStaysBehind)
{
    const QString warning = "Some Files and Folders may be Protected System Folders\r\n\r\nIf you get a message that the "
                            "folder is locked or not empty\r\nthey may not be wiped without doing a Complete Drive Wipe";
    const struct { const char* folder; QStringList said; bool wiped; } cases[] = {
        {"Recycled", {filewipe::kEntireDriveOnly}, false}, {"RECYCLED", {}, true}, {"Temp", {warning}, true},
        {"Temporary", {warning}, true}, {"Data/Temp", {}, true}};
    for (const auto& c : cases) {
        ASSERT_TRUE(put(c.folder + QStringLiteral("/x.doc"), "x"));
        prompter.texts.clear();
        wipe(c.folder, {}, true);
        EXPECT_EQ(prompter.texts, c.said) << c.folder;
        EXPECT_EQ(QFileInfo::exists(path(c.folder)), !c.wiped) << c.folder;
    }

    ASSERT_TRUE(QDir().mkpath(path("keep/sub")) && put("keep/x.txt", "x"));
    prompter.texts.clear();
    EXPECT_EQ(wipe("keep", {}, true).errorNumber, 75);
    EXPECT_TRUE(!QFileInfo::exists(path("keep/x.txt")) && QFileInfo::exists(path("keep/sub")));
    ASSERT_EQ(prompter.texts.size(), 1);
    EXPECT_TRUE(prompter.texts[0].startsWith("The Folder/File was not deleted.\r\n"));
    EXPECT_TRUE(prompter.texts[0].endsWith("exists. t:\\keep")) << prompter.texts[0].toStdString();
}

// What the list shows may change before the wipe reaches it: a file gone
// ends the run (53); one swapped for a link after the listing, or one with
// another name (a hard link), is never written through: each is named, and
// the others are wiped.
TEST_F(FileWipe, GoneLinkedAndHardLinkedFilesAreNotWrittenThrough)
{
    for (const char* name : {"d/gone.txt", "d/link.txt", "d/mine.txt"})
        ASSERT_TRUE(put(name, "x"));
    ASSERT_TRUE(put("outside/target.txt", "keep me") && put("d/shared.txt", "shared data"));
    ASSERT_EQ(::link(QFile::encodeName(path("d/shared.txt")), QFile::encodeName(path("outside/other-name.txt"))), 0);

    EXPECT_EQ(wipe("d", {"gone.txt"}, false, [&] { QFile::remove(path("d/gone.txt")); }).errorNumber, 53);
    EXPECT_EQ(prompter.texts, QStringList{"To Select a file you must first click on the Root Drive, Folder or "
                                          "Directory to activate the Path"});

    prompter.texts.clear();
    const filewipe::FileWipeResult r = wipe("d", {"link.txt", "mine.txt", "shared.txt"}, false, [&] {
        ASSERT_TRUE(QFile::remove(path("d/link.txt")) && QFile::link(path("outside/target.txt"), path("d/link.txt")));
    });
    EXPECT_TRUE(r.filesWiped == 1 && r.errorNumber == 0 && !QFileInfo::exists(path("d/mine.txt")));
    EXPECT_EQ(readAll(path("outside/target.txt")), "keep me");
    EXPECT_TRUE(QFileInfo(path("d/link.txt")).isSymLink());
    EXPECT_EQ(readAll(path("outside/other-name.txt")), "shared data");
    ASSERT_EQ(prompter.texts.size(), 1);
    EXPECT_TRUE(prompter.texts[0].startsWith(filewipe::kNotWipedHeading + "\r\n\r\nshared.txt: left as it was: it has 1 other"))
        << prompter.texts[0].toStdString();
    EXPECT_TRUE(prompter.texts[0].contains("link.txt: left as it was: it is no regular file now"));
}

// Wipes run as an adversary would have them. Each row lays out a folder of its
// own on an ext4 volume (with files on a second volume), changes the world
// between the second and third pass of one file (the seam: the pass count the
// window shows), and says what must be gone and which files must be named.
// Whatever the row, every file nobody chose, on either volume, keeps its
// bytes and its mode, and nothing is called wiped that was not.
class AdversaryWipe : public FileWipe {
protected:
    void SetUp() override
    {
        makeVolume(ScratchVolume::Kind::Ext4, 16);
        if (IsSkipped())
            return;
        other.emplace(ScratchVolume::Kind::Tmpfs, 4);
        ASSERT_TRUE(other->ok());
    }
    void TearDown() override
    {
        program.kill();
        program.waitForFinished();
        for (const QString& m : mounts)
            testsupport::runCommand("umount", {"-l", m});
    }
    QString elsewhere(const QString& relative) const { return other->folder() + '/' + relative; }
public:
    static bool putOn(const QString& full, const QByteArray& data)
    {
        QDir().mkpath(QFileInfo(full).path());
        const int fd = ::open(platform::nameToBytes(full).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const bool ok = fd >= 0 && ::write(fd, data.constData(), std::size_t(data.size())) == data.size();
        return ::close(fd) == 0 && ok;
    }
protected:
    static bool run(const QString& program, const QStringList& args)
    {
        return testsupport::runCommand(program, args) == 0;
    }
    // Every regular file under the two volumes by identity: its mode and
    // bytes (size and blocks for a large one).
    std::map<std::pair<dev_t, ino_t>, std::string> snapshot() const
    {
        namespace fs = std::filesystem;
        std::map<std::pair<dev_t, ino_t>, std::string> files;
        for (const QString& root : {volume->folder(), other->folder()}) {
            for (const auto& e : fs::recursive_directory_iterator(platform::nameToBytes(root).toStdString())) {
                struct stat st {};
                if (::lstat(e.path().c_str(), &st) != 0 || !S_ISREG(st.st_mode))
                    continue;
                std::string value = std::to_string(st.st_mode) + ':';
                if (st.st_size > (1 << 20)) {
                    value += std::to_string(st.st_size) + '/' + std::to_string(st.st_blocks);
                } else {
                    std::ifstream in(e.path(), std::ios::binary);
                    value.append(std::istreambuf_iterator<char>(in), {});
                }
                files[{st.st_dev, st.st_ino}] = value;
            }
        }
        return files;
    }
    std::pair<dev_t, ino_t> idOf(const QString& full) const
    {
        struct stat st {};
        ::lstat(platform::nameToBytes(full).constData(), &st);
        return {st.st_dev, st.st_ino};
    }
    std::optional<ScratchVolume> other;
    QStringList mounts;
    QProcess program; // a program whose file is chosen
};

TEST_F(AdversaryWipe, OnlyTheChosenFilesAreWrittenAndOnlyWipedOnesAreCalledWiped)
{
    const QByteArray secret = testsupport::repeated("secret-", 3000);
    const QString notUtf8 = platform::nameFromBytes("caf\xe9.txt");
    const struct Row {
        const char* what;
        const char* folder;
        bool folderMode;
        QStringList chosen; // in file mode; in folder mode every file
        std::function<void()> setUp;
        const char* swapAt; // the file whose third pass the swap comes before
        std::function<void()> swap;
        QStringList gone;   // relative to the volume
        QStringList named;  // in the report of files not wiped
        bool completed;
    } rows[] = {
        {"the folder swapped for a link to a folder on another volume", "r1", false, {"target.bin"},
         [&] { putOn(path("r1/target.bin"), secret), putOn(elsewhere("w/target.bin"), "victim"); }, "target.bin",
         [&] { QDir().rename(path("r1"), path("r1.old")), QFile::link(elsewhere("w"), path("r1")); },
         {"r1.old/target.bin"}, {}, true},
        {"another file renamed onto the chosen name", "r2", false, {"target.bin"},
         [&] { putOn(path("r2/target.bin"), secret), putOn(path("r2/innocent.txt"), "innocent"); }, "target.bin",
         [&] { QDir().rename(path("r2/innocent.txt"), path("r2/target.bin")); }, {}, {}, true},
        {"a chosen file swapped for a link to another volume's file", "r3", false, {"a.txt", "b.bin"},
         // b.bin is large: wiped alone, before a.txt is opened.
         [&] {
             putOn(path("r3/a.txt"), secret), putOn(path("r3/b.bin"), testsupport::repeated("secret-", 1'200'000)),
                 putOn(elsewhere("v.txt"), "v");
         },
         "b.bin", [&] { QFile::remove(path("r3/a.txt")), QFile::link(elsewhere("v.txt"), path("r3/a.txt")); },
         {"r3/b.bin"}, {"a.txt: left as it was: it is no regular file now"}, false},
        {"a bind mount of another volume's file", "r4", true, {},
         [&] {
             putOn(path("r4/own.txt"), secret), putOn(path("r4/bound.txt"), ""), putOn(elsewhere("v2.txt"), "v2");
             if (run("mount", {"--bind", elsewhere("v2.txt"), path("r4/bound.txt")}))
                 mounts << path("r4/bound.txt");
         },
         "", {}, {"r4/own.txt"}, {"bound.txt: left as it was: it is a mount of another file or volume"}, false},
        {"unchosen immutable, append-only and read-only files", "r5", false, {"c.bin"},
         [&] {
             for (const char* n : {"r5/c.bin", "r5/imm.txt", "r5/app.txt", "r5/ro.txt"})
                 putOn(path(n), n);
             run("chattr", {"+i", path("r5/imm.txt")}), run("chattr", {"+a", path("r5/app.txt")});
             QFile::setPermissions(path("r5/ro.txt"), QFile::ReadOwner);
         },
         "", {}, {"r5/c.bin"}, {}, true},
        {"chosen immutable and append-only files", "r6", false, {"imm.txt", "app.txt", "x.bin"},
         [&] {
             for (const char* n : {"r6/imm.txt", "r6/app.txt", "r6/x.bin"})
                 putOn(path(n), secret);
             run("chattr", {"+i", path("r6/imm.txt")}), run("chattr", {"+a", path("r6/app.txt")});
         },
         "", {}, {"r6/x.bin"},
         {"imm.txt: left as it was: it is immutable", "app.txt: left as it was: it is append-only"}, false},
        // A locked file ends the run: every file of its batch is named with its passes.
        {"one of small files wiped together made immutable part-way", "r10", false, {"a.txt", "b.bin", "c.bin"},
         [&] {
             for (const char* n : {"r10/a.txt", "r10/b.bin", "r10/c.bin"})
                 putOn(path(n), secret);
         },
         "a.txt", [&] { run("chattr", {"+i", path("r10/b.bin")}); }, {},
         {"a.txt: overwritten 3 of 41 passes, not deleted", "b.bin: overwritten 3 of 41 passes, not deleted",
          "c.bin: overwritten 3 of 41 passes, not deleted"},
         false},
        // A file given up on its own: the others of its batch go on.
        {"one of small files wiped together renamed away, another file put at its name", "r11", false,
         {"a.txt", "b.bin", "c.bin"},
         [&] {
             for (const char* n : {"r11/a.txt", "r11/b.bin", "r11/c.bin"})
                 putOn(path(n), secret);
         },
         "a.txt",
         [&] { QFile::rename(path("r11/b.bin"), path("r11/moved.bin")), putOn(path("r11/b.bin"), "innocent"); },
         {"r11/a.txt", "r11/c.bin"}, {"b.bin: overwritten (all 41 passes) but not deleted"}, false},
        {"names that are not UTF-8 or hold a backslash", "r7", true, {},
         [&] { putOn(path("r7/" + notUtf8), secret), putOn(path("r7/a\\b.txt"), secret); }, "", {},
         {"r7/" + notUtf8, "r7/a\\b.txt", "r7"}, {}, true},
        {"a program that is running, retried and then named", "r9", false, {"prog"},
         [&] {
             QDir().mkpath(path("r9"));
             QFile::copy("/bin/sleep", path("r9/prog"));
             QFile::setPermissions(path("r9/prog"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
             program.start(path("r9/prog"), {"60"});
             program.waitForStarted();
         },
         "", {}, {}, {"prog: left as it was: it is in use"}, false},
        {"a sparse file larger than the free space", "r8", false, {"big.bin"},
         [&] { putOn(path("r8/big.bin"), secret), QFile::resize(path("r8/big.bin"), qint64(4) << 30); }, "", {}, {},
         {"big.bin: left as it was: a pass needs"}, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        row.setUp();
        auto before = snapshot();
        if (!row.folderMode)
            for (const QString& name : row.chosen)
                if (QFileInfo(path(row.folder + ('/' + name))).size() < (1 << 20))
                    before.erase(idOf(path(row.folder + ('/' + name))));
        for (const QString& gone : row.gone)
            before.erase(idOf(path(gone)));
        bool swapped = !row.swap;
        clock.onYield = [&] {
            if (!swapped && running && running->progressValue == 2 && !running->statuses.isEmpty() &&
                running->statuses.last().endsWith(row.swapAt))
                swapped = true, row.swap();
        };
        prompter.texts.clear();
        const filewipe::FileWipeResult r = wipe(row.folder, row.chosen, row.folderMode);
        clock.onYield = {};
        EXPECT_TRUE(swapped) << statuses.join(u'|').toStdString();
        EXPECT_EQ(r.completed(), row.completed) << prompter.texts.join('|').toStdString();
        for (const QString& gone : row.gone)
            EXPECT_FALSE(platform::examinePath(path(gone))) << platform::readableName(gone).toStdString();
        const QString report = r.givenUp.join('\n');
        for (const QString& named : row.named)
            EXPECT_TRUE(report.contains(named)) << report.toStdString();
        EXPECT_EQ(r.givenUp.size(), row.named.size()) << report.toStdString();
        // The end says what was wiped only when every chosen file is gone.
        EXPECT_EQ(!statuses.filter(QRegularExpression(" wiped, \\d+ passes each")).isEmpty(), r.completed())
            << statuses.join('|').toStdString();
        const auto after = snapshot();
        for (const auto& [id, value] : before) {
            const auto now = after.find(id);
            EXPECT_TRUE(now != after.end() && now->second == value) << "a file nobody chose changed: " << value.substr(0, 40);
        }
        // A file put at a chosen name while the wipe ran is nobody's choice.
        EXPECT_TRUE(!QFileInfo::exists(path("r11/b.bin")) || readAll(path("r11/b.bin")) == "innocent");
    }
}

// The command line: "--" ends the options, a help flag mixed with a wipe is
// refused rather than guessed, a file named twice is wiped once, and a name
// that is not UTF-8 is reached.
TEST_F(FileWipe, CommandLinePathsAreTakenAsGiven)
{
    const QString notUtf8 = platform::nameFromBytes("caf\xe9.txt");
    const struct { QStringList args; int rc; QStringList gone, kept; } cases[] = {
        {{"files", "-h", "--yes"}, 2, {}, {"-h"}},
        {{"files", "--yes", "--", "-h"}, 0, {"-h"}, {}},
        {{"files", "--yes", "d.txt", "./d.txt"}, 0, {"d.txt"}, {}},
        {{"files", "--yes", notUtf8}, 0, {notUtf8}, {}},
    };
    const QString home = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(volume->folder()));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        for (const QString& name : c.gone + c.kept)
            ASSERT_TRUE(AdversaryWipe::putOn(path(name), "data"));
        EXPECT_EQ(app::runConsole(c.args, {&platform::systemDrives(), nullptr, &clock}), c.rc);
        for (const QString& name : c.gone)
            EXPECT_FALSE(platform::examinePath(path(name)));
        for (const QString& name : c.kept)
            EXPECT_TRUE(platform::examinePath(path(name)));
    }
    QDir::setCurrent(home);
}

// The proof: after a folder wipe no byte of the files' contents is left in
// the raw image, large or small (a short file's own blocks too, which NTFS
// keeps in its record); what is left of their names is counted.
class WipedFolderOnImage : public FileWipe, public ::testing::WithParamInterface<std::tuple<ScratchVolume::Kind, bool>> {
    void SetUp() override { makeVolume(std::get<0>(GetParam()), 16); }
};

// A folder wiped whole, or its files chosen from it while it stays (with a
// file that is kept).
TEST_P(WipedFolderOnImage, LeavesNoContentInTheRawImage)
{
    const bool folderMode = std::get<1>(GetParam());
    const QByteArray pattern = testsupport::randomPattern(24);
    const QByteArray needle = pattern.left(16);
    const QString nameMark = QStringLiteral("zqxnamemark");
    const QList<qsizetype> sizes{300, 700, 5000, 70'000, 1'200'000};
    QStringList chosen;
    for (int i = 0; i < sizes.size(); ++i) {
        chosen << QStringLiteral("%1%2.dat").arg(nameMark).arg(i);
        ASSERT_TRUE(put("secret/" + chosen.last(), testsupport::repeated(pattern, sizes[i])));
    }
    ASSERT_TRUE(folderMode || put("secret/kept.txt", "kept"));
    ASSERT_TRUE(volume->unmount());
    ASSERT_GT(testsupport::countInFile(volume->image(), needle), 0);
    // Names are bytes on ext4, UTF-16 on NTFS.
    const QByteArray wideMark(reinterpret_cast<const char*>(nameMark.utf16()), nameMark.size() * 2);
    auto names = [&] {
        return testsupport::countInFile(volume->image(), nameMark.toLatin1()) +
               testsupport::countInFile(volume->image(), wideMark);
    };
    const qint64 namesBefore = names();
    ASSERT_TRUE(volume->remount());

    const filewipe::FileWipeResult r = wipe("secret", folderMode ? QStringList{} : chosen, folderMode);
    EXPECT_TRUE(r.completed() && r.folderRemoved == folderMode) << prompter.texts.join('|').toStdString();
    ASSERT_TRUE(volume->unmount());
    EXPECT_EQ(testsupport::countInFile(volume->image(), needle), 0);
    const qint64 namesAfter = names();
    std::printf("names in the raw image: %lld before, %lld after\n", static_cast<long long>(namesBefore),
                static_cast<long long>(namesAfter));
    // NTFS renames a file in its own record, and the folder's index and
    // record go with names of the wipe's own in them. ext4 clears a deleted
    // name in its folder, and the journal's copies are written over.
    EXPECT_EQ(namesAfter, 0);
}

INSTANTIATE_TEST_SUITE_P(FileWipe, WipedFolderOnImage,
                         ::testing::Combine(::testing::Values(ScratchVolume::Kind::Ext4, ScratchVolume::Kind::Ntfs),
                                            ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param) == ScratchVolume::Kind::Ext4 ? "Ext4" : "Ntfs") +
                                    (std::get<1>(info.param) ? "Folder" : "Files");
                         });

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
        session::ProcessSettings& s = session::settings() = session::ProcessSettings{};
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
        session::settings().ProcessCode = code;
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

// The main window's Wipe button closes it and opens this one in the chosen
// mode, on the root of the chosen drive.
TEST_F(Form2Test, OpensFromTheMainWindowInFolderOrFileModeOnTheDrivesRoot)
{
    put({"sub/x.txt", "a.txt"});
    for (const bool folder : {true, false}) {
        SCOPED_TRACE(folder);
        app::Form1* main = newMain();
        main->setAttribute(Qt::WA_DeleteOnClose);
        const QPointer<app::Form1> alive(main);
        main->show();
        ASSERT_TRUE(main->Drive1->setDrive("t:"));
        main->Combo1->setCurrentIndex(folder ? 1 : 2);
        main->Combo1_click();
        main->Command1->click();
        Form2* w = nullptr;
        for (QWidget* top : QApplication::topLevelWidgets())
            if (auto* f = qobject_cast<Form2*>(top); f && f->isVisible())
                w = f;
        ASSERT_NE(w, nullptr);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(alive.isNull()); // closed and discarded first
        EXPECT_EQ(w->windowTitle(), folder ? "Folder Wipe Routine" : "File Wipe Routine");
        for (QCheckBox* box : {w->Check1, w->Check2, w->Check3})
            EXPECT_TRUE(box->isChecked() == folder && box->isEnabled() == !folder);
        EXPECT_TRUE(w->Combo1->isVisibleTo(w) == !folder && w->Text3->isVisibleTo(w) == folder);
        // It fits a 1280x1024 screen at twice the scale (640x512, less the frame).
        const QSize least = w->minimumSizeHint().expandedTo(w->minimumSize());
        EXPECT_TRUE(least.width() <= 630 && least.height() <= 472) << least.width() << "x" << least.height();
        // The folder's list stays readable: only the choice is the wipe's.
        EXPECT_TRUE(w->File1->isEnabled() && w->File1->choosable() == !folder && w->Command2->isEnabled() == !folder);
        // The list entry with its mount point opened the drive's root, and
        // the first level came through the window's hook.
        EXPECT_EQ(session::settings().SelectedDrive, "t:\\");
        EXPECT_TRUE(node(*w, "sub") && w->TreeView1->imageList() && hooked(w->TreeView1) && hooked(w));
        EXPECT_EQ(listed(*w), QStringList{"a.txt"});
        // No folder chosen: a folder wipe is refused; no file selected: a
        // file wipe touches none.
        w->Command1->click();
        EXPECT_EQ(prompter.texts, folder ? QStringList{filewipe::kNoFolderChosen} : QStringList{});
        EXPECT_TRUE(QFile::exists(dir.filePath("sub/x.txt")) && QFile::exists(dir.filePath("a.txt")));
        prompter.texts.clear();
        w->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    EXPECT_EQ(ended, 0);
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
    EXPECT_EQ(files->File1->selectedCount(), 2);
}

// Opened with no drive chosen, the window opens on the system drive's root.
// A click in the tree forgets the type chosen before; in folder mode it
// leaves the list's pattern and the type list as they are (every file goes).
TEST_F(Form2Test, NoDriveChosenAndATreeClickInEitherMode)
{
    session::settings().SelectedDrive.clear();
    EXPECT_EQ(open("Fil")->File1->path(), "/");
    EXPECT_TRUE(prompter.texts.isEmpty()) << prompter.texts.join('|').toStdString();
    session::settings().SelectedDrive = "t: [" + dir.path() + "]";

    put({"sub/a.txt", "sub/b.doc"});
    for (const QString code : {"Sel", "Fil"}) {
        SCOPED_TRACE(code.toStdString());
        auto w = open(code);
        click(*w, "sub");
        if (code == "Fil") {
            choose(*w, "TXT");
            EXPECT_EQ(w->FileTypeChoice, "TXT");
        }
        const QString pattern = w->File1->pattern();
        const QStringList types = offered(*w);
        click(*w, "sub");
        EXPECT_TRUE(w->FileTypeChoice.isEmpty());
        if (code == "Sel") {
            EXPECT_EQ(w->File1->pattern(), pattern);
            EXPECT_EQ(offered(*w), types);
            EXPECT_EQ(listed(*w), (QStringList{"a.txt", "b.doc"}));
        }
    }
}

TEST_F(Form2Test, TypeSelectorOffersTheEndingsFoundAndListsByThemWithoutRegardToCase)
{
    struct Row { QString folder; QStringList files, offered; QString choice; QStringList shown; };
    const Row table[] = {
        {"mixed", {"a.txt", "b.TXT", "c.doc"}, {"ALL", "TXT", "DOC"}, "TXT", {"a.txt", "b.TXT"}},
        // Only endings that list a file are offered.
        {"web", {"page.html", "x.tml"}, {"ALL", "TML"}, "TML", {"x.tml"}},
        {"html", {"page.html"}, {"ALL"}, "ALL", {"page.html"}},
        {"js", {"run.js", "a..js"}, {"ALL", ".JS"}, ".JS", {"a..js"}},
        {"readme", {"README"}, {"ALL"}, "ALL", {"README"}},
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
        EXPECT_EQ(listed(*w), r.shown);
        click(*w, r.folder); // every file again
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
    EXPECT_TRUE(prompter.texts.value(1).startsWith("The folder t:\\gone cannot be listed:"));
    EXPECT_TRUE(listed(*w).isEmpty() && w->TreeFolder.isEmpty());

    click(*w);
    const QModelIndex a = w->File1->model()->index(0, 0);
    emit w->File1->clicked(a);
    EXPECT_TRUE(w->CurrentFile == "t:\\a.txt" && w->FileLength == 5);
    ASSERT_TRUE(QFile::remove(dir.filePath("a.txt")));
    emit w->File1->clicked(a);
    EXPECT_TRUE(prompter.texts.value(2).startsWith("The length of the file t:\\a.txt cannot be read:"));

    ASSERT_EQ(w->TreeFolder, "t:\\");
    w->Drive1->setDrive("u:"); // the folder chosen on t: is chosen no more
    EXPECT_TRUE(w->TreeFolder.isEmpty());
    ASSERT_EQ(prompter.texts.size(), 4);
    EXPECT_TRUE(prompter.texts[3].startsWith("The drive u: ["));
    EXPECT_TRUE(w->TreeView1->topLevelItemCount() == 0 && listed(*w).isEmpty());
}

// Cancel with Auto Wipe Free Space asks, then wipes the free space of the
// last chosen drive at the level the main window showed, though a file wipe
// counted its passes in the same setting meanwhile; No wipes nothing.
TEST_F(Form2Test, CancelWithAutoWipeAsksThenWipesTheFreeSpaceAtTheChosenLevel)
{
    VOLUME_OR_SKIP(volume, Tmpfs, 3);
    // Every letter is the scratch volume or names nothing: whatever drive a
    // fault might pick, no real folder is filled.
    drivesEnv.emplace("ZARVEX_DRIVES", "c=" + dir.filePath("none") + ";v=" + volume.folder());
    memoryFills = false;
    struct Row { std::int16_t level; bool yes; int passes; };
    for (const Row r : {Row{session::CompleteWipe, true, 12}, Row{session::ShortWipe, true, 6}, Row{session::CompleteWipe, false, 0}}) {
        SCOPED_TRACE(r.level * 10 + r.yes);
        session::ProcessSettings& s = session::settings();
        s.SelectedDrive = s.LastSelectedDrive = "v: [" + volume.folder() + "]";
        s.AutoWipeFree = 1;
        s.WipeLevel = r.level;
        prompter.confirmations.clear();
        prompter.confirmYes = r.yes;
        auto w = open("Fil");
        w->show();
        s.WipeLevel = 40; // a file was wiped with 41 passes
        int pauses = 0, lockedPauses = 0;
        clock.onPause = [&] {
            const app::Form1& m = *mains.at(0);
            ++pauses;
            lockedPauses += m.Drive1->drive().startsWith("v:") && !m.Drive1->isEnabled() &&
                            m.Combo1->currentText() == "Security Wipe Free Space" && !m.Combo1->isEnabled() &&
                            (r.level == session::ShortWipe ? m.Option7 : m.Option6)->isChecked() &&
                            !m.Option6->isEnabled() && !m.Option7->isEnabled() && m.Check1->isChecked() &&
                            !m.Check1->isEnabled() && m.Command1->text() == "&Wipe Free Space";
        };
        w->Command3->click();
        clock.onPause = nullptr;
        ASSERT_EQ(mains.size(), 1u);
        ASSERT_EQ(prompter.confirmations.size(), 1);
        EXPECT_TRUE(prompter.confirmations[0].startsWith("Cancel, then wipe the free space of V: [" + volume.folder() +
                                                         "] (") &&
                    prompter.confirmations[0].endsWith(QString(" free), %1 passes?").arg(r.level == 1 ? 12 : 6)))
            << prompter.confirmations[0].toStdString();
        EXPECT_EQ(mains[0]->lastFill.completed, r.yes) << mains[0]->lastFill.message.toStdString();
        EXPECT_EQ(mains[0]->PatternCallCount, r.passes);
        EXPECT_TRUE(pauses == 0 ? !r.yes : lockedPauses == pauses);
        EXPECT_TRUE(QDir(volume.folder()).entryList({"tmptxt*"}, QDir::Files).isEmpty());
        qDeleteAll(mains);
        mains.clear();
    }
}

TEST_F(Form2Test, LeavingReleasesTheWindowAndAsksOnlyWhileAWipeRuns)
{
    mapDrives(";v=" + dir.filePath("missing"));
    session::settings().LastSelectedDrive = "v: [/somewhere/else]"; // the letter names another folder now
    const QString question = "This will close the program even if a process is still running\r\n\r\n"
                             "Do you want to continue the Close Process?";
    struct Row { bool cancel, autoWipe, running, yes, leaves; };
    for (const Row r : {Row{true, false, false, false, true}, Row{true, true, false, false, true},
                        Row{false, false, false, false, true}, Row{false, false, true, false, false},
                        Row{false, false, true, true, true}}) {
        session::settings().AutoWipeFree = r.autoWipe ? 1 : 0;
        prompter.texts.clear();
        prompter.confirmations.clear();
        prompter.confirmYes = r.yes;
        ended = 0;
        auto w = open("Fil");
        w->show();
        w->WipeInProgress = r.running ? 1 : 0;
        r.cancel ? w->Command3->click() : void(w->close());
        EXPECT_EQ(w->isVisible(), !r.leaves);
        EXPECT_TRUE(hooked(w->TreeView1) == !r.leaves && w->databaseOpen() == !r.leaves);
        EXPECT_TRUE(!r.leaves || (!w->TreeView1->imageList() && !w->TreeView1->topLevelItemCount()));
        EXPECT_EQ(prompter.confirmations, r.running ? QStringList{question} : QStringList{});
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

// The Wipe button on a scratch volume in both modes: what was chosen goes,
// nothing that could change the list is usable meanwhile, the window is
// ready again after, and a file wipe is recorded with the files it was given
// and their sizes, its passes and the read-back of every finalizing pass.
TEST_F(Form2Test, WipesFromTheWindowLockTheListAreRecordedAndEndReady)
{
    VOLUME_OR_SKIP(volume, Tmpfs, 8);
    drivesEnv.emplace("ZARVEX_DRIVES", "c=/;t=" + volume.folder());
    session::settings().SelectedDrive = "t: [" + volume.folder() + "]";
    const QMap<QString, qsizetype> sizes{{"a.txt", 5}, {"big.bin", 1'200'000}, {"keep.txt", 7}, {"docs/a.txt", 6},
                                         {"docs/.hidden", 6}, {"docs/b.doc", 6}};
    QDir(volume.folder()).mkpath("docs");
    for (auto it = sizes.begin(); it != sizes.end(); ++it) {
        QFile f(volume.folder() + "/" + it.key());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write(QByteArray(it.value(), 'o')) == it.value());
    }
    const qsizetype recordsBefore = records::Store().all().size();
    auto files = open("Fil");
    // The question names what goes; No leaves everything as it was.
    for (const bool yes : {false, true}) {
        prompter.confirmYes = yes;
        click(*files);
        for (int i = 0; i < files->File1->listCount(); ++i)
            files->File1->setSelected(i, files->File1->entry(i) != "keep.txt");
        files->Command1_Click();
        EXPECT_EQ(files->lastWipe.declined, !yes);
    }
    EXPECT_EQ(prompter.confirmations,
              QStringList(2, "Wipe the 2 files of T:\\ [" + volume.folder() +
                                 "] (1.2 MB), 41 passes each (21 for files of 1 MB or more)?"));
    EXPECT_TRUE(files->lastWipe.completed()) << prompter.texts.join("|").toStdString();
    EXPECT_EQ(files->Text2->text(), "2 files wiped, 41 passes each (21 for files of 1 MB or more), read back");
    EXPECT_EQ(QDir(volume.folder()).entryList(QDir::Files), QStringList{"keep.txt"});

    const QList<records::WipeRecord> kept = records::Store().all();
    ASSERT_EQ(kept.size(), recordsBefore + 1);
    const records::WipeRecord& r = kept[0];
    EXPECT_EQ(r.process, records::ProcessKind::Files);
    QMap<QString, qsizetype> listedSizes;
    for (const records::WipedItem& item : r.items)
        listedSizes[item.path] = item.folder ? -1 : item.size;
    EXPECT_EQ(listedSizes, (QMap<QString, qsizetype>{{volume.folder() + "/a.txt", 5},
                                                     {volume.folder() + "/big.bin", 1'200'000}}));
    EXPECT_EQ(r.passesPlanned, 41 + 21);
    EXPECT_EQ(r.passesDone, r.passesPlanned);
    EXPECT_EQ(r.verification, platform::Verification::Passed) << r.verificationDetail.toStdString();
    EXPECT_EQ(r.outcome, records::Outcome::Completed);
    EXPECT_EQ(r.drive.letter, "T:");
    files.reset();

    auto w = open("Sel");
    prompter.confirmYes = false;
    click(*w, "docs");
    w->Command1->click();
    EXPECT_TRUE(w->lastWipe.declined);
    EXPECT_EQ(QDir(volume.folder() + "/docs").entryList(QDir::Files | QDir::Hidden).size(), 3);
    EXPECT_EQ(prompter.confirmations.last(),
              "Wipe the folder T:\\docs [" + volume.folder() + "/docs] and its 3 files (18 bytes), 41 passes each?");
    prompter.confirmYes = true;
    click(*w, "docs");
    ASSERT_EQ(listed(*w).size(), 3);
    bool lockedWhileRunning = true;
    const std::initializer_list<QWidget*> controls{w->Command1, w->Command2, w->TreeView1, w->Drive1};
    clock.onPause = [&] {
        for (QWidget* c : controls)
            lockedWhileRunning = lockedWhileRunning && !c->isEnabled();
        // Cancel is the run's Stop meanwhile.
        lockedWhileRunning = lockedWhileRunning && w->WipeInProgress == 1 && w->Command3->isEnabled() &&
                             w->Command3->text() == "&Stop";
    };
    w->Command1->click();
    clock.onPause = nullptr;
    EXPECT_TRUE(lockedWhileRunning);
    EXPECT_EQ(w->lastWipe.filesWiped, 3);
    EXPECT_FALSE(QFileInfo::exists(volume.folder() + "/docs"));
    EXPECT_TRUE(prompter.texts.isEmpty()) << prompter.texts.join('|').toStdString();
    EXPECT_EQ(w->Text2->text(), "Folder T:\\docs [" + volume.folder() + "/docs] removed: 3 files wiped, 41 passes each, read back");
    for (QWidget* c : controls)
        EXPECT_TRUE(c->isEnabled());
    EXPECT_EQ(w->Command3->text(), "&Cancel");
    EXPECT_FALSE(w->Text4->isVisibleTo(w.get()));
}

// Stop during a file wipe ends it before the next pass: the files left
// part-way (small files are wiped together) are named with the passes they
// had, none is deleted, and the record says "stopped".
TEST_F(Form2Test, StopEndsAFileWipeNamingTheFileLeftPartWay)
{
    VOLUME_OR_SKIP(volume, Tmpfs, 4);
    drivesEnv.emplace("ZARVEX_DRIVES", "c=/;t=" + volume.folder());
    session::settings().SelectedDrive = "t: [" + volume.folder() + "]";
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
        QFile f(volume.folder() + "/" + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write("12345") == 5);
    }
    auto w = open("Fil");
    click(*w);
    w->Command2_Click(); // all
    // Pressed while the progress is shown, part-way through the first file.
    int shown = 0;
    QObject::connect(w->ProgressBar1, &QProgressBar::valueChanged, [&](int) {
        clock.advance(1000); // a second a pass
        if (++shown == 5) {
            EXPECT_TRUE(w->Text1->text().contains(", about ")) << w->Text1->text().toStdString();
            w->Command3->click();
        }
    });
    w->Command1_Click();
    EXPECT_EQ(w->lastWipe.errorNumber, platform::ErrUserInterrupt);
    EXPECT_EQ(w->lastWipe.filesWiped, 0);
    ASSERT_EQ(w->lastWipe.givenUp.size(), 3);
    for (const QString& left : w->lastWipe.givenUp)
        EXPECT_TRUE(left.contains(QRegularExpression("^[abc]\\.txt: overwritten \\d+ of 41 passes, not deleted")))
            << left.toStdString();
    EXPECT_EQ(QDir(volume.folder()).entryList(QDir::Files).size(), 3);
    EXPECT_TRUE(prompter.texts.contains("The wipe was stopped.")) << prompter.texts.join("|").toStdString();
    EXPECT_EQ(w->Text2->text(), "Stopped: 0 of 3 chosen files wiped");
    EXPECT_EQ(records::Store().all().value(0).outcome, records::Outcome::Stopped);
    EXPECT_TRUE(w->Command3->isEnabled() && w->Command3->text() == "&Cancel" && w->Command1->isEnabled());
}

// Copies an overwrite in place cannot reach, through the command line on
// real volumes: copy-on-write (btrfs, plain and compressing), a reflinked
// copy, extended attributes (ext4, which may move a changed attribute to a
// new block), NTFS's named streams (ntfs-3g shows them as user.* attributes,
// and empties a stream before writing it anew) and NTFS compression. Without --free-space a run
// whose copies stay in the free space never exits 0, nor does any run while
// another file shares the data; once nothing shares it, the free-space wipe
// leaves nothing of the files in the raw image.
struct UnreachableCase {
    const char* name;
    ScratchVolume::Kind kind;
    const char* mountOptions;
    bool compressedFolder; // NTFS: files made in a folder marked compressed
    bool reflinked;        // a.bin has a reflinked copy, c.bin
    bool attributes;       // each file has a user.* attribute
    int firstExit;         // a.bin's wipe (with --free-space when reflinked)
};

class UnreachableCopies : public ::testing::TestWithParam<UnreachableCase> {};

TEST_P(UnreachableCopies, AreNamedAndReachedByTheFreeSpaceWipe)
{
    const UnreachableCase& c = GetParam();
    ScratchVolume volume(c.kind, c.kind == ScratchVolume::Kind::Btrfs ? 128 : 16, {}, QString::fromLatin1(c.mountOptions));
    if (!volume.ok())
        GTEST_SKIP() << volume.skipReason().toStdString();
    testsupport::EnvGuard drives("ZARVEX_DRIVES", "c=/;t=" + volume.folder());
    testsupport::FastClock clock;
    QString folder = volume.folder();
    if (c.compressedFolder) {
        folder += "/packed";
        const std::uint32_t compressed = 0x800; // NTFS's attribute word, as ntfs-3g shows it
        ASSERT_TRUE(QDir().mkdir(folder));
        ASSERT_EQ(::setxattr(QFile::encodeName(folder).constData(), "system.ntfs_attrib", &compressed,
                             sizeof compressed, 0), 0);
    }
    std::map<QString, QByteArray> needles;
    for (const char* name : {"a.bin", "b.bin"}) {
        const QString path = folder + "/" + name;
        const QByteArray pattern = testsupport::randomPattern(24);
        needles[name] = pattern.left(16);
        ASSERT_TRUE(AdversaryWipe::putOn(path, testsupport::repeated(pattern, 300'000)));
        const QByteArray attribute = testsupport::repeated(pattern, 2000);
        if (c.attributes) {
            ASSERT_EQ(::setxattr(QFile::encodeName(path).constData(), "user.secret", attribute.constData(),
                                 std::size_t(attribute.size()), 0), 0);
        }
    }
    QStringList last{folder + "/b.bin"};
    if (c.reflinked) {
        ASSERT_EQ(QProcess::execute("cp", {"--reflink=always", folder + "/a.bin", folder + "/c.bin"}), 0);
        last << folder + "/c.bin";
    }
    ::sync();
    const auto run = [&](const QStringList& args) { return app::runConsole(args, {&platform::systemDrives(), nullptr, &clock}); };
    EXPECT_EQ(run(QStringList{"files", "--yes"} + (c.reflinked ? QStringList{"--free-space", "--short"} : QStringList{}) +
                  QStringList{folder + "/a.bin"}),
              c.firstExit);
    if (c.firstExit == 0) { // said to be gone: then nothing of it is left
        ASSERT_TRUE(volume.unmount());
        EXPECT_EQ(testsupport::countInFile(volume.image(), needles["a.bin"]), 0);
        ASSERT_TRUE(volume.remount());
    }
    EXPECT_EQ(run(QStringList{"files", "--yes", "--free-space", "--short"} + last), 0);
    ASSERT_TRUE(volume.unmount());
    for (const auto& [name, needle] : needles)
        EXPECT_EQ(testsupport::countInFile(volume.image(), needle), 0) << name.toStdString();
}

INSTANTIATE_TEST_SUITE_P(FileWipe, UnreachableCopies,
                         ::testing::Values(UnreachableCase{"Btrfs", ScratchVolume::Kind::Btrfs, "", false, false, true, 1},
                                           UnreachableCase{"BtrfsZstd", ScratchVolume::Kind::Btrfs, "compress=zstd", false, false, true, 1},
                                           UnreachableCase{"BtrfsReflinked", ScratchVolume::Kind::Btrfs, "", false, true, true, 1},
                                           UnreachableCase{"Ext4Attributes", ScratchVolume::Kind::Ext4, "", false, false, true, 1},
                                           UnreachableCase{"NtfsStreams", ScratchVolume::Kind::Ntfs, "", false, false, true, 1},
                                           UnreachableCase{"NtfsCompressed", ScratchVolume::Kind::Ntfs, "", true, false, false, 0}),
                         [](const auto& info) { return std::string(info.param.name); });
