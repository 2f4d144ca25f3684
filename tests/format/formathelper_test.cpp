// The format helper run as the program runs it: a separate process given the
// classic command line, on small real volumes mapped to a letter.
#include "format/formathelper.h"
#include "format/reservehelper.h"
#include "platform/mounts.h"
#include "platform/process.h"
#include "support/fakes.h"
#include "support/volumes.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <gtest/gtest.h>

using format::FileSystem;
using testsupport::ScratchVolume;


namespace {

const QString kToNtfs = QStringLiteral("t: /fs:ntfs/x/y/q");

struct HelperRun {
    int exitCode = -1;
    QString error; // standard error
};

QString helperPath()
{
    const QString dir = QCoreApplication::applicationDirPath();
    for (const QString& candidate : {dir + QStringLiteral("/zarvexformat"), dir + QStringLiteral("/../bin/zarvexformat")})
        if (QFileInfo(candidate).isExecutable())
            return QFileInfo(candidate).canonicalFilePath();
    return {};
}

// Runs the helper with the drive table `drives`; `wrapper` runs it through
// another program (setpriv ...).
HelperRun runHelper(const QString& drives, const QString& commandTail, const QStringList& wrapper = {})
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ZARVEX_DRIVES"), drives);
    p.setProcessEnvironment(env);
    p.setStandardOutputFile(QProcess::nullDevice());
    const QStringList args = commandTail.split(u' ', Qt::SkipEmptyParts);
    if (wrapper.isEmpty())
        p.start(helperPath(), args);
    else
        p.start(wrapper.first(), wrapper.mid(1) + QStringList{helperPath()} + args);
    if (!p.waitForStarted(10000) || !p.waitForFinished(60000))
        return {};
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromLocal8Bit(p.readAllStandardError()).trimmed()};
}

// Runs `format.com <tail>` the way the format runner starts it.
HelperRun runFormatCom(const QString& tail)
{
    platform::StartedProcess process = platform::startProcess(QStringLiteral("format.com ") + tail);
    for (int i = 0; i < 600; ++i) {
        if (auto status = process.poll())
            return {status->code, status->errorOutput};
        QThread::msleep(50);
    }
    return {};
}

std::optional<platform::MountEntry> mountAt(const QString& folder)
{
    std::optional<platform::MountEntry> found;
    for (const platform::MountEntry& m : platform::allMounts())
        if (m.mountPoint == folder)
            found = m;
    return found;
}

QByteArray readBytes(const QString& path, qint64 offset, qint64 count)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || !f.seek(offset))
        return {};
    return f.read(count);
}

bool writeFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

bool isNtfs(const QString& deviceOrImage)
{
    return readBytes(deviceOrImage, 3, 8) == "NTFS    ";
}

QString drivesFor(const QString& folder)
{
    return QStringLiteral("c=/;t=") + folder;
}

class FormatHelperTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(helperPath().isEmpty()) << "zarvexformat is not built beside the tests";
        if (!testsupport::isRoot())
            GTEST_SKIP() << "formatting real volumes needs root";
    }

    // The helper refused with a one-line reason containing `expected`,
    // leaving the volume mounted with keep.txt intact.
    static void expectRefusedIntact(const ScratchVolume& volume, const HelperRun& run, const QString& expected)
    {
        EXPECT_EQ(run.exitCode, format::ExitRefused) << run.error.toStdString();
        EXPECT_TRUE(run.error.contains(expected)) << run.error.toStdString();
        EXPECT_FALSE(run.error.contains(u'\n')) << run.error.toStdString();
        EXPECT_TRUE(mountAt(volume.folder()).has_value());
        EXPECT_EQ(readBytes(volume.folder() + QStringLiteral("/keep.txt"), 0, 100), "precious");
    }
};

} // namespace

TEST(FormatHelperArguments, AcceptsTheRunnerCommandLinesInAnyCaseOrder)
{
    struct Case {
        QStringList args;
        char16_t letter;
        FileSystem fileSystem;
    };
    for (const Case& c : {Case{{"e:", "/fs:fat32/x/y/q"}, u'e', FileSystem::Fat32},
                          Case{{"E:", "/FS:NTFS/Q/Y/X"}, u'e', FileSystem::Ntfs},
                          Case{{"t:", "/x", "/fs:Fat", "/y/q"}, u't', FileSystem::Fat}}) {
        const auto r = format::parseFormatArguments(c.args);
        ASSERT_TRUE(r) << c.args.join(u' ').toStdString();
        EXPECT_EQ(r->letter, QChar(c.letter));
        EXPECT_EQ(r->fileSystem, c.fileSystem);
        EXPECT_TRUE(r->pinnedFolder.isEmpty());
    }
    // The runner's pin comes first; a folder with blanks stays one argument.
    const auto pinned = format::parseFormatArguments({"--folder", "/media/me/MY STICK", "e:", "/fs:ntfs/x/y/q"});
    ASSERT_TRUE(pinned);
    EXPECT_EQ(pinned->pinnedFolder, QStringLiteral("/media/me/MY STICK"));
    EXPECT_EQ(pinned->letter, QChar(u'e'));
    const auto reserve = format::parseReserveArguments({"--folder", "/mnt/x", "T:"});
    ASSERT_TRUE(reserve);
    EXPECT_EQ(reserve->letter, QChar(u't'));
    EXPECT_EQ(reserve->pinnedFolder, QStringLiteral("/mnt/x"));
}

