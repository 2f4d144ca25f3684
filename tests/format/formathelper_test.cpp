// The format helper run as the program runs it: a separate process given the
// classic command line, on small real volumes mapped to a letter.
#include "format/formathelper.h"
#include "format/formatrunner.h"
#include "format/reservehelper.h"
#include "platform/mounts.h"
#include "platform/process.h"
#include "support/fakes.h"
#include "support/volumes.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <gtest/gtest.h>
#include <unistd.h>

using testsupport::ScratchVolume;

namespace {

const QString kToNtfs = QStringLiteral("t: /fs:ntfs/x/y/q");

// Runs the helper with the drive table `drives` as the format runner starts
// it (`format.com <tail>`), or through `wrapper` (setpriv ...).
platform::ExitStatus runHelper(const QString& drives, const QString& tail, const QStringList& wrapper = {})
{
    testsupport::EnvGuard env("ZARVEX_DRIVES", drives);
    const QString helper = wrapper.isEmpty() ? QStringLiteral("format.com")
                                             : QCoreApplication::applicationDirPath() + QStringLiteral("/zarvexformat");
    platform::StartedProcess process =
        platform::startProcess(wrapper + QStringList{helper} + tail.split(u' ', Qt::SkipEmptyParts));
    for (int i = 0; i < 6000; ++i, QThread::msleep(10))
        if (auto status = process.poll())
            return *status;
    return {};
}

std::optional<platform::MountEntry> mountAt(const QString& folder)
{
    const std::vector<platform::MountEntry> mounts = platform::allMounts();
    const auto m = std::find_if(mounts.rbegin(), mounts.rend(), [&](const auto& e) { return e.mountPoint == folder; });
    return m == mounts.rend() ? std::nullopt : std::optional(*m);
}

QByteArray readStart(const QString& path, qint64 count)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.read(count) : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

class FormatHelperTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!testsupport::isRoot())
            GTEST_SKIP() << "formatting real volumes needs root";
    }

    // The helper refused with a one-line reason containing `expected`,
    // leaving the volume mounted with keep.txt intact.
    static void expectRefusedIntact(const ScratchVolume& volume, const platform::ExitStatus& run, const QString& expected)
    {
        EXPECT_EQ(run.code, format::ExitRefused) << run.errorOutput.toStdString();
        EXPECT_TRUE(run.errorOutput.contains(expected)) << run.errorOutput.toStdString();
        EXPECT_FALSE(run.errorOutput.contains(u'\n')) << run.errorOutput.toStdString();
        EXPECT_TRUE(mountAt(volume.folder()).has_value());
        EXPECT_EQ(readStart(volume.folder() + QStringLiteral("/keep.txt"), 100), "precious");
    }
};

} // namespace

