#include "platform/mounts.h"
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
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/utsname.h>
#include <unistd.h>
#include <vector>

// <linux/fs.h> clashes with <sys/mount.h> on this glibc; the one request it
// would give is stable kernel ABI.
#ifndef BLKGETSIZE64
#define BLKGETSIZE64 _IOR(0x12, 114, size_t)
#endif

namespace platform {

static QByteArray readSmallFile(const QString& path)
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
    if (::umount2(QFile::encodeName(mountPoint).constData(), 0) == 0)
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

bool overwriteEnds(const QString& path, std::uint64_t bytes, QString* reason)
{
    auto failed = [&](const char* what) {
        if (reason)
            *reason = QStringLiteral("%1 %2: %3").arg(QLatin1String(what), path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    };
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return failed("cannot open");
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return failed("cannot examine");
    std::uint64_t size = static_cast<std::uint64_t>(st.st_size);
    if (S_ISBLK(st.st_mode) && ::ioctl(fd, BLKGETSIZE64, &size) != 0)
        return failed("cannot read the size of");
    const std::uint64_t span = std::min(bytes, size);
    const std::vector<char> zeros(64 * 1024, 0);
    for (const std::uint64_t start : {std::uint64_t{0}, size - span}) {
        for (std::uint64_t done = 0; done < span;) {
            const std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(zeros.size(), span - done));
            const ssize_t n = ::pwrite(fd, zeros.data(), chunk, static_cast<off_t>(start + done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return failed("cannot write");
            done += static_cast<std::uint64_t>(n);
        }
    }
    if (::fsync(fd) != 0)
        return failed("cannot flush");
    return true;
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
