#include "platform/wholedisk.h"
#include "platform/blocking.h"
#include "platform/errors.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace platform {

namespace {

RunTimeError refused(const QString& why)
{
    return RunTimeError(ErrRefused, why);
}

} // namespace

WholeDisk::WholeDisk(const QString& device, const Disk& listed) : device_(device)
{
    fd_ = ::open(QFile::encodeName(device).constData(), O_RDWR | O_EXCL | O_DIRECT | O_CLOEXEC);
    if (fd_ < 0 && errno == EBUSY)
        throw refused(QStringLiteral("%1 is in use (mounted, or held by a RAID, LVM or device-mapper stack)").arg(device));
    if (fd_ < 0)
        throw errorFromErrno(errno, device, QStringLiteral("open"));
    struct stat st {};
    std::uint64_t bytes = 0;
    int sector = 0;
    if (::fstat(fd_, &st) != 0 || !S_ISBLK(st.st_mode) || ::major(st.st_rdev) != listed.major ||
        ::minor(st.st_rdev) != listed.minor) {
        ::close(fd_);
        fd_ = -1;
        throw refused(QStringLiteral("%1 is not the disk that was listed now").arg(device));
    }
    if (::ioctl(fd_, BLKGETSIZE64, &bytes) != 0 || ::ioctl(fd_, BLKSSZGET, &sector) != 0 || sector <= 0) {
        const int err = errno;
        ::close(fd_);
        fd_ = -1;
        throw errorFromErrno(err, device, QStringLiteral("size"));
    }
    bytes_ = bytes;
    sector_ = static_cast<std::uint32_t>(sector);
}

WholeDisk::~WholeDisk()
{
    if (fd_ >= 0)
        ::close(fd_);
}

namespace {

// Moves all `size` bytes at `offset` with `call` (pread or pwrite), off the
// window's thread; a device error names the byte it was at.
template <typename Call>
void transfer(Call call, const QString& device, const char* what, std::size_t size, std::uint64_t offset)
{
    runBlocking([&] {
        for (std::size_t done = 0; done < size;) {
            const ssize_t n = call(done, static_cast<off_t>(offset + done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                throw errorFromErrno(n < 0 ? errno : EIO, device,
                                     QStringLiteral("%1 at byte %2").arg(QLatin1String(what)).arg(offset + done));
            done += static_cast<std::size_t>(n);
        }
    });
}

} // namespace

void WholeDisk::write(const char* data, std::size_t size, std::uint64_t offset)
{
    transfer([&](std::size_t done, off_t at) { return ::pwrite(fd_, data + done, size - done, at); }, device_, "write",
             size, offset);
}

void WholeDisk::read(char* data, std::size_t size, std::uint64_t offset) const
{
    transfer([&](std::size_t done, off_t at) { return ::pread(fd_, data + done, size - done, at); }, device_, "read",
             size, offset);
}

bool WholeDisk::discard(std::uint64_t offset, std::uint64_t size)
{
    return runBlocking([&] {
        std::uint64_t range[2] = {offset, size};
        if (::ioctl(fd_, BLKDISCARD, range) == 0)
            return true;
        if (errno == EOPNOTSUPP || errno == ENOTTY || errno == EINVAL)
            return false;
        throw errorFromErrno(errno, device_, QStringLiteral("discard at byte %1").arg(offset));
    });
}

void WholeDisk::zeroOut(std::uint64_t offset, std::uint64_t size)
{
    runBlocking([&] {
        std::uint64_t range[2] = {offset, size};
        if (::ioctl(fd_, BLKZEROOUT, range) != 0)
            throw errorFromErrno(errno, device_, QStringLiteral("zero-out at byte %1").arg(offset));
    });
}

void WholeDisk::flush()
{
    runBlocking([&] {
        if (::fsync(fd_) != 0)
            throw errorFromErrno(errno, device_, QStringLiteral("flush"));
    });
}

} // namespace platform
