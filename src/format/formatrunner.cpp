#include "format/formatrunner.h"
#include "platform/mounts.h"
#include "format/elapsed.h"
#include "format/filesystems.h"
#include "format/formathelper.h"
#include "platform/errors.h"
#include "platform/process.h"

namespace format {

static FormatEnd endOfExit(int code)
{
    switch (code) {
    case ExitFormatted: return FormatEnd::Formatted;
    case ExitRefused:
    case ExitUsage: return FormatEnd::Untouched;
    case ExitUnmounted: return FormatEnd::LeftUnmounted;
    case ExitChanged: return FormatEnd::ChangedUnmounted;
    default: return FormatEnd::Unknown;
    }
}

QString formatCommandLine(const QString& drive, int formatType)
{
    return QStringLiteral("format.com %1 /fs:%2/x/y/q")
        .arg(drive.left(2), QLatin1String(fileSystemOfCode(formatType).switchName));
}

FormatResult FormatDrive(const QString& drive, int formatType, ProcessTimeView& view,
                         platform::Clock& clock, const QDateTime& startTime, QDateTime& nowTime,
                         const QString& pinnedFolder)
{
    platform::StartedProcess process;
    // The classic command line, with the pin put after the program's name as
    // its own arguments (a folder may hold blanks).
    QStringList command = formatCommandLine(drive, formatType).split(u' ', Qt::SkipEmptyParts);
    // The volume is named in the command line that the password prompt
    // shows, and the helper refuses any other.
    if (!pinnedFolder.isEmpty()) {
        QStringList pin{QLatin1String(kPinnedFolderSwitch), pinnedFolder};
        if (const QString about = platform::volumeSummaryAt(pinnedFolder); !about.isEmpty())
            pin = QStringList{QLatin1String(kAboutSwitch), about} + pin;
        command = QStringList{command.first()} + pin + command.mid(1);
    }
    try {
        process = platform::startProcess(command);
    } catch (const platform::RunTimeError& e) {
        return {false, QStringLiteral("The format command could not be started: %1").arg(e.description()),
                FormatEnd::Untouched};
    }
    for (;;) {
        // A short sleep in the event loop instead of spinning a core; first,
        // so that the window shows the format running once however soon the
        // command ends (a refusal can come back before a first look).
        clock.pause(100);
        const auto status = process.poll();
        nowTime = clock.now();
        view.setProcessTime(ElapsedText(startTime, nowTime));
        if (status) {
            if (status->notAuthorized) // the helper never ran
                return {false, status->errorOutput, FormatEnd::Untouched};
            if (status->code == 0)
                return {true, {}, FormatEnd::Formatted};
            QString reason = status->errorOutput;
            if (reason.isEmpty())
                reason = status->code < 0 ? QStringLiteral("The format command was stopped.")
                                          : QStringLiteral("The format command ended with code %1.").arg(status->code);
            return {false, reason, endOfExit(status->code)};
        }
    }
}

} // namespace format
