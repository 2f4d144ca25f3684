// The format helper, started by the program in place of the operating
// system's format command: `zarvexformat e: /fs:ntfs/x/y/q`; for a fill,
// `zarvexformat --release-reserve e:` (see format/reservehelper.h).
#include "format/formathelper.h"
#include "format/reservehelper.h"
#include "platform/mounts.h"
#include "platform/names.h"

#include <QFile>
#include <QStringList>
#include <csignal>
#include <cstdio>

int main(int argc, char** argv)
{
    // Nothing this process inherited may keep the volume busy.
    platform::detachFromCallerFiles();

    // A folder name that is not UTF-8 keeps its bytes: the folder examined
    // is the folder given.
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << platform::nameFromBytes(argv[i]);
    const bool reserve = args.value(0) == QLatin1String(format::kReleaseReserveSwitch);
    // A format stopped half-way leaves a drive unmounted and unusable, and
    // says nothing: once started, it runs to its end and reports it (each
    // tool it runs has a time limit). The signals are caught, not ignored,
    // so that the tools it starts (ntfs-3g stays as the new mount's driver)
    // get them as usual.
    if (!reserve) {
        struct sigaction carryOn {};
        carryOn.sa_handler = [](int) {};
        carryOn.sa_flags = SA_RESTART;
        for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
            ::sigaction(sig, &carryOn, nullptr);
    }
    const format::HelperOutcome outcome =
        reserve ? format::runReserveHelper(args.mid(1)) : format::runFormatHelper(args);
    if (!outcome.message.isEmpty()) {
        std::fputs(outcome.message.toLocal8Bit().constData(), stderr);
        std::fputc('\n', stderr);
    }
    return outcome.exitCode;
}
