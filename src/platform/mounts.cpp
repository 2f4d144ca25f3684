#include "platform/mounts.h"
#include "platform/fd.h"
#include "platform/names.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/loop.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/utsname.h>
#include <unistd.h>
#include <utility>
#include <vector>

// <linux/fs.h> clashes with <sys/mount.h> on this glibc; the one request it
// would give is stable kernel ABI.
#ifndef BLKGETSIZE64
#define BLKGETSIZE64 _IOR(0x12, 114, size_t)
#endif

namespace platform {

QByteArray readSmallFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    // /proc and /sys files report size 0: read until the end.
    return f.readAll();
}

std::vector<MountEntry> allMounts()
{
    return parseMountInfo(QString::fromUtf8(readSmallFile(QStringLiteral("/proc/self/mountinfo"))));
}

std::optional<QString> canonicalFolder(const QString& path)
{
    char resolved[PATH_MAX];
    if (::realpath(nameToBytes(path).constData(), resolved) == nullptr)
        return std::nullopt;
    struct stat st {};
    if (::stat(resolved, &st) != 0 || !S_ISDIR(st.st_mode))
        return std::nullopt;
    return nameFromBytes(resolved);
}

std::optional<QString> mountPointHolding(const QString& folder)
{
    const auto canonical = canonicalFolder(folder);
    struct stat st {};
    if (!canonical || ::stat(QFile::encodeName(*canonical).constData(), &st) != 0)
        return std::nullopt;
    auto contains = [&](const QString& mountPoint) {
        return *canonical == mountPoint || mountPoint == QStringLiteral("/") ||
               canonical->startsWith(mountPoint + u'/');
    };
    // btrfs gives each subvolume a device number of its own, which is not
    // the one the mount table shows: its mounts are matched by the device
    // their mount point reports.
    auto sameDevice = [&](const MountEntry& m) {
        if (makedev(m.major, m.minor) == st.st_dev)
            return true;
        struct stat at {};
        return m.fsType == QStringLiteral("btrfs") && ::stat(QFile::encodeName(m.mountPoint).constData(), &at) == 0 &&
               at.st_dev == st.st_dev;
    };
    // The deepest mount above the folder that is the folder's own device; a
    // later mount on the same place hides an earlier one.
    std::optional<QString> best;
    for (const MountEntry& m : allMounts()) {
        if (!contains(m.mountPoint) || !sameDevice(m))
            continue;
        if (!best || m.mountPoint.size() >= best->size())
            best = m.mountPoint;
    }
    return best;
}

NodeKind nodeKind(const QString& path)
{
    struct stat st {};
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &st) != 0)
        return NodeKind::Missing;
    if (S_ISBLK(st.st_mode))
        return NodeKind::BlockDevice;
    if (S_ISREG(st.st_mode))
        return NodeKind::RegularFile;
    return NodeKind::Other;
}

std::optional<LoopDevice> loopDeviceInfo(const QString& devicePath)
{
    constexpr unsigned kLoopMajor = 7;
    struct stat st {};
    if (::stat(QFile::encodeName(devicePath).constData(), &st) != 0 || !S_ISBLK(st.st_mode) ||
        major(st.st_rdev) != kLoopMajor)
        return std::nullopt;
    const QString sys = QStringLiteral("/sys/dev/block/%1:%2/loop/")
                            .arg(major(st.st_rdev))
                            .arg(minor(st.st_rdev));
    const QString backing = QString::fromUtf8(readSmallFile(sys + QStringLiteral("backing_file"))).trimmed();
    if (backing.isEmpty())
        return std::nullopt; // a loop device with nothing attached
    LoopDevice loop;
    loop.backingFile = backing;
    loop.autoClear = readSmallFile(sys + QStringLiteral("autoclear")).trimmed() == "1";
    return loop;
}

