#include "platform/driveservices.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/process.h"
#include "support/fakes.h"
#include "support/volumes.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <cerrno>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace platform;

TEST(Errors, ErrnoMapsToClassicNumbers)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("nofile");
    EXPECT_EQ(errorFromErrno(ENOENT, file).number(), 53);
    EXPECT_EQ(errorFromErrno(ENOENT, dir.filePath("nofolder/x")).number(), 76);
    EXPECT_EQ(errorFromErrno(ENOTDIR, file).number(), 76);
    for (int e : {ENOSPC, EDQUOT})
        EXPECT_EQ(errorFromErrno(e, file).number(), 61);
    const RunTimeError big = errorFromErrno(EFBIG, file);
    EXPECT_EQ(big.number(), 61);
    EXPECT_TRUE(big.isFileSizeLimit());
    EXPECT_FALSE(errorFromErrno(ENOSPC, file).isFileSizeLimit());
    for (int e : {EACCES, EPERM, EBUSY, ETXTBSY, EROFS, ENOTEMPTY, EEXIST, EISDIR, ELOOP})
        EXPECT_EQ(errorFromErrno(e, file).number(), 75) << e;
    EXPECT_EQ(errorFromErrno(ENOMEM, file).number(), 7);
    for (int e : {ENXIO, ENODEV, ENOMEDIUM, ENOTCONN, ESTALE})
        EXPECT_EQ(errorFromErrno(e, file).number(), 68) << e;
    EXPECT_EQ(errorFromErrno(EIO, file).number(), 57);
    EXPECT_TRUE(errorFromErrno(EACCES, file).description().startsWith("Path/File access error"));
    EXPECT_TRUE(errorFromErrno(EACCES, file).description().contains(file));
}

TEST(Files, AttributesAndRegularFileListing)
{
    QTemporaryDir dir;
    auto touch = [&](const QString& name) {
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    };
    touch("a.txt");
    touch(".hidden");
    touch("ro.txt");
    touch("back\\slash.txt");
    QFile::setPermissions(dir.filePath("ro.txt"), QFile::ReadOwner | QFile::ReadGroup);
    QDir(dir.path()).mkdir("sub");
    QFile::link(dir.filePath("a.txt"), dir.filePath("link.txt"));

    EXPECT_EQ(fileAttributes(dir.filePath("a.txt")), AttrNormal);
    EXPECT_EQ(fileAttributes(dir.filePath(".hidden")), AttrHidden);
    EXPECT_EQ(fileAttributes(dir.filePath("ro.txt")), AttrReadOnly);
    EXPECT_EQ(fileAttributes(dir.filePath("sub")) & AttrDirectory, AttrDirectory);
    setAttributesNormal(dir.filePath("ro.txt"));
    EXPECT_EQ(fileAttributes(dir.filePath("ro.txt")), AttrNormal);
    EXPECT_THROW(setAttributesNormal(dir.filePath("link.txt")), RunTimeError);

    QStringList names;
    for (const DirEntry& e : listRegularFiles(dir.path()))
        names << e.name;
    names.sort();
    EXPECT_EQ(names, QStringList({".hidden", "a.txt", "ro.txt"}));
    try {
        listRegularFiles(dir.filePath("gone"));
        FAIL();
    } catch (const RunTimeError& e) {
        EXPECT_EQ(e.number(), 53);
    }
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

TEST(RealVolumes, TmpfsIsRamDiskAndFreeSpaceFollowsWrites)
{
    testsupport::ScratchVolume vol(testsupport::ScratchVolume::Kind::Tmpfs, 4);
    if (!vol.ok())
        GTEST_SKIP() << vol.skipReason().toStdString();
    testsupport::EnvGuard env("ZARVEX_DRIVES", "c=/;t=" + vol.folder());
    LinuxDriveServices s;
    EXPECT_EQ(s.typeCode("t:"), DriveRamDisk);
    EXPECT_TRUE(s.isReady("t:\\"));
    const auto before = s.freeBytes("t:\\");
    EXPECT_LE(before, 4u * 1024 * 1024);
    EXPECT_GT(before, 3u * 1024 * 1024);
    {
        QFile f(vol.folder() + "/fill");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(1024 * 1024, 'x'));
    }
    EXPECT_EQ(before - s.freeBytes("t:\\"), 1024u * 1024);
}

TEST(RealVolumes, ExtImageIsFixedDrive)
{
    testsupport::ScratchVolume vol(testsupport::ScratchVolume::Kind::Ext4, 8);
    if (!vol.ok())
        GTEST_SKIP() << vol.skipReason().toStdString();
    testsupport::EnvGuard env("ZARVEX_DRIVES", "c=/;u=" + vol.folder());
    LinuxDriveServices s;
    EXPECT_EQ(s.typeCode("u:"), DriveFixed);
    EXPECT_TRUE(s.isReady("u:"));
    ASSERT_TRUE(vol.unmount());
    // The folder is still there but the volume is gone: the drive is the
    // mount that now holds the folder.
    EXPECT_TRUE(s.isReady("u:"));
}
