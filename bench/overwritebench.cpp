// Overwrite throughput of the file wipe: the passes one file gets, timed
// without the waits between them. Prints "bytes ns maxrss_kib" on one line.
//
//   zarvexoverwritebench FILE [PASSES] [mixed]
//     PASSES: 21 by default (20 numbered + the last); mixed: each pass mixed
//     with a keyed stream, as on a compressing volume
#include "filewipe/overwrite.h"
#include "platform/clock.h"
#include "platform/names.h"
#include "platform/overwritefile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <cstdio>
#include <string_view>
#include <sys/resource.h>

namespace {
// Time that does not wait: the waits are the routines' own, not throughput.
class NoWaitClock : public platform::Clock {
public:
    QDateTime now() override { return QDateTime::currentDateTime(); }
    void pause(int) override {}
    void yield() override {}
};

class NoView : public filewipe::OverwriteView {
public:
    void setTime(const QString&) override {}
    void setProgress(std::int64_t, std::int64_t) override {}
};
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: zarvexoverwritebench FILE [PASSES]\n");
        return 2;
    }
    const QString file = platform::nameFromBytes(argv[1]);
    const int passes = argc > 2 ? std::atoi(argv[2]) : 21;
    NoWaitClock clock;
    NoView view;
    const QFileInfo info(file);
    const platform::WipeFolder folder(info.absolutePath());
    platform::OverwriteFile opened = folder.open(info.fileName(), {});
    filewipe::OverwriteState state{file, &opened, info.size()};
    state.Mixed = argc > 3 && std::string_view(argv[3]) == "mixed";
    std::uint64_t bytes = 0;
    QElapsedTimer timer;
    timer.start();
    for (int p = 1; p <= passes; ++p) {
        filewipe::OW_FileB(state, static_cast<std::int16_t>(std::min(p, 20)), view, clock);
        bytes += static_cast<std::uint64_t>(state.BlockCount) * (state.FileLength >= filewipe::kLargeFile ? 200 : 100);
    }
    const qint64 ns = timer.nsecsElapsed();
    rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("%llu %lld %ld\n", static_cast<unsigned long long>(bytes), static_cast<long long>(ns), usage.ru_maxrss);
    return 0;
}
