#pragma once
// Running system tools (mkfs, mount, ntfs-3g) to the end and keeping what
// they say.
#include <QString>
#include <QStringList>

namespace platform {

struct ToolResult {
    bool started = false;
    int exitCode = -1; // -1 when it ended by a signal or never started
    QString output;    // standard output and error together
};

// Full path of a system tool: the search path first, then the system folders
// (sbin is often missing from a desktop user's path). Empty when missing.
QString findTool(const QString& name);

// Runs the program with standard input from /dev/null and waits for it. Its
// output goes to an anonymous memory file rather than a pipe, so a daemon it
// leaves behind (ntfs-3g) cannot hold the reading end hostage.
ToolResult runTool(const QString& program, const QStringList& args);

// Sleeps for a number of milliseconds.
void sleepMs(int ms);

} // namespace platform
