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
    // Started through pkexec, which refused or was dismissed: the program
    // itself never ran, and errorOutput says why.
    bool notAuthorized = false;
};

class StartedProcess {
public:
    StartedProcess() = default;
    StartedProcess(pid_t pid, int errFd, bool viaPkexec = false) : pid_(pid), errFd_(errFd), viaPkexec_(viaPkexec) {}
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
    bool viaPkexec_ = false;
    QByteArray errors_;
    std::optional<ExitStatus> done_;
};

// Starts a command line ("format.com e: /fs:ntfs/x/y/q"). The program name
// `format.com` stands for the project's format helper (beside the program
// or installed), run as root: through pkexec when this process is not root.
// The child runs in a session of its own, so it outlives this program.
// Throws RunTimeError(53) when the program cannot be found or started.
// `environment` entries ("NAME=value") replace or add to this program's
// (pkexec passes none of them on).
StartedProcess startProcess(const QString& commandLine, const QStringList& environment = {});
// The same for an argument vector, whose arguments may hold blanks.
StartedProcess startProcess(const QStringList& arguments, const QStringList& environment = {});

// Starts `arguments` in a session of its own with the given descriptors as
// its standard input, output and error (-1: /dev/null), and this program's
// environment with `environment` put in. Throws RunTimeError(53).
pid_t spawnInOwnSession(const QStringList& arguments, const QStringList& environment, int in, int out, int err);

// Name of the format helper.
inline constexpr const char* kFormatHelperName = "zarvexformat";

} // namespace platform