TEST(FormatHelperArguments, RejectsMalformedCommandLines)
{
    const std::vector<QStringList> bad = {
        {}, {"e:"}, {"e", "/fs:ntfs/x/y/q"}, {"e:\\", "/fs:ntfs/x/y/q"}, {"1:", "/fs:ntfs/x/y/q"},
        {"/fs:ntfs/x/y/q", "e:"}, {"e:", "f:", "/fs:ntfs/x/y/q"}, {"e:", "fs:ntfs/x/y/q"},
        {"e:", "/fs:exfat/x/y/q"}, {"e:", "/fs:/x/y/q"},
        {"e:", "/fs:ntfs/x/y"},          // no quick format asked for
        {"e:", "/fs:ntfs/fs:fat/x/y/q"}, // two file systems
        {"e:", "/fs:ntfs/x/y/q/q"}, {"e:", "/fs:ntfs/x/y/q/v"}, {"e:", "/fs:ntfs//x/y/q"},
        {"--folder", "e:", "/fs:ntfs/x/y/q"}, {"--folder", "mnt/x", "e:", "/fs:ntfs/x/y/q"},
        {"e:", "/fs:ntfs/x/y/q", "--folder", "/mnt/x"}, // the pin comes first
    };
    for (const QStringList& args : bad)
        EXPECT_FALSE(format::parseFormatArguments(args)) << args.join(u' ').toStdString();
    for (const QStringList& args : std::vector<QStringList>{{}, {"t:", "u:"}, {"--folder", "t:"}, {"t:", "/fs:ntfs/x/y/q"}})
        EXPECT_FALSE(format::parseReserveArguments(args)) << args.join(u' ').toStdString();
}

TEST(FormatHelperArguments, HelperGivesUsageAndExitCode2)
{
    ASSERT_FALSE(helperPath().isEmpty()) << "zarvexformat is not built beside the tests";
    for (const QString& tail : {QString(), QStringLiteral("t: /fs:ntfs"), QStringLiteral("t: /fs:hpfs/x/y/q")}) {
        const HelperRun run = runHelper(QStringLiteral("c=/"), tail);
        EXPECT_EQ(run.exitCode, format::ExitUsage) << tail.toStdString();
        EXPECT_TRUE(run.error.startsWith(QStringLiteral("usage: "))) << run.error.toStdString();
    }
}

