#include "platform/overwritefile.h"
#include "platform/blocking.h"
#include "platform/directio.h"
#include "platform/errors.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// A chunk holds whole repeats of any pattern of 100 or 200 bytes and whole
// blocks of any device (4 KiB), so chunk after chunk continues the pattern.
constexpr std::size_t kChunk = 200 * 4096;
constexpr std::size_t kDirectAlign = 4096;

struct FreeDeleter {
    void operator()(char* p) const { std::free(p); }
};

QByteArray encoded(const QString& path)
{
    return QFile::encodeName(path);
}

void syncFolder(const QString& folder)
{
    const int fd = ::open(encoded(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        throw errorFromErrno(errno, folder, QStringLiteral("open folder"));
    const int rc = ::fsync(fd);
    const int err = errno;
    ::close(fd);
    if (rc != 0)
        throw errorFromErrno(err, folder, QStringLiteral("flush folder"));
}

// Renames without replacing a file of the new name; false when that name
// is taken. FUSE drivers may not know RENAME_NOREPLACE: a look first, then a
// plain rename.
bool renameNoReplace(const QString& from, const QString& to)
{
    if (::renameat2(AT_FDCWD, encoded(from).constData(), AT_FDCWD, encoded(to).constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno == EEXIST)
        return false;
    if (errno != EINVAL && errno != ENOSYS)
        throw errorFromErrno(errno, from, QStringLiteral("rename"));
    struct stat st {};
    if (::lstat(encoded(to).constData(), &st) == 0)
        return false;
    if (::rename(encoded(from).constData(), encoded(to).constData()) != 0)
        throw errorFromErrno(errno, from, QStringLiteral("rename"));
    return true;
}

// Renames `path` to a name of its own length made of one repeated character,
// then to ever shorter ones, and returns the last name. Where a file system
// rewrites a folder entry in place (NTFS's records and index) the first
// rename overwrites the old name; the shorter ones give back longer entries.
// The folder is flushed after the first rename only: on a journaling file
// system every flush copies the folder's block, with the names of the other
// files still in it, into the journal (measured on ext4: five files left 189
// copies of their names with a flush per rename, 40 with one).
QString overwriteName(const QString& path)
{
    const QFileInfo info(path);
    const QString folder = info.absolutePath();
    QString current = path;
    static const char kChars[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    bool first = true;
    for (qsizetype length = encoded(info.fileName()).size(); length >= 1; --length) {
        for (const char* c = kChars; *c; ++c) {
            const QString next = folder + u'/' + QString(length, QLatin1Char(*c));
            // Never over another file: a name that exists is passed by.
            if (renameNoReplace(current, next)) {
                current = next;
                if (first)
                    syncFolder(folder);
                first = false;
                break;
            }
        }
    }
    return current;
}

} // namespace

OverwriteFile::OverwriteFile(const QString& nativePath) : path_(nativePath)
{
    fd_ = ::open(encoded(nativePath).constData(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0)
        throw errorFromErrno(errno, nativePath, QStringLiteral("open"));
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        throw RunTimeError(ErrPathFileAccess, nativePath + QStringLiteral(": not a regular file"));
    }
    // O_NONBLOCK only kept a FIFO from hanging the open.
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
}

OverwriteFile::~OverwriteFile()
{
    if (fd_ >= 0)
        ::close(fd_);
}

std::uint64_t OverwriteFile::size() const
{
    struct stat st {};
    if (::fstat(fd_, &st) != 0)
        throw errorFromErrno(errno, path_, QStringLiteral("stat"));
    return static_cast<std::uint64_t>(st.st_size);
}

bool OverwriteFile::setDirect(bool on)
{
    if (on == direct_)
        return true;
    if (!setDirectIo(fd_, on))
        return false; // tmpfs and some FUSE drivers take no direct I/O
    direct_ = on;
    return true;
}

void OverwriteFile::writeAt(const char* data, std::size_t size, std::uint64_t offset)
{
    writeFully(fd_, data, size, static_cast<std::int64_t>(offset), direct_, path_);
}

void OverwriteFile::writePattern(const QByteArray& pattern, std::uint64_t length,
                                 const std::function<void(std::uint64_t)>& progress)
{
    if (pattern.isEmpty() || length == 0)
        return;
    std::unique_ptr<char, FreeDeleter> chunk(static_cast<char*>(std::aligned_alloc(kDirectAlign, kChunk)));
    if (!chunk)
        throw RunTimeError(ErrOutOfMemory, path_);
    for (std::size_t i = 0; i < kChunk; ++i)
        chunk.get()[i] = pattern[static_cast<qsizetype>(i % static_cast<std::size_t>(pattern.size()))];

    bool directWorks = true;
    for (std::uint64_t done = 0; done < length;) {
        const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, length - done));
        // Each chunk is one blocking call off the UI thread; the progress
        // is shown between them.
        runBlocking([&] {
            // Whole device blocks go direct; the rest of the last piece
            // through the page cache, which the sync below flushes.
            const std::size_t whole = piece / kDirectAlign * kDirectAlign;
            if (whole > 0 && directWorks) {
                directWorks = setDirect(true);
                writeAt(chunk.get(), whole, done);
            } else if (whole > 0) {
                writeAt(chunk.get(), whole, done);
            }
            if (piece > whole) {
                setDirect(false);
                writeAt(chunk.get() + whole, piece - whole, done + whole);
            }
        });
        done += piece;
        if (progress)
            progress(done);
    }
}

void OverwriteFile::sync()
{
    runBlocking([this] {
        if (::fsync(fd_) != 0)
            throw errorFromErrno(errno, path_, QStringLiteral("flush"));
    });
}

void OverwriteFile::close()
{
    const int fd = fd_;
    fd_ = -1;
    runBlocking([&] {
        const int synced = ::fsync(fd);
        const int syncErr = errno;
        const int closed = ::close(fd);
        if (synced != 0)
            throw errorFromErrno(syncErr, path_, QStringLiteral("flush"));
        if (closed != 0)
            throw errorFromErrno(errno, path_, QStringLiteral("close"));
    });
}

ReadBack OverwriteFile::readBack(const QString& nativePath, const QByteArray& pattern, std::uint64_t length)
{
    WrittenContent written;
    if (!pattern.isEmpty())
        written.add(pattern, (length + static_cast<std::uint64_t>(pattern.size()) - 1) / static_cast<std::uint64_t>(pattern.size()));
    written.truncate(length);
    return platform::readBack(nativePath, written, kChunk);
}

unsigned extraLinks(const QString& nativePath)
{
    struct stat st {};
    if (::lstat(encoded(nativePath).constData(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink < 1)
        return 0;
    return static_cast<unsigned>(st.st_nlink - 1);
}

void OverwriteFile::truncateToZero()
{
    runBlocking([this] {
        if (::ftruncate(fd_, 0) != 0)
            throw errorFromErrno(errno, path_, QStringLiteral("empty"));
    });
}

namespace {

void destroyFileNow(const QString& nativePath)
{
    {
        OverwriteFile file(nativePath);
        file.truncateToZero();
        file.close();
    }
    const QString last = overwriteName(nativePath);
    if (::unlink(encoded(last).constData()) != 0)
        throw errorFromErrno(errno, last, QStringLiteral("delete"));
    syncFolder(QFileInfo(last).absolutePath());
}

void destroyFolderNow(const QString& nativePath)
{
    QString path = nativePath;
    while (path.size() > 1 && path.endsWith(u'/'))
        path.chop(1);
    struct stat st {};
    if (::lstat(encoded(path).constData(), &st) != 0)
        throw errorFromErrno(errno, path, QStringLiteral("examine"));
    if (!S_ISDIR(st.st_mode))
        throw RunTimeError(ErrPathFileAccess, path + QStringLiteral(": not a folder"));
    // A folder that still holds anything keeps its name: renamed, it would
    // only hide what is left under a meaningless one.
    if (DIR* dir = ::opendir(encoded(path).constData())) {
        bool empty = true;
        while (const dirent* e = ::readdir(dir))
            empty = empty && (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0);
        ::closedir(dir);
        if (!empty)
            throw errorFromErrno(ENOTEMPTY, path, QStringLiteral("remove folder"));
    }
    const QString last = overwriteName(path);
    if (::rmdir(encoded(last).constData()) != 0)
        throw errorFromErrno(errno, last, QStringLiteral("remove folder"));
    syncFolder(QFileInfo(last).absolutePath());
}

} // namespace

// Each is one blocking call for the whole: emptying, the renames with their
// folder flushes and the delete.
void destroyFile(const QString& nativePath)
{
    runBlocking([&] { destroyFileNow(nativePath); });
}

void destroyFolder(const QString& nativePath)
{
    runBlocking([&] { destroyFolderNow(nativePath); });
}

} // namespace platform
