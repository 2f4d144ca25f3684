#pragma once
// Process-wide settings: they live as long as the program and outlive the
// main window, which is destroyed and created anew around the folder and
// file wipe window.
#include <QDateTime>
#include <QString>
#include <cstdint>

namespace session {

enum FormatTypeCode : std::int16_t { FormatFat = 1, FormatFat32 = 2, FormatNtfs = 3 };
enum WipeLevelCode : std::int16_t { CompleteWipe = 1, ShortWipe = 2 };

struct ProcessSettings {
    QString SelectedDrive;
    QString LastSelectedDrive;
    QString SystemRootPath;
    QString SystemDrive;
    std::int16_t NoSystemRoot = 0;
    bool SystemRootRead = false; // "systemroot" is read once per run
    std::int16_t FormatType = FormatNtfs;
    std::int16_t WipeLevel = 0;
    QString ProcessCode;
    std::int16_t AutoWipeFree = 0;
    // Full timestamps rather than times of day, so a process past midnight
    // keeps a true elapsed time.
    QDateTime WipeStartTime;
    QDateTime WipeNowTime;
    double FreeSpaceKB = 0;
    std::int16_t DriveCategoryKnown = 0;
    QString InfoTopic;
};

ProcessSettings& settings();

} // namespace session
