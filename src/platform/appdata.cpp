#include "platform/appdata.h"
#include "platform/fd.h"
#include "platform/errors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <cerrno>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

bool canWriteInPlace(const QString& nativeFile)
{
    const QByteArray file = QFile::encodeName(nativeFile);
    const QByteArray folder = QFile::encodeName(QFileInfo(nativeFile).absolutePath());
    return ::access(file.constData(), W_OK) == 0 && ::access(folder.constData(), W_OK | X_OK) == 0;
}

QString userDataFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

namespace {

bool ownedByRootAlone(const QString& folder)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(folder).constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == 0 &&
           !(st.st_mode & (S_IWGRP | S_IWOTH));
}

} // namespace

QString userStateFolder()
{
    const bool root = ::geteuid() == 0;
    // An empty or relative value is to be ignored, as the XDG rules say.
    const QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (!state.isEmpty() && QDir::isAbsolutePath(state) && (!root || ownedByRootAlone(state)))
        return state + QStringLiteral("/ZarvexWipe");
    QString home = QDir::homePath();
    if (root) {
        const passwd* pw = ::getpwuid(0);
        home = pw && pw->pw_dir ? QFile::decodeName(pw->pw_dir) : QString();
    }
    if (home.isEmpty() || home == QDir::rootPath())
        return {};
    return home + QStringLiteral("/.local/state/ZarvexWipe");
}

bool makePrivateFolder(const QString& folder)
{
    if (!QDir().mkpath(folder))
        return false;
    struct stat st {};
    const QByteArray name = QFile::encodeName(folder);
    if (::lstat(name.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
        return false;
    return (st.st_mode & 07777) == 0700 || ::chmod(name.constData(), 0700) == 0;
}

void makePrivateFile(const QString& file)
{
    ::chmod(QFile::encodeName(file).constData(), 0600);
}

namespace {

void writeAll(int fd, const char* data, ssize_t size, const QString& path)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw errorFromErrno(errno, path);
        }
        data += n;
        size -= n;
    }
}

} // namespace

void copyFileReplacing(const QString& from, const QString& to)
{
    const QString folder = QFileInfo(to).absolutePath();
    if (!QDir().mkpath(folder))
        throw RunTimeError(ErrPathNotFound, QStringLiteral("%1: cannot make the folder").arg(folder));

    Fd in;
    in.fd = ::open(QFile::encodeName(from).constData(), O_RDONLY | O_CLOEXEC);
    if (in.fd < 0)
        throw errorFromErrno(errno, from);

    const QString aside = to + QStringLiteral(".part");
    const QByteArray asideName = QFile::encodeName(aside);
    Fd out;
    out.fd = ::open(asideName.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (out.fd < 0)
        throw errorFromErrno(errno, aside);
    try {
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::read(in.fd, buffer, sizeof buffer);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                throw errorFromErrno(errno, from);
            }
            if (n == 0)
                break;
            writeAll(out.fd, buffer, n, aside);
        }
        if (::fsync(out.fd) != 0)
            throw errorFromErrno(errno, aside);
        const int fd = out.fd;
        out.fd = -1;
        if (::close(fd) != 0)
            throw errorFromErrno(errno, aside);
        if (::rename(asideName.constData(), QFile::encodeName(to).constData()) != 0)
            throw errorFromErrno(errno, to);
    } catch (...) {
        ::unlink(asideName.constData());
        throw;
    }
}

} // namespace platform