UnmountResult unmountFolder(const QString& mountPoint, QString* reason)
{
    // No MNT_DETACH and no MNT_FORCE: a file system in use must stay whole.
    if (::umount2(nameToBytes(mountPoint).constData(), UMOUNT_NOFOLLOW) == 0)
        return UnmountResult::Done;
    const int err = errno;
    if (reason)
        *reason = QString::fromLocal8Bit(std::strerror(err));
    return err == EBUSY ? UnmountResult::Busy : UnmountResult::Failed;
}

std::vector<int> processesHolding(const QString& path, const QString& unlessAlsoHolding)
{
    std::vector<int> holders;
    struct stat target {};
    if (::stat(QFile::encodeName(path).constData(), &target) != 0)
        return holders;
    struct stat exempt {};
    const bool haveExempt =
        !unlessAlsoHolding.isEmpty() && ::stat(QFile::encodeName(unlessAlsoHolding).constData(), &exempt) == 0;
    auto same = [](const struct stat& a, const struct stat& b) {
        if (S_ISBLK(b.st_mode) || S_ISCHR(b.st_mode))
            return (a.st_mode & S_IFMT) == (b.st_mode & S_IFMT) && a.st_rdev == b.st_rdev;
        return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
    };
    const pid_t self = ::getpid();

    DIR* proc = ::opendir("/proc");
    if (!proc)
        return holders;
    while (const dirent* p = ::readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(p->d_name, &end, 10);
        if (*end != '\0' || pid <= 0 || pid == self)
            continue;
        const std::string fdDir = std::string("/proc/") + p->d_name + "/fd";
        DIR* fds = ::opendir(fdDir.c_str());
        if (!fds)
            continue; // gone already, or not ours to look at
        bool holds = false, exempted = false;
        while (const dirent* f = ::readdir(fds)) {
            if (f->d_name[0] == '.')
                continue;
            struct stat st {};
            if (::stat((fdDir + '/' + f->d_name).c_str(), &st) != 0)
                continue;
            holds = holds || same(st, target);
            exempted = exempted || (haveExempt && same(st, exempt));
        }
        ::closedir(fds);
        if (holds && !exempted)
            holders.push_back(int(pid));
    }
    ::closedir(proc);
    return holders;
}

QStringList kernelUsersOf(const QString& devicePath)
{
    QStringList users;
    struct stat st {};
    if (::stat(QFile::encodeName(devicePath).constData(), &st) != 0 || !S_ISBLK(st.st_mode))
        return users;
    const QString holders = QStringLiteral("/sys/dev/block/%1:%2/holders").arg(major(st.st_rdev)).arg(minor(st.st_rdev));
    if (DIR* dir = ::opendir(QFile::encodeName(holders).constData())) {
        while (const dirent* e = ::readdir(dir))
            if (e->d_name[0] != '.')
                users << QStringLiteral("/dev/") + QFile::decodeName(e->d_name);
        ::closedir(dir);
    }
    // /proc/swaps: a header line, then "device type size used priority".
    const QStringList swaps = QString::fromUtf8(readSmallFile(QStringLiteral("/proc/swaps"))).split(u'\n');
    for (qsizetype i = 1; i < swaps.size(); ++i) {
        const QString name = swaps[i].section(u' ', 0, 0, QString::SectionSkipEmpty);
        struct stat sw {};
        if (!name.isEmpty() && ::stat(QFile::encodeName(name).constData(), &sw) == 0 && S_ISBLK(sw.st_mode) &&
            sw.st_rdev == st.st_rdev)
            users << QStringLiteral("swap");
    }
    return users;
}

bool isSuperUser()
{
    // Both ids: a set-user-ID copy that a user starts is not root's own
    // process, and only root itself or pkexec may start the helper.
    return ::getuid() == 0 && ::geteuid() == 0;
}

