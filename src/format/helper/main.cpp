// The format helper, started by the program in place of the operating
// system's format command: `zarvexformat e: /fs:ntfs/x/y/q`; for a fill,
// `zarvexformat --release-reserve e:` (see format/reservehelper.h).
#include "format/formathelper.h"
#include "format/reservehelper.h"
#include "platform/mounts.h"

#include <QFile>
#include <QStringList>
#include <cstdio>

int main(int argc, char** argv)
{
    // Nothing this process inherited may keep the volume busy.
    platform::detachFromCallerFiles();

    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QFile::decodeName(argv[i]);
    const format::HelperOutcome outcome = args.value(0) == QLatin1String(format::kReleaseReserveSwitch)
                                              ? format::runReserveHelper(args.mid(1))
                                              : format::runFormatHelper(args);
    if (!outcome.message.isEmpty()) {
        std::fputs(outcome.message.toLocal8Bit().constData(), stderr);
        std::fputc('\n', stderr);
    }
    return outcome.exitCode;
}
