#pragma once
// Running system tools (mkfs, mount, ntfs-3g) to the end and keeping what
// they say.
#include <QString>
#include <QStringList>

namespace platform {

// A mount or a file-system check that has not ended in this time has hung.
inline constexpr int kToolTimeoutMs = 5 * 60 * 1000;

struct ToolResult {
    bool started = false;
    int exitCode = -1; // -1 when it ended by a signal or never started
    QString output;    // standard output and error together
    bool timedOut = false; // ran past its time and was killed
};

// Full path of a system tool: the search path first, then the system folders
// (sbin is often missing from a desktop user's path). Empty when missing.
QString findTool(const QString& name);

// Runs the program with standard input from /dev/null and waits for it, at
// most `timeoutMs` (then it is killed). Its output goes to an anonymous
// memory file rather than a pipe, so a daemon it leaves behind (ntfs-3g)
// cannot hold the reading end hostage.
ToolResult runTool(const QString& program, const QStringList& args, int timeoutMs = kToolTimeoutMs);

// Sleeps for a number of milliseconds.
void sleepMs(int ms);

} // namespace platform
