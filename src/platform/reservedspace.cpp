#include "platform/reservedspace.h"
#include "platform/drivetable.h"
#include "platform/errors.h"
#include "platform/mounts.h"
#include "platform/privileges.h"
#include "platform/process.h"

#include <QCoreApplication>
#include <QScopeGuard>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace platform {

namespace {

// How long the end of a fill waits for the helper to put the reserve back.
constexpr int kRestoreWaitMs = 10000;

void closeFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// Reads what the helper says until its first line or its end. The window
// keeps running meanwhile: an administrator may be typing a password.
QByteArray firstLineOf(int fd)
{
    QByteArray said;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) > 0) {
            char buf[256];
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n > 0) {
                said.append(buf, n);
                if (said.contains('\n'))
                    return said.left(said.indexOf('\n'));
                continue;
            }
            if (n == 0 || (errno != EINTR && errno != EAGAIN))
                return said;
        }
        if (QCoreApplication::instance())
            QCoreApplication::processEvents();
    }
}

int exitCodeOf(pid_t pid)
{
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

volatile sig_atomic_t terminationRequested = 0;
void noteTermination(int)
{
    terminationRequested = 1;
}

} // namespace

QString ReservedSpaceRelease::reserveKnob(const QString& nativeFolder)
{
    struct stat st {};
    if (::stat(QFile::encodeName(nativeFolder).constData(), &st) != 0)
        return {};
    bool ext4 = false;
    for (const MountEntry& m : systemMounts())
        if (m.major == major(st.st_dev) && m.minor == minor(st.st_dev))
            ext4 = m.fsType == QStringLiteral("ext4");
    if (!ext4)
        return {};
    // /sys/fs/ext4/ names file systems by their block device.
    const QString dev = QFileInfo(QStringLiteral("/sys/dev/block/%1:%2").arg(major(st.st_dev)).arg(minor(st.st_dev)))
                            .canonicalFilePath();
    if (dev.isEmpty())
        return {};
    const QString knob = QStringLiteral("/sys/fs/ext4/") + QFileInfo(dev).fileName() +
                         QStringLiteral("/reserved_clusters");
    return QFileInfo::exists(knob) ? knob : QString();
}

std::optional<QString> readReserve(const QString& knob)
{
    QFile f(knob);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    return QString::fromLatin1(f.readAll()).trimmed();
}

bool writeReserve(const QString& knob, const QString& value)
{
    QFile f(knob);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    const QByteArray bytes = value.toLatin1();
    return f.write(bytes) == bytes.size() && f.flush();
}

ReservedSpaceRelease::ReservedSpaceRelease(const QString& drive, const QString& nativeFolder,
                                           const std::function<void(const QString&, const QString&)>& beforeRelease)
{
    const QString knob = reserveKnob(nativeFolder);
    const QString old = knob.isEmpty() ? QString() : readReserve(knob).value_or(QString());
    if (!knob.isEmpty() && old != QStringLiteral("0")) {
        if (beforeRelease)
            beforeRelease(knob, old);
        knob_ = knob;
        old_ = old;
        outOfReach_ = !startHelper(drive.left(2), nativeFolder);
    }
    // Without root, blocks kept for root are out of reach on any file system.
    struct statvfs sv {};
    if (::geteuid() != 0 && ::statvfs(QFile::encodeName(nativeFolder).constData(), &sv) == 0 &&
        sv.f_bfree > sv.f_bavail)
        outOfReach_ = true;
}

