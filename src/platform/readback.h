#pragma once
// Reading a written file back from the device, to prove that what a wipe
// wrote is what the disk holds. A write that returned, even one flushed with
// fsync, only says the kernel took the data; a read from the page cache
// would only echo the same memory. So the read goes past the cache: direct
// (O_DIRECT) where the file system takes it, otherwise after the file is
// flushed and its cached pages dropped (posix_fadvise DONTNEED), which makes
// the next read fetch it from the file system below.
//
// The writer describes what it wrote as runs of a repeated unit (records of
// the fill, the pattern of an overwrite), so the comparison needs no copy of
// the data, and memory stays at three read buffers of the chunk size
// whatever the file's size (two reads in flight, one chunk compared).
#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

namespace platform {

// What a file was written with, from its first byte: runs of a repeated unit.
class WrittenContent {
public:
    // Adds `count` repeats of `unit`; a run of the same unit grows.
    void add(const QByteArray& unit, std::uint64_t count);
    // Keeps only the first `bytes` (what a failed write left on the disk).
    void truncate(std::uint64_t bytes);
    std::uint64_t size() const { return size_; }
    // The first byte from `offset` on where `data` differs from the
    // content; -1 when the `size` bytes agree (or run past the content).
    std::int64_t firstDifference(std::uint64_t offset, const char* data, std::size_t size) const;

private:
    struct Run {
        QByteArray unit;
        std::uint64_t count;
    };
    std::vector<Run> runs_;
    std::uint64_t size_ = 0;
};

enum class Verification { NotRun, Passed, Failed };

struct ReadBack {
    Verification result = Verification::NotRun;
    QString problem; // for a failure: where and how, naming the file
};

// Reads bytes 0 to expected.size() - 1 of the file back, `chunk` bytes at a
// time (a multiple of 4096), and compares them with `expected`. A file that
// is shorter, a byte that differs and a read error all fail; never throws.
ReadBack readBack(const QString& nativePath, const WrittenContent& expected, std::size_t chunk);
// The same through a descriptor the caller holds open for reading (the file
// a wipe opened once); `nativePath` only names it in a failure.
ReadBack readBack(int fd, const QString& nativePath, const WrittenContent& expected, std::size_t chunk);
// The same for content that runs of a unit cannot describe (data mixed with
// a keyed stream): `firstDifference` gets each chunk read, in order from byte
// 0, and says where it differs (-1 when it does not).
using ContentCheck = std::function<std::int64_t(std::uint64_t offset, const char* data, std::size_t size)>;
ReadBack readBack(int fd, const QString& nativePath, std::uint64_t size, const ContentCheck& firstDifference,
                  std::size_t chunk);

} // namespace platform
