#pragma once
// What formatting a volume needs from the system: the full mount table, what
// a mount's source really is, a plain (never lazy) unmount, and who still
// holds a device or image open.
#include "platform/drivetable.h"

#include <QString>
#include <optional>
#include <vector>

namespace platform {

// The whole of a small file, /proc and /sys ones included (which report
// size 0); empty when it cannot be read.
QByteArray readSmallFile(const QString& path);

// Every mount of this process, pseudo file systems included: a format has to
// see what a drive folder really is, not the drive list's view of it.
std::vector<MountEntry> allMounts();

// The mount that shows at `folder`: of mounts stacked on one folder, the
// one on top (by the mount id the folder itself reports); nullptr when no
// mount is at the folder.
const MountEntry* visibleMountAt(const std::vector<MountEntry>& mounts, const QString& folder);

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
// Unmounts the file system mounted at the folder, not through a symbolic
// link. Never detaches lazily: a file system in use stays mounted and gives
// Busy. `reason` gets the OS text when it fails.
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

// The device or image a format writes, opened once before the unmount and
// proven to be the mount's own: everything after acts on this descriptor,
// whatever the names it was found by come to mean.
class HeldTarget {
public:
    HeldTarget(int fd, QString path, bool image) : fd_(fd), path_(std::move(path)), image_(image) {}
    HeldTarget(HeldTarget&& other) noexcept;
    HeldTarget(const HeldTarget&) = delete;
    HeldTarget& operator=(const HeldTarget&) = delete;
    HeldTarget& operator=(HeldTarget&& other) noexcept;
    ~HeldTarget();

    // The name it was found by, for messages and for mounting it again.
    const QString& path() const { return path_; }
    bool isImage() const { return image_; }
    // A name through which a child of this process (mkfs) opens this very
    // file: /proc/<this process>/fd/<n>.
    QString handlePath() const;
    // Whether `path()` still names the held file (device number for a
    // device, device and inode for an image).
    bool pathStillNamesIt() const;
    // Overwrites the first and the last `bytes` with zeros and flushes them to
    // the device. false, with the reason, when it could not. A new file
    // system leaves these ends partly unwritten (the gap before NTFS's backup
    // boot sector, the space past FAT's last cluster), and no fill through
    // the file system reaches them.
    bool overwriteEnds(std::uint64_t bytes, QString* reason) const;

private:
    int fd_ = -1;
    QString path_;
    bool image_ = false;
};

// Opens what a mount is on, for writing, and proves it is that mount's: a
// block device whose number is the mount table's; for a self-clearing loop
// device the image behind it (the loop device's own record of its backing
// file's device and inode), since the device goes with the unmount; an
// image file only behind a FUSE mount that root made. The mount table's
// source is only text: a file system may name any device there. nullopt,
// with the reason, otherwise.
std::optional<HeldTarget> holdMountTarget(const MountEntry& mount, const std::optional<LoopDevice>& loop,
                                          QString* reason);

// What the administrator is asked to approve, as the prompt shows it: the
// device or image, its size, its label where it has one, and where it is
// mounted. Made from what any user may read, so that the program can put it
// in the request and the helper, as root, can check that the volume it is
// about to change is still the one described.
QString volumeSummary(const MountEntry& mount);
// The summary of the volume mounted at `folder`; empty when none is.
QString volumeSummaryAt(const QString& folder);

// A FUSE mount made by a user (fusermount) rather than by root.
bool isUsersFuseMount(const MountEntry& mount);

// For a whole disk: its partitions that are mounted, held by the kernel
// (device mapper, RAID) or used as swap, each named with what uses it.
// Empty for a partition, an image or a disk none of whose partitions is in
// use.
QStringList partitionsInUse(const QString& devicePath);

// The first folder on the way to `path` (its parent and every folder above)
// that someone other than root may change: owned by another user, or
// writable by a group or by all without the sticky bit. Such a folder can
// swap what the path names between a check and an act. nullopt when there
// is none.
std::optional<QString> folderOthersMayChange(const QString& path);

// Leaves the caller's current folder and closes every inherited descriptor
// past standard error, so that this process keeps no volume busy.
void detachFromCallerFiles();

} // namespace platform
