#include "platform/files.h"
#include "platform/errors.h"
#include "platform/names.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

static int attributesFrom(const QString& name, const struct stat& st)
{
    int a = AttrNormal;
    if (name.startsWith(u'.'))
        a |= AttrHidden;
    if (!(st.st_mode & S_IWUSR))
        a |= AttrReadOnly;
    if (S_ISDIR(st.st_mode))
        a |= AttrDirectory;
    return a;
}

static QString lastName(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    return slash < 0 ? path : path.mid(slash + 1);
}

int fileAttributes(const QString& nativePath)
{
    struct stat st {};
    if (::lstat(nameToBytes(nativePath).constData(), &st) != 0)
        throw errorFromErrno(errno, nativePath);
    return attributesFrom(lastName(nativePath), st);
}

std::vector<DirEntry> listRegularFiles(const QString& nativeFolder)
{
    const QByteArray folder = nameToBytes(nativeFolder);
    const int dfd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0)
        throw errorFromErrno(errno, nativeFolder);
    DIR* dir = ::fdopendir(dfd);
    if (!dir) {
        const int err = errno;
        ::close(dfd);
        throw errorFromErrno(err, nativeFolder);
    }
    std::vector<DirEntry> out;
    while (const dirent* e = ::readdir(dir)) {
        const QString name = nameFromBytes(e->d_name);
        if (name == QStringLiteral(".") || name == QStringLiteral(".."))
            continue;
        struct stat st {};
        if (::fstatat(dfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
            continue;
        out.push_back({name, attributesFrom(name, st), {st.st_dev, st.st_ino}});
    }
    ::closedir(dir);
    return out;
}

std::int64_t fileLength(const QString& nativePath)
{
    struct stat st {};
    if (::lstat(nameToBytes(nativePath).constData(), &st) != 0)
        throw errorFromErrno(errno, nativePath);
    if (!S_ISREG(st.st_mode))
        throw RunTimeError(ErrPathFileAccess, QStringLiteral("%1: not a regular file").arg(nativePath));
    return static_cast<std::int64_t>(st.st_size);
}

std::optional<PathFacts> examinePath(const QString& nativePath)
{
    struct stat st {};
    if (::lstat(nameToBytes(nativePath).constData(), &st) != 0)
        return std::nullopt;
    return PathFacts{S_ISREG(st.st_mode), S_ISDIR(st.st_mode), {st.st_dev, st.st_ino}};
}

} // namespace platform
