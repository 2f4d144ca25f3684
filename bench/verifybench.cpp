// What reading the last pass back costs: runs a Short free-space wipe (six
// passes, the pauses between passes off) of one drive, alternately with the
// last pass read back and compared and with the read-back left out, and
// prints each run and the ratio of the medians:
//
//   plain    <seconds>          one line per run without the read-back
//   verified <seconds> <read>   one line per run with it; read: seconds in it
//   ratio <verified/plain> <read/plain>
//
// Both kinds run in the same process, on the same volume, one after the
// other, so the ratio compares like with like on a machine whose speed
// drifts. Records of these wipes go to a temporary folder.
#include "engine/filltarget.h"
#include "engine/freespacewipe.h"
#include "quietfill.h"
#include "platform/errors.h"
#include "platform/reservedspace.h"
#include "platform/services.h"
#include "platform/shutdown.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// The disk as the wipe fills it (reserve released, as the wipe does),
// reading back or not, and timing the reading.
class BenchTarget : public engine::DiskFillTarget {
public:
    BenchTarget(platform::DriveServices& drives, const QString& drive, bool verify, qint64& verifyNs,
                std::uint64_t& verifyBytes)
        : DiskFillTarget(drives, drive), verify_(verify), verifyNs_(verifyNs), verifyBytes_(verifyBytes),
          release_(drive.left(2), drives.nativePath(drive.left(2))), guard_([this] { release_.restore(); })
    {
    }
    platform::ReadBack verify(const QString& drivePath, const platform::WrittenContent& expected) override
    {
        if (!verify_)
            return {};
        QElapsedTimer t;
        t.start();
        platform::ReadBack r = DiskFillTarget::verify(drivePath, expected);
        verifyNs_ += t.nsecsElapsed();
        verifyBytes_ += expected.size();
        return r;
    }

private:
    bool verify_;
    qint64& verifyNs_;
    std::uint64_t& verifyBytes_;
    platform::ReservedSpaceRelease release_;
    platform::EndOfProgramGuard guard_;
};

struct Run {
    double seconds = 0;
    double readSeconds = 0;
    bool ok = false;
    std::uint64_t readBytes = 0;
};

Run wipe(const QString& drive, bool verify, std::int16_t level)
{
    platform::Services services = platform::systemServices();
    bench::SilentPrompter prompter;
    services.prompter = &prompter;
    QString selectedDrive = drive;
    std::int16_t wipeLevel = level;
    double freeSpaceKB = 0;
    QDateTime start, now;
    std::int16_t errorFlag = 0, category = 0, known = 0;
    std::int32_t patterns = 0;
    bench::QuietView view;
    engine::FillProcedure fill({selectedDrive, wipeLevel, freeSpaceKB, start, now, errorFlag, patterns, category, known},
                               view, services);
    fill.setPauses(false);
    qint64 verifyNs = 0;
    std::uint64_t verifyBytes = 0;
    fill.setTargetFactory([&](const QString& d) -> std::unique_ptr<engine::FillTarget> {
        return std::make_unique<BenchTarget>(*services.drives, d, verify, verifyNs, verifyBytes);
    });
    QElapsedTimer t;
    t.start();
    const engine::FillOutcome outcome = fill.run(engine::freeSpacePasses(wipeLevel));
    Run r{static_cast<double>(t.nsecsElapsed()) / 1e9, static_cast<double>(verifyNs) / 1e9, outcome.completed,
          verifyBytes};
    for (const QString& m : std::as_const(prompter.messages))
        std::fprintf(stderr, "zarvexverifybench: message: %s\n", qPrintable(QString(m).replace("\r\n", " | ")));
    if (verify && outcome.verification != platform::Verification::Passed)
        r.ok = false;
    return r;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir state;
    qputenv("XDG_STATE_HOME", state.path().toLocal8Bit());
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString letter = args.value(1);
    const int runs = args.size() > 2 ? args.at(2).toInt() : 3;
    const bool complete = args.value(3) == QStringLiteral("complete");
    const std::int16_t level = complete ? 1 : 2;
    if (letter.size() != 1 || !letter.at(0).isLetter() || runs < 1 || (args.size() > 3 && !complete)) {
        std::fprintf(stderr, "usage: zarvexverifybench <drive letter> [runs] [complete]\n"
                             "  runs a Short (or Complete) free-space wipe of the drive `runs` times with the last\n"
                             "  pass read back and as often without (ZARVEX_DRIVES maps letters to folders); prints\n"
                             "  the ratio\n");
        return 2;
    }
    platform::cleanUpOnTerminationSignals();
    const QString drive = letter.toLower() + u':';

    std::vector<double> plain, verified, read, readRate;
    // Warm-up, not counted: the first fill of a volume pays for its first
    // allocations.
    wipe(drive, false, level);
    for (int i = 0; i < runs; ++i) {
        for (const bool verify : {false, true}) {
            const Run r = wipe(drive, verify, level);
            if (!r.ok) {
                std::fprintf(stderr, "zarvexverifybench: the wipe did not complete%s\n",
                             verify ? " or did not verify" : "");
                return 1;
            }
            if (verify) {
                verified.push_back(r.seconds);
                read.push_back(r.readSeconds);
                const double rate = r.readSeconds > 0 ? static_cast<double>(r.readBytes) / 1e6 / r.readSeconds : 0;
                readRate.push_back(rate);
                std::printf("verified %.3f %.3f %.1f\n", r.seconds, r.readSeconds, rate);
            } else {
                plain.push_back(r.seconds);
                std::printf("plain    %.3f\n", r.seconds);
            }
            std::fflush(stdout);
        }
    }
    const double base = median(plain);
    std::printf("ratio %.3f %.3f\n", median(verified) / base, median(read) / base);
    std::printf("readback %.1f\n", median(readRate)); // MB/s, 10^6 bytes per second
    return 0;
}
