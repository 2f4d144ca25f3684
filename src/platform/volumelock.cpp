#include "platform/volumelock.h"
#include "platform/names.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace platform {

namespace {

// A world-writable folder with the sticky bit: one user cannot remove or
// replace another's lock file there. Without it, each user's state folder
// would only keep that user's wipes apart.
constexpr const char* kLockFolder = "/run/lock";

int openLockFile(const QByteArray& path)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        // Another user's lock file may be opened, not created over (the
        // kernel's protected_regular refuses O_CREAT on it): open it first.
        int fd = ::open(path.constData(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0 && errno == EACCES)
            fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0 || errno != ENOENT)
            return fd;
        fd = ::open(path.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd >= 0) {
            ::fchmod(fd, 0644); // whatever the umask: every user must be able to open it
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    return -1;
}

} // namespace

std::unique_ptr<VolumeLock> VolumeLock::take(const QString& nativeFolder, QString* why)
{
    struct stat st {};
    if (::stat(nameToBytes(nativeFolder).constData(), &st) != 0) {
        *why = QStringLiteral("%1: %2").arg(nativeFolder, QString::fromLocal8Bit(std::strerror(errno)));
        return nullptr;
    }
    struct stat folder {};
    if (::stat(kLockFolder, &folder) != 0 || !S_ISDIR(folder.st_mode))
        return std::unique_ptr<VolumeLock>(new VolumeLock(-1)); // no shared place: nothing to hold
    const QByteArray path = QByteArray(kLockFolder) + "/zarvexwipe-" + QByteArray::number(major(st.st_dev)) + '-' +
                            QByteArray::number(minor(st.st_dev)) + ".lock";
    const int fd = openLockFile(path);
    if (fd < 0) {
        *why = QStringLiteral("the lock %1 cannot be opened: %2")
                   .arg(QString::fromLatin1(path), QString::fromLocal8Bit(std::strerror(errno)));
        return nullptr;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        char pid[32] = {};
        const ssize_t n = ::pread(fd, pid, sizeof pid - 1, 0);
        ::close(fd);
        *why = n > 0 ? QStringLiteral("another wipe of this drive is running (process %1)").arg(QString::fromLatin1(pid).trimmed())
                     : QStringLiteral("another wipe of this drive is running");
        return nullptr;
    }
    // Who holds it, for the next one's message (a lock file of another
    // user's is only read).
    const QByteArray self = QByteArray::number(::getpid()) + '\n';
    if (::ftruncate(fd, 0) == 0)
        [[maybe_unused]] const ssize_t n = ::pwrite(fd, self.constData(), static_cast<std::size_t>(self.size()), 0);
    return std::unique_ptr<VolumeLock>(new VolumeLock(fd));
}

VolumeLock::~VolumeLock()
{
    if (fd_ >= 0)
        ::close(fd_); // lets go of the lock
}

} // namespace platform
