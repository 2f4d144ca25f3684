#pragma once
// Small real volumes for tests: a tmpfs, an ext4 or btrfs loop image, an
// NTFS image through ntfs-3g. Each is unmounted (and its loop device freed) when the
// object goes, whatever happened in between. Making one needs root; when it
// cannot be had, `skipReason()` says why and the test skips.
#include <QString>
#include <QTemporaryDir>

namespace testsupport {

class ScratchVolume {
public:
    enum class Kind { Tmpfs, Ext4, Ntfs, Btrfs };
    // With `prefill`, the whole image holds that pattern before its file
    // system is made: what a quick format leaves of it stays on the device.
    // `mountOptions` go to mount (compress=zstd for btrfs).
    ScratchVolume(Kind kind, int sizeMiB, const QByteArray& prefill = {}, const QString& mountOptions = {});
    ~ScratchVolume() { unmount(); }
    ScratchVolume(const ScratchVolume&) = delete;
    ScratchVolume& operator=(const ScratchVolume&) = delete;

    bool ok() const { return skipReason_.isEmpty(); }
    const QString& skipReason() const { return skipReason_; }
    // The mount point.
    QString folder() const { return dir_.filePath(QStringLiteral("mnt")); }
    // The image file behind the volume (empty for tmpfs).
    QString image() const { return image_; }
    // Unmounts now (to read the raw image); safe to call twice.
    bool unmount();
    // Mounts the image again at the same place.
    bool remount() { return mounted_ || (kind_ != Kind::Tmpfs && mountImage()); }

private:
    bool mountImage();
    Kind kind_;
    QString mountOptions_;
    QTemporaryDir dir_;
    QString image_;
    QString loopDevice_;
    QString skipReason_;
    bool mounted_ = false;
};

// Declares the scratch volume `var`, or skips the test when none can be made.
#define VOLUME_OR_SKIP(var, kind, sizeMiB)                                                                   \
    testsupport::ScratchVolume var(testsupport::ScratchVolume::Kind::kind, sizeMiB);                       \
    if (!var.ok())                                                                                         \
    GTEST_SKIP() << var.skipReason().toStdString()

// An image of `sizeMiB` attached as a whole-disk loop device, for the disk
// wipe: whatever happens, what the test mounted from it is unmounted, a swap
// on it turned off, and the device detached. Needs root (`skipReason()`).
// With `badRanges` (offset, bytes), the device fails every read and write
// that touches one of them with EIO, as unreadable sectors do: it is attached
// to the one file of a FUSE file system of the tests' own (badblockfs).
class LoopDisk {
public:
    explicit LoopDisk(int sizeMiB, const QList<std::pair<qint64, qint64>>& badRanges = {});
    ~LoopDisk();
    LoopDisk(const LoopDisk&) = delete;
    LoopDisk& operator=(const LoopDisk&) = delete;
    bool ok() const { return skipReason_.isEmpty(); }
    const QString& skipReason() const { return skipReason_; }
    const QString& device() const { return device_; }
    // The file that holds the device's bytes.
    QString image() const { return dir_.filePath(QStringLiteral("disk.img")); }
    // A folder of the test's own to mount the device on.
    QString mountPoint() const { return dir_.filePath(QStringLiteral("mnt")); }

private:
    QString failingFile(const QList<std::pair<qint64, qint64>>& badRanges);
    QTemporaryDir dir_;
    QString device_;
    QString skipReason_;
    bool failing_ = false; // a badblockfs mount to end
};

// Runs a command, returning its exit code (-1 when it could not start);
// standard output and error are returned in `output` if given.
int runCommand(const QString& program, const QStringList& args, QString* output = nullptr);

bool isRoot();

// Changes the byte at `offset` of a file through a descriptor of its own
// and flushes it to the disk, as a failing drive or another program would,
// behind the back of whoever wrote it.
bool changeByte(const QString& path, qint64 offset);

} // namespace testsupport
