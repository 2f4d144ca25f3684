#pragma once
// Stand-ins for what cannot run here (a person answering message boxes, a
// USB stick, a CD drive) and for time that must be compressed.
#include "platform/clock.h"
#include "platform/driveservices.h"
#include "platform/prompter.h"

#include <QCoreApplication>
#include <QMap>
#include <QStringList>
#include <deque>
#include <functional>
#include <optional>
#include <utility>

namespace testsupport {

// Records every message and answers Yes/No questions from a script
// (No when the script is empty).
class ScriptedPrompter : public platform::Prompter {
public:
    void message(const QString& text) override { texts << text; }
    bool askYesNo(const QString& text) override
    {
        texts << text;
        questions << text;
        const bool yes = !answers.empty() && answers.front();
        if (!answers.empty())
            answers.pop_front();
        return yes;
    }

    // The questions before destruction are kept and answered apart (Yes
    // unless a test says No), so that the scripts and texts of the others
    // stay as they are.
    bool confirm(const QString& text) override
    {
        confirmations << text;
        return confirmYes;
    }

    // Cancel when a test says so, else as a Yes/No question.
    platform::Answer askYesNoCancel(const QString& text) override
    {
        if (!std::exchange(cancelNext, false))
            return askYesNo(text) ? platform::Answer::Yes : platform::Answer::No;
        texts << text;
        questions << text;
        return platform::Answer::Cancel;
    }

    void answer(bool yes) { answers.push_back(yes); }
    // Every text shown, messages and questions, in order.
    QStringList texts;
    QStringList questions;
    std::deque<bool> answers;
    QStringList confirmations;
    bool confirmYes = true;
    bool cancelNext = false;
};

// A clock whose pauses advance time at once instead of waiting.
class FastClock : public platform::Clock {
public:
    QDateTime now() override { return now_; }
    void pause(int ms) override
    {
        pausedMs += ms;
        advance(ms);
        if (onPause)
            onPause();
        yield();
    }
    void yield() override
    {
        ++yields;
        QCoreApplication::processEvents();
        if (onYield)
            onYield();
    }

    void advance(qint64 ms) { now_ = now_.addMSecs(ms); }
    qint64 pausedMs = 0;
    int yields = 0;
    // Run at each pause and each yield (to change the world meanwhile).
    std::function<void()> onPause;
    std::function<void()> onYield;

private:
    QDateTime now_ = QDateTime(QDate(2026, 1, 1), QTime(10, 0, 0));
};

// The real drive services with chosen type codes, readiness and free space
// per letter (a removable stick, a CD drive, a drive that comes and goes).
class FakeDrives : public platform::LinuxDriveServices {
public:
    int typeCode(const QString& path) const override
    {
        return chosen(types, path, [&] { return LinuxDriveServices::typeCode(path); });
    }
    bool isReady(const QString& path) const override
    {
        ++readyQueries;
        return chosen(ready, path, [&] { return LinuxDriveServices::isReady(path); });
    }
    std::uint64_t freeBytes(const QString& path) const override
    {
        return chosen(free, path, [&] { return LinuxDriveServices::freeBytes(path); });
    }

    QMap<QChar, int> types;
    QMap<QChar, bool> ready;
    QMap<QChar, std::uint64_t> free;
    mutable int readyQueries = 0;

private:
    // The value chosen for the path's letter, else what the real services say.
    template <typename T, typename Real>
    static T chosen(const QMap<QChar, T>& values, const QString& drivePath, Real real)
    {
        const auto l = platform::driveLetterOf(drivePath);
        return l && values.contains(*l) ? values.value(*l) : real();
    }
};

// Sets an environment variable for a scope, restoring the old state after.
class EnvGuard {
public:
    EnvGuard(const char* name, const QString& value) : name_(name)
    {
        if (qEnvironmentVariableIsSet(name))
            old_ = qgetenv(name);
        qputenv(name, value.toUtf8());
    }
    ~EnvGuard() { old_ ? qputenv(name_.constData(), *old_) : qunsetenv(name_.constData()); }

private:
    QByteArray name_;
    std::optional<QByteArray> old_;
};

} // namespace testsupport
