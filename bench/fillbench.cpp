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
#include <QRegularExpression>
#include <QStringList>
#include <cstdio>

namespace {

// The stages of a pass in the order they run; each lasts from its first
// call to the first call of a later one.
enum Stage { DataFill, RecordFill, ReadBack, Deletion, kStages };
const char* const kStageNames[kStages] = {"data fill", "record fill", "read-back", "deletion and end"};

// What the bench learns from the calls the pass makes on the disk.
struct Measurement {
    std::uint64_t bytes = 0; // summed sizes of the fill files
    qint64 startNs[kStages] = {-1, -1, -1, -1};
    bool reserveReleased = false;

    // Seconds of a stage, to the next stage that ran (or `endNs`).
    double seconds(Stage stage, qint64 endNs) const
    {
        if (startNs[stage] < 0)
            return 0;
        for (int next = stage + 1; next < kStages; ++next)
            if (startNs[next] >= 0)
                return static_cast<double>(startNs[next] - startNs[stage]) / 1e9;
        return static_cast<double>(endNs - startNs[stage]) / 1e9;
    }
};

// A fill file's name: tmptxt1.txt, tmptxt2.txt, ... at the drive's root.
bool isFillFile(const QString& drivePath)
{
    static const QRegularExpression fill(QStringLiteral("^[a-z]:\\\\tmptxt[0-9]+\\.txt$"),
                                         QRegularExpression::CaseInsensitiveOption);
    return fill.match(drivePath).hasMatch();
}

// The disk as the engine fills it, with the file system's reserve released
// as the engine does for itself, plus when each stage of the pass begins
// and the size of each fill file when it goes.
class MeasuredDiskTarget : public engine::DiskFillTarget {
public:
    MeasuredDiskTarget(platform::DriveServices& drives, const QString& drive, const QElapsedTimer& timer,
                       Measurement& m)
        : DiskFillTarget(drives, drive), drives_(drives), timer_(timer), m_(m),
          release_(drive.left(2), folder()), guard_([this] { release_.restore(); })
    {
        m_.reserveReleased = release_.released();
    }

    std::unique_ptr<engine::FillWriter> create(const QString& drivePath) override
    {
        // Names the record fill makes at the root come after the data.
        mark(isFillFile(drivePath) ? DataFill : RecordFill);
        return DiskFillTarget::create(drivePath);
    }
    void writeSmall(const QString& drivePath, const QByteArray& data, const QByteArray& attribute) override
    {
        mark(RecordFill);
        DiskFillTarget::writeSmall(drivePath, data, attribute);
    }
    platform::ReadBack verify(const QString& drivePath, const platform::WrittenContent& expected) override
    {
        mark(ReadBack);
        return DiskFillTarget::verify(drivePath, expected);
    }
    void remove(const QString& drivePath) override
    {
        // The record fill's first names go before the data fill: only the
        // fill files' deletion counts.
        if (isFillFile(drivePath)) {
            mark(Deletion);
            m_.bytes += static_cast<std::uint64_t>(QFileInfo(drives_.nativePath(drivePath)).size());
        }
        DiskFillTarget::remove(drivePath);
    }

private:
    void mark(Stage stage)
    {
        if (m_.startNs[stage] < 0 && (stage == DataFill || m_.startNs[DataFill] >= 0))
            m_.startNs[stage] = timer_.nsecsElapsed();
    }

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
                             "  and prints: engine <bytes> <seconds> <MBps> (the data fill alone; the stages to stderr)\n");
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
    std::fprintf(stderr, "zarvexfillbench: drive %s: %llu bytes free before (reserve %s), whole run %.3f s\n",
                 qPrintable(drive), static_cast<unsigned long long>(freeBefore),
                 measured.reserveReleased ? "released" : "not released", static_cast<double>(endNs) / 1e9);
    for (int stage = 0; stage < kStages; ++stage)
        std::fprintf(stderr, "zarvexfillbench: %-11s %8.3f s\n", kStageNames[stage],
                     measured.seconds(Stage(stage), endNs));
    const double seconds = measured.seconds(DataFill, endNs);
    if (!outcome.completed || measured.bytes == 0 || seconds <= 0) {
        std::fprintf(stderr, "zarvexfillbench: the fill did not complete\n");
        return 1;
    }
    // The data fill alone: what dd does.
    std::printf("engine %llu %.6f %.1f\n", static_cast<unsigned long long>(measured.bytes), seconds,
                static_cast<double>(measured.bytes) / 1e6 / seconds);
    return 0;
}
