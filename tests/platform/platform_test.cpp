#include "platform/driveservices.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/fillfile.h"
#include "platform/process.h"
#include "platform/appdata.h"
#include "platform/wipejournal.h"
#include "records/store.h"
#include "support/fakes.h"
#include "support/fillfakes.h"
#include "support/volumes.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace platform;

// Which files a list shows is tried through the file list box.
TEST(Files, Attributes)
{
    QTemporaryDir dir;
    for (const char* name : {"a.txt", ".hidden", "ro.txt"})
        ASSERT_TRUE(QFile(dir.filePath(name)).open(QIODevice::WriteOnly));
    QFile::setPermissions(dir.filePath("ro.txt"), QFile::ReadOwner | QFile::ReadGroup);
    QDir(dir.path()).mkdir("sub");
    QFile::link(dir.filePath("a.txt"), dir.filePath("link.txt"));

    EXPECT_EQ(fileAttributes(dir.filePath("a.txt")), AttrNormal);
    EXPECT_EQ(fileAttributes(dir.filePath(".hidden")), AttrHidden);
    EXPECT_EQ(fileAttributes(dir.filePath("ro.txt")), AttrReadOnly);
    EXPECT_EQ(fileAttributes(dir.filePath("sub")) & AttrDirectory, AttrDirectory);
}

// Root's state is its own: a state folder another user chose is not taken,
// the journal and the records are readable by their owner alone, and the
// journal's repair deletes only fill files inside the wiped folder and
// writes only a file system's reserve, whatever the journal file says.
TEST(StateFolder, RootTrustsOnlyItsOwnAndTheJournalOnlyWhatAWipeMakes)
{
    if (!testsupport::isRoot())
        GTEST_SKIP() << "needs root";
    const QString ours = userStateFolder();
    QTemporaryDir users;
    ASSERT_EQ(::chown(QFile::encodeName(users.path()).constData(), 65534, 65534), 0);
    {
        testsupport::EnvGuard env("XDG_STATE_HOME", users.path());
        EXPECT_FALSE(userStateFolder().startsWith(users.path())) << userStateFolder().toStdString();
    }
    ASSERT_EQ(userStateFolder(), ours);
    auto mode = [](const QString& path) {
        struct stat st {};
        return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0u;
    };

    QTemporaryDir wiped, outside;
    const QString victim = outside.filePath("victim.txt"), fill = wiped.filePath("tmptxt1.txt"),
                  setting = outside.filePath("setting.txt");
    for (const QString& f : {victim, fill, setting})
        ASSERT_TRUE(testsupport::writeFile(f, "kept"));
    // A wipe killed with its journal written, then the file edited by hand.
    auto* killed = new JournalEntry(wiped.path()); // never ended, as after a kill
    for (const QString& f : {victim, fill}) {
        killed->creating(f);
        killed->fileCreated(f);
    }
    killed->settingChanging(setting, "written by root");
    // Names it made to cover a folder's index: only its own, marked, go, and
    // only in a folder of the wiped drive.
    const QStringList names{wiped.filePath("sub/tmptxtn0000000xx"), wiped.filePath("sub/tmptxtn0000001"),
                            outside.filePath("tmptxtn0000000xx")};
    QDir(wiped.path()).mkdir("sub");
    for (const QString& f : names)
        FillFile::createExclusive(f, f.endsWith("xx") ? killed->mark() : QByteArray())->close();
    killed->namesMaking(wiped.filePath("sub"));
    killed->namesMaking(outside.path());
    const records::Store store(records::Store::defaultFile());
    EXPECT_EQ(mode(ours), 0700u);
    EXPECT_EQ(mode(ours + "/journal.db"), 0600u);
    EXPECT_EQ(mode(records::Store::defaultFile()), 0600u);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "edit");
        db.setDatabaseName(ours + "/journal.db");
        ASSERT_TRUE(db.open());
        QSqlQuery(db).exec("UPDATE runs SET process = ''");
    }
    QSqlDatabase::removeDatabase("edit");
    repairInterruptedWipes();
    EXPECT_FALSE(QFile::exists(fill));
    EXPECT_EQ((QList<bool>{QFile::exists(names[0]), QFile::exists(names[1]), QFile::exists(names[2])}),
              (QList<bool>{false, true, true}));
    EXPECT_EQ(testsupport::readText(victim), "kept");
    EXPECT_EQ(testsupport::readText(setting), "kept");
}

