#include "platform/fillfile.h"
#include "platform/blocking.h"
#include "platform/directio.h"
#include "platform/errors.h"
#include "platform/fd.h"
#include "platform/names.h"

#include <QFile>
#include <QRandomGenerator>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <linux/openat2.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace platform {

// Large enough for a whole batch of records, so a batch goes to the disk in
// one write.
static constexpr std::size_t kStageSize = 8u << 20;
// The stage sits on huge-page boundaries (a multiple of any block size the
// constructor accepts) so that the kernel can back it with huge pages: in
// 4 KiB pages its first filling costs some 2,000 page faults per fill file,
// as much time as writing tens of MB on a fast volume.
static constexpr std::size_t kStageAlign = 2u << 20;

FillFile::FillFile(int fd, QString path) : fd_(fd), path_(std::move(path))
{
    struct stat st {};
    if (::fstat(fd_, &st) == 0 && st.st_blksize > 4096 && st.st_blksize <= (1 << 20) &&
        (st.st_blksize & (st.st_blksize - 1)) == 0)
        align_ = static_cast<std::size_t>(st.st_blksize);
    struct statfs fs {};
    inMemory_ = ::fstatfs(fd_, &fs) == 0 && (fs.f_type == TMPFS_MAGIC || fs.f_type == RAMFS_MAGIC);
    stage_ = static_cast<char*>(std::aligned_alloc(kStageAlign, kStageSize));
    if (!stage_)
        throw RunTimeError(ErrOutOfMemory, path_);
    ::madvise(stage_, kStageSize, MADV_HUGEPAGE); // advice only: small pages otherwise
    setDirect(true);
}

namespace {

constexpr const char* kMarkAttribute = "user.zarvexwipe";

void markFill(int fd, const QByteArray& mark)
{
    if (!mark.isEmpty()) // where the file system takes none, the birth time still proves it
        ::fsetxattr(fd, kMarkAttribute, mark.constData(), static_cast<std::size_t>(mark.size()), 0);
}

QByteArray markOf(const QString& nativePath)
{
    char value[128];
    const ssize_t n = ::lgetxattr(QFile::encodeName(nativePath).constData(), kMarkAttribute, value, sizeof value);
    return n > 0 ? QByteArray(value, n) : QByteArray();
}

} // namespace

QByteArray newFillMark()
{
    QByteArray bytes(16, '\0');
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(bytes.data()), 4);
    return bytes.toHex();
}

bool carriesFillMark(const QString& nativePath, const QByteArray& mark)
{
    return !mark.isEmpty() && markOf(nativePath) == mark;
}

bool removeMarkedFolder(const QString& nativePath, const QByteArray& mark)
{
    if (!carriesFillMark(nativePath, mark))
        return false;
    if (DIR* dir = ::opendir(QFile::encodeName(nativePath).constData())) {
        while (const dirent* e = ::readdir(dir))
            if (e->d_name[0] != '.' || (e->d_name[1] != '\0' && (e->d_name[1] != '.' || e->d_name[2] != '\0')))
                ::unlinkat(::dirfd(dir), e->d_name, 0);
        ::closedir(dir);
    }
    return ::rmdir(QFile::encodeName(nativePath).constData()) == 0;
}

std::vector<Leftover> fillLeftovers(const QString& nativeFolder)
{
    std::vector<Leftover> found;
    DIR* dir = ::opendir(QFile::encodeName(nativeFolder).constData());
    if (!dir)
        return found;
    while (const dirent* e = ::readdir(dir)) {
        const QString name = QFile::decodeName(e->d_name);
        const QString path = nativeFolder + u'/' + name;
        if (!name.startsWith(QStringLiteral("tmptxt")) || markOf(path).isEmpty())
            continue;
        struct stat st {};
        if (::lstat(QFile::encodeName(path).constData(), &st) != 0 || !(S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)))
            continue;
        Leftover l{name, static_cast<std::uint64_t>(st.st_blocks) * 512};
        if (S_ISDIR(st.st_mode))
            if (DIR* inside = ::opendir(QFile::encodeName(path).constData())) {
                while (const dirent* f = ::readdir(inside)) {
                    struct stat fs {};
                    if (::fstatat(::dirfd(inside), f->d_name, &fs, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(fs.st_mode))
                        l.bytes += static_cast<std::uint64_t>(fs.st_blocks) * 512;
                }
                ::closedir(inside);
            }
        found.push_back(l);
    }
    ::closedir(dir);
    std::sort(found.begin(), found.end(), [](const Leftover& a, const Leftover& b) { return a.name < b.name; });
    return found;
}

