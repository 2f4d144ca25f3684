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
#include <gtest/gtest.h>

using namespace platform;

// Which files a list shows is tried through the file list box.
TEST(Files, AttributesAndMakingAFileWritable)
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
    setAttributesNormal(dir.filePath("ro.txt"));
    EXPECT_EQ(fileAttributes(dir.filePath("ro.txt")), AttrNormal);
    EXPECT_THROW(setAttributesNormal(dir.filePath("link.txt")), RunTimeError);
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
