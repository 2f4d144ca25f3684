#include "platform/shutdown.h"
#include "platform/blocking.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <unistd.h>

namespace platform {

static std::map<int, std::function<void()>>& registry()
{
    static std::map<int, std::function<void()>> r;
    return r;
}

static int nextId = 0;

EndOfProgramGuard::EndOfProgramGuard(std::function<void()> cleanup) : id_(++nextId)
{
    registry().emplace(id_, std::move(cleanup));
}

EndOfProgramGuard::~EndOfProgramGuard()
{
    registry().erase(id_);
}

void runEndOfProgramCleanups()
{
    // The program is ending: nothing may start anew while the cleanups wait
    // for the disk (a second close query, a second signal would run them
    // twice), and none of them may touch a file while a call on it is still
    // in flight, so they begin once that call has returned.
    const QuietWaits quiet;
    finishCallInFlight();
    auto& r = registry();
    while (!r.empty()) {
        auto last = std::prev(r.end());
        auto fn = std::move(last->second);
        r.erase(last);
        if (fn)
            fn();
    }
}

} // namespace platform

namespace platform {

static int signalPipe[2] = {-1, -1};

extern "C" void onTerminationSignal(int sig)
{
    const unsigned char b = static_cast<unsigned char>(sig);
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &b, 1);
}

void cleanUpOnTerminationSignals()
{
    if (signalPipe[0] >= 0 || ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, [] {
        unsigned char sig = 0;
        [[maybe_unused]] const ssize_t n = ::read(signalPipe[0], &sig, 1);
        runEndOfProgramCleanups();
        std::fflush(nullptr);
        std::_Exit(128 + sig);
    });
    struct sigaction sa {};
    sa.sa_handler = onTerminationSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(sig, &sa, nullptr);
    // A closed terminal pipe or a file-size limit must not kill the program
    // in the middle of a fill: both come back as errors from the write.
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);
}

} // namespace platform
