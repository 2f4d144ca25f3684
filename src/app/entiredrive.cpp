#include "app/entiredrive.h"
#include "drives/driveinfo.h"
#include "format/elapsed.h"
#include "format/formatrunner.h"
#include "platform/prompter.h"
#include "records/recorder.h"

#include <map>

namespace app {

QString formatQuestion(int formatType)
{
    if (formatType == FormatNtfs)
        return platform::joinLines({QStringLiteral("Press YES to continue with Formatting the drive in NTFS Format"),
                                    QStringLiteral("for Windows NT, 2000, XP or 2003"), QString(),
                                    QStringLiteral("Press NO to change the Format to FAT32"),
                                    QStringLiteral("for Windows 95, 98, 98SE, or ME")});
    if (formatType == FormatFat32)
        return platform::joinLines({QStringLiteral("Press YES to continue with Formatting the drive in FAT32 Format"),
                                    QStringLiteral("for Windows 95, 98, 98SE, or ME"), QString(),
                                    QStringLiteral("Press NO to change the Format to NTFS"),
                                    QStringLiteral("for Windows NT, 2000, XP or 2003")});
    return {};
}

bool forceFatForRemovable(std::int16_t driveCategory, std::int16_t& formatType)
{
    if (driveCategory != drives::CategoryRemovable || formatType == FormatFat)
        return false;
    formatType = FormatFat;
    return true;
}

QString removableFatMessage()
{
    return platform::joinLines({QStringLiteral("Removable discs can only be formatted in FAT format."), QString(),
                                QStringLiteral("The FORMAT has been automatically Changed")});
}

// What a failed format means for the drive, said so that no one takes a
// changed drive for an untouched one: %1 the drive, %2 its folder.
static QString formatFailureText(const format::FormatResult& result, bool firstFormat)
{
    using format::FormatEnd;
    static const std::map<FormatEnd, const char*> firstFormatTexts = {
        {FormatEnd::Untouched, "The format of drive %1 failed, so the drive was not wiped."},
        {FormatEnd::LeftUnmounted,
         "The format of drive %1 failed before it changed anything, but the drive could not be mounted again: it is "
         "not mounted at %2 now."},
        {FormatEnd::ChangedUnmounted,
         "The format of drive %1 changed the drive but did not finish: it is not mounted at %2 now, and it was not "
         "filled with wipe data, so its old data may still be on it."},
        {FormatEnd::Unknown,
         "The format of drive %1 did not finish: the drive may have been changed and may not be mounted at %2 now."},
    };
    const char* unmounted = " It is not mounted at %2 now.";
    if (firstFormat)
        return QString::fromUtf8(firstFormatTexts.at(result.end));
    QString text = QStringLiteral("The data area of drive %1 was overwritten, but the final format failed.");
    if (result.end != FormatEnd::Untouched)
        text += QLatin1String(unmounted);
    return text;
}

static QString formatFailureMessage(const format::FormatResult& result, bool firstFormat, const QString& drive,
                                    const QString& folder)
{
    // Not every text names the folder, so no arg(): it would warn of a missing %2.
    return formatFailureText(result, firstFormat).replace(QLatin1String("%1"), drive).replace(QLatin1String("%2"), folder) +
           QStringLiteral("\r\n\r\n") + result.reason;
}

DriveWipeResult runEntireDriveWipe(EntireDriveContext& ctx)
{
    ProcessSettings& s = ctx.settings;
    EntireDriveView& view = ctx.view;
    platform::Prompter& prompter = *ctx.services.prompter;
    platform::Clock& clock = *ctx.services.clock;

    // 1. Lock the choices; the target is fixed here for both formats.
    view.lockChoices();
    ctx.ProcessRunning = 1;
    const QString target = s.SelectedDrive.left(2);
    const QString targetUpper = target.toUpper();
    // Both formats act on the folder the letter names now, not on whatever
    // it may name by the second format.
    const QString targetFolder = ctx.services.drives->nativePath(target);

    // A CD drive or one that is still not ready is refused before anything
    // is written (its message was shown when Wipe was pressed).
    if (ctx.fill.DriveCategory == drives::CategoryCd) {
        view.unlockAfterRefusal();
        return DriveWipeResult::Refused;
    }
    if (!ctx.services.drives->isReady(target)) {
        prompter.message(QStringLiteral("Drive %1 is not ready, so it was not wiped.").arg(targetUpper));
        view.unlockAfterRefusal();
        return DriveWipeResult::Refused;
    }

    // 2. The boot drive, for a fixed drive.
    if (ctx.fill.DriveCategory == drives::CategoryFixed &&
        view.selectedDriveEntry().left(2).toUpper() == s.SystemRootPath.left(2).toUpper()) {
        prompter.message(kBootDriveRefusal);
        view.unlockAfterRefusal();
        return DriveWipeResult::Refused;
    }

    // 3. Nothing is formatted before the user has said Yes to the drive by
    // name; then confirm the file system, switch between NTFS and FAT32, or
    // call it all off.
    if (!ctx.unattended) {
        const QString question = formatQuestion(s.FormatType);
        const bool agreed =
            prompter.confirm(QStringLiteral("Wipe the entire drive %1 [%2]: format it, fill it with wipe data %3 "
                                            "times and format it again? Everything on it is destroyed.")
                                 .arg(targetUpper, targetFolder)
                                 .arg(engine::driveFillPasses(s.WipeLevel)));
        const platform::Answer format =
            !agreed ? platform::Answer::Cancel
                    : question.isEmpty() ? platform::Answer::Yes : prompter.askYesNoCancel(question);
        if (format == platform::Answer::Cancel) {
            view.setStatus(QStringLiteral("Nothing was formatted"));
            view.unlockAfterRefusal();
            return DriveWipeResult::Declined;
        }
        if (format == platform::Answer::No) {
            s.FormatType = s.FormatType == FormatNtfs ? FormatFat32 : FormatNtfs;
            view.showFormatType(s.FormatType);
        }
    }
    view.announceWipe();

    // From here the drive is written to: the wipe keeps a record.
    records::Recorder record(records::newRecord(records::ProcessKind::EntireDrive, records::levelName(s.WipeLevel),
                                                engine::driveFillPasses(s.WipeLevel),
                                                records::driveFacts(target, targetFolder)),
                             prompter);
    auto endRecord = [&](records::Outcome outcome, const QString& why = {}) {
        if (!why.isEmpty())
            record.setError(0, why);
        record.complete(outcome);
    };

    // 4. Preparation.
    if (s.WipeLevel == CompleteWipe) {
        view.setStatus(targetUpper + QStringLiteral("\\   Preparing for Complete Disc Wipe"));
    } else {
        view.setStatus(targetUpper + QStringLiteral("\\   Preparing for Short Disc Short"));
        s.WipeStartTime = clock.now();
        s.WipeNowTime = s.WipeStartTime;
        view.setProcessTime(format::ElapsedText(s.WipeStartTime, s.WipeNowTime));
        view.lockForShortWipe();
    }

    // 5. First format. A failed format stops everything: no fill after it.
    const format::FormatResult first =
        format::FormatDrive(target, s.FormatType, view, clock, s.WipeStartTime, s.WipeNowTime, targetFolder);
    if (!first.ok) {
        view.resetAfterDriveWipe();
        prompter.message(formatFailureMessage(first, true, targetUpper, targetFolder));
        endRecord(records::Outcome::Stopped, formatFailureMessage(first, true, targetUpper, targetFolder));
        return DriveWipeResult::FormatFailed;
    }

    // 6. Fill the empty file system.
    view.setStatus(s.WipeLevel == CompleteWipe ? QStringLiteral("Performing Complete Drive Wipe")
                                               : QStringLiteral("Performing Short Drive Wipe"));
    view.setDetail(QStringLiteral("Drive   ") + s.SelectedDrive);
    engine::FillProcedure fill(ctx.fill, view, ctx.services);
    fill.setOwnVolumeRequired(true);
    fill.setRecord(&record);
    if (ctx.fillTarget)
        fill.setTargetFactory(ctx.fillTarget);
    const engine::FillOutcome filled = fill.run(engine::driveFillPasses(s.WipeLevel));
    view.setStatus(QStringLiteral("Finalizing Drive Wipe"));
    // The fill gave the window back; the wipe is not over yet.
    view.setProcessControlsEnabled(false);
    view.lockChoices();
    if (!filled.completed || filled.spaceMissed) {
        // The fill has said why; a half-filled drive is not formatted over
        // as if all were well.
        view.resetAfterDriveWipe();
        view.setStatus(QStringLiteral("Drive Wipe did not complete"));
        endRecord(filled.completed ? records::Outcome::Incomplete : records::Outcome::Stopped);
        return DriveWipeResult::FillStopped;
    }

    // 7. Second format, of the target drive whatever the list shows now.
    const format::FormatResult second =
        format::FormatDrive(target, s.FormatType, view, clock, s.WipeStartTime, s.WipeNowTime, targetFolder);
    if (!second.ok) {
        view.resetAfterDriveWipe();
        view.setStatus(QStringLiteral("Drive Wipe did not complete"));
        prompter.message(formatFailureMessage(second, false, targetUpper, targetFolder));
        endRecord(records::Outcome::Stopped, formatFailureMessage(second, false, targetUpper, targetFolder));
        return DriveWipeResult::FinalFormatFailed;
    }

    // 8. Completion texts, then 9. the reset.
    const bool verified = filled.verification != platform::Verification::Failed;
    view.setStatus(kDriveWipeComplete);
    // The fill has said why it would not be safe.
    view.setDetail(verified ? kSafeToDispose : QStringLiteral("The last fill pass did not read back as written"));
    view.setPercent(QStringLiteral("DONE"));
    view.resetAfterDriveWipe();
    s.WipeNowTime = clock.now();
    view.setProcessTime(format::ElapsedText(s.WipeStartTime, s.WipeNowTime));
    endRecord(records::Outcome::Completed);
    return verified ? DriveWipeResult::Completed : DriveWipeResult::NotVerified;
}

} // namespace app