// The runner's command line for each format type, and the file system the
// helper makes of it: the two ends agree; a type that names none is NTFS.
TEST(FormatHelperArguments, TheRunnersCommandLineNamesTheFileSystemOfItsType)
{
    const struct { int type; QString line; QString made; } cases[] = {
        {1, "format.com t: /fs:fat/x/y/q", "FAT"},
        {2, "format.com t: /fs:fat32/x/y/q", "FAT32"},
        {3, "format.com t: /fs:ntfs/x/y/q", "NTFS"},
        {0, "format.com t: /fs:ntfs/x/y/q", "NTFS"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        const QString line = format::formatCommandLine("t:\\x", c.type);
        EXPECT_EQ(line, c.line);
        const auto request = format::parseFormatArguments(line.split(u' ').mid(1));
        ASSERT_TRUE(request);
        EXPECT_EQ(format::fileSystemName(request->fileSystem), c.made);
    }
}

TEST(FormatHelperArguments, TakesTheRunnerCommandLinesInAnyCaseOrderAndNothingElse)
{
    // What the helper makes of a command line: letter, file system, pinned folder.
    auto parsed = [](const QStringList& args) {
        const auto r = format::parseFormatArguments(args);
        return r ? QString(r->letter) + u' ' + format::fileSystemName(r->fileSystem) + u' ' + r->pinnedFolder : QString();
    };
    EXPECT_EQ(parsed({"e:", "/fs:fat32/x/y/q"}), "e FAT32 ");
    EXPECT_EQ(parsed({"E:", "/FS:NTFS/Q/Y/X"}), "e NTFS ");
    EXPECT_EQ(parsed({"t:", "/x", "/fs:Fat", "/y/q"}), "t FAT ");
    // The runner's pin comes first; a folder with blanks stays one argument.
    EXPECT_EQ(parsed({"--folder", "/media/me/MY STICK", "e:", "/fs:ntfs/x/y/q"}), "e NTFS /media/me/MY STICK");
    // The volume the prompt named may come before it.
    const auto about = format::parseFormatArguments({"--about", "/dev/sdb1 (7.5 GiB) mounted at /m", "--folder", "/m",
                                                     "e:", "/fs:ntfs/x/y/q"});
    ASSERT_TRUE(about);
    EXPECT_EQ(about->about, "/dev/sdb1 (7.5 GiB) mounted at /m");
    const auto reserve = format::parseReserveArguments({"--folder", "/mnt/x", "T:"});
    ASSERT_TRUE(reserve);
    EXPECT_EQ(reserve->letter, QChar(u't'));
    EXPECT_EQ(reserve->pinnedFolder, QStringLiteral("/mnt/x"));

    const std::vector<QStringList> bad = {
        {}, {"e:"}, {"e", "/fs:ntfs/x/y/q"}, {"e:\\", "/fs:ntfs/x/y/q"}, {"1:", "/fs:ntfs/x/y/q"},
        {"/fs:ntfs/x/y/q", "e:"}, {"e:", "f:", "/fs:ntfs/x/y/q"}, {"e:", "fs:ntfs/x/y/q"},
        {"e:", "/fs:exfat/x/y/q"}, {"e:", "/fs:/x/y/q"},
        {"e:", "/fs:ntfs/x/y"},          // no quick format asked for
        {"e:", "/fs:ntfs/fs:fat/x/y/q"}, // two file systems
        {"e:", "/fs:ntfs/x/y/q/q"}, {"e:", "/fs:ntfs/x/y/q/v"}, {"e:", "/fs:ntfs//x/y/q"},
        {"--folder", "e:", "/fs:ntfs/x/y/q"}, {"--folder", "mnt/x", "e:", "/fs:ntfs/x/y/q"},
        {"e:", "/fs:ntfs/x/y/q", "--folder", "/mnt/x"}, // the pin comes first
        {"--about", "a", "--about", "b", "e:", "/fs:ntfs/x/y/q"}, {"--about", "", "e:", "/fs:ntfs/x/y/q"},
    };
    for (const QStringList& args : bad)
        EXPECT_EQ(parsed(args), "") << args.join(u' ').toStdString();
    for (const QStringList& args :
         std::vector<QStringList>{{}, {"t:", "u:"}, {"--folder", "t:"}, {"t:", "/fs:ntfs/x/y/q"}})
        EXPECT_FALSE(format::parseReserveArguments(args)) << args.join(u' ').toStdString();
}

// Only root's FUSE mounts are taken: fusermount lets any user name any device
// as the source of a mount of theirs.
TEST(FormatHelperArguments, FuseMountsOfUsersAreTold)
{
    const struct { const char* type; const char* superOptions; bool users; } cases[] = {
        {"fuseblk", "rw,user_id=0,group_id=0,allow_other,blksize=4096", false},
        {"fuse", "rw,user_id=1000,group_id=1000", true},
        {"fuse.sshfs", "rw,user_id=1000", true},
        {"fuse", "rw,user_id=00", true},
        {"ext4", "rw", false},
    };
    for (const auto& c : cases) {
        platform::MountEntry m{"/m", c.type, "/dev/loop2", 0, 50};
        m.superOptions = c.superOptions;
        EXPECT_EQ(platform::isUsersFuseMount(m), c.users) << c.type << ' ' << c.superOptions;
    }
}

// A volume unmounted for a format that then cannot go ahead is mounted again
// as it was: same place, same options, its image again behind a loop device
// that cleared itself.
TEST(FormatHelperRemount, MountsTheOldVolumeAgainAsItWas)
{
    const platform::MountEntry ext4{"/mnt/x", "ext4", "/dev/loop3", 7, 3,
                                    "/", "rw,nosuid,relatime", "rw,errors=remount-ro"};
    auto attempts = format::remountAttempts(ext4, std::nullopt);
    ASSERT_EQ(attempts.size(), 2u);
    EXPECT_EQ(attempts[0].args, (QStringList{"-t", "ext4", "-o", "rw,nosuid,relatime,rw,errors=remount-ro",
                                             "/dev/loop3", "/mnt/x"}));
    EXPECT_EQ(attempts[1].args, (QStringList{"-t", "ext4", "-o", "rw,nosuid,relatime", "/dev/loop3", "/mnt/x"}));

    attempts = format::remountAttempts(ext4, platform::LoopDevice{"/img/a.img", true});
    EXPECT_EQ(attempts[1].args, (QStringList{"-t", "ext4", "-o", "loop,rw,nosuid,relatime", "/img/a.img", "/mnt/x"}));

    const platform::MountEntry ntfs{"/mnt/n", "fuseblk", "/img/n.img", 0, 50, "/", "ro,nosuid"};
    attempts = format::remountAttempts(ntfs, std::nullopt);
    ASSERT_EQ(attempts.size(), 1u);
    EXPECT_TRUE(attempts[0].program.endsWith("ntfs-3g"));
    EXPECT_EQ(attempts[0].args, (QStringList{"-o", "ro", "/img/n.img", "/mnt/n"}));
}

// What is not a volume of its own is refused, whatever the letter names.
TEST_F(FormatHelperTest, RefusesTheSystemDriveUnknownLettersNonVolumesAndMalformedCalls)
{
    VOLUME_OR_SKIP(ram, Tmpfs, 4);
    ASSERT_TRUE(writeFile(ram.folder() + QStringLiteral("/keep.txt"), "precious"));
    ASSERT_TRUE(QDir().mkpath(ram.folder() + QStringLiteral("/sub")));
    const struct {
        QString drives, tail, expected;
    } cases[] = {
        {"c=/", "c: /fs:ntfs/x/y/q", "c: was not formatted: it is the drive that holds the system (/)"},
        {"c=/", "q: /fs:ntfs/x/y/q", "q: was not formatted: there is no drive with this letter"},
        // A pinned folder is only a folder to the helper: checked again like any.
        {"c=/", "--folder / q: /fs:ntfs/x/y/q", "q: was not formatted: it is the drive that holds the system (/)"},
        {"c=/;t=" + ram.folder(), "t: /fs:fat32/x/y/q", "tmpfs file system"},
        // A folder on a volume, not the volume itself.
        {"c=/;t=" + ram.folder() + "/sub", kToNtfs, "/sub is not a mount point"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tail.toStdString());
        expectRefusedIntact(ram, runHelper(c.drives, c.tail), c.expected);
    }
    // Malformed calls get the helper's usage.
    for (const QString& tail : {QString(), QStringLiteral("t: /fs:ntfs"), QStringLiteral("t: /fs:hpfs/x/y/q")}) {
        const platform::ExitStatus run = runHelper(QStringLiteral("c=/"), tail);
        EXPECT_EQ(run.code, format::ExitUsage) << tail.toStdString();
        EXPECT_TRUE(run.errorOutput.startsWith(QStringLiteral("usage: "))) << run.errorOutput.toStdString();
    }
}

// Held, partly shown or a FAT this kernel cannot mount: refused before the
// unmount. Then the same loop device becomes NTFS.
TEST_F(FormatHelperTest, Ext4LoopImageRefusalsThenNtfsOnTheSameLoopDevice)
{
    QString image;
    {
        VOLUME_OR_SKIP(volume, Ext4, 16);
        image = volume.image();
        ASSERT_TRUE(writeFile(volume.folder() + QStringLiteral("/keep.txt"), "precious"));
        const QString drives = "c=/;t=" + volume.folder();
        {
            // Another process holding the device is found while the volume
            // is still mounted, not after the unmount.
            QFile device(mountAt(volume.folder())->source);
            ASSERT_TRUE(device.open(QIODevice::ReadOnly));
            expectRefusedIntact(volume, runHelper(drives, kToNtfs),
                                device.fileName() + QStringLiteral(" is held open by process ") +
                                    QString::number(QCoreApplication::applicationPid()));
        }
        {
            // A bind mount of a folder alone shows only part of the volume:
            // the format would take the whole device with it.
            QTemporaryDir dir;
            ASSERT_TRUE(QDir(volume.folder()).mkpath("photos"));
            ASSERT_EQ(testsupport::runCommand("mount", {"--bind", volume.folder() + "/photos", dir.path()}), 0);
            ASSERT_TRUE(volume.unmount());
            const platform::ExitStatus run = runHelper("c=/;t=" + dir.path(), kToNtfs);
            testsupport::runCommand("umount", {dir.path()});
            ASSERT_TRUE(volume.remount());
            expectRefusedIntact(volume, run, dir.path() + " shows only /photos of its volume");
        }
        const QString device = mountAt(volume.folder())->source;
        ASSERT_TRUE(device.startsWith(QStringLiteral("/dev/loop")));
        const platform::ExitStatus fat = runHelper(drives, QStringLiteral("t: /fs:fat32/x/y/q"));
        if (platform::kernelSupports(QStringLiteral("vfat"))) {
            EXPECT_EQ(fat.code, 0) << fat.errorOutput.toStdString();
            EXPECT_EQ(mountAt(volume.folder())->fsType, QStringLiteral("vfat"));
        } else {
            expectRefusedIntact(volume, fat,
                                QStringLiteral("cannot mount a FAT file system (the kernel has no vfat support)"));
            EXPECT_EQ(mountAt(volume.folder())->fsType, QStringLiteral("ext4"));
        }

        const platform::ExitStatus run = runHelper(drives, kToNtfs);
        ASSERT_EQ(run.code, 0) << run.errorOutput.toStdString();
        const auto after = mountAt(volume.folder());
        ASSERT_TRUE(after.has_value());
        EXPECT_EQ(after->source, device);
        EXPECT_EQ(readStart(device, 11).mid(3), "NTFS    ");
        EXPECT_FALSE(QFile::exists(volume.folder() + QStringLiteral("/keep.txt")));
    }
    // The volume's own clean-up still frees the loop device (a FUSE driver
    // may hold it for a moment after the unmount).
    QString attached;
    for (int i = 0; i < 100; ++i, QThread::msleep(50))
        if (testsupport::runCommand(QStringLiteral("losetup"), {"-j", image}, &attached) == 0 &&
            attached.trimmed().isEmpty())
            break;
    EXPECT_TRUE(attached.trimmed().isEmpty()) << attached.toStdString();
}

// Busy, mounted twice or asked for by a plain user: refused, untouched. Once
// nothing stands in the way, it becomes a fresh NTFS at the same place.
TEST_F(FormatHelperTest, NtfsImageRefusalsThenAFreshNtfsAtTheSamePlace)
{
    VOLUME_OR_SKIP(volume, Ntfs, 16);
    ASSERT_TRUE(writeFile(volume.folder() + QStringLiteral("/keep.txt"), "precious"));
    const QString drives = "c=/;t=" + volume.folder();
    {
        QFile open(volume.folder() + QStringLiteral("/keep.txt"));
        ASSERT_TRUE(open.open(QIODevice::ReadOnly));
        expectRefusedIntact(volume, runHelper(drives, kToNtfs), QStringLiteral("is in use"));
    }
    {
        QTemporaryDir other;
        ASSERT_EQ(testsupport::runCommand(QStringLiteral("mount"), {"--bind", volume.folder(), other.path()}), 0);
        const platform::ExitStatus run = runHelper(drives, kToNtfs);
        testsupport::runCommand(QStringLiteral("umount"), {other.path()});
        expectRefusedIntact(volume, run, QStringLiteral("also mounted at ") + other.path());
    }
    // setpriv (util-linux) runs the helper as nobody.
    if (const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv")); !setpriv.isEmpty())
        expectRefusedIntact(volume,
                            runHelper(drives, kToNtfs, {setpriv, "--reuid=65534", "--regid=65534", "--clear-groups"}),
                            QStringLiteral("needs root"));

    const platform::ExitStatus run = runHelper(drives, QStringLiteral("T: /fs:ntfs/x/y/q"));
    ASSERT_EQ(run.code, 0) << run.errorOutput.toStdString();
    EXPECT_TRUE(run.errorOutput.isEmpty()) << run.errorOutput.toStdString();
    const auto mount = mountAt(volume.folder());
    ASSERT_TRUE(mount.has_value());
    EXPECT_EQ(mount->source, volume.image());
    EXPECT_EQ(readStart(volume.image(), 11).mid(3), "NTFS    ");
    const QStringList left = QDir(volume.folder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    EXPECT_TRUE(left.isEmpty()) << left.join(u' ').toStdString();
    EXPECT_TRUE(writeFile(volume.folder() + QStringLiteral("/new.txt"), "after"));
}

// The helper acts on what a mount is really on, found by identity, and only
// where no user but root can change the way to it. Each row is refused, and
// the volume that the names pointed at keeps every byte.
TEST_F(FormatHelperTest, RefusesAMountNotOnItsNamedDeviceAndFoldersAUserMayChange)
{
    VOLUME_OR_SKIP(victim, Ext4, 8);
    ASSERT_TRUE(writeFile(victim.folder() + QStringLiteral("/keep.txt"), "precious"));
    ASSERT_TRUE(victim.unmount());
    QString loop;
    ASSERT_EQ(testsupport::runCommand("losetup", {"-f", "--show", victim.image()}, &loop), 0);
    loop = loop.trimmed();
    const QByteArray before = readStart(victim.image(), 8 << 20);

    QTemporaryDir fake;
    ASSERT_EQ(testsupport::runCommand("mount", {"-t", "tmpfs", loop, fake.path()}), 0); // any text can be a source
    const platform::ExitStatus named = runHelper("c=/;t=" + fake.path(), kToNtfs);
    testsupport::runCommand("umount", {fake.path()});
    testsupport::runCommand("losetup", {"-d", loop});
    EXPECT_EQ(named.code, format::ExitRefused) << named.errorOutput.toStdString();
    EXPECT_TRUE(named.errorOutput.contains("as the source of " + fake.path() + ", but that file system is not on it"))
        << named.errorOutput.toStdString();
    EXPECT_EQ(readStart(victim.image(), 8 << 20), before);

    // The volume's own folder lies in a folder a user owns: it could be
    // swapped for a link to a root-only folder between the check and the mount.
    VOLUME_OR_SKIP(volume, Ntfs, 8);
    ASSERT_TRUE(writeFile(volume.folder() + QStringLiteral("/keep.txt"), "precious"));
    const QString parent = QFileInfo(volume.folder()).path();
    ASSERT_EQ(::chown(QFile::encodeName(parent).constData(), 65534, 65534), 0);
    const platform::ExitStatus owned = runHelper("c=/;t=" + volume.folder(), kToNtfs);
    ASSERT_EQ(::chown(QFile::encodeName(parent).constData(), 0, 0), 0);
    expectRefusedIntact(volume, owned, parent + QStringLiteral(", which a user other than root may change"));

    // A prompt that named another volume is not taken for this one.
    expectRefusedIntact(volume, runHelper("c=/;t=" + volume.folder(), "--about /dev/sdz9 " + kToNtfs),
                        QStringLiteral("no longer the one that was approved"));
}

// Once held, the target is the file that was checked, whatever its name
// comes to mean: an image swapped for a link after the unmount is not the
// one written, and the new file system is not mounted by the swapped name.
TEST_F(FormatHelperTest, AHeldImageIsWrittenThroughItsDescriptorAfterItsNameIsSwapped)
{
    VOLUME_OR_SKIP(volume, Ntfs, 8);
    const auto mount = mountAt(volume.folder());
    ASSERT_TRUE(mount.has_value());
    QString why;
    const auto held = platform::holdMountTarget(*mount, std::nullopt, &why);
    ASSERT_TRUE(held.has_value()) << why.toStdString();
    ASSERT_TRUE(volume.unmount());
    QTemporaryDir elsewhere;
    const QString decoy = elsewhere.filePath("root-only.bin");
    ASSERT_TRUE(writeFile(decoy, QByteArray(2 << 20, 'R')));
    const QString moved = volume.image() + ".moved";
    ASSERT_TRUE(QFile::rename(volume.image(), moved) && QFile::link(decoy, volume.image()));

    EXPECT_FALSE(held->pathStillNamesIt());
    ASSERT_TRUE(held->overwriteEnds(1 << 20, &why)) << why.toStdString();
    EXPECT_EQ(readStart(decoy, 2 << 20), QByteArray(2 << 20, 'R'));
    EXPECT_EQ(readStart(moved, 1 << 20), QByteArray(1 << 20, '\0'));
    QFile::remove(volume.image());
    QFile::rename(moved, volume.image());
}
