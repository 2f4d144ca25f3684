#include "platform/drivetable.h"
#include "platform/driveservices.h"
#include "platform/environment.h"
#include "support/fakes.h"

#include <QTemporaryFile>
#include <gtest/gtest.h>

using namespace platform;

namespace {
const char* kMountInfo =
    "21 26 0:20 / /proc rw,relatime - proc proc rw\n"
    "26 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
    "40 26 0:37 / /sys/fs/cgroup/unified rw - cgroup2 cgroup2 rw\n"
    "44 26 0:39 /sub /tmp/n1 rw,relatime shared:7 master:1 - fuse /tmp/i.img rw,user_id=0\n"
    "45 26 7:0 / /media/me/MY\\040STICK rw,relatime - vfat /dev/sdb1 rw\n"
    "46 26 0:40 / /mnt/a\\134b rw - tmpfs tmpfs rw\n"
    "garbage line\n"
    "47 26 0:41 / /boot rw - ext4 /dev/vda2 rw\n";
}

TEST(MountInfo, ParsesFieldsUndoesEscapesAndGivesLettersInByteOrder)
{
    auto mounts = parseMountInfo(QString::fromUtf8(kMountInfo));
    ASSERT_EQ(mounts.size(), 7u); // the garbage line is skipped
    EXPECT_EQ(mounts[1].mountPoint, "/");
    EXPECT_EQ(mounts[1].fsType, "ext4");
    EXPECT_EQ(mounts[1].source, "/dev/vda");
    EXPECT_EQ(mounts[1].major, 254u);
    EXPECT_EQ(mounts[1].root, "/");
    // Optional fields (shared:7 master:1) before the separator.
    EXPECT_EQ(mounts[3].fsType, "fuse");
    EXPECT_EQ(mounts[3].source, "/tmp/i.img");
    EXPECT_EQ(mounts[3].root, "/sub");

    // Pseudo file systems get no letter; no letter goes past z.
    for (int i = 0; i < 30; ++i)
        mounts.push_back({QStringLiteral("/zz/%1").arg(i, 2, 10, QChar(u'0')), "ext4", "/dev/x", 8, unsigned(i)});
    const DriveTable table = DriveTable::fromMounts(mounts);
    const auto& d = table.drives();
    QStringList folders;
    for (const Drive& drive : d)
        folders << QString(drive.letter) + "=" + drive.folder;
    EXPECT_EQ(folders.mid(0, 6),
              QStringList({"c=/", "d=/boot", "e=/media/me/MY STICK", "f=/mnt/a\\b", "g=/tmp/n1", "h=/zz/00"}));
    EXPECT_EQ(folders.last(), "z=/zz/18");
    EXPECT_EQ(driveEntryText(d[2]), "e: [/media/me/MY STICK]");
}

TEST(DriveTableMapping, MapsLettersToFoldersAndPathsBothWays)
{
    const DriveTable t = DriveTable::fromMapping("c=/;T=/tmp/scratch/;u=/mnt/img;bad;1=/x");
    ASSERT_EQ(t.drives().size(), 3u);
    EXPECT_EQ(*t.folderFor(u't'), "/tmp/scratch");
    EXPECT_EQ(*t.toNative("T:\\a\\b.txt"), "/tmp/scratch/a/b.txt");
    EXPECT_EQ(*t.toNative("t:"), "/tmp/scratch");
    EXPECT_EQ(*t.toNative("t:\\"), "/tmp/scratch");
    EXPECT_EQ(*t.toNative("c:\\etc\\hosts"), "/etc/hosts");
    EXPECT_FALSE(t.toNative("q:\\x").has_value());
    EXPECT_FALSE(t.toNative("nonsense").has_value());

    // The deepest drive folder wins.
    EXPECT_EQ(*t.toDrivePath("/tmp/scratch/a/b.txt"), "t:\\a\\b.txt");
    EXPECT_EQ(*t.toDrivePath("/tmp/scratch"), "t:\\");
    EXPECT_EQ(*t.toDrivePath("/tmp/scratchy"), "c:\\tmp\\scratchy");
    EXPECT_EQ(*t.toDrivePath("/"), "c:\\");
    // A native name holding a backslash cannot be written as a drive path.
    EXPECT_FALSE(t.toDrivePath("/tmp/scratch/a\\b").has_value());
    EXPECT_FALSE(DriveTable::fromMapping("t=/tmp").toDrivePath("/etc").has_value());
    // A list entry still names its folder only while the table agrees.
    EXPECT_TRUE(driveEntryIsCurrent("t: [/tmp/scratch]", t));
    EXPECT_FALSE(driveEntryIsCurrent("u: [/mnt/old]", t));
    EXPECT_FALSE(driveEntryIsCurrent("q: [/x]", t));
    EXPECT_TRUE(driveEntryIsCurrent("t:\\", t));
}

TEST(Environment, SystemRootRules)
{
    const DriveTable t = DriveTable::fromMapping("c=/;t=/tmp");
    testsupport::EnvGuard a("systemroot", ""), b("SystemRoot", ""), c("SYSTEMROOT", "");
    for (const char* name : {"systemroot", "SystemRoot", "SYSTEMROOT"})
        qunsetenv(name);
    EXPECT_EQ(systemRootValue(t), "C:\\");
    EXPECT_EQ(systemRootValue(DriveTable::fromMapping("d=/;t=/tmp")), "D:\\");
    qputenv("SYSTEMROOT", "E:\\WINNT");
    EXPECT_EQ(systemRootValue(t), "E:\\WINNT");
    qputenv("systemroot", "");
    EXPECT_EQ(systemRootValue(t), ""); // set but empty is not "unset"
}

TEST(DriveTypes, ClassifiesMountKinds)
{
    // An image file behind a FUSE mount is a fixed drive.
    QTemporaryFile img;
    ASSERT_TRUE(img.open());
    const struct {
        MountEntry mount;
        int type;
    } cases[] = {
        {{"/cd", "iso9660", "/dev/sr0", 11, 0}, DriveCdRom},   {{"/dvd", "udf", "/dev/sr0", 11, 0}, DriveCdRom},
        {{"/r", "tmpfs", "tmpfs", 0, 40}, DriveRamDisk},       {{"/n", "nfs4", "srv:/x", 0, 41}, DriveNetwork},
        {{"/s", "fuse.sshfs", "me@h:", 0, 42}, DriveNetwork},  {{"/f", "fuseblk", "/dev/nonexistent", 0, 43}, DriveFixed},
        {{"/o", "overlay", "overlay", 0, 44}, DriveUnknown},   {{"/i", "fuse", img.fileName(), 0, 45}, DriveFixed},
    };
    for (const auto& c : cases)
        EXPECT_EQ(typeCodeForMount(c.mount), c.type) << c.mount.fsType.toStdString();
}
