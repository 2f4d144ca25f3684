#include "support/volumes.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <unistd.h>

namespace testsupport {

int runCommand(const QString& program, const QStringList& args, QString* output)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForStarted(10000))
        return -1;
    p.waitForFinished(120000);
    if (output)
        *output = QString::fromLocal8Bit(p.readAll());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

bool isRoot()
{
    return ::geteuid() == 0;
}

bool changeByte(const QString& path, qint64 offset)
{
    QFile f(path);
    char byte = 0;
    if (!f.open(QIODevice::ReadWrite | QIODevice::Unbuffered) || !f.seek(offset) || !f.getChar(&byte) ||
        !f.seek(offset) || !f.putChar(char(~byte)))
        return false;
    return ::fsync(f.handle()) == 0;
}

ScratchVolume::ScratchVolume(Kind kind, int sizeMiB, const QByteArray& prefill, const QString& mountOptions)
    : kind_(kind), mountOptions_(mountOptions), dir_(std::make_unique<QTemporaryDir>())
{
    if (!isRoot()) {
        skipReason_ = QStringLiteral("needs root to mount a scratch volume");
        return;
    }
    if (!dir_->isValid()) {
        skipReason_ = QStringLiteral("no temporary folder");
        return;
    }
    mountPoint_ = dir_->filePath(QStringLiteral("mnt"));
    QDir().mkpath(mountPoint_);
    QString out;
    if (kind == Kind::Tmpfs) {
        if (runCommand(QStringLiteral("mount"), {"-t", "tmpfs", "-o", QStringLiteral("size=%1m").arg(sizeMiB),
                                                 "tmpfs", mountPoint_}, &out) != 0) {
            skipReason_ = QStringLiteral("cannot mount tmpfs: ") + out;
            return;
        }
        mounted_ = true;
        return;
    }
    image_ = dir_->filePath(QStringLiteral("volume.img"));
    {
        QFile f(image_);
        const qint64 size = qint64(sizeMiB) * 1024 * 1024;
        bool filled = true;
        if (!prefill.isEmpty() && f.open(QIODevice::WriteOnly)) {
            QByteArray mib;
            while (mib.size() < (1 << 20))
                mib += prefill;
            mib.truncate(1 << 20);
            for (int i = 0; i < sizeMiB && filled; ++i)
                filled = f.write(mib) == mib.size();
            f.close();
        }
        if (!filled || !f.open(QIODevice::ReadWrite) || !f.resize(size)) {
            skipReason_ = QStringLiteral("cannot make the image file");
            return;
        }
    }
    if (kind == Kind::Ext4) {
        if (QStandardPaths::findExecutable(QStringLiteral("mkfs.ext4")).isEmpty()) {
            skipReason_ = QStringLiteral("mkfs.ext4 is not installed");
            return;
        }
        if (runCommand(QStringLiteral("mkfs.ext4"), {"-q", "-F", "-b", "4096", image_}, &out) != 0) {
            skipReason_ = QStringLiteral("mkfs.ext4 failed: ") + out;
            return;
        }
    } else if (kind == Kind::Btrfs) {
        // 110 MiB is about the least mkfs.btrfs takes with its default
        // profiles: 32 MiB of metadata (twice), some 29 MiB for data.
        if (QStandardPaths::findExecutable(QStringLiteral("mkfs.btrfs")).isEmpty()) {
            skipReason_ = QStringLiteral("mkfs.btrfs is not installed (btrfs-progs)");
            return;
        }
        if (runCommand(QStringLiteral("mkfs.btrfs"), {"-q", "-f", image_}, &out) != 0) {
            skipReason_ = QStringLiteral("mkfs.btrfs failed: ") + out;
            return;
        }
    } else {
        if (QStandardPaths::findExecutable(QStringLiteral("mkfs.ntfs")).isEmpty() ||
            QStandardPaths::findExecutable(QStringLiteral("ntfs-3g")).isEmpty()) {
            skipReason_ = QStringLiteral("ntfs-3g is not installed");
            return;
        }
        if (!QFile::exists(QStringLiteral("/dev/fuse"))) {
            skipReason_ = QStringLiteral("no /dev/fuse: FUSE is not available");
            return;
        }
        if (runCommand(QStringLiteral("mkfs.ntfs"), {"-q", "-F", "-f", image_}, &out) != 0) {
            skipReason_ = QStringLiteral("mkfs.ntfs failed: ") + out;
            return;
        }
    }
    if (!mountImage())
        return;
}

bool ScratchVolume::mountImage()
{
    QString out;
    if (kind_ == Kind::Ext4 || kind_ == Kind::Btrfs) {
        if (runCommand(QStringLiteral("losetup"), {"-f", "--show", image_}, &out) != 0) {
            skipReason_ = QStringLiteral("no loop device: ") + out;
            return false;
        }
        loopDevice_ = out.trimmed();
        const QString type = kind_ == Kind::Ext4 ? QStringLiteral("ext4") : QStringLiteral("btrfs");
        QStringList args{"-t", type, loopDevice_, mountPoint_};
        if (!mountOptions_.isEmpty())
            args << "-o" << mountOptions_;
        if (runCommand(QStringLiteral("mount"), args, &out) != 0) {
            skipReason_ = QStringLiteral("cannot mount %1: ").arg(type) + out;
            runCommand(QStringLiteral("losetup"), {"-d", loopDevice_});
            loopDevice_.clear();
            return false;
        }
    } else if (kind_ == Kind::Ntfs) {
        if (runCommand(QStringLiteral("ntfs-3g"), {image_, mountPoint_}, &out) != 0) {
            skipReason_ = QStringLiteral("cannot mount NTFS through ntfs-3g: ") + out;
            return false;
        }
    }
    mounted_ = true;
    return true;
}

bool ScratchVolume::unmount()
{
    if (!mounted_)
        return true;
    QString out;
    bool ok = runCommand(QStringLiteral("umount"), {mountPoint_}, &out) == 0;
    if (!ok) // a test that failed half-way may still hold files open
        ok = runCommand(QStringLiteral("umount"), {"-l", mountPoint_}, &out) == 0;
    mounted_ = !ok;
    if (!loopDevice_.isEmpty()) {
        runCommand(QStringLiteral("losetup"), {"-d", loopDevice_});
        loopDevice_.clear();
    }
    return ok;
}

bool ScratchVolume::remount()
{
    if (mounted_)
        return true;
    return kind_ != Kind::Tmpfs && mountImage();
}

ScratchVolume::~ScratchVolume()
{
    unmount();
}

} // namespace testsupport
