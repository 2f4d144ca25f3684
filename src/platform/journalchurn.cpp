#include "platform/journalchurn.h"
#include "platform/blocking.h"
#include "platform/fillfile.h"

#include <QElapsedTimer>
#include <QFile>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

constexpr long kExt4Magic = 0xEF53;
constexpr int kBatch = 128;

// mke2fs's default journal size for a file system of `blocks` blocks: the
// journal's own size is in the superblock, which only root may read.
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

} // namespace

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
        const std::uint64_t target = defaultJournalBlocks(static_cast<std::uint64_t>(fs.f_blocks)) * 5 / 4;
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
            logged += static_cast<std::uint64_t>(made) * 2; // each block logged as made and as freed
        }
        churn.complete = logged >= target;
        ::close(dir);
        ::rmdir(templ.constData());
        return churn;
    });
}

} // namespace platform
