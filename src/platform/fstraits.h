#pragma once
// What a fill must know of the file system it writes to beyond its free
// space: whether it compresses new data, where it keeps small files and
// names (btrfs's metadata, NTFS's master file table), and what it holds that
// is not free space at all (btrfs snapshots).
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

namespace platform {

struct FileSystemTraits {
    QString fsType;        // "btrfs", "ntfs" (ntfs-3g or ntfs3), "ext4", "tmpfs", ...
    QString source;        // the device or image behind the mount
    QString compression;   // why new data is stored compressed; empty when it is not
    QStringList snapshots; // btrfs: snapshot subvolumes of the file system
};

// Facts of the mounted file system holding a folder (the drive's root).
FileSystemTraits fileSystemTraits(const QString& folder);

// NTFS's master file table as its own first record describes it.
struct NtfsTable {
    std::uint64_t recordBytes = 0;
    std::uint64_t dataBytes = 0;      // records in use or once used
    std::uint64_t allocatedBytes = 0; // clusters it holds
    std::uint64_t freeRecords = 0;    // free records inside the allocation that files may take
};
// Read from the device or image itself; nullopt when it cannot be read (not
// root) or is no NTFS.
std::optional<NtfsTable> ntfsTable(const QString& source);

// Flushes everything written to the file system holding a folder.
void syncVolume(const QString& folder);

} // namespace platform
