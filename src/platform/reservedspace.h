#pragma once
// Space a fill cannot reach through ordinary writes. On ext4 even root
// cannot write the clusters the file system keeps in reserve
// (/sys/fs/ext4/<dev>/reserved_clusters); the reserve is released for the
// duration of a wipe and put back after it.
//
// Releasing it needs root, so the program does not write the knob itself:
// the format helper does (`zarvexformat --release-reserve --folder F t:`),
// started directly by root and through pkexec for anyone else. The helper
// holds the old value and puts it back when its standard input closes: when
// the fill is over, and equally when the program ends in any way.
#include <QString>
#include <functional>
#include <optional>
#include <sys/types.h>

namespace platform {

class ReservedSpaceRelease {
public:
    // `drive` is the letter and colon, `nativeFolder` the folder the fill
    // writes, which the helper is pinned to. `beforeRelease` hears of the
    // setting and its old value before it changes, so that the wipe journal
    // can put it back should the helper be killed too.
    ReservedSpaceRelease(const QString& drive, const QString& nativeFolder,
                         const std::function<void(const QString& knob, const QString& old)>& beforeRelease = {});
    ~ReservedSpaceRelease(); // puts the old value back
    // Puts the old value back now and reads it again: true when the setting
    // holds its old value (or was never changed). Later calls only read.
    bool restore();
    ReservedSpaceRelease(const ReservedSpaceRelease&) = delete;
    ReservedSpaceRelease& operator=(const ReservedSpaceRelease&) = delete;

    // The reserve was set to 0 and will be restored.
    bool released() const { return helper_ > 0; }
    // Part of the free space is out of this caller's reach (a reserve that
    // was not released, or blocks kept for root when not root).
    bool outOfReach() const { return outOfReach_; }
    // Why the reserve could not be released (the helper's or pkexec's
    // words); empty when it was, or when there was none to release.
    const QString& failure() const { return failure_; }

    // The sysfs file that holds the reserve of the file system behind a
    // folder; empty when it is not ext4.
    static QString reserveKnob(const QString& nativeFolder);

private:
    // Starts the helper and waits for it to release the reserve; false when
    // the reserve stays (refused, or no password given).
    bool startHelper(const QString& drive, const QString& nativeFolder);
    pid_t helper_ = -1;
    int helperInput_ = -1; // closing it tells the helper to put the value back
    int helperErrors_ = -1; // its standard error, kept open while it runs
    QString failure_;
    bool outOfReach_ = false;
    QString knob_, old_;   // what was released, and its value before
};

// The helper's side, run as root.
// The value in a reserve knob; nullopt when it cannot be read.
std::optional<QString> readReserve(const QString& knob);
bool writeReserve(const QString& knob, const QString& value);
// Tells the caller one line on standard output.
void tellCaller(const QByteArray& line);
// Holds back the termination signals from here on: called before the
// reserve changes, so that a signal at any moment after still lets the
// helper put the old value back.
void holdTerminationSignals();
// Waits until standard input closes (the caller is done or gone), a
// termination signal arrives or `limitMs` have passed. Call
// holdTerminationSignals first.
void waitForCallerToFinish(int limitMs);

} // namespace platform
