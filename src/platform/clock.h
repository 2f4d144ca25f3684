#pragma once
// Time for the procedures: timestamps, pauses that keep the window
// responsive, and the hook that lets pending events run between steps.
#include <QDateTime>

namespace platform {

class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() = 0;
    // Waits `ms` milliseconds while the window's events go on.
    virtual void pause(int ms) = 0;
    // Lets pending events run once (repaint, close query).
    virtual void yield() = 0;
};

class EventLoopClock : public Clock {
public:
    QDateTime now() override;
    void pause(int ms) override;
    void yield() override;
};

Clock& systemClock();

} // namespace platform
