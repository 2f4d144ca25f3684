#pragma once
// A file descriptor closed on every path out of the scope that holds it.
#include <QFile>
#include <QString>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

struct Fd {
    int fd = -1;
    Fd() = default;
    // Opens `path` (close-on-exec); `fd` is -1 when that fails.
    Fd(const QString& path, int flags) : fd(::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC)) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace platform
