#pragma once
// The entire-drive wipe: format, fill the empty file system pass after
// pass, format again. "You may safely Reuse or Dispose of the Drive" is shown
// only when all of that worked.
#include "session/settings.h"
#include "engine/freespacewipe.h"

namespace app {

// What the procedure does to its window beyond a fill's texts.
class EntireDriveView : public engine::FillView {
public:
    // No drive, option or check box can change while the wipe runs.
    virtual void lockChoices() = 0;
    // The drive list's selected entry.
    virtual QString selectedDriveEntry() const = 0;
    // Back to choosing, after a refusal: nothing was written.
    virtual void unlockAfterRefusal() = 0;
    // Shows the format type as the selected option.
    virtual void showFormatType(int formatType) = 0;
    // A Short Wipe cannot be ended from the window once it is prepared.
    virtual void lockForShortWipe() = 0;
    // The end: system drive, options and lists as at the start.
    virtual void resetAfterDriveWipe() = 0;
    // Every refusal has passed: the wipe goes ahead.
    virtual void announceWipe() {}
};

struct EntireDriveContext {
    engine::FillState fill;
    session::ProcessSettings& settings;
    std::int16_t& ProcessRunning;
    EntireDriveView& view;
    platform::Services services;
    // Tests put their own volume behind the fill.
    engine::FillTargetFactory fillTarget;
    // True when the user need not be asked (the command line with --yes).
    bool unattended = false;
};

// NotVerified: everything ran, but the fill's last pass did not read back
// as it was written.
// Declined: the question before it was answered No, or Cancel: nothing was done.
enum class DriveWipeResult { Completed, Refused, Declined, FormatFailed, FillStopped, FinalFormatFailed, NotVerified };

inline const QString kBootDriveRefusal = QStringLiteral("You CAN NOT FORMAT the Primary Boot Drive with this program");
inline const QString kDriveWipeComplete = QStringLiteral("Drive Wipe is Complete");
inline const QString kSafeToDispose = QStringLiteral("You may safely Reuse or Dispose of the Drive");

DriveWipeResult runEntireDriveWipe(EntireDriveContext& ctx);

// Removable discs take FAT only: true when `formatType` had to change to
// FAT for an entire-drive wipe of a drive of this category.
bool forceFatForRemovable(std::int16_t driveCategory, std::int16_t& formatType);
QString removableFatMessage();

// The question before the first format (none for FAT).
QString formatQuestion(int formatType);

} // namespace app