bool kernelSupports(const QString& fsType)
{
    // Lines are "nodev\ttmpfs" or "\text4".
    const QStringList lines = QString::fromUtf8(readSmallFile(QStringLiteral("/proc/filesystems"))).split(u'\n');
    for (const QString& line : lines)
        if (line.section(u'\t', -1).trimmed() == fsType)
            return true;
    // Not loaded yet: mount loads a module the kernel has for it.
    struct utsname uts {};
    if (::uname(&uts) != 0)
        return false;
    const QString modules = QStringLiteral("/lib/modules/") + QString::fromUtf8(uts.release) + u'/';
    const QRegularExpression module(QStringLiteral("(^|/)%1\\.ko(\\.[a-z]+)?(:|$)")
                                        .arg(QRegularExpression::escape(fsType)),
                                    QRegularExpression::MultilineOption);
    for (const char* list : {"modules.dep", "modules.builtin"})
        if (module.match(QString::fromUtf8(readSmallFile(modules + QLatin1String(list)))).hasMatch())
            return true;
    return false;
}

HeldTarget::HeldTarget(HeldTarget&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)), image_(other.image_)
{
}

HeldTarget& HeldTarget::operator=(HeldTarget&& other) noexcept
{
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        path_ = std::move(other.path_);
        image_ = other.image_;
    }
    return *this;
}

HeldTarget::~HeldTarget()
{
    if (fd_ >= 0)
        ::close(fd_);
}

QString HeldTarget::handlePath() const
{
    return QStringLiteral("/proc/%1/fd/%2").arg(::getpid()).arg(fd_);
}

bool HeldTarget::pathStillNamesIt() const
{
    struct stat held {};
    struct stat named {};
    if (::fstat(fd_, &held) != 0 || ::stat(nameToBytes(path_).constData(), &named) != 0)
        return false;
    if (S_ISBLK(held.st_mode))
        return S_ISBLK(named.st_mode) && named.st_rdev == held.st_rdev;
    return S_ISREG(named.st_mode) && named.st_dev == held.st_dev && named.st_ino == held.st_ino;
}