bool ReservedSpaceRelease::startHelper(const QString& drive, const QString& nativeFolder)
{
    int input[2], output[2], errors[2];
    if (::pipe2(input, O_CLOEXEC) != 0) {
        failure_ = QStringLiteral("no pipe to the helper");
        return false;
    }
    if (::pipe2(output, O_CLOEXEC) != 0) {
        ::close(input[0]);
        ::close(input[1]);
        failure_ = QStringLiteral("no pipe to the helper");
        return false;
    }
    if (::pipe2(errors, O_CLOEXEC) != 0) {
        errors[0] = -1;
        errors[1] = ::dup(STDERR_FILENO);
    }
    pid_t pid = -1;
    try {
        // The helper's reserve mode (format/reservehelper.h), pinned to the folder.
        QStringList args{QStringLiteral("--release-reserve")};
        if (const QString about = volumeSummaryAt(nativeFolder); !about.isEmpty())
            args << QStringLiteral("--about") << about; // named in the password prompt
        pid = spawnInOwnSession(formatHelperCommand(args + QStringList{QStringLiteral("--folder"), nativeFolder, drive}),
                                {}, input[0], output[1], errors[1]);
    } catch (const RunTimeError& e) {
        failure_ = e.description();
    }
    ::close(input[0]);
    ::close(output[1]);
    ::close(errors[1]);
    const QByteArray said = pid > 0 ? firstLineOf(output[0]) : QByteArray();
    ::close(output[0]);
    if (said.startsWith("released")) {
        helper_ = pid;
        helperInput_ = input[1];
        // Kept open (and read by nobody) until the helper has ended: it
        // must never meet a closed pipe while the reserve is down.
        helperErrors_ = errors[0];
        return true;
    }
    ::close(input[1]);
    // Ended without releasing: nothing to release (0), or refused, or the
    // password was not given. What it or pkexec said is the reason.
    QByteArray told;
    while (errors[0] >= 0) {
        char buf[512];
        const ssize_t n = ::read(errors[0], buf, sizeof buf);
        if (n > 0 && told.size() < 4096)
            told.append(buf, n);
        else if (n == 0 || (n < 0 && errno != EINTR))
            break;
    }
    closeFd(errors[0]);
    const int code = pid > 0 ? exitCodeOf(pid) : -1;
    if (code == 0)
        return true;
    const QString text = QString::fromLocal8Bit(told).simplified();
    if (failure_.isEmpty())
        failure_ = authorizationFailure(code, text)
                       .value_or(text.isEmpty() ? QStringLiteral("the helper ended with code %1").arg(code) : text);
    return false;
}

ReservedSpaceRelease::~ReservedSpaceRelease()
{
    restore();
}

bool ReservedSpaceRelease::restore()
{
    if (helper_ <= 0)
        return knob_.isEmpty() || readReserve(knob_) == old_;
    closeFd(helperInput_);
    const auto closeErrors = qScopeGuard([this] { closeFd(helperErrors_); });
    int status = 0;
    for (int waited = 0; waited < kRestoreWaitMs; waited += 10) {
        const pid_t r = ::waitpid(helper_, &status, WNOHANG);
        if (r == helper_ || (r < 0 && errno != EINTR))
            break;
        ::usleep(10000);
    }
    // A helper still at work finishes by itself; its input is closed.
    helper_ = -1;
    // Its exit says nothing of a helper that was killed: the setting itself does.
    return readReserve(knob_) == old_;
}

void tellCaller(const QByteArray& line)
{
    // A caller that has gone must not end the helper before it puts the
    // reserve back.
    std::signal(SIGPIPE, SIG_IGN);
    const QByteArray text = line + '\n';
    [[maybe_unused]] const ssize_t n = ::write(STDOUT_FILENO, text.constData(), text.size());
}

namespace {
sigset_t g_previousMask;
}

void holdTerminationSignals()
{
    // Signals stay blocked except inside ppoll, so none slips in between the
    // check and the wait, or ends the helper before the old value is back.
    sigset_t blocked;
    sigemptyset(&blocked);
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        sigaddset(&blocked, sig);
    ::sigprocmask(SIG_BLOCK, &blocked, &g_previousMask);
    struct sigaction action {};
    action.sa_handler = noteTermination;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &action, nullptr);
}

void waitForCallerToFinish(int limitMs)
{
    timespec deadline {};
    ::clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += limitMs / 1000;
    while (!terminationRequested) {
        timespec now {};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        if (now.tv_sec >= deadline.tv_sec)
            break;
        const timespec left{deadline.tv_sec - now.tv_sec, 0};
        pollfd p{STDIN_FILENO, POLLIN, 0};
        const int r = ::ppoll(&p, 1, &left, &g_previousMask);
        if (r == 0)
            continue;
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0 || (p.revents & (POLLERR | POLLNVAL)))
            break;
        char buf[256];
        const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
        if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN))
            break;
    }
}

} // namespace platform
