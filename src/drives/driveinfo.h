#pragma once
// Drive facts for the procedures: the kind of drive, whether it can be used
// now, and its free space.
#include "platform/clock.h"
#include "platform/driveservices.h"
#include "platform/prompter.h"

#include <QString>
#include <cstdint>

namespace drives {

// Drive categories kept by the main window.
enum DriveCategoryCode : std::int16_t {
    CategoryNone = 0,
    CategoryRemovable = 1,
    CategoryFixed = 2,
    CategoryCd = 4,
};

// The classification state ShowDriveInfo updates: the window's category and
// the process-wide "already classified for this selection" flag.
struct DriveClassification {
    std::int16_t& DriveCategory;
    std::int16_t& DriveCategoryKnown;
};

inline const QString kCdMessage = QStringLiteral("This program does not support CD or DVD Drives");
inline const QString kNotReadyMessage =
    QStringLiteral("Drive is not Ready. Please Insert a Disc then Press OK");

// Classifies the drive; says so when it is a CD drive or not ready.
void ShowDriveInfo(const QString& drvpath, DriveClassification state,
                   platform::DriveServices& drives, platform::Prompter& prompter);

// Classifies the drive (a CD drive gets its message and false), then waits
// without a message for it to become ready: at most `timeoutMs`, checking
// about twice a second while the window's events go on. True when the drive
// reported ready.
bool ShowDriveInfo2(const QString& drvpath, DriveClassification state,
                    platform::DriveServices& drives, platform::Prompter& prompter,
                    platform::Clock& clock, int timeoutMs = 60000);

// Free KiB of the drive `selectedDrive` starts with: the free bytes cut to
// whole thousands, then divided by 1,024 and truncated. 0 when the query
// fails.
double ProbeDriveSpace(const QString& selectedDrive, platform::DriveServices& drives);
double FreeSpaceKBFromBytes(std::uint64_t freeBytes);

} // namespace drives
