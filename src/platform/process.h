#pragma once
// Starting a program that goes on by itself if this program ends, and
// polling it without blocking.
#include <QString>
#include <QStringList>
#include <optional>
#include <sys/types.h>

namespace platform {

struct ExitStatus {
    int code = -1;         // exit code; -1 when it ended by a signal
    QString errorOutput;   // what it wrote on standard error
};

class StartedProcess {
public:
    StartedProcess() = default;
    StartedProcess(pid_t pid, int errFd) : pid_(pid), errFd_(errFd) {}
    StartedProcess(StartedProcess&& other) noexcept;
    StartedProcess& operator=(StartedProcess&& other) noexcept;
    StartedProcess(const StartedProcess&) = delete;
    StartedProcess& operator=(const StartedProcess&) = delete;
    ~StartedProcess();

    bool valid() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }
    // Exit status once the process has ended; nullopt while it runs.
    std::optional<ExitStatus> poll();

private:
    void drainErrors();
    pid_t pid_ = -1;
    int errFd_ = -1;
    QByteArray errors_;
    std::optional<ExitStatus> done_;
};

// Starts a command line ("format.com e: /fs:ntfs/x/y/q"). The program name
// `format.com` stands for the project's format helper beside the program.
// The child runs in a session of its own, so it outlives this program.
// Throws RunTimeError(53) when the program cannot be found or started.
// `environment` entries ("NAME=value") replace or add to this program's.
StartedProcess startProcess(const QString& commandLine, const QStringList& environment = {});

// Name of the format helper installed beside the program.
inline constexpr const char* kFormatHelperName = "zarvexformat";

} // namespace platform
