// Whole disks as a disk wipe is offered them, on real loop devices: an
// attached image is listed with its size and what it is a loop device of; a
// file system on it shows where it is mounted (no refusal: it is unmounted
// when the user agrees); an active swap on it, and the disk that holds /,
// are refused, each naming what holds it. (This machine's kernel reads no
// partition tables: partitions are seen in the emulated guest only.)
#include "platform/disks.h"
#include "platform/mounts.h"
#include "support/volumes.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <gtest/gtest.h>
#include <optional>
#include <unistd.h>

using testsupport::runCommand;

namespace {

std::optional<platform::Disk> diskOf(const QString& device)
{
    for (const platform::Disk& d : platform::listDisks())
        if (d.device == device)
            return d;
    return std::nullopt;
}

// An image attached as a loop device, detached whatever happens.
struct AttachedImage {
    QString device;
    QString mounted;
    ~AttachedImage()
    {
        if (!mounted.isEmpty())
            runCommand("umount", {mounted});
        runCommand("swapoff", {device});
        if (!device.isEmpty())
            runCommand("losetup", {"-d", device});
    }
};

} // namespace

TEST(Disks, LoopDevicesAreListedAndTheSystemDiskAndASwapAreRefused)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "attaching a loop device needs root";
    QTemporaryDir dir;
    const QString image = dir.filePath("disk.img");
    ASSERT_EQ(runCommand("truncate", {"-s", "8M", image}), 0);
    AttachedImage loop;
    QString out;
    if (runCommand("losetup", {"-f", "--show", image}, &out) != 0)
        GTEST_SKIP() << "no loop device: " << out.toStdString();
    loop.device = out.trimmed();

    std::optional<platform::Disk> d = diskOf(loop.device);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->bytes, 8u << 20);
    EXPECT_EQ(d->transport, "loop");
    EXPECT_TRUE(d->model.contains(image)) << d->model.toStdString();
    EXPECT_EQ(platform::refusalsOf(*d), QStringList{});

    ASSERT_EQ(runCommand("mkfs.ext4", {"-q", "-F", loop.device}), 0);
    ASSERT_TRUE(QDir().mkpath(dir.filePath("mnt")));
    ASSERT_EQ(runCommand("mount", {loop.device, dir.filePath("mnt")}), 0);
    loop.mounted = dir.filePath("mnt");
    d = diskOf(loop.device);
    ASSERT_TRUE(d);
    EXPECT_EQ(d->mountPoints, QStringList{dir.filePath("mnt")});
    EXPECT_EQ(platform::refusalsOf(*d), QStringList{});
    ASSERT_EQ(runCommand("umount", {loop.mounted}), 0);
    loop.mounted.clear();

    ASSERT_EQ(runCommand("mkswap", {loop.device}), 0);
    if (runCommand("swapon", {loop.device}, &out) == 0)
        EXPECT_EQ(platform::refusalsOf(*diskOf(loop.device)), QStringList{loop.device + " is an active swap"});
    else
        std::printf("swapon refused here (%s): the swap refusal is not seen\n", qPrintable(out.trimmed()));

    // The disk that holds /, where / is on a disk at all.
    int holdingRoot = 0;
    for (const platform::Disk& disk : platform::listDisks())
        holdingRoot += platform::refusalsOf(disk).filter(QRegularExpression("^it holds / \\(mounted from ")).size();
    const auto mounts = platform::allMounts();
    const bool rootOnDisk = std::any_of(mounts.begin(), mounts.end(), [](const platform::MountEntry& m) {
        return m.mountPoint == "/" && m.source.startsWith("/dev/");
    });
    EXPECT_EQ(holdingRoot, rootOnDisk ? 1 : 0);
}
