// Throughput of one fill pass: runs the fill engine once over a drive's free
// space, without the pauses between passes, and prints one line
//
//   engine <bytes> <seconds> <MBps>
//
// bytes: the size of the fill files when the pass deletes them; seconds:
// from the start of the fill until the first fill file is deleted, that is,
// once every fill file has been written and flushed to stable storage;
// MBps: bytes / 1,000,000 / seconds. Everything else goes to standard error.
#include "engine/filltarget.h"
#include "engine/freespacewipe.h"
#include "quietfill.h"
#include "platform/errors.h"
#include "platform/reservedspace.h"
#include "platform/services.h"
#include "platform/shutdown.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QStringList>
#include <cstdio>

namespace {

// What the bench learns from the fill files as the pass deletes them.
struct Measurement {
    std::uint64_t bytes = 0;   // summed sizes of the fill files
    qint64 flushedAtNs = -1;   // when the first one was deleted
    bool reserveReleased = false;
};

// The disk as the engine fills it, with the file system's reserve released
// as the engine does for itself, plus the size of each fill file when it
// goes and the moment the first one goes (the pass has written and flushed
// them all by then).
class MeasuredDiskTarget : public engine::DiskFillTarget {
public:
    MeasuredDiskTarget(platform::DriveServices& drives, const QString& drive, const QElapsedTimer& timer,
                       Measurement& m)
        : DiskFillTarget(drives, drive), drives_(drives), timer_(timer), m_(m),
          release_(drive.left(2), folder()), guard_([this] { release_.restore(); })
    {
        m_.reserveReleased = release_.released();
    }

    void remove(const QString& drivePath) override
    {
        if (m_.flushedAtNs < 0)
            m_.flushedAtNs = timer_.nsecsElapsed();
        m_.bytes += static_cast<std::uint64_t>(QFileInfo(drives_.nativePath(drivePath)).size());
        DiskFillTarget::remove(drivePath);
    }

private:
    platform::DriveServices& drives_;
    const QElapsedTimer& timer_;
    Measurement& m_;
    platform::ReservedSpaceRelease release_;
    platform::EndOfProgramGuard guard_;
};

QString driveFromArgument(const QString& arg)
{
    if (arg.isEmpty() || !arg.at(0).isLetter() || arg.size() > 2 || (arg.size() == 2 && arg.at(1) != u':'))
        return {};
    return arg.left(1).toLower() + u':';
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString drive = args.size() == 2 ? driveFromArgument(args.at(1)) : QString();
    if (drive.isEmpty()) {
        std::fprintf(stderr, "usage: zarvexfillbench <drive letter>\n"
                             "  fills the drive's free space once (ZARVEX_DRIVES maps letters to folders)\n"
                             "  and prints: engine <bytes> <seconds> <MBps>\n");
        return 2;
    }
    platform::cleanUpOnTerminationSignals();

    platform::Services services = platform::systemServices();
    bench::SilentPrompter prompter;
    services.prompter = &prompter;

    QString selectedDrive = drive;
    std::int16_t wipeLevel = 0;
    double freeSpaceKB = 0;
    QDateTime wipeStartTime, wipeNowTime;
    std::int16_t driveErrorFlag = 0, driveCategory = 0, driveCategoryKnown = 0;
    std::int32_t patternCallCount = 0;
    engine::FillState state{selectedDrive,  wipeLevel,          freeSpaceKB,   wipeStartTime,     wipeNowTime,
                            driveErrorFlag, patternCallCount, driveCategory, driveCategoryKnown};

    bench::QuietView view;
    engine::FillProcedure fill(state, view, services);
    fill.setPauses(false);

    QElapsedTimer timer;
    Measurement measured;
    fill.setTargetFactory([&](const QString& d) -> std::unique_ptr<engine::FillTarget> {
        return std::make_unique<MeasuredDiskTarget>(*services.drives, d, timer, measured);
    });

    std::uint64_t freeBefore = 0;
    try {
        freeBefore = services.drives->freeBytes(drive + u'\\');
    } catch (const platform::RunTimeError& e) {
        std::fprintf(stderr, "zarvexfillbench: drive %s: error %d: %s\n", qPrintable(drive), e.number(),
                     qPrintable(e.description()));
        return 1;
    }

    timer.start();
    const engine::FillOutcome outcome = fill.run(1);
    const qint64 endNs = timer.nsecsElapsed();

    for (QString m : std::as_const(prompter.messages))
        std::fprintf(stderr, "zarvexfillbench: message: %s\n",
                     qPrintable(m.replace(QStringLiteral("\r\n"), QStringLiteral(" | "))));
    const qint64 ns = measured.flushedAtNs >= 0 ? measured.flushedAtNs : endNs;
    std::fprintf(stderr, "zarvexfillbench: drive %s: %llu bytes free before (reserve %s), whole run %.3f s\n",
                 qPrintable(drive), static_cast<unsigned long long>(freeBefore),
                 measured.reserveReleased ? "released" : "not released", static_cast<double>(endNs) / 1e9);
    if (!outcome.completed || measured.bytes == 0 || ns <= 0) {
        std::fprintf(stderr, "zarvexfillbench: the fill did not complete\n");
        return 1;
    }
    const double seconds = static_cast<double>(ns) / 1e9;
    std::printf("engine %llu %.6f %.1f\n", static_cast<unsigned long long>(measured.bytes), seconds,
                static_cast<double>(measured.bytes) / 1e6 / seconds);
    return 0;
}
