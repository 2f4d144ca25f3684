#pragma once
// The record fill: what a data fill cannot reach on file systems that keep
// small files and names in records of their own. btrfs stores a file of up
// to max_inline bytes, and every name, in its metadata trees; NTFS stores a
// file of up to about 700 bytes, and every name, in a record of its master
// file table. Deleting such a file frees its record, not a data cluster, so
// no fill file ever lands there. While the data fill holds every free
// cluster, small files made of the pass's pattern take the freed records
// until the file system refuses another; they are deleted with the pass's
// fill files.
//
// btrfs reserves a data block for every write before it knows the data will
// go inline, so a full drive refuses even a one-byte file: there the files
// are empty and carry the pattern in the longest names (each stored three
// times) and in an extended attribute of 8,000 bytes, which lives in the
// metadata beside them. Files that large in metadata keep the count (and the
// time it takes to delete them) low: some 2,500 fill a 110 MiB volume's
// 32 MiB of metadata.
//
// NTFS keeps a folder's index blocks when their entries go: a block no
// longer used, and the room past the last entry of one in use, hold the
// deleted names, where no fill reaches. While the drive is full, names made
// in the root take the free blocks one by one (a split takes the lowest free
// block and writes it afresh, and a block splits only when full); the split
// that would need a new block is refused for want of a cluster, which ends
// it without the folder growing. The root's own record keeps names past its
// end too: the largest attribute it still takes is written and removed.
// Measured on a 256 MiB volume: 591 copies of deleted names in 20 index
// blocks and the record, 0 after. A block in use that holds only names
// sorting before the wipe's own ("$MFT" ... ".") takes none of them: past
// its last entry, what it held before stays. A Complete Wipe does the same
// in every other folder of the drive, nearest the root first, bounded in
// time.
//
// NTFS would grow its table for new records once the free ones are taken,
// and never shrink it again: the count stays within the free records the
// table already holds. Its folder index needs clusters of its own, so room
// for the names is made before the data fill takes the last cluster.
#include "engine/filldata.h"
#include "engine/filltarget.h"
#include "platform/clock.h"
#include "platform/shutdown.h"

#include <QStringList>
#include <optional>

namespace engine {

// How the record fill treats one kind of file system; kinds without a row
// (ext4, tmpfs, FAT) keep names and data where the data fill reaches them or
// nowhere at all, and are skipped.
struct RecordPolicy {
    const char* fsType;
    int fileBytes;          // data per file
    int attributeBytes;     // pattern in an extended attribute per file
    int nameLength;         // characters per name
    bool makeIndexRoom;     // names go into a folder index that needs clusters
    bool boundByTable;      // stop at the table's free records (it must not grow)
    bool keepsMetadataRoom; // its free space counts room only its records may use
    bool coversRootIndex;   // a folder's index keeps blocks with deleted names
};
const RecordPolicy* recordPolicy(const QString& fsType);

// Per pass, at most this many files, for at most this long: a large btrfs
// volume has room for millions.
inline constexpr int kMaxRecordFiles = 200000;
inline constexpr int kMaxRecordSeconds = 60;
// Covering the index of every folder (a Complete Wipe), at most this long.
inline constexpr int kMaxFolderSeconds = 180;

class RecordFill {
public:
    RecordFill(FillTarget& target, QString drive, const platform::FileSystemTraits& facts, platform::Clock& clock,
               QStringList& leftBehind);
    ~RecordFill(); // deletes what is left, quietly

    // Before the data fill: the folder for the files, and on NTFS room in
    // its index (names made and deleted again).
    void prepare();
    // After the data fill: files until the file system refuses one, the
    // table has no free record left, or the bound is reached; then flushed.
    void fill(const FillBuffers& pattern);
    // While the drive is full: the root folder's index and record written
    // over (NTFS), so that no deleted name stays in them: whether that was
    // done whole; nothing where the file system keeps no such index.
    std::optional<bool> coverRootIndex();
    // The same for every folder below the root, nearest first, for at most
    // kMaxFolderSeconds and while `goOn(folders covered so far)` says so
    // (the window's stop): what it reached; nothing where the file system
    // keeps no such index.
    std::optional<FolderCover> coverEveryFolder(const std::function<bool(int folders)>& goOn);
    // Deletes the files and their folder.
    void deleteFiles();

    int filesMade() const { return made_; }
    bool keepsMetadataRoom() const { return policy_ && policy_->keepsMetadataRoom; }

private:
    QString name(int n, const QByteArray& unit, int length) const;
    void discard();
    std::function<bool()> until(int seconds, const std::function<bool()>& more = {});

    FillTarget& target_;
    RecordSpace* space_;
    QString drive_;
    const RecordPolicy* policy_;
    platform::FileSystemTraits facts_;
    platform::Clock& clock_;
    QStringList& leftBehind_;
    QString folder_;      // drive path of the folder, once made
    QStringList created_; // drive paths of the files
    int made_ = 0;
    platform::EndOfProgramGuard guard_;
};

} // namespace engine
