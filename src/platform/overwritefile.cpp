#include "platform/fillfile.h"
#include "platform/overwritefile.h"
#include "platform/blocking.h"
#include "platform/directio.h"
#include "platform/errors.h"
#include "platform/fd.h"
#include "platform/fstraits.h"
#include "platform/names.h"
#include "platform/tools.h"
#include "platform/wipejournal.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>
#include <algorithm>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/xattr.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <utility>

namespace platform {

namespace {

// A chunk holds whole repeats of any pattern of 100 or 200 bytes and whole
// blocks of any device (4 KiB), so chunk after chunk continues the pattern.
constexpr std::size_t kChunk = 200 * 4096;
constexpr std::size_t kDirectAlign = 4096;
// A busy file is tried this often, this far apart, before it is named.
constexpr int kBusyAttempts = 10;
constexpr int kBusyRetryMs = 100;

RunTimeError refused(const QString& why)
{
    return RunTimeError(ErrRefused, why);
}

// What the kernel says of an open descriptor (an O_PATH one too).
struct statx statOf(int fd, const QString& path)
{
    struct statx sx {};
    if (::statx(fd, "", AT_EMPTY_PATH | AT_STATX_SYNC_AS_STAT, STATX_BASIC_STATS | STATX_MNT_ID, &sx) != 0)
        throw errorFromErrno(errno, path, QStringLiteral("examine"));
    return sx;
}

FileId idOf(const struct statx& sx)
{
    return {makedev(sx.stx_dev_major, sx.stx_dev_minor), sx.stx_ino};
}

bool hasAttribute(const struct statx& sx, std::uint64_t attribute)
{
    return (sx.stx_attributes_mask & attribute) && (sx.stx_attributes & attribute);
}

// The path through which a pinned descriptor reopens the very inode it holds
// (chmod and open follow it to that inode, never to a name).
QByteArray procPath(int fd)
{
    return QByteArrayLiteral("/proc/self/fd/") + QByteArray::number(fd);
}

void syncFolder(int dirfd, const QString& path)
{
    if (::fsync(dirfd) != 0)
        throw errorFromErrno(errno, path, QStringLiteral("flush folder"));
}

bool names(int dirfd, const QByteArray& name, FileId id)
{
    struct stat st {};
    return ::fstatat(dirfd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && FileId{st.st_dev, st.st_ino} == id;
}

// Renames without replacing a file of the new name; false when that name
// is taken. FUSE drivers may not know RENAME_NOREPLACE: a look first, then a
// plain rename.
bool renameNoReplace(int dirfd, const QByteArray& from, const QByteArray& to, const QString& path)
{
    if (::renameat2(dirfd, from.constData(), dirfd, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno == EEXIST)
        return false;
    if (errno != EINVAL && errno != ENOSYS)
        throw errorFromErrno(errno, path, QStringLiteral("rename"));
    struct stat st {};
    if (::fstatat(dirfd, to.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        return false;
    if (::renameat(dirfd, from.constData(), dirfd, to.constData()) != 0)
        throw errorFromErrno(errno, path, QStringLiteral("rename"));
    return true;
}

// Renames `name` in the folder `dirfd` to a name of its own length made of
// one repeated character, then to ever shorter ones, and returns the last
// name. Where a file system rewrites a folder entry in place (NTFS's records
// and index) the first rename overwrites the old name; the shorter ones give
// back longer entries. Each rename is made only while the name still names
// `id`; one that turns out to have moved another file (swapped in between the
// look and the rename) is undone, and the file is refused. The folder is
// flushed after the first rename only: on a journaling file system every
// flush copies the folder's block, with the names of the other files still in
// it, into the journal (measured on ext4: five files left 189 copies of their
// names with a flush per rename, 40 with one).
QByteArray overwriteName(int dirfd, const QByteArray& name, FileId id, const QString& path, const QString& left)
{
    static const char kChars[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    QByteArray current = name;
    bool first = true;
    for (qsizetype length = name.size(); length >= 1; --length) {
        for (const char* c = kChars; *c; ++c) {
            const QByteArray next(length, *c);
            if (!names(dirfd, current, id))
                throw refused(left);
            // Never over another file: a name that exists is passed by.
            if (!renameNoReplace(dirfd, current, next, path))
                continue;
            if (!names(dirfd, next, id)) {
                renameNoReplace(dirfd, next, current, path);
                throw refused(left);
            }
            current = next;
            if (first)
                syncFolder(dirfd, path);
            first = false;
            break;
        }
    }
    return current;
}

// Deletes `name` from the folder, only while it names `id`.
void removeName(int dirfd, const QByteArray& name, FileId id, int flags, const QString& path, const QString& left)
{
    if (!names(dirfd, name, id))
        throw refused(left);
    if (::unlinkat(dirfd, name.constData(), flags) != 0)
        throw errorFromErrno(errno, path, QString::fromLatin1(flags ? "remove folder" : "delete"));
    syncFolder(dirfd, path);
}

} // namespace

// --- the folder ---

WipeFolder::WipeFolder(const QString& nativeFolder) : path_(nativeFolder)
{
    while (path_.size() > 1 && path_.endsWith(u'/'))
        path_.chop(1);
    fd_ = ::open(nameToBytes(path_).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd_ < 0) {
        if (errno == ENOENT)
            throw RunTimeError(ErrPathNotFound, path_);
        if (errno == ELOOP || errno == ENOTDIR)
            throw RunTimeError(ErrPathFileAccess, path_ + QStringLiteral(": not a folder (a link, or a file)"));
        throw errorFromErrno(errno, path_, QStringLiteral("open folder"));
    }
    const struct statx sx = statOf(fd_, path_);
    id_ = idOf(sx);
    mountId_ = (sx.stx_mask & STATX_MNT_ID) ? sx.stx_mnt_id : 0;
    compressing_ = !fileSystemTraits(path_).compression.isEmpty();
}

WipeFolder::~WipeFolder()
{
    if (fd_ >= 0)
        ::close(fd_);
}

// An O_PATH descriptor of the name's file, once it has passed every check.
int WipeFolder::pin(const QString& name, FileId chosen, bool forWriting) const
{
    const QString path = pathOf(name);
    Fd pinned;
    pinned.fd = ::openat(fd_, nameToBytes(name).constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (pinned.fd < 0)
        throw errno == ENOENT ? RunTimeError(ErrFileNotFound, path) : errorFromErrno(errno, path, QStringLiteral("open"));
    const struct statx sx = statOf(pinned.fd, path);
    if (!S_ISREG(sx.stx_mode))
        throw refused(QStringLiteral("it is no regular file now (a link, folder, device or pipe has its name); "
                                     "nothing was written through it"));
    if (chosen.known() && idOf(sx) != chosen)
        throw refused(QStringLiteral("its name now names another file than the one chosen, which was left alone"));
    const bool otherMount = mountId_ != 0 && (sx.stx_mask & STATX_MNT_ID) ? sx.stx_mnt_id != mountId_
                                                                          : idOf(sx).dev != id_.dev;
    if (otherMount)
        throw refused(QStringLiteral("it is a mount of another file or volume, whose data nobody chose"));
    if (sx.stx_nlink > 1)
        throw refused(QStringLiteral("it has %1 other name(s) (hard links), whose data it shares").arg(sx.stx_nlink - 1));
    if (hasAttribute(sx, STATX_ATTR_IMMUTABLE))
        throw refused(QStringLiteral("it is immutable (chattr +i): nothing may change it"));
    if (hasAttribute(sx, STATX_ATTR_APPEND))
        throw refused(QStringLiteral("it is append-only (chattr +a): its data cannot be overwritten"));
    if (forWriting) {
        const mode_t wanted = (sx.stx_mode & 07777) | S_IRUSR | S_IWUSR;
        if ((sx.stx_mode & 07777) != wanted && ::chmod(procPath(pinned.fd).constData(), wanted) != 0 &&
            ::access(procPath(pinned.fd).constData(), R_OK | W_OK) != 0)
            throw refused(QStringLiteral("it cannot be made writable (%1)").arg(QString::fromLocal8Bit(std::strerror(errno))));
    }
    return std::exchange(pinned.fd, -1);
}

FileId WipeFolder::prepare(const QString& name, FileId listed) const
{
    Fd pinned;
    pinned.fd = pin(name, listed, true);
    return idOf(statOf(pinned.fd, pathOf(name)));
}

OverwriteFile WipeFolder::open(const QString& name, FileId chosen) const
{
    Fd pinned;
    pinned.fd = pin(name, chosen, false);
    const FileId id = idOf(statOf(pinned.fd, pathOf(name)));
    // A running program's file (ETXTBSY) may be let go of in a moment: tried
    // again for a while, then named.
    int fd = -1;
    for (int attempt = 0;; ++attempt) {
        fd = ::open(procPath(pinned.fd).constData(), O_RDWR | O_CLOEXEC);
        if (fd >= 0 || (errno != ETXTBSY && errno != EBUSY) || attempt == kBusyAttempts)
            break;
        runBlocking([] { sleepMs(kBusyRetryMs); });
    }
    if (fd < 0 && (errno == ETXTBSY || errno == EBUSY))
        throw refused(QStringLiteral("it is in use (a running program, or a file the system holds) and stayed so for "
                                     "%1 s")
                          .arg(kBusyAttempts * kBusyRetryMs / 1000.0));
    if (fd < 0)
        throw errorFromErrno(errno, pathOf(name), QStringLiteral("open"));
    return OverwriteFile(fd, *this, name, id);
}

void WipeFolder::coverNames(const QList<int>& nameLengths)
{
    JournalEntry journal(path_); // on this thread: its database connection is this thread's
    journal.namesMaking(path_);
    runBlocking([this, &nameLengths, &journal] {
        coverNamesOf(fd_, nameLengths, journal.mark());
        ::fsync(fd_);
    });
}

void WipeFolder::destroy(const QList<int>& nameLengths)
{
    JournalEntry journal(path_);
    journal.namesMaking(path_);
    runBlocking([this, &nameLengths, &journal] {
        const QString left = QStringLiteral("the folder was moved or replaced while it was wiped; it is left");
        const struct statx sx = statOf(fd_, path_);
        if (::fchmod(fd_, (sx.stx_mode & 07777) | S_IWUSR) != 0)
            throw errorFromErrno(errno, path_, QStringLiteral("make writable"));
        // A folder that still holds anything keeps its name: renamed, it
        // would only hide what is left under a meaningless one.
        Fd listing;
        listing.fd = ::openat(fd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (DIR* dir = listing.fd >= 0 ? ::fdopendir(listing.fd) : nullptr) {
            listing.fd = -1;
            bool empty = true;
            while (const dirent* e = ::readdir(dir))
                empty = empty && (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0);
            ::closedir(dir);
            if (!empty)
                throw errorFromErrno(ENOTEMPTY, path_, QStringLiteral("remove folder"));
        }
        coverNamesOf(fd_, nameLengths, journal.mark());
        // Its blocks are freed as it goes, and a freed block keeps what its
        // last write home left there: flushed now, they hold the folder as
        // it is, its wiped files' names cleared (ext4 clears a deleted
        // name), not as it was when the names were in it.
        ::syncfs(fd_);
        Fd parent;
        parent.fd = ::openat(fd_, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (parent.fd < 0)
            throw errorFromErrno(errno, path_, QStringLiteral("open the folder that holds it"));
        const QByteArray name = nameToBytes(path_.mid(path_.lastIndexOf(u'/') + 1));
        const QByteArray last = overwriteName(parent.fd, name, id_, path_, left);
        removeName(parent.fd, last, id_, AT_REMOVEDIR, path_, left);
    });
}

// --- the file ---

OverwriteFile::OverwriteFile(int fd, const WipeFolder& folder, const QString& name, FileId id)
    : fd_(fd), folder_(&folder), name_(name), path_(folder.pathOf(name)), id_(id)
{
}

OverwriteFile::OverwriteFile(OverwriteFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), folder_(other.folder_), name_(std::move(other.name_)),
      path_(std::move(other.path_)), id_(other.id_), direct_(other.direct_)
{
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

std::uint64_t OverwriteFile::unallocatedUpTo(std::uint64_t length) const
{
    struct stat st {};
    if (::fstat(fd_, &st) != 0)
        throw errorFromErrno(errno, path_, QStringLiteral("stat"));
    const auto allocated = static_cast<std::uint64_t>(st.st_blocks) * 512;
    return length > allocated ? length - allocated : 0;
}

std::uint64_t OverwriteFile::freeSpace() const
{
    struct statvfs sv {};
    if (::fstatvfs(fd_, &sv) != 0)
        throw errorFromErrno(errno, path_, QStringLiteral("free space"));
    return static_cast<std::uint64_t>(::geteuid() == 0 ? sv.f_bfree : sv.f_bavail) * sv.f_frsize;
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

namespace {

// A chunk of the pattern repeated: every chunk starts at a whole repeat.
// `size` bytes of `pattern` repeated from its start: one copy, then what is
// there copied after itself (a 4 KiB file's pass must not pay for 800 KiB).
void fillWithPattern(char* chunk, const QByteArray& pattern, std::size_t size = kChunk)
{
    const std::size_t first = std::min(size, static_cast<std::size_t>(pattern.size()));
    std::memcpy(chunk, pattern.constData(), first);
    for (std::size_t filled = first; filled < size;) {
        const std::size_t more = std::min(filled, size - filled);
        std::memcpy(chunk + filled, chunk, more);
        filled += more;
    }
}

} // namespace

OverwriteReach OverwriteFile::reach(bool compressingVolume) const
{
    OverwriteReach r;
    r.compressed = compressingVolume;
    struct statfs fs {};
    int flags = 0;
    const bool haveFlags = ::ioctl(fd_, FS_IOC_GETFLAGS, &flags) == 0;
    const bool typed = ::fstatfs(fd_, &fs) == 0;
    if (typed && fs.f_type == BTRFS_SUPER_MAGIC)
        r.copyOnWrite = !(haveFlags && (flags & FS_NOCOW_FL));
    // Measured: ext4 may give a changed value a new block, and ntfs-3g
    // empties a stream before it writes the new value, freeing the old
    // clusters. Nothing says another file system keeps the old place, so
    // only a file held in memory is spared the warning.
    r.attributesMove = !typed || (fs.f_type != TMPFS_MAGIC && fs.f_type != RAMFS_MAGIC);
    r.compressed = r.compressed || (haveFlags && (flags & FS_COMPR_FL));
    // ntfs-3g shows NTFS's file attributes as a 32-bit word.
    std::uint32_t attributes = 0;
    constexpr std::uint32_t kNtfsCompressed = 0x800;
    if (::fgetxattr(fd_, "system.ntfs_attrib", &attributes, sizeof attributes) == sizeof attributes &&
        (attributes & kNtfsCompressed))
        r.compressed = true;
    // Extents shared with another file, in batches of 256.
    constexpr unsigned kBatch = 256;
    std::vector<char> buffer(sizeof(fiemap) + kBatch * sizeof(fiemap_extent));
    auto* map = reinterpret_cast<fiemap*>(buffer.data());
    for (std::uint64_t start = 0, rounds = 0; rounds < 64; ++rounds) {
        std::fill(buffer.begin(), buffer.end(), 0);
        map->fm_start = start;
        map->fm_length = ~std::uint64_t{0} - start;
        map->fm_flags = FIEMAP_FLAG_SYNC;
        map->fm_extent_count = kBatch;
        if (::ioctl(fd_, FS_IOC_FIEMAP, map) != 0 || map->fm_mapped_extents == 0)
            break;
        bool last = false;
        for (unsigned i = 0; i < map->fm_mapped_extents; ++i) {
            const fiemap_extent& e = map->fm_extents[i];
            r.shared = r.shared || (e.fe_flags & FIEMAP_EXTENT_SHARED);
            last = last || (e.fe_flags & FIEMAP_EXTENT_LAST);
            start = e.fe_logical + e.fe_length;
        }
        if (last || r.shared)
            break;
    }
    return r;
}

int OverwriteFile::wipeAttributes(const QByteArray& pattern, QStringList& problems)
{
    const ssize_t size = ::flistxattr(fd_, nullptr, 0);
    if (size <= 0)
        return 0;
    std::vector<char> names(static_cast<std::size_t>(size));
    const ssize_t got = ::flistxattr(fd_, names.data(), names.size());
    int wiped = 0;
    for (ssize_t at = 0; at < got; at += ssize_t(std::strlen(names.data() + at)) + 1) {
        const char* name = names.data() + at;
        const bool mayWrite = std::strncmp(name, "user.", 5) == 0 ||
                              (::geteuid() == 0 && (std::strncmp(name, "trusted.", 8) == 0 ||
                                                    std::strncmp(name, "security.", 9) == 0));
        if (!mayWrite)
            continue; // system.*: the file system's own (ACLs, NTFS attributes), not data
        const ssize_t length = ::fgetxattr(fd_, name, nullptr, 0);
        if (length < 0)
            continue;
        QByteArray value(length, '\0');
        for (qsizetype i = 0; i < value.size(); ++i)
            value[i] = pattern[i % pattern.size()];
        QByteArray back(length, '\0');
        const bool overwritten = ::fsetxattr(fd_, name, value.constData(), value.size(), XATTR_REPLACE) == 0 &&
                                 ::fsync(fd_) == 0 &&
                                 ::fgetxattr(fd_, name, back.data(), back.size()) == length && back == value;
        if (overwritten && ::fremovexattr(fd_, name) == 0)
            ++wiped;
        else
            problems << QStringLiteral("%1 (%2)").arg(QString::fromUtf8(name), QString::fromLocal8Bit(std::strerror(errno)));
    }
    return wiped;
}

namespace {
std::function<void(OverwriteEvent, const QString&)>& overwriteObserver()
{
    static std::function<void(OverwriteEvent, const QString&)> observer;
    return observer;
}
void tell(OverwriteEvent event, const QString& path)
{
    if (overwriteObserver())
        overwriteObserver()(event, path);
}

// File systems whose flush of the whole (syncfs) does not reach the device:
// the kernel sends a FUSE server no sync, so its files are flushed one by one.
constexpr unsigned long kNoWholeFlush[] = {0x65735546 /* FUSE */};

bool flushesWhole(int fd)
{
    struct statfs fs {};
    return ::fstatfs(fd, &fs) == 0 &&
           std::find(std::begin(kNoWholeFlush), std::end(kNoWholeFlush), static_cast<unsigned long>(fs.f_type)) ==
               std::end(kNoWholeFlush);
}
} // namespace

void setOverwriteObserver(std::function<void(OverwriteEvent, const QString&)> observer)
{
    overwriteObserver() = std::move(observer);
}

void OverwriteFile::writePattern(const QByteArray& pattern, std::uint64_t length,
                                 const std::function<void(std::uint64_t)>& progress, const StreamMix& mix)
{
    if (pattern.isEmpty() || length == 0)
        return;
    // Buffers only as large as the longest piece: a small file's pass
    // neither allocates nor fills a whole chunk.
    const std::size_t span = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, length));
    AlignedBuffer plain = alignedBuffer(span);
    // Mixed, each chunk is the pattern with the stream's next bytes: two
    // buffers, so that the next is mixed while the worker writes the last.
    AlignedBuffer mixed[2];
    for (auto& buffer : mixed)
        if (mix)
            buffer = alignedBuffer(span);
    if (!plain || (mix && (!mixed[0] || !mixed[1])))
        throw RunTimeError(ErrOutOfMemory, path_);
    fillWithPattern(plain.get(), pattern, span);
    const auto pieceAt = [&](std::uint64_t done) {
        return static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, length - done));
    };
    // Unmixed, every chunk is the same.
    const auto prepare = [&](int slot, std::size_t piece) -> const char* {
        if (!mix)
            return plain.get();
        std::memcpy(mixed[slot].get(), plain.get(), piece);
        mix(mixed[slot].get(), piece);
        return mixed[slot].get();
    };

    bool directWorks = true;
    int slot = 0;
    const char* chunk = prepare(slot, pieceAt(0));
    for (std::uint64_t done = 0; done < length;) {
        const std::size_t piece = pieceAt(done);
        // Each chunk is one blocking call off the UI thread; the progress
        // is shown between them.
        PendingCall write([this, chunk, piece, done, &directWorks] {
            // Whole device blocks go direct; the rest of the last piece
            // through the page cache, which the sync below flushes.
            const std::size_t whole = piece / kDirectAlign * kDirectAlign;
            if (whole > 0 && directWorks) {
                directWorks = setDirect(true);
                writeAt(chunk, whole, done);
            } else if (whole > 0) {
                writeAt(chunk, whole, done);
            }
            if (piece > whole) {
                setDirect(false);
                writeAt(chunk + whole, piece - whole, done + whole);
            }
        });
        const std::uint64_t next = done + piece;
        const char* following = next < length ? prepare(slot ^ 1, pieceAt(next)) : nullptr;
        write.wait();
        done = next;
        chunk = following;
        slot ^= 1;
        if (progress)
            progress(done);
    }
    tell(OverwriteEvent::Written, path_);
}

void OverwriteFile::sync()
{
    runBlocking([this] {
        if (::fdatasync(fd_) != 0)
            throw errorFromErrno(errno, path_, QStringLiteral("flush"));
    });
    tell(OverwriteEvent::Flushed, path_);
}

std::vector<std::optional<RunTimeError>> OverwriteFile::syncTogether(const std::vector<OverwriteFile*>& files)
{
    std::vector<std::optional<RunTimeError>> errors(files.size());
    if (files.empty())
        return errors;
    runBlocking([&] {
        // A failed flush of the whole may be another file's: each file's own
        // flush then says whether its writes reached the disk.
        if (files.size() > 1 && flushesWhole(files[0]->fd_) && ::syncfs(files[0]->fd_) == 0)
            return;
        for (std::size_t i = 0; i < files.size(); ++i)
            if (::fdatasync(files[i]->fd_) != 0)
                errors[i] = errorFromErrno(errno, files[i]->path_, QStringLiteral("flush"));
    });
    for (std::size_t i = 0; i < files.size(); ++i)
        if (!errors[i])
            tell(OverwriteEvent::Flushed, files[i]->path_);
    return errors;
}

ReadBack OverwriteFile::readBack(const QByteArray& pattern, std::uint64_t length, const StreamMix& mix) const
{
    WrittenContent written;
    if (!pattern.isEmpty())
        written.add(pattern, (length + static_cast<std::uint64_t>(pattern.size()) - 1) / static_cast<std::uint64_t>(pattern.size()));
    written.truncate(length);
    if (!mix || pattern.isEmpty())
        return platform::readBack(fd_, path_, written, kChunk);
    // The chunks come in order from byte 0, as the pass wrote them: the
    // stream, mixed into the pattern again, gives what must be there.
    // Every chunk starts at a whole repeat of the pattern: one copy of it
    // serves them all.
    AlignedBuffer plain = alignedBuffer(kChunk);
    AlignedBuffer expected = alignedBuffer(kChunk);
    if (!plain || !expected)
        return {Verification::Failed, readableName(name_) + QStringLiteral(": no memory for the read-back")};
    fillWithPattern(plain.get(), pattern);
    return platform::readBack(fd_, path_, written.size(), [&](std::uint64_t offset, const char* data, std::size_t size) {
        std::memcpy(expected.get(), plain.get(), size);
        mix(expected.get(), size);
        for (std::size_t i = 0; i < size; ++i)
            if (data[i] != expected.get()[i])
                return static_cast<std::int64_t>(offset + i);
        return std::int64_t{-1};
    }, kChunk);
}

void OverwriteFile::destroy()
{
    // Emptying, the renames with their folder flushes and the delete are one
    // blocking call.
    runBlocking([this] {
        if (::ftruncate(fd_, 0) != 0)
            throw errorFromErrno(errno, path_, QStringLiteral("empty"));
        if (::fsync(fd_) != 0)
            throw errorFromErrno(errno, path_, QStringLiteral("flush"));
        struct stat st {};
        if (::fstat(fd_, &st) != 0)
            throw errorFromErrno(errno, path_, QStringLiteral("stat"));
        if (st.st_nlink == 0)
            return; // renamed over or deleted by another program: no name left, gone once closed
        const QString left =
            QStringLiteral("it was overwritten and emptied, but its name no longer names it (renamed or replaced "
                           "by another program); it was not deleted");
        const QByteArray last = overwriteName(folder_->fd_, nameToBytes(name_), id_, path_, left);
        removeName(folder_->fd_, last, id_, 0, path_, left);
    });
}

} // namespace platform
