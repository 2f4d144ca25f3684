#pragma once
// What formatting a volume needs from the system: the full mount table, what
// a mount's source really is, a plain (never lazy) unmount, and who still
// holds a device or image open.
#include "platform/drivetable.h"

#include <QString>
#include <optional>
#include <vector>

namespace platform {

// Every mount of this process, pseudo file systems included: a format has to
// see what a drive folder really is, not the drive list's view of it.
std::vector<MountEntry> allMounts();

// The folder with symbolic links and `..` resolved; nullopt when it does not
// exist or is not a folder.
std::optional<QString> canonicalFolder(const QString& path);

// The mount point of the volume that really holds the folder: the folder
// itself when it is a mount point, else the mount above it. nullopt when the
// folder does not exist.
std::optional<QString> mountPointHolding(const QString& folder);

enum class NodeKind { Missing, BlockDevice, RegularFile, Other };
// What a path names, following symbolic links (/dev/disk/by-id/... is a
// block device).
NodeKind nodeKind(const QString& path);

struct LoopDevice {
    QString backingFile;
    // Set up by `mount -o loop`: the device lets go of its image as soon as
    // the last mount on it is gone.
    bool autoClear = false;
};
// nullopt when the path is not an attached loop device.
std::optional<LoopDevice> loopDeviceInfo(const QString& devicePath);

enum class UnmountResult { Done, Busy, Failed };
// Unmounts the file system mounted at the folder. Never detaches lazily: a
// file system in use stays mounted and gives Busy. `reason` gets the OS text
// when it fails.
UnmountResult unmountFolder(const QString& mountPoint, QString* reason = nullptr);

// Processes (other than this one) that hold the device or file open. A FUSE
// driver goes on writing its image for a moment after the unmount returns.
// A process that also holds `unlessAlsoHolding` is not counted: /dev/fuse
// marks the FUSE driver that serves the very mount being formatted.
std::vector<int> processesHolding(const QString& path, const QString& unlessAlsoHolding = {});

// What the kernel itself has built on a block device: device-mapper or RAID
// devices stacked on it (sysfs holders) and swap. Empty for a file.
QStringList kernelUsersOf(const QString& devicePath);

// This process is root's own: real and effective user id 0 (as under pkexec
// or sudo; not a set-user-ID program started by a user).
bool isSuperUser();

// The kernel mounts this file system type now (/proc/filesystems) or has a
// module for it that mount would load.
bool kernelSupports(const QString& fsType);

// Overwrites the first and the last `bytes` of a device or image file with
// zeros and flushes them to the device. false, with the reason, when it could
// not. A new file system leaves these ends partly unwritten (the gap before
// NTFS's backup boot sector, the space past FAT's last cluster), and no fill
// through the file system reaches them.
bool overwriteEnds(const QString& path, std::uint64_t bytes, QString* reason);

// Leaves the caller's current folder and closes every inherited descriptor
// past standard error, so that this process keeps no volume busy.
void detachFromCallerFiles();

} // namespace platform
