// The format helper run as the program runs it: a separate process given the
// classic command line, on small real volumes mapped to a letter.
#include "format/formathelper.h"
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
using format::parseFormatArguments;
using testsupport::ScratchVolume;

namespace {

struct HelperRun {
    int exitCode = -1;
    QString error; // standard error, trimmed
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

QStringList entriesOf(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
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

    // Writes a file and checks the helper refused with a one-line reason
    // containing `expected`, leaving the volume mounted with the file intact.
    static void expectRefusedIntact(const ScratchVolume& volume, const HelperRun& run, const QString& expected)
    {
        EXPECT_EQ(run.exitCode, format::ExitRefused) << run.error.toStdString();
        EXPECT_TRUE(run.error.contains(expected)) << run.error.toStdString();
        EXPECT_FALSE(run.error.contains(u'\n')) << run.error.toStdString();
        EXPECT_TRUE(mountAt(volume.folder()).has_value());
        EXPECT_EQ(readBytes(volume.folder() + QStringLiteral("/keep.txt"), 0, 100), "precious");
    }
};

// FAT formats succeed at mkfs; the mount then works only where the kernel
// has vfat. Checks whichever outcome this machine must give.
void expectFatOutcome(const ScratchVolume& volume, const HelperRun& run, const QString& fsName,
                      const QString& formatted, qint64 signatureAt, const QByteArray& signature)
{
    EXPECT_EQ(readBytes(formatted, signatureAt, signature.size()), signature);
    if (platform::kernelSupports(QStringLiteral("vfat"))) {
        EXPECT_EQ(run.exitCode, 0) << run.error.toStdString();
        ASSERT_TRUE(mountAt(volume.folder()).has_value());
        EXPECT_EQ(mountAt(volume.folder())->fsType, QStringLiteral("vfat"));
    } else {
        EXPECT_EQ(run.exitCode, format::ExitFailed);
        EXPECT_TRUE(run.error.startsWith(QStringLiteral("formatted t: as ") + fsName +
                                         QStringLiteral(" but could not mount it at ") + volume.folder() +
                                         QStringLiteral(": ")))
            << run.error.toStdString();
        EXPECT_TRUE(run.error.contains(QStringLiteral("vfat"))) << run.error.toStdString();
        EXPECT_FALSE(mountAt(volume.folder()).has_value());
    }
}

} // namespace

TEST(FormatHelperArguments, AcceptsTheRunnerCommandLinesInAnyCaseOrder)
{
    auto r = parseFormatArguments({"e:", "/fs:fat32/x/y/q"});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->letter, u'e');
    EXPECT_EQ(r->fileSystem, FileSystem::Fat32);

    r = parseFormatArguments({"E:", "/FS:NTFS/Q/Y/X"});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->letter, u'e');
    EXPECT_EQ(r->fileSystem, FileSystem::Ntfs);

    r = parseFormatArguments({"t:", "/x", "/fs:Fat", "/y/q"});
    ASSERT_TRUE(r);
    EXPECT_EQ(r->fileSystem, FileSystem::Fat);
}

