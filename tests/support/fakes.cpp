#include "support/fakes.h"

#include <QCoreApplication>

namespace testsupport {

void ScriptedPrompter::message(const QString& text)
{
    texts << text;
    if (onShow)
        onShow(text);
}

bool ScriptedPrompter::askYesNo(const QString& text)
{
    texts << text;
    questions << text;
    if (onShow)
        onShow(text);
    if (answers.empty())
        return false;
    const bool yes = answers.front();
    answers.pop_front();
    return yes;
}

void FastClock::pause(int ms)
{
    pausedMs += ms;
    advance(ms);
    if (onPause)
        onPause();
    yield();
}

void FastClock::yield()
{
    ++yields;
    QCoreApplication::processEvents();
    if (onYield)
        onYield();
}

int FakeDrives::typeCode(const QString& drivePath) const
{
    const auto l = platform::driveLetterOf(drivePath);
    if (l && types.contains(*l))
        return types.value(*l);
    return LinuxDriveServices::typeCode(drivePath);
}

bool FakeDrives::isReady(const QString& drivePath) const
{
    ++readyQueries;
    const auto l = platform::driveLetterOf(drivePath);
    if (l && ready.contains(*l))
        return ready.value(*l);
    return LinuxDriveServices::isReady(drivePath);
}

std::uint64_t FakeDrives::freeBytes(const QString& drivePath) const
{
    const auto l = platform::driveLetterOf(drivePath);
    if (l && free.contains(*l))
        return free.value(*l);
    return LinuxDriveServices::freeBytes(drivePath);
}

EnvGuard::EnvGuard(const char* name, const QString& value)
    : name_(name), wasSet_(qEnvironmentVariableIsSet(name)), old_(qgetenv(name))
{
    qputenv(name, value.toUtf8());
}

EnvGuard::~EnvGuard()
{
    if (wasSet_)
        qputenv(name_.constData(), old_);
    else
        qunsetenv(name_.constData());
}

void EnvGuard::unset(const char* name)
{
    qunsetenv(name);
}

} // namespace testsupport
