#include "format/reservehelper.h"

#include "platform/drivetable.h"
#include "platform/mounts.h"
#include "platform/reservedspace.h"

#include <QRegularExpression>

namespace format {

std::optional<ReserveRequest> parseReserveArguments(const QStringList& arguments)
{
    ReserveRequest request;
    QStringList args = arguments;
    static const QRegularExpression driveRe(QStringLiteral("^[A-Za-z]:$"));
    if (!takePinnedFolder(args, request.pinnedFolder) || args.size() != 1 || !driveRe.match(args[0]).hasMatch())
        return std::nullopt;
    request.letter = args[0][0].toLower();
    return request;
}

HelperOutcome runReserveHelper(const QStringList& args)
{
    const auto request = parseReserveArguments(args);
    if (!request)
        return {ExitUsage, formatUsage()};
    const QString drive = QString(request->letter) + u':';
    auto refuse = [&](const QString& why) {
        return HelperOutcome{ExitRefused, drive + QStringLiteral(" keeps its reserved space: ") + why};
    };
    if (!platform::isSuperUser())
        return refuse(QStringLiteral("releasing it needs root privileges (run as root, or through pkexec)"));
    const auto folder = request->pinnedFolder.isEmpty()
                            ? platform::DriveTable::current().folderFor(request->letter)
                            : std::optional<QString>(request->pinnedFolder);
    if (!folder)
        return refuse(QStringLiteral("there is no drive with this letter"));
    const auto resolved = platform::canonicalFolder(*folder);
    if (!resolved)
        return refuse(*folder + QStringLiteral(" does not exist"));

    // The knob is found from the folder here, never named by the caller.
    const QString knob = platform::ReservedSpaceRelease::reserveKnob(*resolved);
    if (knob.isEmpty())
        return {ExitFormatted, {}}; // not ext4: nothing held back
    const auto old = platform::readReserve(knob);
    if (!old)
        return refuse(QStringLiteral("cannot read ") + knob);
    if (*old == QStringLiteral("0"))
        return {ExitFormatted, {}};
    if (!platform::writeReserve(knob, QStringLiteral("0")))
        return refuse(QStringLiteral("cannot write ") + knob);

    platform::tellCaller("released " + old->toLatin1());
    platform::waitForCallerToFinish();
    if (!platform::writeReserve(knob, *old))
        return {ExitRefused, drive + QStringLiteral(" could not get its reserved space back: writing ") + *old +
                                 QStringLiteral(" to ") + knob + QStringLiteral(" failed")};
    return {ExitFormatted, {}};
}

} // namespace format
