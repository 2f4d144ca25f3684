// How long the file wipe window's file list takes to list a large folder,
// and how long the event loop waits meanwhile.
//
//   zarvexfilelistbench <folder>
//
// Lists the folder (filled by filelist_bench.sh) three times through
// controls::FileListBox, the control of the window, offscreen, while a timer
// asks to run every 5 ms. Prints
//
//   read <s>          listRegularFiles alone: the baseline, in the same run
//   list <s> <rows>   the list's refresh, median of three
//   ratio <list/read>
//   stall <ms>        the longest gap between ticks, less 5 ms
//   rss <KiB>         peak resident memory
#include "controls/filelistbox.h"
#include "platform/files.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <vector>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: zarvexfilelistbench <folder>\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };

    std::vector<double> reads, lists;
    for (int i = 0; i < 3; ++i) {
        QElapsedTimer t;
        t.start();
        const auto files = platform::listRegularFiles(folder);
        reads.push_back(t.nsecsElapsed() / 1e9);
    }

    controls::FileListBox list;
    list.resize(400, 600);
    list.show();
    QElapsedTimer sinceTick;
    qint64 longest = 0;
    QTimer ticks;
    QObject::connect(&ticks, &QTimer::timeout, [&] {
        longest = std::max(longest, sinceTick.restart() / 1'000'000 - 5);
    });
    ticks.start(5);
    for (int i = 0; i < 3; ++i) {
        QApplication::processEvents();
        sinceTick.start();
        QElapsedTimer t;
        t.start();
        list.setPath(i % 2 ? folder : folder + QStringLiteral("/."));
        QApplication::processEvents(); // the view lays out what it shows
        lists.push_back(t.nsecsElapsed() / 1e9);
        longest = std::max(longest, sinceTick.elapsed() - 5);
    }
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const double read = median(reads), listed = median(lists);
    std::printf("read %.3f\nlist %.3f %d\nratio %.2f\nstall %lld\nrss %ld\n", read, listed, list.listCount(),
                listed / read, static_cast<long long>(longest), usage.ru_maxrss);
    return 0;
}
