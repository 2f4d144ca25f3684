#include "support/fakes.h"
#include "support/volumes.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using testsupport::ScratchVolume;

// A mount that shows only part of a volume (a bind mount of a folder) must
// not be formatted: the format would take the whole device with it.
TEST(FormatHelperPartialMount, BindMountOfAFolderIsRefused)
{
    ScratchVolume vol(ScratchVolume::Kind::Ext4, 8);
    if (!vol.ok())
        GTEST_SKIP() << vol.skipReason().toStdString();
    const QString helper = QCoreApplication::applicationDirPath() + "/zarvexformat";
    ASSERT_TRUE(QFile::exists(helper));
    QDir(vol.folder()).mkpath("photos");
    QFile keep(vol.folder() + "/keep.txt");
    ASSERT_TRUE(keep.open(QIODevice::WriteOnly));
    keep.write("keep");
    keep.close();

    // Only the bind mount stays, so the volume is mounted nowhere else.
    QTemporaryDir dir;
    const QString view = dir.filePath("photos-view");
    QDir().mkpath(view);
    ASSERT_EQ(testsupport::runCommand("mount", {"--bind", vol.folder() + "/photos", view}), 0);
    ASSERT_TRUE(vol.unmount());

    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ZARVEX_DRIVES", "c=/;t=" + view);
    p.setProcessEnvironment(env);
    p.start(helper, {"t:", "/fs:ntfs/x/y/q"});
    ASSERT_TRUE(p.waitForFinished(60000));
    const QString err = QString::fromLocal8Bit(p.readAllStandardError());
    EXPECT_NE(p.exitCode(), 0);
    EXPECT_TRUE(err.contains("only a whole volume")) << err.toStdString();

    testsupport::runCommand("umount", {view});
    ASSERT_TRUE(vol.remount());
    EXPECT_TRUE(QFile::exists(vol.folder() + "/keep.txt")); // the ext4 volume is untouched
}
