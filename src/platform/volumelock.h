#pragma once
// One wipe per drive. Two fills of one drive at once each take the other's
// writes for a full drive (and the first to delete its files makes the
// other's free space grow past its start): both end in nonsense. A fill
// holds a lock on the drive's device for as long as it runs: flock on a file
// named by the device number in /run/lock, where every user's wipe finds the
// same one, and which no wipe leaves on the drive itself. The kernel lets go
// of the lock when the process ends, however it ends.
#include <QString>
#include <memory>

namespace platform {

class VolumeLock {
public:
    // Takes the lock of the volume that holds `nativeFolder`; nullptr, with
    // the reason in `why`, when another process holds it.
    static std::unique_ptr<VolumeLock> take(const QString& nativeFolder, QString* why);
    ~VolumeLock();
    VolumeLock(const VolumeLock&) = delete;
    VolumeLock& operator=(const VolumeLock&) = delete;

private:
    explicit VolumeLock(int fd) : fd_(fd) {}
    int fd_ = -1;
};

} // namespace platform