void removeLeftover(const QString& nativeFolder, const Leftover& leftover)
{
    const QString path = nativeFolder + u'/' + leftover.name;
    const QByteArray mark = markOf(path);
    runBlocking([&] {
        struct stat st {};
        if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
            throw errorFromErrno(errno, path, QStringLiteral("examine"));
        const bool gone = S_ISDIR(st.st_mode) ? removeMarkedFolder(path, mark)
                                              : !mark.isEmpty() && ::unlink(QFile::encodeName(path).constData()) == 0;
        if (!gone)
            throw errorFromErrno(errno ? errno : EACCES, path, QStringLiteral("delete"));
    });
}

std::unique_ptr<FillFile> FillFile::createExclusive(const QString& nativePath, const QByteArray& mark)
{
    const int fd = ::open(QFile::encodeName(nativePath).constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        throw errorFromErrno(errno, nativePath, QStringLiteral("create"));
    markFill(fd, mark);
    try {
        return std::unique_ptr<FillFile>(new FillFile(fd, nativePath));
    } catch (...) {
        ::close(fd);
        throw;
    }
}

FillFile::~FillFile()
{
    if (fd_ >= 0)
        abandon();
    std::free(stage_);
}

void FillFile::setDirect(bool on)
{
    // File systems without direct I/O (tmpfs) refuse the flag: stay buffered.
    direct_ = setDirectIo(fd_, on) && on;
}

void FillFile::writeAll(const char* data, std::size_t size)
{
    writeFully(fd_, data, size, -1, direct_, path_, &written_);
}

// Writes the stage out: whole blocks in direct mode, all of it otherwise.
// What failed is not written again.
void FillFile::writeStaged()
{
    if (fd_ < 0)
        throw RunTimeError(ErrObjectNotSet, path_ + QStringLiteral(": the fill file was closed"));
    std::size_t n = direct_ ? staged_ - staged_ % align_ : staged_;
    try {
        writeAll(stage_, n);
        if (!direct_ && n < staged_) { // fell back while writing: the rest goes too
            writeAll(stage_ + n, staged_ - n);
            n = staged_;
        }
    } catch (...) {
        staged_ = 0;
        throw;
    }
    std::memmove(stage_, stage_ + n, staged_ - n);
    staged_ -= n;
}

void FillFile::append(const char* data, std::size_t size)
{
    while (size > 0) {
        const std::size_t take = std::min(size, kStageSize - staged_);
        std::memcpy(stage_ + staged_, data, take);
        staged_ += take;
        data += take;
        size -= take;
        if (staged_ == kStageSize)
            commit();
    }
}

// A file system in memory (tmpfs, ramfs) has no device to wait for: its
// writes cost the copy alone, which the hand-over to the worker would only
// slow down (the stage, written on one core, read on another).
void FillFile::offUiThread(const std::function<void()>& step)
{
    if (inMemory_)
        step();
    else
        runOffUiThread(step);
}

void FillFile::commit()
{
    offUiThread([this] { writeStaged(); });
}

void FillFile::finishDirect()
{
    writeStaged();
    if (direct_) {
        setDirect(false);
        writeStaged(); // the remainder, through the page cache
    }
}

void FillFile::endDirect()
{
    offUiThread([this] { finishDirect(); });
}

void FillFile::closeNow()
{
    if (fd_ < 0)
        return;
    try {
        finishDirect();
    } catch (...) {
        abandonNow();
        throw;
    }
    const int fd = fd_;
    fd_ = -1;
    if (::fsync(fd) != 0) {
        const int err = errno;
        ::close(fd);
        throw errorFromErrno(err, path_, QStringLiteral("fsync"));
    }
    if (::close(fd) != 0)
        throw errorFromErrno(errno, path_, QStringLiteral("close"));
}

void FillFile::close()
{
    offUiThread([this] { closeNow(); });
}

void FillFile::abandonNow()
{
    if (fd_ < 0)
        return;
    staged_ = 0;
    ::fsync(fd_);
    ::close(fd_);
    fd_ = -1;
}

ReadBack FillFile::readBack(const QString& nativePath, const WrittenContent& expected)
{
    // Larger requests than the writes: a device reads 64 MiB requests a
    // quarter faster than 8 MiB ones (measured with dd). Three buffers of it.
    constexpr std::size_t kReadChunk = 32u << 20;
    return platform::readBack(nativePath, expected, kReadChunk);
}

void FillFile::abandon()
{
    offUiThread([this] { abandonNow(); });
}

void removeFile(const QString& nativePath)
{
    runBlocking([&] {
        if (::unlink(QFile::encodeName(nativePath).constData()) != 0)
            throw errorFromErrno(errno, nativePath, QStringLiteral("delete"));
    });
}

void writeSmallFile(const QString& nativePath, const QByteArray& data, const QByteArray& attribute)
{
    const QByteArray path = QFile::encodeName(nativePath);
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        throw errorFromErrno(errno, nativePath, QStringLiteral("create"));
    const ssize_t n = data.isEmpty() ? 0 : ::write(fd, data.constData(), static_cast<std::size_t>(data.size()));
    int err = n < 0 ? errno : ENOSPC; // a short write is a full file system
    bool ok = n == data.size();
    if (ok && !attribute.isEmpty() &&
        ::fsetxattr(fd, "user.tmptxt", attribute.constData(), static_cast<std::size_t>(attribute.size()), 0) != 0) {
        // Whatever the reason (no room, no such attributes here), the
        // file system takes no more of them.
        err = ENOSPC;
        ok = false;
    }
    if (::close(fd) != 0 && ok)
        throw errorFromErrno(errno, nativePath, QStringLiteral("close"));
    if (!ok) {
        ::unlink(path.constData()); // nothing half-made stays behind
        throw errorFromErrno(err, nativePath, QStringLiteral("write"));
    }
}

void makeFolder(const QString& nativePath, const QByteArray& mark)
{
    if (::mkdir(QFile::encodeName(nativePath).constData(), 0700) != 0)
        throw errorFromErrno(errno, nativePath, QStringLiteral("create folder"));
    const int fd = ::open(QFile::encodeName(nativePath).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        markFill(fd, mark);
        ::close(fd);
    }
}

bool fillFolderRecordOf(int folderFd)
{
    constexpr const char* kName = "user.tmptxt";
    if (::fgetxattr(folderFd, kName, nullptr, 0) >= 0)
        return false; // not ours
    const std::vector<char> value(1024, 'x');
    // A value the record has no room for goes to a block of its own where
    // the volume has a free one (NTFS makes it non-resident, ext4 gives it
    // an attribute block): it is known by the free space it took, and a
    // smaller one is tried.
    auto freeBlocks = [folderFd] {
        struct statvfs sv {};
        return ::fstatvfs(folderFd, &sv) == 0 ? sv.f_bfree : 0;
    };
    const auto before = freeBlocks();
    for (std::size_t size = value.size(); size > 0; size -= 8) {
        const bool set = ::fsetxattr(folderFd, kName, value.data(), size, 0) == 0;
        const int err = errno;
        const bool inRecord = set && freeBlocks() >= before;
        // ntfs-3g may leave the attribute empty when it has no room for the
        // value.
        ::fremovexattr(folderFd, kName);
        if (inRecord)
            return true;
        if (!set && err != ENOSPC && err != E2BIG)
            return false;
    }
    return false;
}

namespace {

// The names the index cover makes: tmptxtn, a number, then `x` up to the
// length asked for; a letter added sorts just after the name and before the
// next one.
constexpr int kLongName = 63; // two such entries fit in the index's part of a record
constexpr int kMaxNames = 200000;
constexpr std::int64_t kIndexBlock = 4096; // NTFS's index blocks
constexpr char kNamePrefix[] = "tmptxtn";

// The names a folder holds, but "." and ".." (only its folders', when
// `foldersOnly`).
std::vector<QByteArray> namesIn(int folderFd, bool foldersOnly = false)
{
    std::vector<QByteArray> names;
    const int listing = ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (!dir) {
        if (listing >= 0)
            ::close(listing);
        return names;
    }
    while (const dirent* e = ::readdir(dir))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0 &&
            (!foldersOnly || e->d_type == DT_DIR))
            names.emplace_back(e->d_name);
    ::closedir(dir);
    return names;
}

// Creates the empty file `name` in the folder, never one that exists, and
// marks it: 0 when made, the errno otherwise.
int makeMarked(int folderFd, const QByteArray& name, const QByteArray& mark)
{
    const int fd = ::openat(folderFd, name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    markFill(fd, mark);
    ::close(fd);
    return 0;
}

QByteArray ownName(int number, int length)
{
    QByteArray name = kNamePrefix + QByteArray::number(number).rightJustified(7, '0');
    return name + QByteArray(std::max<qsizetype>(0, length - name.size()), 'x');
}

} // namespace

bool coverIndexOf(int folderFd, const QByteArray& mark, const std::function<bool()>& goOn)
{
    struct stat st {};
    if (::fstat(folderFd, &st) != 0)
        return false;
    std::vector<QByteArray> made;
    enum Made { Refused, Done, Failed }; // refused for want of room: the end of what the blocks take
    auto make = [&](const QByteArray& name) {
        const int err = makeMarked(folderFd, name, mark);
        if (err == 0)
            made.push_back(name);
        return err == 0 || err == EEXIST ? Done : err == ENOSPC ? Refused : Failed; // a name there already is passed by
    };
    auto unchanged = [&] {
        struct stat now {};
        return goOn() && ::fstat(folderFd, &now) == 0 && now.st_size == st.st_size;
    };
    Made last = Done;
    int longNames = 0;
    while (longNames < kMaxNames && unchanged() && (last = make(ownName(longNames, kLongName))) == Done)
        ++longNames;
    // Each block the index holds (its size over the block size) must have
    // taken a name of the wipe's at least: a refusal before that is the file
    // system refusing for a reason of its own, not the index full.
    const bool everyBlock = longNames >= st.st_size / kIndexBlock;
    bool whole = last != Failed && longNames < kMaxNames && everyBlock && unchanged();
    for (int n = 0; whole && n <= longNames; ++n) {
        for (char c = 'a'; c < 'x' && (last = make(ownName(n, 14) + c)) == Done;)
            ++c; // the block of name n is full when one is refused
        whole = last != Failed && unchanged();
    }
    whole = fillFolderRecordOf(folderFd) && whole;
    for (const QByteArray& name : made)
        ::unlinkat(folderFd, name.constData(), 0);
    // The folder's times stay the user's: nothing in it changed.
    const timespec times[2] = {st.st_atim, st.st_mtim};
    ::futimens(folderFd, times);
    return whole;
}

void coverNamesOf(int folderFd, const QList<int>& nameLengths, const QByteArray& mark)
{
    std::vector<QByteArray> made;
    int number = 0;
    for (const int length : nameLengths) {
        // A name the folder holds already is passed over, never touched.
        for (int tries = 0; tries < 100; ++tries, ++number) {
            const QByteArray name = ownName(number, std::clamp(length, 14, 255));
            const int err = makeMarked(folderFd, name, mark);
            if (err == 0) {
                made.push_back(name);
                ++number;
                break;
            }
            if (err != EEXIST)
                break;
        }
    }
    fillFolderRecordOf(folderFd);
    for (const QByteArray& name : made)
        ::unlinkat(folderFd, name.constData(), 0);
}

bool coverIndex(const QString& nativeFolder, const QByteArray& mark, const std::function<bool()>& goOn)
{
    const Fd folder(nativeFolder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    return folder.fd >= 0 && coverIndexOf(folder.fd, mark, goOn);
}

void forEachFolderBelow(const QString& nativeRoot, const std::function<bool(int fd, const QString& path)>& visit)
{
    const Fd root(nativeRoot, O_RDONLY | O_DIRECTORY);
    if (root.fd < 0)
        return;
    // Each folder is opened afresh from the root, beneath it, through no link
    // and on no other mount: a folder renamed or swapped meanwhile is missed,
    // never followed elsewhere.
    open_how how {};
    how.flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_XDEV | RESOLVE_NO_MAGICLINKS;
    std::deque<QByteArray> queue{"."};
    while (!queue.empty()) {
        const QByteArray relative = queue.front();
        queue.pop_front();
        Fd folder;
        folder.fd = static_cast<int>(::syscall(SYS_openat2, root.fd, relative.constData(), &how, sizeof how));
        if (folder.fd < 0)
            continue;
        const bool top = relative == ".";
        if (!top && !visit(folder.fd, nativeRoot + u'/' + nameFromBytes(relative.mid(2))))
            return;
        for (const QByteArray& name : namesIn(folder.fd, true))
            if (!top || !name.startsWith("tmptxt"))
                queue.push_back(relative + '/' + name);
    }
}

int removeMarkedNames(const QString& nativeFolder, const QByteArray& mark)
{
    const Fd folder(nativeFolder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    if (folder.fd < 0)
        return 0;
    const std::vector<QByteArray> names = namesIn(folder.fd);
    int removed = 0;
    for (const QByteArray& name : names) {
        Fd file;
        file.fd = ::openat(folder.fd, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        char value[128];
        const ssize_t n = file.fd >= 0 ? ::fgetxattr(file.fd, kMarkAttribute, value, sizeof value) : -1;
        struct stat held {}, named {};
        // Still the marked file under that name when it goes.
        const bool same = ::fstat(file.fd, &held) == 0 &&
                          ::fstatat(folder.fd, name.constData(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
                          held.st_dev == named.st_dev && held.st_ino == named.st_ino;
        if (!mark.isEmpty() && n > 0 && QByteArray(value, n) == mark && same &&
            ::unlinkat(folder.fd, name.constData(), 0) == 0)
            ++removed;
    }
    return removed;
}

void removeFolder(const QString& nativePath)
{
    if (::rmdir(QFile::encodeName(nativePath).constData()) != 0)
        throw errorFromErrno(errno, nativePath, QStringLiteral("remove folder"));
}

bool fileExists(const QString& nativePath)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(nativePath).constData(), &st) == 0;
}

} // namespace platform
