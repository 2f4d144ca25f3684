#pragma once
// Overwriting a chosen file in place, and destroying it with its name.
//
// Between two system calls a name can come to mean another file: a folder
// swapped for a link to another volume, another file renamed onto the chosen
// name, a mount made over it. So a wipe looks a name up once. The folder is
// opened once (`WipeFolder`), and each chosen file is opened once relative to
// it, without following a link, checked to be the very file that was listed
// (device and inode), on the folder's own mount (a file bind-mounted from
// elsewhere is another volume's data) and with no other name (a hard link
// shares its data with a file nobody chose). Every pass, the read-back and the
// truncation then go through that one descriptor; the renames and the delete
// go through the folder's descriptor, each only after the name is seen to
// still name the wiped file.
//
// A pass writes the pass's pattern over the file from its first byte, in
// chunks that hold whole repeats of the pattern, direct to the device where
// the file system takes it, and reaches stable storage (fsync) before the
// next pass: passes left in the page cache would merge into one write or
// none. Nothing of the old contents is read, so memory stays flat whatever
// the file's size.
//
// The writes (chunk by chunk), flushes, truncation and the destroying of a
// file or folder run off the UI thread (platform/blocking.h): the window goes
// on while the disk works.
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/readback.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace platform {

class WipeFolder;

// Whether overwriting a file in place reaches its data.
struct OverwriteReach {
    // Every write goes to new blocks (btrfs unless the file is NOCOW): the
    // old ones stay in the free space until it is wiped.
    bool copyOnWrite = false;
    // New data is stored compressed (a compressing mount, the file's own
    // compression flag, NTFS's compressed attribute): a repeating pattern
    // shrinks to nothing, so the passes must not compress.
    bool compressed = false;
    // Part of the data is shared with another file (a reflinked copy, a
    // snapshot): it stays there, whatever is done to this one.
    bool shared = false;
    // A changed extended attribute (an NTFS stream, through ntfs-3g) may go
    // to a new block and free the old one with the old value: measured on
    // ext4 and ntfs-3g, assumed wherever the file is not held in memory.
    bool attributesMove = false;
};

// Mixes a keyed stream into the next bytes of a pass, in order from byte 0;
// the same stream again gives the same bytes, for the read-back.
using StreamMix = std::function<void(char* data, std::size_t size)>;

// What the file wipe does to a file's contents, in order, with the file's
// path, for the tests of its rules (every pass reaches the disk before the
// next begins). Nobody listens unless a test does.
enum class OverwriteEvent { Written, Flushed };
void setOverwriteObserver(std::function<void(OverwriteEvent, const QString& path)> observer);

// A chosen file opened for its wipe: one read-write descriptor from the first
// pass to the deletion. Made by `WipeFolder::open`.
class OverwriteFile {
public:
    ~OverwriteFile();
    OverwriteFile(OverwriteFile&& other) noexcept;
    OverwriteFile(const OverwriteFile&) = delete;
    OverwriteFile& operator=(const OverwriteFile&) = delete;
    OverwriteFile& operator=(OverwriteFile&&) = delete;

    // The file's native path as it was chosen, for messages.
    const QString& path() const { return path_; }
    // The file's length now.
    std::uint64_t size() const;
    // Bytes of 0 to `length` - 1 that the file system has not given the file
    // yet (a sparse file's holes, what a pass adds past its end): what a pass
    // of that length takes from the free space.
    std::uint64_t unallocatedUpTo(std::uint64_t length) const;
    // The free space of the file's volume that this caller may take.
    std::uint64_t freeSpace() const;
    // What overwriting this file in place reaches; `compressingVolume`: its
    // volume compresses new data.
    OverwriteReach reach(bool compressingVolume) const;
    // Overwrites the value of each extended attribute the caller may write
    // (user.*, and trusted.* and security.* for root; ntfs-3g shows an NTFS
    // file's named streams as user.*) with `pattern` repeated to the same
    // length, flushes, checks that it reads back so, and removes it. Returns
    // how many; `problems` names those that could not be.
    int wipeAttributes(const QByteArray& pattern, QStringList& problems);
    // Writes `pattern` repeated over bytes 0 to `length` - 1, each chunk
    // mixed with `mix` when given. `progress` gets the bytes written so far
    // after every chunk.
    void writePattern(const QByteArray& pattern, std::uint64_t length,
                      const std::function<void(std::uint64_t)>& progress = {}, const StreamMix& mix = {});
    // Flushes what was written to stable storage (its data and what finds
    // it again: fdatasync, as shred does).
    void sync();
    // Flushes the writes of several files of one folder to stable storage,
    // as sync() does each, in one call where the file system's own flush
    // reaches the device (every kernel file system; not a FUSE one, such as
    // ntfs-3g, which the kernel does not ask to flush): one flush for a
    // batch of small files instead of one per file. Returns, by position, the
    // error of each file whose writes may not have reached it; a file
    // without one did.
    static std::vector<std::optional<RunTimeError>> syncTogether(const std::vector<OverwriteFile*>& files);
    // Reads bytes 0 to `length` - 1 back past the page cache, in the chunks
    // a pass writes, and compares them with `pattern` repeated (mixed with
    // `mix`, a fresh copy of the stream the pass used, when given).
    ReadBack readBack(const QByteArray& pattern, std::uint64_t length, const StreamMix& mix = {}) const;
    // Cuts the file to length 0 (flushed), renames it in its folder to a name
    // of the same length made of one repeated character (flushed), then to
    // ever shorter ones, so that the old name is overwritten where the file
    // system rewrites an entry in place; then deletes it and flushes the
    // folder. A file that has lost every name meanwhile is only emptied: it
    // is gone when closed. Throws RunTimeError; 70 (refused) when the name has
    // come to name another file, which is left alone (this file then stays
    // emptied under no name the wipe may touch).
    void destroy();

private:
    friend class WipeFolder;
    OverwriteFile(int fd, const WipeFolder& folder, const QString& name, FileId id);
    void writeAt(const char* data, std::size_t size, std::uint64_t offset);
    bool setDirect(bool on);
    int fd_ = -1;
    const WipeFolder* folder_ = nullptr;
    QString name_;
    QString path_;
    FileId id_;
    bool direct_ = false;
};

// The folder a wipe works in, opened once: whatever its path comes to lead
// to later (a link to another volume swapped in for it), every file of the
// wipe is found, written, renamed and deleted through this descriptor.
class WipeFolder {
public:
    // Opens the folder, not through a link as its last step. Throws
    // RunTimeError: 76 when it is gone, 75 when it is a link or no folder.
    explicit WipeFolder(const QString& nativeFolder);
    ~WipeFolder();
    WipeFolder(const WipeFolder&) = delete;
    WipeFolder& operator=(const WipeFolder&) = delete;

    const QString& path() const { return path_; }
    QString pathOf(const QString& name) const { return path_ + u'/' + name; }
    // The volume stores new data compressed (a compressing mount, a
    // compressed top folder).
    bool compressing() const { return compressing_; }

    // Makes the chosen file readable and writable for its owner (the
    // attributes "normal", and readable for the read-back) and returns its
    // identity. `listed`, when known, is the identity the list showed. Throws
    // RunTimeError: 53 when the name is gone; 70 (refused, with the reason)
    // when the name now names another file, no regular file, a file of
    // another mount, one with other names (hard links), an immutable or
    // append-only one, or one whose mode cannot be changed.
    FileId prepare(const QString& name, FileId listed) const;
    // Opens the chosen file for its wipe, after the same checks. Throws as
    // `prepare`, and the open's own error.
    OverwriteFile open(const QString& name, FileId chosen) const;
    // Removes the folder itself once it is empty, its name overwritten as a
    // file's is, through the folder that holds it now and only while its
    // name there still names it. Before it goes, names of the wipe's own of
    // `nameLengths` (the wiped files') are made in it and deleted, and its
    // record takes the largest attribute it has room for: its index and its
    // record are freed holding those, not the wiped files' names (NTFS keeps
    // both past their last entry). Throws RunTimeError (75 when it is not
    // empty, 70 when it was moved or replaced).
    void destroy(const QList<int>& nameLengths = {});
    // The same for a folder that stays (files chosen from it): names of the
    // wipe's own of `nameLengths` made in it and deleted, its record given
    // the largest attribute meanwhile, the folder flushed.
    void coverNames(const QList<int>& nameLengths);

private:
    friend class OverwriteFile;
    int pin(const QString& name, FileId chosen, bool forWriting) const;
    int fd_ = -1;
    QString path_;
    FileId id_;
    std::uint64_t mountId_ = 0;
    bool compressing_ = false;
};

} // namespace platform
