#include "platform/process.h"
#include "platform/argv.h"
#include "platform/errors.h"
#include "platform/privileges.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace platform {

StartedProcess::StartedProcess(StartedProcess&& other) noexcept
{
    *this = std::move(other);
}

StartedProcess& StartedProcess::operator=(StartedProcess&& other) noexcept
{
    if (this != &other) {
        if (errFd_ >= 0)
            ::close(errFd_);
        pid_ = other.pid_;
        errFd_ = other.errFd_;
        viaPkexec_ = other.viaPkexec_;
        errors_ = std::move(other.errors_);
        done_ = std::move(other.done_);
        other.pid_ = -1;
        other.errFd_ = -1;
    }
    return *this;
}

StartedProcess::~StartedProcess()
{
    // The child is not waited for or killed: it goes on by itself.
    if (errFd_ >= 0)
        ::close(errFd_);
}

void StartedProcess::drainErrors()
{
    if (errFd_ < 0)
        return;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(errFd_, buf, sizeof buf);
        if (n > 0) {
            errors_.append(buf, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0) {
            ::close(errFd_);
            errFd_ = -1;
        }
        return; // EAGAIN: nothing more for now
    }
}

std::optional<ExitStatus> StartedProcess::poll()
{
    if (done_)
        return done_;
    if (pid_ <= 0)
        return ExitStatus{};
    drainErrors();
    int status = 0;
    const pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == 0)
        return std::nullopt;
    ExitStatus s;
    if (r == pid_ && WIFEXITED(status))
        s.code = WEXITSTATUS(status);
    drainErrors();
    s.errorOutput = QString::fromLocal8Bit(errors_).trimmed();
    if (viaPkexec_) {
        if (const auto refused = authorizationFailure(s.code, s.errorOutput)) {
            s.notAuthorized = true;
            s.errorOutput = *refused;
        }
    }
    done_ = s;
    return done_;
}

static QStringList splitCommandLine(const QString& commandLine)
{
    // Command lines here carry no quoted arguments; blanks separate them.
    return commandLine.split(u' ', Qt::SkipEmptyParts);
}

// This program's environment with `overrides` put in.
static QStringList childEnvironment(const QStringList& overrides)
{
    QStringList env;
    for (char** e = environ; *e; ++e) {
        const QString entry = QString::fromLocal8Bit(*e);
        const QString name = entry.section(u'=', 0, 0) + u'=';
        if (std::none_of(overrides.begin(), overrides.end(), [&](const QString& o) { return o.startsWith(name); }))
            env << entry;
    }
    return env + overrides;
}

pid_t spawnInOwnSession(const QStringList& arguments, const QStringList& environment, int in, int out, int err)
{
    if (arguments.isEmpty())
        throw RunTimeError(ErrFileNotFound, QString());
    ArgVector argv(arguments);
    ArgVector envp(childEnvironment(environment));

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const int wanted[3] = {in, out, err};
    for (int fd = 0; fd < 3; ++fd) {
        if (wanted[fd] >= 0)
            posix_spawn_file_actions_adddup2(&actions, wanted[fd], fd);
        else
            posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
    }
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);

    pid_t pid = -1;
    const int rc = ::posix_spawnp(&pid, argv.program(), &actions, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0)
        throw RunTimeError(ErrFileNotFound,
                           QStringLiteral("%1: %2").arg(arguments.first(), QString::fromLocal8Bit(std::strerror(rc))));
    return pid;
}

StartedProcess startProcess(const QString& commandLine, const QStringList& environment)
{
    const QStringList args = splitCommandLine(commandLine);
    if (args.isEmpty())
        throw RunTimeError(ErrFileNotFound, commandLine);
    return startProcess(args, environment);
}

StartedProcess startProcess(const QStringList& arguments, const QStringList& environment)
{
    if (arguments.isEmpty())
        throw RunTimeError(ErrFileNotFound, QString());
    QStringList args = arguments;
    if (args.first().compare(QStringLiteral("format.com"), Qt::CaseInsensitive) == 0)
        args = formatHelperCommand(args.mid(1));
    const bool viaPkexec = args.first() == QLatin1String(kPkexec);
    // The program that will really run: pkexec's, when it runs one.
    const QString& program = viaPkexec ? args.at(1) : args.first();
    if (program.contains(u'/') && !QFileInfo(program).isExecutable())
        throw RunTimeError(ErrFileNotFound, program);

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        throw errorFromErrno(errno, {}, QStringLiteral("pipe"));
    ::fcntl(pipeFds[0], F_SETFL, O_NONBLOCK);
    pid_t pid = -1;
    try {
        pid = spawnInOwnSession(args, environment, -1, -1, pipeFds[1]);
    } catch (...) {
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        throw;
    }
    ::close(pipeFds[1]);
    return StartedProcess(pid, pipeFds[0], viaPkexec);
}

} // namespace platform
