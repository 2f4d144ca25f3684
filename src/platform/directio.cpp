#include "platform/directio.h"
#include "platform/errors.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

bool setDirectIo(int fd, bool on)
{
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, on ? (flags | O_DIRECT) : (flags & ~O_DIRECT)) == 0;
}

void writeFully(int fd, const char* data, std::size_t size, std::int64_t offset, bool& direct, const QString& path,
                std::uint64_t* written)
{
    while (size > 0) {
        const ssize_t n = offset < 0 ? ::write(fd, data, size) : ::pwrite(fd, data, size, static_cast<off_t>(offset));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EINVAL && direct) {
                // The flag was taken but not this write: buffered from here.
                setDirectIo(fd, false);
                direct = false;
                continue;
            }
            throw errorFromErrno(errno, path, QStringLiteral("write"));
        }
        if (n == 0)
            throw errorFromErrno(ENOSPC, path, QStringLiteral("write"));
        data += n;
        size -= static_cast<std::size_t>(n);
        if (offset >= 0)
            offset += n;
        if (written)
            *written += static_cast<std::uint64_t>(n);
    }
}

} // namespace platform
