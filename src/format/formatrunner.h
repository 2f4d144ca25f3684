#pragma once
// Formats a drive by running the format command as a separate process and
// waiting for it while the window's process-time box keeps counting.
#include "platform/clock.h"

#include <QDateTime>
#include <QString>

namespace format {

// What a wait shows: the process time.
class ProcessTimeView {
public:
    virtual ~ProcessTimeView() = default;
    virtual void setProcessTime(const QString& text) = 0;
};

// "format.com e: /fs:fat32/x/y/q"; only the first two characters of the
// drive count. formatType: a code of format/filesystems.h (NTFS for others).
QString formatCommandLine(const QString& drive, int formatType);

// What a format left of the drive; the words for a failure depend on it.
enum class FormatEnd {
    Formatted,      // a new, mounted file system
    Untouched,      // refused or failed before anything changed: still mounted
    LeftUnmounted,  // nothing changed, but the volume is not mounted now
    ChangedUnmounted, // overwritten or formatted, and not mounted now
    Unknown,        // the format command did not say (it was stopped)
};

struct FormatResult {
    bool ok = false;
    QString reason; // the format command's own words when it failed
    FormatEnd end = FormatEnd::Untouched;
};

// Runs the command and waits for it, polling every 100 ms. `startTime` is
// the process-time origin; `nowTime` receives the latest reading. With
// `pinnedFolder` the command formats the volume at that folder, whatever
// mounts came or went since the user chose the letter. Run by a user, the
// command asks for an administrator's password; a refused or dismissed
// request is a failed format that left the drive untouched.
FormatResult FormatDrive(const QString& drive, int formatType, ProcessTimeView& view,
                         platform::Clock& clock, const QDateTime& startTime, QDateTime& nowTime,
                         const QString& pinnedFolder = {});

} // namespace format
