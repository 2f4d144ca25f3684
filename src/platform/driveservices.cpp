#include "platform/driveservices.h"
#include "platform/blocking.h"
#include "platform/errors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <linux/fs.h>
#include <cerrno>

namespace platform {

QString DriveServices::nativePath(const QString& drivePath) const
{
    const auto native = table().toNative(drivePath);
    if (!native)
        throw RunTimeError(ErrDeviceUnavailable, drivePath);
    return *native;
}

DriveTable LinuxDriveServices::table() const
{
    return DriveTable::current();
}

static QString readSysfs(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(f.readAll()).trimmed();
}

// Removable when the block device (or the disk a partition belongs to) has
// its removable flag set, or its device path runs through USB.
static bool blockDeviceIsRemovable(unsigned major, unsigned minor)
{
    const QString link = QStringLiteral("/sys/dev/block/%1:%2").arg(major).arg(minor);
    const QString real = QFileInfo(link).canonicalFilePath();
    if (real.isEmpty())
        return false;
    if (real.contains(QStringLiteral("/usb")))
        return true;
    if (readSysfs(real + QStringLiteral("/removable")) == QStringLiteral("1"))
        return true;
    // A partition's flag lives on its disk, one folder up.
    return QFileInfo::exists(real + QStringLiteral("/partition")) &&
           readSysfs(QFileInfo(real).path() + QStringLiteral("/removable")) == QStringLiteral("1");
}

int typeCodeForMount(const MountEntry& m)
{
    static const QStringList cd = {"iso9660", "udf"};
    static const QStringList ram = {"tmpfs", "ramfs"};
    static const QStringList net = {"nfs", "nfs4", "cifs", "smb3", "fuse.sshfs", "9p"};
    if (cd.contains(m.fsType))
        return DriveCdRom;
    if (ram.contains(m.fsType))
        return DriveRamDisk;
    if (net.contains(m.fsType))
        return DriveNetwork;
    struct stat st {};
    if (!m.source.isEmpty() && ::stat(QFile::encodeName(m.source).constData(), &st) == 0) {
        if (S_ISBLK(st.st_mode)) {
            if (m.source.startsWith(QStringLiteral("/dev/loop")))
                return DriveFixed;
            return blockDeviceIsRemovable(major(st.st_rdev), minor(st.st_rdev)) ? DriveRemovable
                                                                                 : DriveFixed;
        }
        // An image file mounted through FUSE (ntfs-3g on a file).
        if (S_ISREG(st.st_mode))
            return DriveFixed;
    }
    if (m.fsType == QStringLiteral("fuseblk"))
        return DriveFixed;
    // Block-backed file systems whose source is not visible in this
    // namespace still carry a real block device number.
    if (m.major != 0 && !m.fsType.startsWith(QStringLiteral("fuse"))) {
        if (blockDeviceIsRemovable(m.major, m.minor))
            return DriveRemovable;
        if (QFileInfo::exists(QStringLiteral("/sys/dev/block/%1:%2").arg(m.major).arg(m.minor)))
            return DriveFixed;
    }
    return DriveUnknown;
}

// The mount that holds a folder: the last mountinfo entry with the folder's
// device number (later mounts cover earlier ones).
static std::optional<MountEntry> mountHolding(const QString& folder)
{
    struct stat st {};
    if (::stat(QFile::encodeName(folder).constData(), &st) != 0)
        return std::nullopt;
    const std::vector<MountEntry> mounts = systemMounts();
    std::optional<MountEntry> found;
    for (const MountEntry& m : mounts)
        if (m.major == major(st.st_dev) && m.minor == minor(st.st_dev))
            found = m;
    if (found)
        return found;
    // Fall back to the deepest mount point that is a prefix of the path.
    const QString path = QFileInfo(folder).canonicalFilePath();
    for (const MountEntry& m : mounts) {
        const bool holds = m.mountPoint == QStringLiteral("/") || path == m.mountPoint ||
                           path.startsWith(m.mountPoint + u'/');
        if (holds && (!found || m.mountPoint.size() >= found->mountPoint.size()))
            found = m;
    }
    return found;
}

int LinuxDriveServices::typeCode(const QString& drivePath) const
{
    // A drive-list entry carries its mount point after the letter: only the
    // letter names the drive.
    const QString folder = nativePath(drivePath.left(2));
    const auto mount = mountHolding(folder);
    return mount ? typeCodeForMount(*mount) : DriveUnknown;
}

bool LinuxDriveServices::isReady(const QString& drivePath) const
{
    const auto native = table().toNative(drivePath.left(2));
    if (!native)
        return false;
    return runBlocking([&] {
        struct statvfs sv {};
        return QFileInfo(*native).isDir() && ::statvfs(QFile::encodeName(*native).constData(), &sv) == 0;
    });
}

std::uint64_t LinuxDriveServices::freeBytes(const QString& drivePath) const
{
    return freeBytesAt(nativePath(drivePath.left(2)));
}

// A network drive (or a stick being pulled) can hold these queries for
// seconds: they run off the UI thread.
std::uint64_t deviceOf(const QString& nativePath)
{
    return runBlocking([&]() -> std::uint64_t {
        struct stat st {};
        if (::stat(QFile::encodeName(nativePath).constData(), &st) != 0)
            return 0;
        return static_cast<std::uint64_t>(st.st_dev);
    });
}

bool sizeUnknownAt(const QString& folder)
{
    struct statvfs sv {};
    return ::statvfs(QFile::encodeName(folder).constData(), &sv) == 0 && sv.f_blocks == 0;
}

bool readOnlyAt(const QString& folder)
{
    struct statvfs sv {};
    return ::statvfs(QFile::encodeName(folder).constData(), &sv) == 0 && (sv.f_flag & ST_RDONLY);
}

std::uint64_t freeBytesAt(const QString& folder)
{
    return runBlocking([&] {
        struct statvfs sv {};
        if (::statvfs(QFile::encodeName(folder).constData(), &sv) != 0)
            throw errorFromErrno(errno, folder, QStringLiteral("statvfs"));
        // Root may write into the blocks reserved for it; others may not.
        const std::uint64_t blocks = ::geteuid() == 0 ? sv.f_bfree : sv.f_bavail;
        return blocks * static_cast<std::uint64_t>(sv.f_frsize);
    });
}

bool trimFreeSpace(const QString& nativeFolder)
{
    // The sync and the trim of a whole drive take most of a second: on the
    // worker, so that the window goes on (measured: 730-860 ms late on it).
    return runBlocking([&] {
        const int fd = ::open(QFile::encodeName(nativeFolder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            return false;
        // Blocks freed by a deletion count as free only once the file system
        // has committed it (ext4's journal): before that a trim passes them by.
        ::syncfs(fd);
        struct fstrim_range range {};
        range.len = ~0ULL;
        const bool trimmed = ::ioctl(fd, FITRIM, &range) == 0;
        ::close(fd);
        return trimmed;
    });
}

DriveServices& systemDrives()
{
    static LinuxDriveServices services;
    return services;
}

} // namespace platform
