#pragma once
// Work that must be done even when the program ends in the middle of a
// process (deleting the fill files of a running pass, putting a file
// system's reserve back).
#include <functional>

namespace platform {

// Registers `cleanup` for as long as the guard lives.
class EndOfProgramGuard {
public:
    explicit EndOfProgramGuard(std::function<void()> cleanup);
    ~EndOfProgramGuard();
    EndOfProgramGuard(const EndOfProgramGuard&) = delete;
    EndOfProgramGuard& operator=(const EndOfProgramGuard&) = delete;

private:
    int id_;
};

// Runs every registered cleanup, newest first, then forgets them. Starts
// once the blocking call in flight, if any, has returned; lets no event run
// meanwhile.
void runEndOfProgramCleanups();

// Ctrl+C, a hang-up or a kill request end the program the same way: the
// cleanups run (at the next moment the event loop gets), then it exits.
// Needs a running Qt application object.
void cleanUpOnTerminationSignals();

} // namespace platform
