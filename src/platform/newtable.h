#pragma once
// After a whole-disk wipe, on request: a new GPT with one partition over the
// disk and a file system in it, so that a stick can be used again.
#include <QString>
#include <QStringList>
#include <cstdint>

namespace platform {

class WholeDisk;

// The file systems a new partition can take here: those whose mkfs is
// installed, of ext4, exfat and ntfs.
QStringList newTableFileSystems();

struct NewTable {
    std::uint64_t firstSector = 0, lastSector = 0; // of the partition
    QString partition; // its device, once the kernel shows it; empty otherwise
};

// Writes a protective MBR, the GPT and its backup: one partition from the
// first MiB to the last whole MiB, of the type `fileSystem` takes, named
// `label`; flushes them and has the kernel read the table again. Throws
// RunTimeError.
NewTable writeNewTable(WholeDisk& disk, const QString& fileSystem, const QString& label);
// Makes the file system, labelled, on the new partition (the disk itself
// closed first: its exclusive hold would refuse mkfs). Throws RunTimeError
// with what mkfs said.
void makeFileSystem(const QString& partition, const QString& fileSystem, const QString& label);

} // namespace platform
