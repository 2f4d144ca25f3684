#include "drives/driveinfo.h"
#include "platform/errors.h"

namespace drives {

// Steps 1 to 4 of the classification. Returns false for a CD drive, after
// its message (no readiness check follows).
static bool classify(const QString& drvpath, DriveClassification state,
                     platform::DriveServices& drives, platform::Prompter& prompter)
{
    int code = platform::DriveUnknown;
    try {
        code = drives.typeCode(drvpath);
    } catch (const platform::RunTimeError&) {
        // A failing query is skipped: the type counts as unknown.
    }
    if (code == platform::DriveCdRom) {
        state.DriveCategory = CategoryCd;
        prompter.message(kCdMessage);
        return false;
    }
    if (state.DriveCategoryKnown != 1) {
        if (code == platform::DriveRemovable)
            state.DriveCategory = CategoryRemovable;
        else if (code == platform::DriveFixed)
            state.DriveCategory = CategoryFixed;
        state.DriveCategoryKnown = 1;
    }
    return true;
}

void ShowDriveInfo(const QString& drvpath, DriveClassification state,
                   platform::DriveServices& drives, platform::Prompter& prompter)
{
    if (!classify(drvpath, state, drives, prompter))
        return;
    bool ready = false;
    try {
        ready = drives.isReady(drvpath);
    } catch (const platform::RunTimeError&) {
        ready = false;
    }
    if (!ready)
        prompter.message(kNotReadyMessage);
}

bool ShowDriveInfo2(const QString& drvpath, DriveClassification state,
                    platform::DriveServices& drives, platform::Prompter& prompter,
                    platform::Clock& clock, int timeoutMs)
{
    if (!classify(drvpath, state, drives, prompter))
        return false;
    const QDateTime start = clock.now();
    for (;;) {
        bool ready = false;
        try {
            ready = drives.isReady(drvpath);
        } catch (const platform::RunTimeError&) {
        }
        if (ready)
            return true;
        if (start.msecsTo(clock.now()) >= timeoutMs)
            return false;
        clock.pause(500);
    }
}

double FreeSpaceKBFromBytes(std::uint64_t freeBytes)
{
    const std::uint64_t wholeThousands = freeBytes / 1000 * 1000;
    return static_cast<double>(wholeThousands / 1024);
}

double ProbeDriveSpace(const QString& selectedDrive, platform::DriveServices& drives)
{
    try {
        return FreeSpaceKBFromBytes(drives.freeBytes(selectedDrive.left(2) + u'\\'));
    } catch (const platform::RunTimeError&) {
        return 0;
    }
}

} // namespace drives
