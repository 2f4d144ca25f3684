#include "platform/clock.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

namespace platform {

QDateTime EventLoopClock::now()
{
    return QDateTime::currentDateTime();
}

void EventLoopClock::pause(int ms)
{
    if (ms <= 0) {
        yield();
        return;
    }
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void EventLoopClock::yield()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

Clock& systemClock()
{
    static EventLoopClock clock;
    return clock;
}

} // namespace platform
