// How late the window's event loop answers during a Short free-space wipe.
//
// Runs the real main window (offscreen), chooses "Security Wipe Free Space"
// and Short Wipe on the given drive and presses Wipe, with the system's own
// clock and drives: the pauses between passes are real. Meanwhile a timer
// asks to run every 10 ms; each tick's delay is how much later than asked it
// ran (the gap to the tick before, less 10 ms). Prints one line
//
//   probe <ticks> <longest ms> <p99 ms> <seconds>
//
// and everything else (messages the wipe showed, each tick later than the
// 50 ms goal with where the wipe stood) to standard error. Only
// reports; the goal (longest delay under 50 ms) is read by the person.
#include "app/form1.h"
#include "session/settings.h"
#include "controls/drivelistbox.h"
#include "platform/prompter.h"
#include "quietfill.h"
#include "platform/services.h"
#include "platform/shutdown.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QRadioButton>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr qint64 kTickMs = 10;
constexpr qint64 kGoalMs = 50;

double percentile(std::vector<qint64> ns, double p)
{
    if (ns.empty())
        return 0;
    std::sort(ns.begin(), ns.end());
    const auto rank = static_cast<std::size_t>(p * static_cast<double>(ns.size()) + 0.999999);
    return static_cast<double>(ns[std::clamp<std::size_t>(rank, 1, ns.size()) - 1]) / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int idleSeconds = args.size() == 3 && args.at(1) == QStringLiteral("--idle") ? args.at(2).toInt() : 0;
    if (idleSeconds <= 0 && (args.size() != 2 || args.at(1).size() != 1 || !args.at(1).at(0).isLetter())) {
        std::fprintf(stderr, "usage: zarvexresponsivenessprobe <drive letter>\n"
                             "  Short free-space wipe of the drive (ZARVEX_DRIVES maps letters to folders)\n"
                             "  through the main window; prints: probe <ticks> <longest ms> <p99 ms> <seconds>\n"
                             "       zarvexresponsivenessprobe --idle <seconds>\n"
                             "  the same window and timer without a wipe: the machine's own delays\n");
        return 2;
    }
    const QString letter = idleSeconds > 0 ? QStringLiteral("c") : args.at(1).toLower();
    platform::cleanUpOnTerminationSignals();

    // Message boxes cannot be answered offscreen.
    bench::SilentPrompter prompter;
    platform::Services services = platform::systemServices();
    services.prompter = &prompter;
    int ended = 0;
    app::Form1 window(services, [&] { ++ended; });
    window.show();

    window.Drive1->setDrive(letter + u':');
    window.Option7->click(); // Short Wipe
    window.Combo1->setCurrentIndex(3);
    window.Combo1_click(); // Security Wipe Free Space

    std::vector<qint64> delays;
    QElapsedTimer clock;
    qint64 last = 0;
    QTimer ticks;
    ticks.setTimerType(Qt::PreciseTimer);
    ticks.setInterval(static_cast<int>(kTickMs));
    QObject::connect(&ticks, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        const qint64 delay = std::max<qint64>(0, now - last - kTickMs * 1'000'000);
        delays.push_back(delay);
        last = now;
        // Where the wipe stood when a tick came past the goal, to find what held it.
        if (delay >= kGoalMs * 1'000'000)
            std::fprintf(stderr, "zarvexresponsivenessprobe: %.1f ms late at %.3f s: %s | %s | %s\n",
                         static_cast<double>(delay) / 1e6, static_cast<double>(now) / 1e9,
                         qPrintable(window.Text1->text()), qPrintable(window.Text4->text()),
                         qPrintable(window.Text7->text()));
    });

    qint64 wipeNs = 0;
    QTimer::singleShot(0, [&] {
        clock.start();
        ticks.start();
        if (idleSeconds > 0) {
            QEventLoop idle;
            QTimer::singleShot(idleSeconds * 1000, &idle, &QEventLoop::quit);
            idle.exec();
        } else {
            window.Command1_Click();
        }
        wipeNs = clock.nsecsElapsed();
        ticks.stop();
        QCoreApplication::quit();
    });
    app.exec();

    for (QString t : std::as_const(prompter.messages))
        std::fprintf(stderr, "zarvexresponsivenessprobe: message: %s\n",
                     qPrintable(t.replace(QStringLiteral("\r\n"), QStringLiteral(" | "))));
    if (idleSeconds == 0 && (!window.lastFill.completed || ended)) {
        std::fprintf(stderr, "zarvexresponsivenessprobe: the wipe did not complete\n");
        return 1;
    }
    const double longest = delays.empty() ? 0 : static_cast<double>(*std::max_element(delays.begin(), delays.end())) / 1e6;
    std::printf("probe %zu %.1f %.1f %.1f\n", delays.size(), longest, percentile(delays, 0.99),
                static_cast<double>(wipeNs) / 1e9);
    return 0;
}
