#pragma once
// The operating-system services a window or procedure works with, injected
// so that tests can script the answers and compress time.
#include "platform/clock.h"
#include "platform/driveservices.h"
#include "platform/prompter.h"

namespace platform {

struct Services {
    DriveServices* drives = nullptr;
    Prompter* prompter = nullptr;
    Clock* clock = nullptr;
};

inline Services systemServices()
{
    return {&systemDrives(), &systemPrompter(), &systemClock()};
}

} // namespace platform
