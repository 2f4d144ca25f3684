#pragma once
// A fill file: written in large direct writes of whole blocks where the
// file system accepts them, through the page cache otherwise, and always
// flushed to stable storage before it is closed. A wipe whose data may
// still sit in the page cache has not happened.
//
// Every write, flush and close runs as one blocking call off the UI thread
// (platform/blocking.h), so the window goes on while the disk works; on a
// file system in memory they run inline, having no device to wait for. The
// end-of-program cleanup may abandon the file while one of its calls waits
// further down the stack: the abandon waits for that call, and whatever the
// waiting code asks of the file afterwards fails with 91.
#include "platform/readback.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace platform {

class FillFile {
public:
    // Creates the file; never opens or truncates one that exists (75). A
    // `mark` goes on it at once (see markFill).
    static std::unique_ptr<FillFile> createExclusive(const QString& nativePath, const QByteArray& mark = {});
    ~FillFile();
    FillFile(const FillFile&) = delete;
    FillFile& operator=(const FillFile&) = delete;

    // Adds data to the stage, which is written when it is full. Throws
    // RunTimeError (61 for a full drive; isFileSizeLimit() for a per-file
    // limit).
    void append(const char* data, std::size_t size);
    // Writes what is staged: in direct mode every whole block (the remainder
    // stays staged), otherwise all of it.
    void commit();
    // Writes all that is staged and sends every later commit through the
    // page cache in full, so each one shows in the drive's free space at
    // once.
    void endDirect();
    // Writes what is left, flushes to stable storage and closes. Throws on
    // failure; the file is closed either way.
    void close();
    // Drops what is staged, flushes what was written and closes, quietly
    // (after a failed write, or when the program ends).
    void abandon();
    // Bytes the file system took: the file's first bytes of what was
    // appended (less than that after a failed write).
    std::uint64_t written() const { return written_; }

    // Reads a closed fill file back past the page cache, in the chunks it
    // was written in, and compares it with what was appended.
    static ReadBack readBack(const QString& nativePath, const WrittenContent& expected);

private:
    FillFile(int fd, QString path);
    // The blocking parts, run off the UI thread.
    void offUiThread(const std::function<void()>& step);
    void writeAll(const char* data, std::size_t size);
    void writeStaged();
    void finishDirect();
    void closeNow();
    void abandonNow();
    void setDirect(bool on);

    int fd_ = -1;
    QString path_;
    bool direct_ = false;
    bool inMemory_ = false;
    std::size_t align_ = 4096;
    char* stage_ = nullptr;
    std::size_t staged_ = 0;
    std::uint64_t written_ = 0;
};

// Removes a file (not following links), off the UI thread; throws
// RunTimeError.
void removeFile(const QString& nativePath);
// A small file written in one go and closed without a flush of its own:
// thousands of them are flushed together by syncVolume. `attribute`, when
// given, goes into an extended attribute (user.tmptxt), which file systems
// keep beside the name in their records. Never opens a file that exists
// (75); throws RunTimeError (61 when the file system refuses the data or the
// attribute, and then the file is gone again).
void writeSmallFile(const QString& nativePath, const QByteArray& data, const QByteArray& attribute = {});
// Creates a folder that does not exist yet (75 when it does), readable by
// its owner alone and marked with `mark` when given, and removes an empty
// one; both throw RunTimeError.
void makeFolder(const QString& nativePath, const QByteArray& mark = {});
// Sets the largest `user.tmptxt` attribute the folder's own record takes,
// up to 1 KiB (a larger one would go to a block of its own), and removes it
// again. False when none was taken (no room, or not the caller's folder).
bool fillFolderRecordOf(int folderFd);
// Makes as many names of the wipe's own (marked) as `nameLengths` has, as
// long, has the folder's record take the largest attribute it has room for,
// and deletes them: after a file or folder wipe, the room past the last
// entry of its index and record (which NTFS keeps as it was) then holds
// those, not the wiped files' names.
void coverNamesOf(int folderFd, const QList<int>& nameLengths, const QByteArray& mark);
// Fills the folder's index with names of the wipe's own (tmptxtn...,
// marked with `mark`), has its record take the largest attribute it has room
// for, and deletes them again: NTFS keeps a folder's old entries in the
// room past its last one and in blocks no longer used, which the names then
// hold instead. 63-character names until one is refused (on a full drive a
// split that needs a new block finds no cluster, so the index never grows)
// or the folder's size changes (an entry went into the index root in its
// record, which a longer one would push into a record of its own); then
// short names just before each long one until its block refuses another (a
// block is written only as far as its entries reach). `goOn` is asked
// before each name. True when the index was filled whole.
bool coverIndexOf(int folderFd, const QByteArray& mark, const std::function<bool()>& goOn);
// The same for the folder at `nativeFolder` (not followed if a link).
bool coverIndex(const QString& nativeFolder, const QByteArray& mark, const std::function<bool()>& goOn);
// Every folder below `nativeRoot` on its volume, nearest first, reached by
// descriptor from the root without following a link or leaving the volume;
// the root's own tmptxt* (the fill's) are passed by. `visit` gets each
// folder open and its path, and ends the walk by returning false.
void forEachFolderBelow(const QString& nativeRoot, const std::function<bool(int fd, const QString& path)>& visit);
// Deletes the names coverIndexOf or coverNamesOf made in the folder and left
// behind (the run was killed): the files carrying `mark`. How many went.
int removeMarkedNames(const QString& nativeFolder, const QByteArray& mark);
void removeFolder(const QString& nativePath);
bool fileExists(const QString& nativePath);

// The mark of a wipe: an extended attribute (user.zarvexwipe) on each fill
// file and fill folder, holding the run's own random mark. A file system
// without a birth time (FUSE) hands a freed inode to the next file at once,
// so after a kill only the mark proves that a file named tmptxt1.txt is the
// fill's and not the user's own. ntfs-3g keeps it as a named stream. Where
// the file system takes no such attributes (FAT), nothing is marked.
QByteArray newFillMark();
bool carriesFillMark(const QString& nativePath, const QByteArray& mark);
// Removes a fill folder and the files in it, when it carries `mark` (the
// folder is made readable and writable by its owner alone, so all in it is
// the fill's). false when it does not, or something stays.
bool removeMarkedFolder(const QString& nativePath, const QByteArray& mark);

// Fill files and folders of earlier wipes at a drive's root: tmptxt* that
// carry a wipe's mark (a user's own file of that name carries none). Each is
// named with its size in bytes.
struct Leftover {
    QString name;
    std::uint64_t bytes = 0;
};
std::vector<Leftover> fillLeftovers(const QString& nativeFolder);
// Deletes one of them (a folder with what is in it); throws RunTimeError.
void removeLeftover(const QString& nativeFolder, const Leftover& leftover);

} // namespace platform