TEST(Process, StartsPollsWithoutBlockingAndReportsErrors)
{
    // Blank-separated command lines carry no quoting: a script stands in.
    QTemporaryDir dir;
    const QString script = dir.filePath("s.sh");
    {
        QFile f(script);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\nsleep 0.3\necho \"reason: $1\" >&2\nexit 3\n");
    }
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    StartedProcess q = startProcess(script + " disk");
    EXPECT_FALSE(q.poll().has_value()); // still running, and poll returned at once
    QElapsedTimer t;
    t.start();
    std::optional<ExitStatus> s;
    while (!(s = q.poll()) && t.elapsed() < 10000)
        QThread::msleep(20);
    ASSERT_TRUE(s.has_value());
    EXPECT_EQ(s->code, 3);
    EXPECT_EQ(s->errorOutput, "reason: disk");
    EXPECT_EQ(q.poll()->code, 3); // stays answered

    try {
        startProcess(dir.filePath("missing-program") + " x");
        FAIL();
    } catch (const RunTimeError& e) {
        EXPECT_EQ(e.number(), 53);
    }
}

TEST(DriveServicesTest, TypeReadinessAndFreeSpaceOfRealVolumes)
{
    VOLUME_OR_SKIP(ram, Tmpfs, 4);
    VOLUME_OR_SKIP(disk, Ext4, 8);
    testsupport::EnvGuard env("ZARVEX_DRIVES",
                              "c=/;t=" + ram.folder() + ";u=" + disk.folder() + ";m=" + ram.folder() + "/missing");
    LinuxDriveServices s;
    EXPECT_EQ(s.typeCode("t:"), DriveRamDisk);
    // Entries of the drive list name their drive by the first two characters.
    const QString entry = "u: [" + disk.folder() + "]";
    EXPECT_EQ(s.typeCode(entry), DriveFixed);
    EXPECT_TRUE(s.isReady(entry));
    EXPECT_TRUE(s.isReady("t:\\"));
    EXPECT_FALSE(s.isReady("m:"));
    EXPECT_FALSE(s.isReady("q:"));
    EXPECT_THROW(s.freeBytes("q:\\"), RunTimeError);
    try {
        s.typeCode("q:");
        FAIL() << "unknown letter must raise";
    } catch (const RunTimeError& e) {
        EXPECT_EQ(e.number(), 68);
    }

    const auto before = s.freeBytes("t:\\");
    EXPECT_LE(before, 4u * 1024 * 1024);
    EXPECT_GT(before, 3u * 1024 * 1024);
    {
        QFile f(ram.folder() + "/fill");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(1024 * 1024, 'x'));
    }
    EXPECT_EQ(before - s.freeBytes("t:\\"), 1024u * 1024);

    // The folder is still there but the volume is gone: the drive is the
    // mount that now holds the folder.
    ASSERT_TRUE(disk.unmount());
    EXPECT_TRUE(s.isReady("u:"));
}

// The walk over a drive's folders reaches each folder of the volume once,
// and nothing through a link or on another mount.
TEST(FolderWalk, StaysOnTheVolumeAndFollowsNoLink)
{
    VOLUME_OR_SKIP(drive, Tmpfs, 4);
    VOLUME_OR_SKIP(other, Tmpfs, 4);
    const QString root = drive.folder();
    for (const char* folder : {"a/b/c", "d", "tmptxt0/e", "m", "x/tmptxt0"})
        ASSERT_TRUE(QDir(root).mkpath(folder));
    ASSERT_TRUE(QDir(other.folder()).mkpath("elsewhere"));
    ASSERT_TRUE(QFile::link(other.folder(), root + "/d/link"));
    ASSERT_EQ(testsupport::runCommand("mount", {"--bind", other.folder(), root + "/m"}), 0);
    QStringList seen;
    forEachFolderBelow(root, [&](int, const QString& path) {
        seen << path.mid(root.size() + 1);
        return true;
    });
    testsupport::runCommand("umount", {root + "/m"});
    // Nearest first; the root's own fill folder passed by, a deeper one of that name not.
    for (qsizetype i = 1; i < seen.size(); ++i)
        EXPECT_LE(seen[i - 1].count('/'), seen[i].count('/')) << seen.join(' ').toStdString();
    seen.sort();
    EXPECT_EQ(seen.join(' '), "a a/b a/b/c d x x/tmptxt0");
}
