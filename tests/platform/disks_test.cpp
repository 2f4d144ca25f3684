// Whole disks as a disk wipe is offered them, on real loop devices: an
// attached image is listed with its size and what it is a loop device of; a
// file system on it shows where it is mounted (no refusal: it is unmounted
// when the user agrees); an active swap on it, and the disk that holds /,
// are refused, each naming what holds it. (This machine's kernel reads no
// partition tables: partitions are seen in the emulated guest only.)
#include "platform/ataerase.h"
#include "platform/deviceerase.h"
#include "platform/disks.h"
#include "platform/hiddenareas.h"
#include "platform/mounts.h"
#include "support/volumes.h"

#include <QRegularExpression>
#include <algorithm>
#include <gtest/gtest.h>
#include <optional>

using testsupport::runCommand;

namespace {

std::optional<platform::Disk> diskOf(const QString& device)
{
    for (const platform::Disk& d : platform::listDisks())
        if (d.device == device)
            return d;
    return std::nullopt;
}

} // namespace

TEST(Disks, LoopDevicesAreListedAndTheSystemDiskAndASwapAreRefused)
{
    testsupport::LoopDisk loop(8);
    if (!loop.ok())
        GTEST_SKIP() << loop.skipReason().toStdString();
    const QString image = loop.image();
    QString out;

    std::optional<platform::Disk> d = diskOf(loop.device());
    ASSERT_TRUE(d);
    EXPECT_EQ(d->bytes, 8u << 20);
    EXPECT_EQ(d->transport, "loop");
    EXPECT_TRUE(d->model.contains(image)) << d->model.toStdString();
    EXPECT_EQ(platform::refusalsOf(*d), QStringList{});

    ASSERT_EQ(runCommand("mkfs.ext4", {"-q", "-F", loop.device()}), 0);
    ASSERT_EQ(runCommand("mount", {loop.device(), loop.mountPoint()}), 0);
    d = diskOf(loop.device());
    ASSERT_TRUE(d);
    EXPECT_EQ(d->mountPoints, QStringList{loop.mountPoint()});
    EXPECT_EQ(platform::refusalsOf(*d), QStringList{});
    ASSERT_EQ(runCommand("umount", {loop.mountPoint()}), 0);

    ASSERT_EQ(runCommand("mkswap", {loop.device()}), 0);
    if (runCommand("swapon", {loop.device()}, &out) == 0)
        EXPECT_EQ(platform::refusalsOf(*diskOf(loop.device())), QStringList{loop.device() + " is an active swap"});
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

// What a drive hides is counted from the furthest end it names, and said.
TEST(HiddenAreas, AreCountedFromTheFurthestEndTheDriveNames)
{
    const struct Row {
        std::optional<std::uint64_t> native, overlay;
        std::uint64_t hidden;
        const char* says;
    } rows[] = {
        {{}, {}, 0, "No hidden area: the host sees 1000 sectors"},
        {1000, {}, 0, "No hidden area"},
        {1200, {}, 200, "The drive hides 200 sectors from the host (it shows 1000; its native end is sector 1200"},
        {1200, 1500, 500, "The drive hides 500 sectors"},
        {{}, 1100, 100, "The drive hides 100 sectors"},
    };
    for (const Row& row : rows) {
        platform::HiddenAreas a;
        a.looked = true;
        a.visibleSectors = 1000;
        a.nativeSectors = row.native;
        a.overlaySectors = row.overlay;
        EXPECT_EQ(a.hiddenSectors(), row.hidden);
        EXPECT_TRUE(platform::hiddenAreasText(a).startsWith(row.says)) << platform::hiddenAreasText(a).toStdString();
    }
    platform::HiddenAreas nvme;
    nvme.notLooked = "a NVMe drive has no host protected area";
    EXPECT_EQ(platform::hiddenAreasText(nvme), "Hidden areas were not looked for: a NVMe drive has no host protected area.");
}

// The drive's security status decides whether SECURITY ERASE UNIT may run:
// never against a password set by someone else, a locked or frozen drive.
TEST(AtaSecurityErase, RunsOnlyWhenTheDriveIsReadyForIt)
{
    const struct Row {
        std::uint16_t word82, word128, word89, word90;
        bool normal, enhanced;
        const char* why;
        unsigned normalMinutes;
    } rows[] = {
        {0x0000, 0x0000, 0, 0, false, false, "it has no ATA security feature set", 0},
        {0x0002, 0x0001, 5, 0, true, false, "", 10},
        {0x0002, 0x0021, 0x8000 | 300, 0x8000 | 400, true, true, "", 600},
        {0x0002, 0x0003, 5, 0, false, false, "a security password is already set on it", 0},
        {0x0002, 0x0007, 5, 0, false, false, "a security password is already set on it", 0},
        {0x0002, 0x0009, 5, 0, false, false, "its security is frozen", 0},
        {0x0002, 0x0011, 5, 0, false, false, "it has refused too many wrong passwords", 0},
    };
    for (const Row& row : rows) {
        platform::AtaBlock id {};
        const auto put = [&](int word, std::uint16_t v) { id[2 * word] = v & 0xFF, id[2 * word + 1] = v >> 8; };
        put(82, row.word82), put(128, row.word128), put(89, row.word89), put(90, row.word90);
        const platform::AtaSecurity s = platform::ataSecurityOf(id);
        EXPECT_EQ(s.normal, row.normal) << row.word128;
        EXPECT_EQ(s.enhanced, row.enhanced) << row.word128;
        EXPECT_EQ(s.none.left(int(qstrlen(row.why))), QString::fromLatin1(row.why));
        EXPECT_EQ(s.normalMinutes, row.normalMinutes) << row.word128;
    }
}

// A loop device has no erase of its own and takes no secure discard; it
// says both, and asking writes nothing.
TEST(DeviceErase, ALoopDiskOffersNoneAndSaysWhy)
{
    testsupport::LoopDisk loop(8);
    if (!loop.ok())
        GTEST_SKIP() << loop.skipReason().toStdString();
    const std::optional<platform::Disk> disk = diskOf(loop.device());
    ASSERT_TRUE(disk);
    const platform::EraseFacts facts = platform::eraseFactsOf(*disk);
    EXPECT_TRUE(facts.offered.isEmpty());
    EXPECT_FALSE(facts.chosen);
    EXPECT_EQ(facts.none, QStringList({"it is no NVMe, ATA or SCSI drive, which have erase commands of their own",
                                       "it takes no secure discard (BLKSECDISCARD)"}));
}
