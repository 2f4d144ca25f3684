#pragma once
// What a wipe record says about where and by whom it was made: the volume
// that holds a folder (mount point, device, file system, label, UUID, size),
// the machine's name and the user's. Facts the system cannot tell (a label
// as an ordinary user, a tmpfs's UUID) are left empty, never guessed.
#include <QString>
#include <cstdint>

namespace platform {

struct VolumeFacts {
    QString mountPoint;
    QString device;     // "/dev/sdb1", "/dev/loop3 (image /tmp/x.img)", "tmpfs"
    QString fileSystem; // as the volume says it (ntfs), else as the mount does
    QString label;
    QString uuid;
    std::uint64_t sizeBytes = 0; // the file system's size
};

VolumeFacts volumeFacts(const QString& nativeFolder);

QString hostName();
// The login name of the effective user (root when run through pkexec).
QString userName();

} // namespace platform
