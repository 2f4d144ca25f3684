#include "platform/journalchurn.h"
#include "platform/blocking.h"
#include "platform/fillfile.h"

#include <QElapsedTimer>
#include <QFile>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <sys/sysmacros.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

constexpr long kExt4Magic = 0xEF53;
constexpr int kBatch = 128;

// mke2fs's default journal size for a file system of `blocks` blocks, for a
// caller that may not read the superblock.
std::uint64_t defaultJournalBlocks(std::uint64_t blocks)
{
    const struct {
        std::uint64_t below, journal;
    } table[] = {{32768, 1024}, {256 * 1024, 4096}, {512 * 1024, 8192}, {4096 * 1024, 16384},
                 {8192 * 1024, 32768}, {16384 * 1024, 65536}, {32768 * 1024, 131072}};
    for (const auto& row : table)
        if (blocks < row.below)
            return row.journal;
    return 262144;
}

// The journal's size from the superblock's backup of the journal inode,
// where the caller may read the device (root); else nothing.
std::optional<std::uint64_t> journalBlocksOnDevice(const char* folder)
{
    struct stat st {};
    if (::stat(folder, &st) != 0)
        return std::nullopt;
    QFile uevent(QStringLiteral("/sys/dev/block/%1:%2/uevent").arg(major(st.st_dev)).arg(minor(st.st_dev)));
    if (!uevent.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray name;
    for (const QByteArray& line : uevent.readAll().split('\n'))
        if (line.startsWith("DEVNAME="))
            name = "/dev/" + line.mid(8);
    const int fd = name.isEmpty() ? -1 : ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    unsigned char sb[1024];
    struct stat dev {};
    const bool read = ::fstat(fd, &dev) == 0 && S_ISBLK(dev.st_mode) && dev.st_rdev == st.st_dev &&
                      ::pread(fd, sb, sizeof sb, 1024) == static_cast<ssize_t>(sizeof sb);
    ::close(fd);
    auto le32 = [&](int at) {
        return std::uint32_t(sb[at]) | std::uint32_t(sb[at + 1]) << 8 | std::uint32_t(sb[at + 2]) << 16 |
               std::uint32_t(sb[at + 3]) << 24;
    };
    constexpr int kMagic = 0x38, kLogBlockSize = 0x18, kCompat = 0x5C, kBackupType = 0xFD, kJournalBlocks = 0x10C;
    if (!read || (sb[kMagic] | sb[kMagic + 1] << 8) != kExt4Magic || !(le32(kCompat) & 0x4) || sb[kBackupType] != 1)
        return std::nullopt;
    const std::uint64_t bytes = std::uint64_t(le32(kJournalBlocks + 15 * 4)) << 32 | le32(kJournalBlocks + 16 * 4);
    return bytes / (1024u << le32(kLogBlockSize));
}

} // namespace

bool onExt4(const QString& folder)
{
    struct statfs fs {};
    return ::statfs(QFile::encodeName(folder).constData(), &fs) == 0 && fs.f_type == kExt4Magic;
}

JournalChurn churnJournal(const QString& folder, int limitMs)
{
    JournalChurn churn;
    struct statfs fs {};
    if (::statfs(QFile::encodeName(folder).constData(), &fs) != 0 || fs.f_type != kExt4Magic)
        return churn;
    return runBlocking([&] {
        QByteArray templ = QFile::encodeName(folder) + "/tmptxtj.XXXXXX";
        if (!::mkdtemp(templ.data()))
            return churn;
        const int dir = ::open(templ.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir < 0) {
            ::rmdir(templ.constData());
            return churn;
        }
        churn.ran = true;
        // An attribute that fills a block of its own (what fits beside the
        // block's header), distinct per file.
        const auto blockBytes = static_cast<std::size_t>(fs.f_bsize);
        std::vector<char> value(blockBytes > 256 ? blockBytes - 128 : 64, 'j');
        const std::uint64_t journal = journalBlocksOnDevice(QFile::encodeName(folder).constData())
                                          .value_or(defaultJournalBlocks(static_cast<std::uint64_t>(fs.f_blocks)));
        const std::uint64_t target = journal * 5 / 4;
        QElapsedTimer timer;
        timer.start();
        std::uint64_t logged = 0;
        for (std::uint64_t n = 0; logged < target && timer.elapsed() < limitMs;) {
            int made = 0;
            for (; made < kBatch; ++made, ++n) {
                const QByteArray name = QByteArray::number(made);
                const int fd = ::openat(dir, name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
                if (fd < 0)
                    break;
                std::memcpy(value.data(), &n, sizeof n);
                const bool ok = ::fsetxattr(fd, "user.j", value.data(), value.size(), 0) == 0;
                ::close(fd);
                if (!ok)
                    break;
            }
            ::syncfs(dir);
            for (int i = 0; i < made; ++i)
                ::unlinkat(dir, QByteArray::number(i).constData(), 0);
            ::syncfs(dir);
            if (made == 0)
                break; // no room for even one: the journal stays as it is
            logged += static_cast<std::uint64_t>(made); // each block is logged as made; freeing it logs no copy
        }
        churn.complete = logged >= target;
        ::close(dir);
        ::rmdir(templ.constData());
        return churn;
    });
}

} // namespace platform
