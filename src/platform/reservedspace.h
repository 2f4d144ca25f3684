#pragma once
// Space a fill cannot reach through ordinary writes. On ext4 even root
// cannot write the clusters the file system keeps in reserve; as root the
// reserve is released for the duration of a wipe and put back after it.
#include <QString>
#include <cstdint>
#include <functional>

namespace platform {

class ReservedSpaceRelease {
public:
    // `beforeRelease` hears of the setting and its old value before it is
    // changed, so that a journal can put it back after a kill.
    explicit ReservedSpaceRelease(const QString& nativeFolder,
                                  const std::function<void(const QString& knob, const QString& old)>& beforeRelease = {});
    ~ReservedSpaceRelease(); // puts the old value back
    // Puts the old value back now; later calls do nothing.
    void restore();
    ReservedSpaceRelease(const ReservedSpaceRelease&) = delete;
    ReservedSpaceRelease& operator=(const ReservedSpaceRelease&) = delete;

    // The reserve was set to 0 and will be restored.
    bool released() const { return !knob_.isEmpty(); }
    // Part of the free space is out of this caller's reach (a reserve it
    // cannot write or release).
    bool outOfReach() const { return outOfReach_; }
    // The sysfs file that holds the reserve of the file system behind a
    // folder; empty when it is not ext4.
    static QString reserveKnob(const QString& nativeFolder);

private:
    QString knob_;
    QString oldValue_;
    bool outOfReach_ = false;
};

} // namespace platform