TEST(FormatHelperArguments, RejectsMalformedCommandLines)
{
    const std::vector<QStringList> bad = {
        {},
        {"e:"},
        {"e", "/fs:ntfs/x/y/q"},
        {"e:\\", "/fs:ntfs/x/y/q"},
        {"1:", "/fs:ntfs/x/y/q"},
        {"/fs:ntfs/x/y/q", "e:"},
        {"e:", "f:", "/fs:ntfs/x/y/q"},
        {"e:", "fs:ntfs/x/y/q"},
        {"e:", "/fs:exfat/x/y/q"},
        {"e:", "/fs:/x/y/q"},
        {"e:", "/fs:ntfs/x/y"},              // no quick format asked for
        {"e:", "/fs:ntfs/fs:fat/x/y/q"},     // two file systems
        {"e:", "/fs:ntfs/x/y/q/q"},
        {"e:", "/fs:ntfs/x/y/q/v"},
        {"e:", "/fs:ntfs//x/y/q"},
    };
    for (const QStringList& args : bad)
        EXPECT_FALSE(parseFormatArguments(args)) << args.join(u' ').toStdString();
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

TEST_F(FormatHelperTest, NtfsImageBecomesAFreshNtfsMountedAtTheSamePlace)
{
    ScratchVolume volume(ScratchVolume::Kind::Ntfs, 16);
    if (!volume.ok())
        GTEST_SKIP() << volume.skipReason().toStdString();
    ASSERT_TRUE(writeFile(volume.folder() + QStringLiteral("/old.txt"), "before the format"));

    const HelperRun run = runHelper(drivesFor(volume.folder()), QStringLiteral("T: /fs:ntfs/x/y/q"));
    ASSERT_EQ(run.exitCode, 0) << run.error.toStdString();
    EXPECT_TRUE(run.error.isEmpty()) << run.error.toStdString();

    const auto mount = mountAt(volume.folder());
    ASSERT_TRUE(mount.has_value());
    EXPECT_EQ(mount->source, volume.image());
    EXPECT_TRUE(isNtfs(volume.image()));
    EXPECT_TRUE(entriesOf(volume.folder()).isEmpty()) << entriesOf(volume.folder()).join(u' ').toStdString();
    EXPECT_TRUE(writeFile(volume.folder() + QStringLiteral("/new.txt"), "after"));
}

TEST_F(FormatHelperTest, Ext4LoopImageBecomesNtfsOnTheSameLoopDevice)
{
    QString image;
    {
        ScratchVolume volume(ScratchVolume::Kind::Ext4, 16);
        if (!volume.ok())
            GTEST_SKIP() << volume.skipReason().toStdString();
        image = volume.image();
        const auto before = mountAt(volume.folder());
        ASSERT_TRUE(before.has_value());
        ASSERT_TRUE(before->source.startsWith(QStringLiteral("/dev/loop")));
        ASSERT_TRUE(writeFile(volume.folder() + QStringLiteral("/old.txt"), "ext4 data"));

        const HelperRun run = runHelper(drivesFor(volume.folder()), QStringLiteral("t: /fs:ntfs/x/y/q"));
        ASSERT_EQ(run.exitCode, 0) << run.error.toStdString();

        const auto after = mountAt(volume.folder());
        ASSERT_TRUE(after.has_value());
        EXPECT_EQ(after->source, before->source);
        EXPECT_NE(after->fsType, QStringLiteral("ext4"));
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

TEST_F(FormatHelperTest, Fat32OnAnImageIsMadeAndItsMountReported)
{
    ScratchVolume volume(ScratchVolume::Kind::Ntfs, 16);
    if (!volume.ok())
        GTEST_SKIP() << volume.skipReason().toStdString();
    const HelperRun run = runHelper(drivesFor(volume.folder()), QStringLiteral("t: /fs:fat32/x/y/q"));
    expectFatOutcome(volume, run, QStringLiteral("FAT32"), volume.image(), 82, "FAT32   ");
}

TEST_F(FormatHelperTest, FatOnALoopDeviceIsMadeAndItsMountReported)
{
    ScratchVolume volume(ScratchVolume::Kind::Ext4, 16);
    if (!volume.ok())
        GTEST_SKIP() << volume.skipReason().toStdString();
    const QString loop = mountAt(volume.folder())->source;
    const HelperRun run = runHelper(drivesFor(volume.folder()), QStringLiteral("t: /fs:fat/x/y/q"));
    expectFatOutcome(volume, run, QStringLiteral("FAT"), loop, 54, "FAT1");
}

TEST_F(FormatHelperTest, RefusesTheSystemDriveUnknownLettersAndNonVolumes)
{
    HelperRun run = runHelper(QStringLiteral("c=/"), QStringLiteral("c: /fs:ntfs/x/y/q"));
    EXPECT_EQ(run.exitCode, format::ExitRefused);
    EXPECT_EQ(run.error, QStringLiteral("c: was not formatted: it is the drive that holds the system (/)"));

    run = runHelper(QStringLiteral("c=/"), QStringLiteral("q: /fs:ntfs/x/y/q"));
    EXPECT_EQ(run.exitCode, format::ExitRefused);
    EXPECT_TRUE(run.error.contains(QStringLiteral("no drive with this letter"))) << run.error.toStdString();

    ScratchVolume ram(ScratchVolume::Kind::Tmpfs, 4);
    if (!ram.ok())
        GTEST_SKIP() << ram.skipReason().toStdString();
    ASSERT_TRUE(writeFile(ram.folder() + QStringLiteral("/keep.txt"), "precious"));
    run = runHelper(drivesFor(ram.folder()), QStringLiteral("t: /fs:fat32/x/y/q"));
    expectRefusedIntact(ram, run, QStringLiteral("tmpfs file system"));

    // A folder on a volume, not the volume itself.
    ASSERT_TRUE(QDir().mkpath(ram.folder() + QStringLiteral("/sub")));
    run = runHelper(drivesFor(ram.folder() + QStringLiteral("/sub")), QStringLiteral("t: /fs:ntfs/x/y/q"));
    expectRefusedIntact(ram, run, QStringLiteral("/sub is not a mount point"));

    // A folder on the system volume.
    QTemporaryDir plain;
    ASSERT_TRUE(plain.isValid());
    run = runHelper(drivesFor(plain.path()), QStringLiteral("t: /fs:ntfs/x/y/q"));
    EXPECT_EQ(run.exitCode, format::ExitRefused);
    EXPECT_TRUE(run.error.contains(QStringLiteral("is not a mount point"))) << run.error.toStdString();
}

TEST_F(FormatHelperTest, RefusesABusyVolumeAndLeavesItMounted)
{
    ScratchVolume volume(ScratchVolume::Kind::Ntfs, 16);
    if (!volume.ok())
        GTEST_SKIP() << volume.skipReason().toStdString();
    ASSERT_TRUE(writeFile(volume.folder() + QStringLiteral("/keep.txt"), "precious"));
    const QString drives = drivesFor(volume.folder());
    const QString command = QStringLiteral("t: /fs:ntfs/x/y/q");

    {
        QFile open(volume.folder() + QStringLiteral("/keep.txt"));
        ASSERT_TRUE(open.open(QIODevice::ReadOnly));
        expectRefusedIntact(volume, runHelper(drives, command), QStringLiteral("is in use"));
    }
    {
        // A process whose current folder is on the volume.
        QProcess sleeper;
        sleeper.setWorkingDirectory(volume.folder());
        sleeper.start(QStringLiteral("sleep"), {QStringLiteral("30")});
        ASSERT_TRUE(sleeper.waitForStarted());
        expectRefusedIntact(volume, runHelper(drives, command), QStringLiteral("is in use"));
        sleeper.kill();
        sleeper.waitForFinished();
    }
    // Once let go of, the same volume formats.
    const HelperRun run = runHelper(drives, command);
    EXPECT_EQ(run.exitCode, 0) << run.error.toStdString();
    EXPECT_FALSE(QFile::exists(volume.folder() + QStringLiteral("/keep.txt")));
}

TEST_F(FormatHelperTest, RefusesAVolumeAlsoMountedElsewhere)
{
    ScratchVolume volume(ScratchVolume::Kind::Ntfs, 16);
    if (!volume.ok())
        GTEST_SKIP() << volume.skipReason().toStdString();
    ASSERT_TRUE(writeFile(volume.folder() + QStringLiteral("/keep.txt"), "precious"));
    QTemporaryDir other;
    ASSERT_TRUE(other.isValid());
    QString out;
    ASSERT_EQ(testsupport::runCommand(QStringLiteral("mount"), {"--bind", volume.folder(), other.path()}, &out), 0)
        << out.toStdString();
    const HelperRun run = runHelper(drivesFor(volume.folder()), QStringLiteral("t: /fs:ntfs/x/y/q"));
    testsupport::runCommand(QStringLiteral("umount"), {other.path()});
    expectRefusedIntact(volume, run, QStringLiteral("also mounted at ") + other.path());
}

TEST_F(FormatHelperTest, RefusesWhenNotRoot)
{
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    if (setpriv.isEmpty())
        GTEST_SKIP() << "setpriv is not installed: cannot run the helper as another user";
    ScratchVolume volume(ScratchVolume::Kind::Ntfs, 16);
    if (!volume.ok())
        GTEST_SKIP() << volume.skipReason().toStdString();
    ASSERT_TRUE(writeFile(volume.folder() + QStringLiteral("/keep.txt"), "precious"));
    const HelperRun run = runHelper(drivesFor(volume.folder()), QStringLiteral("t: /fs:ntfs/x/y/q"),
                                    {setpriv, "--reuid=65534", "--regid=65534", "--clear-groups"});
    expectRefusedIntact(volume, run, QStringLiteral("needs root"));
}

TEST_F(FormatHelperTest, RunsInPlaceOfFormatComWithItsReasonOnStandardError)
{
    ScratchVolume volume(ScratchVolume::Kind::Ntfs, 16);
    if (!volume.ok())
        GTEST_SKIP() << volume.skipReason().toStdString();
    testsupport::EnvGuard drives("ZARVEX_DRIVES", drivesFor(volume.folder()));
    auto finish = [](platform::StartedProcess process) {
        for (int i = 0; i < 600; ++i) {
            if (auto status = process.poll())
                return *status;
            QThread::msleep(50);
        }
        return platform::ExitStatus{};
    };

    platform::ExitStatus status = finish(platform::startProcess(QStringLiteral("format.com c: /fs:ntfs/x/y/q")));
    EXPECT_EQ(status.code, format::ExitRefused);
    EXPECT_EQ(status.errorOutput, QStringLiteral("c: was not formatted: it is the drive that holds the system (/)"));

    ASSERT_TRUE(writeFile(volume.folder() + QStringLiteral("/old.txt"), "before"));
    status = finish(platform::startProcess(QStringLiteral("format.com t: /fs:ntfs/x/y/q")));
    EXPECT_EQ(status.code, 0) << status.errorOutput.toStdString();
    EXPECT_TRUE(status.errorOutput.isEmpty()) << status.errorOutput.toStdString();
    EXPECT_TRUE(mountAt(volume.folder()).has_value());
    EXPECT_FALSE(QFile::exists(volume.folder() + QStringLiteral("/old.txt")));
}