bool HeldTarget::overwriteEnds(std::uint64_t bytes, QString* reason) const
{
    auto failed = [&](const char* what) {
        if (reason)
            *reason = QStringLiteral("%1 %2: %3").arg(QLatin1String(what), path_, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    };
    struct stat st {};
    if (::fstat(fd_, &st) != 0)
        return failed("cannot examine");
    std::uint64_t size = static_cast<std::uint64_t>(st.st_size);
    if (S_ISBLK(st.st_mode) && ::ioctl(fd_, BLKGETSIZE64, &size) != 0)
        return failed("cannot read the size of");
    const std::uint64_t span = std::min(bytes, size);
    const std::vector<char> zeros(64 * 1024, 0);
    for (const std::uint64_t start : {std::uint64_t{0}, size - span}) {
        for (std::uint64_t done = 0; done < span;) {
            const std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(zeros.size(), span - done));
            const ssize_t n = ::pwrite(fd_, zeros.data(), chunk, static_cast<off_t>(start + done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return failed("cannot write");
            done += static_cast<std::uint64_t>(n);
        }
    }
    if (::fsync(fd_) != 0)
        return failed("cannot flush");
    return true;
}

const MountEntry* visibleMountAt(const std::vector<MountEntry>& mounts, const QString& folder)
{
    struct statx sx {};
    const bool haveId = ::statx(AT_FDCWD, nameToBytes(folder).constData(), AT_SYMLINK_NOFOLLOW, STATX_MNT_ID, &sx) == 0 &&
                        (sx.stx_mask & STATX_MNT_ID);
    const MountEntry* last = nullptr;
    for (const MountEntry& m : mounts) {
        if (m.mountPoint != folder)
            continue;
        if (haveId && m.id == sx.stx_mnt_id)
            return &m;
        last = &m;
    }
    return haveId ? nullptr : last;
}

QString volumeSummary(const MountEntry& mount)
{
    std::uint64_t bytes = 0;
    QString label;
    struct stat st {};
    if (::stat(nameToBytes(mount.source).constData(), &st) == 0 && S_ISBLK(st.st_mode)) {
        const QString sys = QStringLiteral("/sys/dev/block/%1:%2/").arg(major(st.st_rdev)).arg(minor(st.st_rdev));
        bytes = readSmallFile(sys + QStringLiteral("size")).trimmed().toULongLong() * 512;
        // udev names a labelled device in /dev/disk/by-label.
        if (DIR* dir = ::opendir("/dev/disk/by-label")) {
            while (const dirent* e = ::readdir(dir)) {
                struct stat is {};
                const QByteArray link = QByteArray("/dev/disk/by-label/") + e->d_name;
                if (e->d_name[0] != '.' && ::stat(link.constData(), &is) == 0 && S_ISBLK(is.st_mode) &&
                    is.st_rdev == st.st_rdev)
                    label = nameFromBytes(e->d_name).replace(QStringLiteral("\\x20"), QStringLiteral(" "));
            }
            ::closedir(dir);
        }
    } else if (S_ISREG(st.st_mode)) {
        bytes = static_cast<std::uint64_t>(st.st_size);
    }
    const QString size = bytes >= (1ull << 30) ? QStringLiteral("%1 GiB").arg(double(bytes) / double(1ull << 30), 0, 'f', 1)
                                               : QStringLiteral("%1 MiB").arg(double(bytes) / double(1ull << 20), 0, 'f', 1);
    return QStringLiteral("%1 (%2%3, %4) mounted at %5")
        .arg(readableName(mount.source), size,
             label.isEmpty() ? QString() : QStringLiteral(", label %1").arg(readableName(label)), mount.fsType,
             readableName(mount.mountPoint));
}

QString volumeSummaryAt(const QString& folder)
{
    const auto canonical = canonicalFolder(folder);
    const std::vector<MountEntry> mounts = allMounts();
    const MountEntry* m = canonical ? visibleMountAt(mounts, *canonical) : nullptr;
    return m ? volumeSummary(*m) : QString();
}

bool isUsersFuseMount(const MountEntry& mount)
{
    const bool fuse = mount.fsType == QStringLiteral("fuse") || mount.fsType == QStringLiteral("fuseblk") ||
                      mount.fsType.startsWith(QStringLiteral("fuse."));
    return fuse && !mount.superOptions.split(u',').contains(QStringLiteral("user_id=0"));
}

std::optional<HeldTarget> holdMountTarget(const MountEntry& mount, const std::optional<LoopDevice>& loop,
                                          QString* reason)
{
    auto refuse = [&](const QString& why) -> std::optional<HeldTarget> {
        *reason = why;
        return std::nullopt;
    };
    if (isUsersFuseMount(mount))
        return refuse(QStringLiteral("%1 is a FUSE file system that a user mounted, not root").arg(mount.mountPoint));
    if (!mount.source.startsWith(u'/'))
        return refuse(QStringLiteral("%1 holds a %2 file system from %3, which is neither a disk nor an image file")
                          .arg(mount.mountPoint, mount.fsType, mount.source));
    const QByteArray source = nameToBytes(mount.source);
    struct stat named {};
    if (::stat(source.constData(), &named) != 0)
        return refuse(QStringLiteral("%1 cannot be found").arg(mount.source));
    // A device is proven by its number, whatever link led to it; an image
    // file is opened only where it lies, never through a link.
    Fd held;
    held.fd = ::open(source.constData(), O_RDWR | O_CLOEXEC | (S_ISREG(named.st_mode) ? O_NOFOLLOW : 0));
    const int fd = held.fd;
    if (fd < 0)
        return refuse(QStringLiteral("cannot open %1: %2").arg(mount.source, QString::fromLocal8Bit(std::strerror(errno))));
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return refuse(QStringLiteral("cannot examine %1").arg(mount.source));
    const bool fuse = mount.fsType.startsWith(QStringLiteral("fuse"));
    if (S_ISREG(st.st_mode)) {
        if (!fuse)
            return refuse(QStringLiteral("%1 is a file, not the device of %2").arg(mount.source, mount.mountPoint));
        return HeldTarget(std::exchange(held.fd, -1), mount.source, true);
    }
    if (!S_ISBLK(st.st_mode))
        return refuse(QStringLiteral("%1 is neither a disk nor an image file").arg(mount.source));
    if (st.st_rdev != makedev(mount.major, mount.minor))
        return refuse(QStringLiteral("the mount table names %1 as the source of %2, but that file system is not on it")
                          .arg(mount.source, mount.mountPoint));
    if (!loop || !loop->autoClear)
        return HeldTarget(std::exchange(held.fd, -1), mount.source, false);
    // The self-clearing loop device goes with the unmount: hold its image,
    // proven by the loop device's own record of it.
    loop_info64 info {};
    if (::ioctl(fd, LOOP_GET_STATUS64, &info) != 0)
        return refuse(QStringLiteral("cannot ask %1 for its image: %2").arg(mount.source, QString::fromLocal8Bit(std::strerror(errno))));
    const int image = ::open(nameToBytes(loop->backingFile).constData(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    struct stat is {};
    if (image < 0 || ::fstat(image, &is) != 0 || !S_ISREG(is.st_mode) || is.st_dev != info.lo_device ||
        is.st_ino != info.lo_inode) {
        if (image >= 0)
            ::close(image);
        return refuse(QStringLiteral("%1 is no longer the image behind %2").arg(loop->backingFile, mount.source));
    }
    return HeldTarget(image, loop->backingFile, true);
}

QStringList partitionsInUse(const QString& devicePath)
{
    QStringList used;
    struct stat st {};
    if (::stat(nameToBytes(devicePath).constData(), &st) != 0 || !S_ISBLK(st.st_mode))
        return used;
    const QString sys = QStringLiteral("/sys/dev/block/%1:%2/").arg(major(st.st_rdev)).arg(minor(st.st_rdev));
    const std::vector<MountEntry> mounts = allMounts();
    DIR* dir = ::opendir(nameToBytes(sys).constData());
    if (!dir)
        return used;
    while (const dirent* e = ::readdir(dir)) {
        const QString part = sys + nameFromBytes(e->d_name) + u'/';
        if (e->d_name[0] == '.' || !QFile::exists(part + QStringLiteral("partition")))
            continue;
        const QStringList numbers = QString::fromUtf8(readSmallFile(part + QStringLiteral("dev"))).trimmed().split(u':');
        const QString name = QStringLiteral("/dev/") + nameFromBytes(e->d_name);
        for (const MountEntry& m : mounts)
            if (numbers.size() == 2 && QString::number(m.major) == numbers[0] && QString::number(m.minor) == numbers[1])
                used << QStringLiteral("%1 (mounted at %2)").arg(name, m.mountPoint);
        for (const QString& user : kernelUsersOf(name))
            used << QStringLiteral("%1 (used by %2)").arg(name, user);
    }
    ::closedir(dir);
    used.removeDuplicates();
    return used;
}

std::optional<QString> folderOthersMayChange(const QString& path)
{
    const QStringList parts = path.split(u'/', Qt::SkipEmptyParts);
    QString folder = QStringLiteral("/");
    for (qsizetype i = 0; i < parts.size(); ++i) {
        struct stat st {};
        if (::lstat(nameToBytes(folder).constData(), &st) != 0)
            return folder;
        const bool sticky = st.st_mode & S_ISVTX;
        const bool othersWrite = (st.st_mode & S_IWOTH) || ((st.st_mode & S_IWGRP) && st.st_gid != 0);
        if (!S_ISDIR(st.st_mode) || st.st_uid != 0 || (othersWrite && !sticky))
            return folder;
        folder = folder == QStringLiteral("/") ? u'/' + parts[i] : folder + u'/' + parts[i];
    }
    return std::nullopt;
}

void detachFromCallerFiles()
{
    // The caller's current folder may lie on the very volume to format.
    if (::chdir("/") != 0) {
        // "/" always exists; nothing sensible is left to do if it cannot be entered.
    }
    ::close_range(3, ~0U, 0);
}

} // namespace platform
