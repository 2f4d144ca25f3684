#pragma once
// The write loop both wipe writers share: direct where the file system takes
// it, through the page cache where it does not.
#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace platform {

struct FreeDeleter {
    void operator()(char* p) const { std::free(p); }
};
using AlignedBuffer = std::unique_ptr<char, FreeDeleter>;
// At least `size` bytes on a 4 KiB boundary, as direct I/O wants them; null
// when there is no memory.
inline AlignedBuffer alignedBuffer(std::size_t size)
{
    constexpr std::size_t kAlign = 4096;
    return AlignedBuffer(static_cast<char*>(std::aligned_alloc(kAlign, (size + kAlign - 1) / kAlign * kAlign)));
}

// Sets or clears O_DIRECT on an open file; false when the file system
// refuses the flag (tmpfs, some FUSE drivers).
bool setDirectIo(int fd, bool on);

// Writes all of `data` at `offset`, or at the file position when `offset` is
// negative. A direct write that the file system took the flag for but
// refuses (EINVAL) is made again through the page cache, and `direct` is
// cleared for good. Adds what was written to `*written`. Throws RunTimeError
// (61 for a write that writes nothing).
void writeFully(int fd, const char* data, std::size_t size, std::int64_t offset, bool& direct, const QString& path,
                std::uint64_t* written = nullptr);

} // namespace platform
