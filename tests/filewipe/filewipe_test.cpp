// The folder and file wipe on small real volumes: what each pass writes, the
// procedure's choices and refusals, and what is left in the raw image.
#include "app/settings.h"
#include "filewipe/folderlist.h"
#include "filewipe/overwrite.h"
#include "filewipe/wipeprocedure.h"
#include "support/fakes.h"
#include "support/rawimage.h"
#include "support/volumes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <optional>
#include <unistd.h>

using testsupport::ScratchVolume;

namespace {

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

bool writeFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size() && f.flush() && ::fsync(f.handle()) == 0;
}

struct ProgressRecorder : filewipe::OverwriteView {
    void setTime(const QString&) override {}
    void setProgress(std::int64_t v, std::int64_t m) override
    {
        value = v;
        maximum = m;
    }
    std::int64_t value = -1, maximum = -1;
};

// A scratch volume mapped to t:, and a wipe of one of its folders.
class FileWipe : public ::testing::Test {
protected:
    std::optional<ScratchVolume> volume;
    std::optional<testsupport::EnvGuard> drives;
    testsupport::ScriptedPrompter prompter;
    testsupport::FastClock clock;

    bool makeVolume(ScratchVolume::Kind kind, int sizeMiB)
    {
        volume.emplace(kind, sizeMiB);
        if (!volume->ok())
            return false;
        drives.emplace("ZARVEX_DRIVES", "c=/;t=" + volume->folder());
        app::settings() = app::ProcessSettings{};
        return true;
    }
    QString path(const QString& relative) const { return volume->folder() + '/' + relative; }

    // Wipes `folder` (relative, "" for the root): the named files, or in
    // folder mode all of them and the folder.
    filewipe::FileWipeResult wipe(const QString& folder, const QStringList& names, bool folderMode = false)
    {
        const QString drivePath = folder.isEmpty() ? QStringLiteral("t:\\") : "t:\\" + QString(folder).replace('/', '\\');
        filewipe::FolderList list(drivePath, path(folder));
        EXPECT_TRUE(list.choose(names));
        std::int16_t inProgress = 0;
        filewipe::FileWipeContext ctx{folderMode, folderMode ? drivePath + '\\' : QString(), app::settings(),
                                      inProgress, list, {nullptr, &prompter, &clock}};
        testsupport::FakeDrives fake;
        ctx.services.drives = &fake;
        const filewipe::FileWipeResult result = filewipe::runFileWipe(ctx);
        statuses = list.statuses;
        EXPECT_EQ(inProgress, 0);
        EXPECT_FALSE(list.locked);
        return result;
    }
    QStringList statuses;
};

} // namespace

