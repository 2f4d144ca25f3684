#pragma once
// Stand-ins for what cannot run here (a person answering message boxes, a
// USB stick, a CD drive) and for time that must be compressed.
#include "platform/clock.h"
#include "platform/driveservices.h"
#include "platform/prompter.h"

#include <QMap>
#include <QStringList>
#include <deque>
#include <functional>

namespace testsupport {

// Records every message and answers Yes/No questions from a script
// (No when the script is empty).
class ScriptedPrompter : public platform::Prompter {
public:
    void message(const QString& text) override;
    bool askYesNo(const QString& text) override;

    void answer(bool yes) { answers.push_back(yes); }
    // Every text shown, messages and questions, in order.
    QStringList texts;
    QStringList questions;
    std::deque<bool> answers;
    // Runs at each message or question (to act while a box would be open).
    std::function<void(const QString&)> onShow;
};

// A clock whose pauses advance time at once instead of waiting.
class FastClock : public platform::Clock {
public:
    QDateTime now() override { return now_; }
    void pause(int ms) override;
    void yield() override;

    void advance(qint64 ms) { now_ = now_.addMSecs(ms); }
    qint64 pausedMs = 0;
    int yields = 0;
    // Run at each pause and each yield (to change the world meanwhile).
    std::function<void()> onPause;
    std::function<void()> onYield;

private:
    QDateTime now_ = QDateTime(QDate(2026, 1, 1), QTime(10, 0, 0));
};

// The real drive services with chosen type codes and readiness overridden
// per letter (a removable stick, a CD drive, a drive that comes and goes).
class FakeDrives : public platform::LinuxDriveServices {
public:
    int typeCode(const QString& drivePath) const override;
    bool isReady(const QString& drivePath) const override;
    std::uint64_t freeBytes(const QString& drivePath) const override;

    QMap<QChar, int> types;
    QMap<QChar, bool> ready;
    QMap<QChar, std::uint64_t> free;
    mutable int readyQueries = 0;
};

// Sets an environment variable for a scope, restoring the old state after.
class EnvGuard {
public:
    EnvGuard(const char* name, const QString& value);
    ~EnvGuard();
    static void unset(const char* name);

private:
    QByteArray name_;
    bool wasSet_;
    QByteArray old_;
};

} // namespace testsupport
