#include "platform/tools.h"
#include "platform/argv.h"

#include <QFile>
#include <QStandardPaths>
#include <cerrno>
#include <csignal>
#include <chrono>
#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace platform {

QString findTool(const QString& name)
{
    QString path = QStandardPaths::findExecutable(name);
    if (path.isEmpty())
        path = QStandardPaths::findExecutable(
            name, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"), QStringLiteral("/usr/bin"),
                   QStringLiteral("/bin")});
    return path;
}

ToolResult runTool(const QString& program, const QStringList& args, int timeoutMs)
{
    ToolResult result;
    const int out = ::memfd_create("tool-output", MFD_CLOEXEC);
    if (out < 0) {
        result.output = QStringLiteral("cannot keep the output of %1").arg(program);
        return result;
    }

    ArgVector argv(QStringList{program} + args);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out, 1);
    posix_spawn_file_actions_adddup2(&actions, out, 2);
    pid_t pid = -1;
    const int rc = ::posix_spawnp(&pid, argv.program(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        ::close(out);
        result.output = QStringLiteral("%1: cannot be started").arg(program);
        return result;
    }
    result.started = true;

    int status = 0;
    pid_t r = 0;
    constexpr int kPollMs = 20;
    for (int waited = 0; r == 0 || (r < 0 && errno == EINTR);) {
        r = ::waitpid(pid, &status, WNOHANG);
        if (r != 0)
            continue;
        if (waited >= timeoutMs) {
            ::kill(pid, SIGKILL);
            result.timedOut = true;
            do
                r = ::waitpid(pid, &status, 0);
            while (r < 0 && errno == EINTR);
            break;
        }
        sleepMs(kPollMs);
        waited += kPollMs;
    }
    if (r == pid && WIFEXITED(status))
        result.exitCode = WEXITSTATUS(status);

    QByteArray text;
    char buf[4096];
    off_t offset = 0;
    for (;;) {
        const ssize_t n = ::pread(out, buf, sizeof buf, offset);
        if (n <= 0)
            break;
        text.append(buf, n);
        offset += n;
    }
    ::close(out);
    result.output = QString::fromLocal8Bit(text);
    return result;
}

void sleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace platform