// Every pass overwrites the whole file, rounded up to whole blocks, and a
// file under 1,000 bytes as 1,000; only OW_File drives the bar.
TEST_F(FileWipe, EveryPassWritesTheWholeFileWithEitherRoutine)
{
    if (!makeVolume(ScratchVolume::Kind::Tmpfs, 8))
        GTEST_SKIP() << volume->skipReason().toStdString();
    const struct {
        qint64 size, written, blocks;
    } cases[] = {{50, 1000, 10}, {1000, 1000, 10}, {2500, 2500, 25}, {999'999, 1'000'000, 10'000},
                 {1'000'000, 1'000'000, 5'000}};
    for (const auto& c : cases) {
        for (const bool ownFile : {true, false}) {
            const QString file = path("f.bin");
            ASSERT_TRUE(writeFile(file, testsupport::repeated("old-data-", c.size)));
            filewipe::OverwriteState state{file, std::max<qint64>(c.size, 1000)};
            ProgressRecorder view;
            (ownFile ? filewipe::OW_File : filewipe::OW_FileB)(state, 1, view, clock);
            EXPECT_EQ(readAll(file), QByteArray(c.written, '0')) << c.size;
            EXPECT_EQ(state.FileLength, c.written);
            EXPECT_EQ(state.BlockCount, c.blocks);
            EXPECT_EQ(view.maximum, ownFile ? c.blocks : -1) << c.size;
            EXPECT_EQ(view.value, ownFile ? c.blocks : -1) << c.size;
        }
    }
}

TEST(OverwriteRoutines, PatternsTypesAndDriveRoots)
{
    EXPECT_EQ(filewipe::passPattern(1, false), QByteArray(10, '0'));
    EXPECT_EQ(filewipe::passPattern(2, true), QByteArray(20, '1'));
    EXPECT_EQ(filewipe::passPattern(0, true), QByteArray());
    const QByteArray letters = filewipe::passPattern(3, true);
    EXPECT_EQ(letters, QByteArray(20, letters[0]));
    EXPECT_EQ(filewipe::passPattern(4, false).size(), 10);
    EXPECT_EQ(filewipe::passPattern(7, true).size(), 20);

    for (const char* doc : {"notes.TXT", "page.html", "letter.doc", "a.rt"})
        EXPECT_EQ(filewipe::Set_Type(doc), 1) << doc;
    for (const char* other : {"photo.jpg", "setup.exe", "readme"})
        EXPECT_EQ(filewipe::Set_Type(other), 2) << other;

    testsupport::FastClock clock;
    for (const char* root : {"c:\\", "c:"})
        EXPECT_NO_THROW(filewipe::KillIt(root, clock));
    EXPECT_EQ(clock.pausedMs, 0);
}

// File mode: only the selected file goes, every listed one is made writable,
// the others keep their bytes.
TEST_F(FileWipe, FileModeWipesOnlyTheSelectedFile)
{
    if (!makeVolume(ScratchVolume::Kind::Tmpfs, 4))
        GTEST_SKIP() << volume->skipReason().toStdString();
    ASSERT_TRUE(QDir().mkpath(path("docs")));
    for (const char* name : {"a.txt", "b.txt", "c.jpg"})
        ASSERT_TRUE(writeFile(path(QStringLiteral("docs/") + name), name));
    ASSERT_TRUE(QFile::setPermissions(path("docs/a.txt"), QFile::ReadOwner));

    const filewipe::FileWipeResult r = wipe("docs", {"b.txt"});
    EXPECT_TRUE(r.completed());
    EXPECT_EQ(r.filesWiped, 1);
    EXPECT_EQ(QDir(path("docs")).entryList(QDir::Files), (QStringList{"a.txt", "c.jpg"}));
    EXPECT_EQ(readAll(path("docs/a.txt")), "a.txt");
    EXPECT_EQ(readAll(path("docs/c.jpg")), "c.jpg");
    EXPECT_TRUE(QFileInfo(path("docs/a.txt")).permissions() & QFile::WriteOwner);
    EXPECT_EQ(statuses, (QStringList{"Preparing to Wipe File   T:\\...\\b.txt", "Wiping File   T:\\...\\b.txt",
                                     "Finalizing Wipe of File   T:\\...\\b.txt", "DONE"}));
    EXPECT_EQ(app::settings().WipeLevel, 40); // 40 numbered passes and the finalizing one
    EXPECT_TRUE(prompter.texts.isEmpty()) << prompter.texts.join('|').toStdString();
}

// Folders right after the drive root, compared exactly: two are refused, one
// warned about; a subfolder left behind keeps its folder, with the message.
TEST_F(FileWipe, ProtectedFoldersAndAFolderThatStaysBehind)
{
    if (!makeVolume(ScratchVolume::Kind::Tmpfs, 4))
        GTEST_SKIP() << volume->skipReason().toStdString();
    const QString warning = "Some Files and Folders may be Protected System Folders\r\n\r\nIf you get a message that the "
                            "folder is locked or not empty\r\nthey may not be wiped without doing a Complete Drive Wipe";
    const struct {
        const char* folder;
        QStringList said;
        bool wiped;
    } cases[] = {
        {"Recycled", {filewipe::kEntireDriveOnly}, false},
        {"RECYCLED", {}, true},
        {"Temp", {warning}, true},
        {"Temporary", {warning}, true},
        {"Data/Temp", {}, true},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(QDir().mkpath(path(c.folder)));
        ASSERT_TRUE(writeFile(path(c.folder + QStringLiteral("/x.doc")), "x"));
        prompter.texts.clear();
        wipe(c.folder, {}, true);
        EXPECT_EQ(prompter.texts, c.said) << c.folder;
        EXPECT_EQ(QFileInfo::exists(path(c.folder)), !c.wiped) << c.folder;
    }

    ASSERT_TRUE(QDir().mkpath(path("keep/sub")));
    ASSERT_TRUE(writeFile(path("keep/x.txt"), "x"));
    prompter.texts.clear();
    const filewipe::FileWipeResult r = wipe("keep", {}, true);
    EXPECT_EQ(r.errorNumber, 75);
    EXPECT_FALSE(QFileInfo::exists(path("keep/x.txt")));
    EXPECT_TRUE(QFileInfo::exists(path("keep/sub")));
    ASSERT_EQ(prompter.texts.size(), 1);
    EXPECT_TRUE(prompter.texts[0].startsWith("The Folder/File was not deleted.\r\n"));
    EXPECT_TRUE(prompter.texts[0].endsWith("exists. t:\\keep")) << prompter.texts[0].toStdString();
}

// What the list shows may change before the wipe reaches it: a file gone
// ends the run (53); one swapped for a link, or one with another name, is
// never written through.
TEST_F(FileWipe, GoneLinkedAndHardLinkedFilesAreNotWrittenThrough)
{
    if (!makeVolume(ScratchVolume::Kind::Tmpfs, 4))
        GTEST_SKIP() << volume->skipReason().toStdString();
    ASSERT_TRUE(QDir().mkpath(path("d")));
    ASSERT_TRUE(QDir().mkpath(path("outside")));
    ASSERT_TRUE(writeFile(path("outside/target.txt"), "keep me"));
    ASSERT_TRUE(writeFile(path("d/gone.txt"), "x"));
    ASSERT_TRUE(writeFile(path("d/shared.txt"), "shared data"));
    ASSERT_EQ(::link(QFile::encodeName(path("d/shared.txt")), QFile::encodeName(path("outside/other-name.txt"))), 0);

    {
        filewipe::FolderList list("t:\\d", path("d"));
        ASSERT_TRUE(list.choose({"gone.txt"}));
        ASSERT_TRUE(QFile::remove(path("d/gone.txt")));
        std::int16_t inProgress = 0;
        testsupport::FakeDrives fake;
        filewipe::FileWipeContext ctx{false, "t:\\d\\", app::settings(), inProgress, list, {&fake, &prompter, &clock}};
        EXPECT_EQ(filewipe::runFileWipe(ctx).errorNumber, 53);
        EXPECT_EQ(prompter.texts, QStringList{"To Select a file you must first click on the Root Drive, Folder or "
                                              "Directory to activate the Path"});
    }

    ASSERT_TRUE(writeFile(path("d/link.txt"), "x"));
    filewipe::FolderList list("t:\\d", path("d"));
    ASSERT_TRUE(list.choose({"link.txt", "shared.txt"}));
    ASSERT_TRUE(QFile::remove(path("d/link.txt")));
    ASSERT_TRUE(QFile::link(path("outside/target.txt"), path("d/link.txt")));
    prompter.texts.clear();
    std::int16_t inProgress = 0;
    testsupport::FakeDrives fake;
    filewipe::FileWipeContext ctx{false, "t:\\d\\", app::settings(), inProgress, list, {&fake, &prompter, &clock}};
    filewipe::runFileWipe(ctx);
    EXPECT_EQ(readAll(path("outside/target.txt")), "keep me");
    EXPECT_EQ(readAll(path("outside/other-name.txt")), "shared data");
    EXPECT_TRUE(QFileInfo(path("d/link.txt")).isSymLink());
}

TEST_F(FileWipe, HardLinkedFileIsLeftAndNamedAtTheEnd)
{
    if (!makeVolume(ScratchVolume::Kind::Tmpfs, 4))
        GTEST_SKIP() << volume->skipReason().toStdString();
    ASSERT_TRUE(writeFile(path("shared.txt"), "shared data"));
    ASSERT_TRUE(writeFile(path("mine.txt"), "mine"));
    ASSERT_EQ(::link(QFile::encodeName(path("shared.txt")), QFile::encodeName(path("elsewhere.txt"))), 0);
    const filewipe::FileWipeResult r = wipe("", {"shared.txt", "mine.txt"});
    EXPECT_EQ(r.filesWiped, 1);
    EXPECT_FALSE(QFileInfo::exists(path("mine.txt")));
    EXPECT_EQ(readAll(path("shared.txt")), "shared data");
    ASSERT_EQ(prompter.texts.size(), 1);
    EXPECT_TRUE(prompter.texts[0].startsWith("These files were not wiped and are left as they were:\r\n\r\nshared.txt: "))
        << prompter.texts[0].toStdString();
}

// The proof: after a folder wipe no byte of the files' contents is left in
// the raw image, large or small; what is left of their names is counted.
class WipedFolderOnImage : public FileWipe, public ::testing::WithParamInterface<ScratchVolume::Kind> {};

TEST_P(WipedFolderOnImage, LeavesNoContentInTheRawImage)
{
    if (!makeVolume(GetParam(), 16))
        GTEST_SKIP() << volume->skipReason().toStdString();
    const QByteArray pattern = testsupport::randomPattern(24);
    const QByteArray needle = pattern.left(16);
    const QString nameMark = QStringLiteral("zqxnamemark");
    ASSERT_TRUE(QDir().mkpath(path("secret")));
    const QList<qsizetype> sizes{300, 700, 5000, 70'000, 1'200'000};
    for (int i = 0; i < sizes.size(); ++i)
        ASSERT_TRUE(writeFile(path(QStringLiteral("secret/%1%2.dat").arg(nameMark).arg(i)),
                              testsupport::repeated(pattern, sizes[i])));
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

    const filewipe::FileWipeResult r = wipe("secret", {}, true);
    EXPECT_TRUE(r.completed()) << prompter.texts.join('|').toStdString();
    EXPECT_TRUE(r.folderRemoved);
    ASSERT_TRUE(volume->unmount());
    EXPECT_EQ(testsupport::countInFile(volume->image(), needle), 0);
    std::printf("names in the raw image: %lld before, %lld after\n", static_cast<long long>(namesBefore),
                static_cast<long long>(names()));
}

INSTANTIATE_TEST_SUITE_P(FileWipe, WipedFolderOnImage,
                         ::testing::Values(ScratchVolume::Kind::Ext4, ScratchVolume::Kind::Ntfs),
                         [](const auto& info) {
                             return std::string(info.param == ScratchVolume::Kind::Ext4 ? "Ext4" : "Ntfs");
                         });
