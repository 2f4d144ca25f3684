#pragma once
// Overwriting a chosen file in place, and destroying it with its name.
//
// A pass writes the pass's pattern over the file from its first byte, in
// chunks that hold whole repeats of the pattern, direct to the device where
// the file system takes it, and reaches stable storage (fsync) before the
// next pass: passes left in the page cache would merge into one write or
// none. Nothing of the old contents is read, so memory stays flat whatever
// the file's size. Only a regular file reached without a symbolic link is
// opened; anything else is refused (75), so a wipe never writes outside the
// chosen folder or into a device.
//
// The writes (chunk by chunk), flushes, truncation and the destroying of a
// file or folder run off the UI thread (platform/blocking.h): the window goes
// on while the disk works.
#include "platform/readback.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>

namespace platform {

class OverwriteFile {
public:
    // Opens for writing without truncating; throws RunTimeError (53, 76,
    // 75 for a link, device, pipe, socket or folder).
    explicit OverwriteFile(const QString& nativePath);
    ~OverwriteFile();
    OverwriteFile(const OverwriteFile&) = delete;
    OverwriteFile& operator=(const OverwriteFile&) = delete;

    // The file's length now.
    std::uint64_t size() const;
    // Writes `pattern` repeated over bytes 0 to `length` - 1. `progress`
    // gets the bytes written so far after every chunk.
    void writePattern(const QByteArray& pattern, std::uint64_t length,
                      const std::function<void(std::uint64_t)>& progress = {});
    // Flushes what was written to stable storage.
    void sync();
    // Cuts the file to length 0.
    void truncateToZero();
    // Flushes and closes; throws on failure, closed either way.
    void close();

    // Reads bytes 0 to `length` - 1 of a closed file back past the page
    // cache, in the chunks a pass writes, and compares them with `pattern`
    // repeated.
    static ReadBack readBack(const QString& nativePath, const QByteArray& pattern, std::uint64_t length);

private:
    void writeAt(const char* data, std::size_t size, std::uint64_t offset);
    bool setDirect(bool on);
    int fd_ = -1;
    QString path_;
    bool direct_ = false;
};

// Other names the file's data has (hard links): 0 when it cannot be told.
unsigned extraLinks(const QString& nativePath);

// Cuts a file to length 0 (flushed), renames it in its folder to a name of
// the same length made of one repeated character (flushed), then to ever
// shorter ones, so that the old name is overwritten where the file system
// rewrites an entry in place; then deletes it and flushes the folder. Throws
// RunTimeError.
void destroyFile(const QString& nativePath);

// Renames an emptied folder the same way, then removes it (75 when it is not
// empty). Throws RunTimeError.
void destroyFolder(const QString& nativePath);

} // namespace platform
