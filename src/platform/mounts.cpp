#include "platform/mounts.h"

#include <QFile>
#include <QStringList>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

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
    if (::realpath(QFile::encodeName(path).constData(), resolved) == nullptr)
        return std::nullopt;
    struct stat st {};
    if (::stat(resolved, &st) != 0 || !S_ISDIR(st.st_mode))
        return std::nullopt;
    return QFile::decodeName(resolved);
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

std::vector<int> processesHolding(const QString& path)
{
    std::vector<int> holders;
    struct stat target {};
    if (::stat(QFile::encodeName(path).constData(), &target) != 0)
        return holders;
    const bool device = S_ISBLK(target.st_mode);
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
        while (const dirent* f = ::readdir(fds)) {
            if (f->d_name[0] == '.')
                continue;
            struct stat st {};
            if (::stat((fdDir + '/' + f->d_name).c_str(), &st) != 0)
                continue;
            const bool same = device ? (S_ISBLK(st.st_mode) && st.st_rdev == target.st_rdev)
                                     : (st.st_dev == target.st_dev && st.st_ino == target.st_ino);
            if (same) {
                holders.push_back(int(pid));
                break;
            }
        }
        ::closedir(fds);
    }
    ::closedir(proc);
    return holders;
}

bool isSuperUser()
{
    return ::geteuid() == 0;
}

bool kernelSupports(const QString& fsType)
{
    // Lines are "nodev\ttmpfs" or "\text4".
    const QStringList lines = QString::fromUtf8(readSmallFile(QStringLiteral("/proc/filesystems"))).split(u'\n');
    for (const QString& line : lines)
        if (line.section(u'\t', -1).trimmed() == fsType)
            return true;
    return false;
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
