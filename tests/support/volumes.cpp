#include "support/volumes.h"

#include "support/rawimage.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QProcess>
#include <utility>
#include <unistd.h>

namespace testsupport {

int runCommand(const QString& program, const QStringList& args, QString* output)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    const bool ran = p.waitForStarted(10000) && p.waitForFinished(120000);
    if (output)
        *output = QString::fromLocal8Bit(p.readAll());
    return ran && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

bool isRoot()
{
    return ::geteuid() == 0;
}

bool changeByte(const QString& path, qint64 offset)
{
    QFile f(path);
    char byte = 0;
    return f.open(QIODevice::ReadWrite | QIODevice::Unbuffered) && f.seek(offset) && f.getChar(&byte) &&
           f.seek(offset) && f.putChar(char(~byte)) && ::fsync(f.handle()) == 0;
}

ScratchVolume::ScratchVolume(Kind kind, int sizeMiB, const QByteArray& prefill, const QString& mountOptions)
    : kind_(kind), mountOptions_(mountOptions)
{
    if (!isRoot() || !dir_.isValid() || !QDir().mkpath(folder())) {
        skipReason_ = QStringLiteral("needs root and a temporary folder to mount a scratch volume");
        return;
    }
    QString out;
    if (kind == Kind::Tmpfs) {
        mounted_ = runCommand("mount", {"-t", "tmpfs", "-o", QStringLiteral("size=%1m").arg(sizeMiB), "tmpfs", folder()},
                              &out) == 0;
        if (!mounted_)
            skipReason_ = QStringLiteral("cannot mount tmpfs: ") + out;
        return;
    }
    image_ = dir_.filePath(QStringLiteral("volume.img"));
    QFile f(image_);
    bool made = f.open(QIODevice::WriteOnly);
    const QByteArray mib = prefill.isEmpty() ? QByteArray() : repeated(prefill, 1 << 20);
    for (int i = 0; i < sizeMiB && !mib.isEmpty(); ++i)
        made = made && f.write(mib) == mib.size();
    if (!made || !f.resize(qint64(sizeMiB) << 20)) {
        skipReason_ = QStringLiteral("cannot make the image file");
        return;
    }
    f.close();
    // mkfs.btrfs takes about 110 MiB at least with its default profiles.
    const QString mkfs = kind == Kind::Ext4 ? "mkfs.ext4" : kind == Kind::Btrfs ? "mkfs.btrfs" : "mkfs.ntfs";
    const QStringList args = kind == Kind::Ext4    ? QStringList{"-q", "-F", "-b", "4096", image_}
                             : kind == Kind::Btrfs ? QStringList{"-q", "-f", image_}
                                                   : QStringList{"-q", "-F", "-f", image_};
    if (kind == Kind::Ntfs && !QFile::exists(QStringLiteral("/dev/fuse")))
        skipReason_ = QStringLiteral("no /dev/fuse: FUSE is not available for ntfs-3g");
    else if (runCommand(mkfs, args, &out) != 0)
        skipReason_ = mkfs + QStringLiteral(" failed or is not installed: ") + out;
    else
        mountImage();
}

bool ScratchVolume::mountImage()
{
    QString out;
    QString tool = QStringLiteral("ntfs-3g");
    QStringList args{image_, folder()};
    if (kind_ != Kind::Ntfs) {
        // A loop device that does not clear itself: a format keeps it, as
        // it keeps a disk.
        if (runCommand("losetup", {"-f", "--show", image_}, &out) != 0) {
            skipReason_ = QStringLiteral("no loop device: ") + out;
            return false;
        }
        loopDevice_ = out.trimmed();
        tool = QStringLiteral("mount");
        args = QStringList{"-t", kind_ == Kind::Ext4 ? "ext4" : "btrfs", loopDevice_, folder()};
        if (!mountOptions_.isEmpty())
            args << "-o" << mountOptions_;
    }
    mounted_ = runCommand(tool, args, &out) == 0;
    if (!mounted_) {
        skipReason_ = QStringLiteral("cannot mount the image: ") + out;
        unmount();
    }
    return mounted_;
}

bool ScratchVolume::unmount()
{
    // A test that failed half-way may still hold files open: then lazily.
    if (mounted_)
        mounted_ = runCommand("umount", {folder()}) != 0 && runCommand("umount", {"-l", folder()}) != 0;
    if (!loopDevice_.isEmpty())
        runCommand("losetup", {"-d", std::exchange(loopDevice_, QString())});
    return !mounted_;
}

} // namespace testsupport

namespace testsupport {

LoopDisk::LoopDisk(int sizeMiB, const QList<std::pair<qint64, qint64>>& badRanges)
{
    QString out;
    QString attached = image();
    if (!isRoot())
        skipReason_ = QStringLiteral("attaching a loop device needs root");
    else if (runCommand("truncate", {"-s", QStringLiteral("%1M").arg(sizeMiB), image()}) != 0 ||
             !QDir().mkpath(mountPoint()))
        skipReason_ = QStringLiteral("no room for the image");
    else if (!badRanges.isEmpty() && (attached = failingFile(badRanges)).isEmpty())
        return;
    // Past the page cache when the image is the failing one: a write the
    // cache took would fail later, in writeback, where no writer hears of it.
    else if (runCommand("losetup", QStringList{"-f", "--show"} +
                                       (badRanges.isEmpty() ? QStringList() : QStringList{"--direct-io=on"}) +
                                       QStringList{attached},
                        &out) != 0)
        skipReason_ = QStringLiteral("no loop device: ") + out.trimmed();
    else
        device_ = out.trimmed();
}

// The image seen through badblockfs; empty (and the reason said) when it
// cannot be.
QString LoopDisk::failingFile(const QList<std::pair<qint64, qint64>>& badRanges)
{
    const QString tool = QCoreApplication::applicationDirPath() + QStringLiteral("/badblockfs");
    const QString folder = dir_.filePath(QStringLiteral("failing"));
    QStringList ranges;
    for (const auto& [offset, bytes] : badRanges)
        ranges << QStringLiteral("%1:%2").arg(offset).arg(bytes);
    QString out;
    if (!QFileInfo::exists(tool))
        skipReason_ = QStringLiteral("badblockfs was not built (libfuse3-dev is missing)");
    else if (!QDir().mkpath(folder) || runCommand(tool, {image(), folder, ranges.join(u',')}, &out) != 0)
        skipReason_ = QStringLiteral("badblockfs cannot mount here: ") + out.trimmed();
    else
        failing_ = true;
    return failing_ ? folder + QStringLiteral("/disk") : QString();
}

LoopDisk::~LoopDisk()
{
    if (!device_.isEmpty()) {
        runCommand("umount", {mountPoint()});
        runCommand("swapoff", {device_});
        runCommand("losetup", {"-d", device_});
    }
    // The detached loop device may let go of the file a moment later.
    if (failing_ && runCommand("umount", {dir_.filePath(QStringLiteral("failing"))}) != 0)
        runCommand("umount", {"-l", dir_.filePath(QStringLiteral("failing"))});
}

} // namespace testsupport