// Started as format.com, as the format runner does.
TEST_F(FormatHelperTest, NtfsImageBecomesAFreshNtfsMountedAtTheSamePlace)
{
    VOLUME_OR_SKIP(volume, Ntfs, 16);
    testsupport::EnvGuard drives("ZARVEX_DRIVES", drivesFor(volume.folder()));
    ASSERT_TRUE(writeFile(volume.folder() + QStringLiteral("/old.txt"), "before the format"));

    const HelperRun run = runFormatCom(QStringLiteral("T: /fs:ntfs/x/y/q"));
    ASSERT_EQ(run.exitCode, 0) << run.error.toStdString();
    EXPECT_TRUE(run.error.isEmpty()) << run.error.toStdString();

    const auto mount = mountAt(volume.folder());
    ASSERT_TRUE(mount.has_value());
    EXPECT_EQ(mount->source, volume.image());
    EXPECT_TRUE(isNtfs(volume.image()));
    const QStringList left = QDir(volume.folder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    EXPECT_TRUE(left.isEmpty()) << left.join(u' ').toStdString();
    EXPECT_TRUE(writeFile(volume.folder() + QStringLiteral("/new.txt"), "after"));
}

TEST_F(FormatHelperTest, Ext4LoopImageBecomesNtfsOnTheSameLoopDevice)
{
    QString image;
    {
        VOLUME_OR_SKIP(volume, Ext4, 16);
        image = volume.image();
        const auto before = mountAt(volume.folder());
        ASSERT_TRUE(before.has_value());
        ASSERT_TRUE(before->source.startsWith(QStringLiteral("/dev/loop")));
        ASSERT_TRUE(writeFile(volume.folder() + QStringLiteral("/old.txt"), "ext4 data"));

        const HelperRun run = runHelper(drivesFor(volume.folder()), kToNtfs);
        ASSERT_EQ(run.exitCode, 0) << run.error.toStdString();
        const auto after = mountAt(volume.folder());
        ASSERT_TRUE(after.has_value());
        EXPECT_EQ(after->source, before->source);
        EXPECT_TRUE(isNtfs(before->source));
        EXPECT_FALSE(QFile::exists(volume.folder() + QStringLiteral("/old.txt")));
        EXPECT_TRUE(writeFile(volume.folder() + QStringLiteral("/new.txt"), "ntfs data"));
    }
    // The volume's own clean-up still frees the loop device (a FUSE driver
    // may hold it for a moment after the unmount).
    QString attached;
    for (int i = 0; i < 100; ++i) {
        testsupport::runCommand(QStringLiteral("losetup"), {"-j", image}, &attached);
        if (attached.trimmed().isEmpty())
            break;
        QThread::msleep(50);
    }
    EXPECT_TRUE(attached.trimmed().isEmpty()) << attached.toStdString();
}

// A FAT file system that this kernel cannot mount is never made: the helper
// says so before it unmounts anything. Where vfat exists, the format works.
TEST_F(FormatHelperTest, FatFormatIsRefusedBeforeTheUnmountWhereTheKernelCannotMountIt)
{
    VOLUME_OR_SKIP(volume, Ext4, 16);
    ASSERT_TRUE(writeFile(volume.folder() + QStringLiteral("/keep.txt"), "precious"));
    const HelperRun run = runHelper(drivesFor(volume.folder()), QStringLiteral("t: /fs:fat32/x/y/q"));
    if (platform::kernelSupports(QStringLiteral("vfat"))) {
        EXPECT_EQ(run.exitCode, 0) << run.error.toStdString();
        EXPECT_EQ(mountAt(volume.folder())->fsType, QStringLiteral("vfat"));
        return;
    }
    expectRefusedIntact(volume, run, QStringLiteral("cannot mount a FAT file system (the kernel has no vfat support)"));
    EXPECT_EQ(mountAt(volume.folder())->fsType, QStringLiteral("ext4"));
}

// A device that another process holds open is refused while its volume is
// still mounted, not found busy after the unmount.
TEST_F(FormatHelperTest, HeldLoopDeviceIsRefusedWithTheVolumeStillMounted)
{
    VOLUME_OR_SKIP(volume, Ext4, 16);
    ASSERT_TRUE(writeFile(volume.folder() + QStringLiteral("/keep.txt"), "precious"));
    QFile device(mountAt(volume.folder())->source);
    ASSERT_TRUE(device.open(QIODevice::ReadOnly));
    expectRefusedIntact(volume, runHelper(drivesFor(volume.folder()), kToNtfs),
                        device.fileName() + QStringLiteral(" is held open by process ") +
                            QString::number(QCoreApplication::applicationPid()));
}

// A volume unmounted for a format that then cannot go ahead is mounted again
// as it was: same place, same options, its image again behind a loop device
// that cleared itself.
TEST(FormatHelperRemount, MountsTheOldVolumeAgainAsItWas)
{
    platform::MountEntry ext4{"/mnt/x", "ext4", "/dev/loop3", 7, 3};
    ext4.options = "rw,nosuid,relatime";
    ext4.superOptions = "rw,errors=remount-ro";
    auto attempts = format::remountAttempts(ext4, std::nullopt);
    ASSERT_EQ(attempts.size(), 2u);
    EXPECT_EQ(attempts[0].args, (QStringList{"-t", "ext4", "-o", "rw,nosuid,relatime,rw,errors=remount-ro",
                                             "/dev/loop3", "/mnt/x"}));
    EXPECT_EQ(attempts[1].args, (QStringList{"-t", "ext4", "-o", "rw,nosuid,relatime", "/dev/loop3", "/mnt/x"}));

    attempts = format::remountAttempts(ext4, platform::LoopDevice{"/img/a.img", true});
    EXPECT_EQ(attempts[1].args, (QStringList{"-t", "ext4", "-o", "loop,rw,nosuid,relatime", "/img/a.img", "/mnt/x"}));

    platform::MountEntry ntfs{"/mnt/n", "fuseblk", "/img/n.img", 0, 50};
    ntfs.options = "ro,nosuid";
    attempts = format::remountAttempts(ntfs, std::nullopt);
    ASSERT_EQ(attempts.size(), 1u);
    EXPECT_TRUE(attempts[0].program.endsWith("ntfs-3g"));
    EXPECT_EQ(attempts[0].args, (QStringList{"-o", "ro", "/img/n.img", "/mnt/n"}));
}

TEST_F(FormatHelperTest, RefusesTheSystemDriveUnknownLettersAndNonVolumes)
{
    {
        testsupport::EnvGuard drives("ZARVEX_DRIVES", QStringLiteral("c=/"));
        const HelperRun run = runFormatCom(QStringLiteral("c: /fs:ntfs/x/y/q"));
        EXPECT_EQ(run.exitCode, format::ExitRefused);
        EXPECT_EQ(run.error, QStringLiteral("c: was not formatted: it is the drive that holds the system (/)"));
    }
    HelperRun run = runHelper(QStringLiteral("c=/"), QStringLiteral("q: /fs:ntfs/x/y/q"));
    EXPECT_EQ(run.exitCode, format::ExitRefused);
    EXPECT_TRUE(run.error.contains(QStringLiteral("no drive with this letter"))) << run.error.toStdString();
    // A pinned folder is only a folder to the helper: checked again like any.
    run = runHelper(QStringLiteral("c=/"), QStringLiteral("--folder / q: /fs:ntfs/x/y/q"));
    EXPECT_EQ(run.exitCode, format::ExitRefused);
    EXPECT_EQ(run.error, QStringLiteral("q: was not formatted: it is the drive that holds the system (/)"));

    VOLUME_OR_SKIP(ram, Tmpfs, 4);
    ASSERT_TRUE(writeFile(ram.folder() + QStringLiteral("/keep.txt"), "precious"));
    expectRefusedIntact(ram, runHelper(drivesFor(ram.folder()), QStringLiteral("t: /fs:fat32/x/y/q")),
                        QStringLiteral("tmpfs file system"));

    // A folder on a volume, not the volume itself.
    ASSERT_TRUE(QDir().mkpath(ram.folder() + QStringLiteral("/sub")));
    expectRefusedIntact(ram, runHelper(drivesFor(ram.folder() + QStringLiteral("/sub")), kToNtfs),
                        QStringLiteral("/sub is not a mount point"));

}

// Busy, mounted twice or asked for by a plain user: refused, untouched. Once
// nothing stands in the way, the same volume formats.
TEST_F(FormatHelperTest, RefusesABusyOrSharedVolumeOrAPlainUserThenFormats)
{
    VOLUME_OR_SKIP(volume, Ntfs, 16);
    ASSERT_TRUE(writeFile(volume.folder() + QStringLiteral("/keep.txt"), "precious"));
    const QString drives = drivesFor(volume.folder());
    {
        QFile open(volume.folder() + QStringLiteral("/keep.txt"));
        ASSERT_TRUE(open.open(QIODevice::ReadOnly));
        expectRefusedIntact(volume, runHelper(drives, kToNtfs), QStringLiteral("is in use"));
    }
    {
        // A process whose current folder is on the volume.
        QProcess sleeper;
        sleeper.setWorkingDirectory(volume.folder());
        sleeper.start(QStringLiteral("sleep"), {QStringLiteral("30")});
        ASSERT_TRUE(sleeper.waitForStarted());
        expectRefusedIntact(volume, runHelper(drives, kToNtfs), QStringLiteral("is in use"));
        sleeper.kill();
        sleeper.waitForFinished();
    }
    {
        QTemporaryDir other;
        ASSERT_TRUE(other.isValid());
        QString out;
        ASSERT_EQ(testsupport::runCommand(QStringLiteral("mount"), {"--bind", volume.folder(), other.path()}, &out),
                  0)
            << out.toStdString();
        const HelperRun run = runHelper(drives, kToNtfs);
        testsupport::runCommand(QStringLiteral("umount"), {other.path()});
        expectRefusedIntact(volume, run, QStringLiteral("also mounted at ") + other.path());
    }
    // setpriv (util-linux) runs the helper as nobody.
    if (const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv")); !setpriv.isEmpty())
        expectRefusedIntact(volume,
                            runHelper(drives, kToNtfs, {setpriv, "--reuid=65534", "--regid=65534", "--clear-groups"}),
                            QStringLiteral("needs root"));

    const HelperRun run = runHelper(drives, kToNtfs);
    EXPECT_EQ(run.exitCode, 0) << run.error.toStdString();
    EXPECT_FALSE(QFile::exists(volume.folder() + QStringLiteral("/keep.txt")));
}
