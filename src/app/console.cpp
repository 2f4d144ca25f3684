#include "app/console.h"
#include "app/settings.h"
#include "drives/driveinfo.h"
#include "engine/freespacewipe.h"
#include "platform/services.h"

#include <QElapsedTimer>
#include <cstdio>
#include <unistd.h>

namespace app {

namespace {

const char* kUsage =
    "Usage:\n"
    "  zarvexwipe                          open the window\n"
    "  zarvexwipe free-space D: [--short]  wipe the free space of drive D:\n"
    "                                      (12 passes; 6 with --short)\n"
    "  zarvexwipe --help                   this text\n"
    "\n"
    "Drives are letters: / is c:, other mounts d:, e:, ... in the order of their\n"
    "mount points; ZARVEX_DRIVES='c=/;t=/mnt/x' maps letters to folders.\n"
    "Exit codes: 0 done, 1 failed or incomplete, 2 bad arguments.\n";

void printLine(const QString& text)
{
    QString t = text;
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    std::fprintf(stdout, "%s\n", t.toLocal8Bit().constData());
    std::fflush(stdout);
}

class ConsolePrompter : public platform::Prompter {
public:
    void message(const QString& text) override { printLine(text); }
    bool askYesNo(const QString& text) override
    {
        printLine(text + QStringLiteral(" [answered No: no one to ask]"));
        return false;
    }
};

// Prints the status texts as they change and a progress line about once a
// second: percentage, bytes written, speed and the process time.
class ConsoleView : public engine::FillView {
public:
    ConsoleView() : tty_(::isatty(STDOUT_FILENO) == 1) { clock_.start(); }
    void setStatus(const QString& text) override
    {
        if (text == status_)
            return;
        status_ = text;
        endProgressLine();
        printLine(text);
    }
    void setDetail(const QString& text) override { printLine(text); }
    void setPercent(const QString& text) override { percent_ = text; }
    void setProcessTime(const QString& text) override
    {
        time_ = text;
        show();
    }
    void setProgress(std::int64_t value, std::int64_t) override { progress_ = value; }
    void setProcessControlsEnabled(bool) override {}
    void selectWipeOption(bool) override {}
    void resetAfterFill() override { endProgressLine(); }

private:
    void show()
    {
        if (clock_.elapsed() - lastShown_ < (tty_ ? 1000 : 10000))
            return;
        lastShown_ = clock_.elapsed();
        const double bytes = static_cast<double>(progress_) * 1024.0;
        const double seconds = clock_.elapsed() / 1000.0;
        const QString line = QStringLiteral("%1  %2 MB written  %3 MB/s  %4")
                                 .arg(percent_, 6)
                                 .arg(bytes / 1e6, 0, 'f', 1)
                                 .arg(seconds > 0 ? bytes / 1e6 / seconds : 0.0, 0, 'f', 1)
                                 .arg(time_);
        std::fprintf(stdout, tty_ ? "\r%s" : "%s\n", line.toLocal8Bit().constData());
        std::fflush(stdout);
        open_ = tty_;
    }
    void endProgressLine()
    {
        if (open_)
            std::fputc('\n', stdout);
        open_ = false;
    }
    bool tty_;
    bool open_ = false;
    QElapsedTimer clock_;
    qint64 lastShown_ = -100000;
    QString percent_ = QStringLiteral("0 %");
    QString time_;
    QString status_;
    std::int64_t progress_ = 0;
};

int usageError(const QString& why)
{
    std::fprintf(stderr, "zarvexwipe: %s\n\n%s", why.toLocal8Bit().constData(), kUsage);
    return 2;
}

int freeSpace(const QStringList& args)
{
    QString drive;
    bool shortWipe = false;
    for (const QString& a : args) {
        if (a == QStringLiteral("--short"))
            shortWipe = true;
        else if (drive.isEmpty() && platform::driveLetterOf(a) && a.size() <= 3)
            drive = a.left(2).toLower();
        else
            return usageError(QStringLiteral("unexpected argument: ") + a);
    }
    if (drive.isEmpty())
        return usageError(QStringLiteral("free-space needs a drive, for example d:"));

    ConsolePrompter prompter;
    platform::Services services = platform::systemServices();
    services.prompter = &prompter;
    const auto folder = services.drives->table().folderFor(drive[0]);
    if (!folder) {
        printLine(QStringLiteral("There is no drive %1.").arg(drive.toUpper()));
        return 1;
    }

    ProcessSettings& s = settings();
    s.SelectedDrive = drive + u'\\';
    s.WipeLevel = shortWipe ? ShortWipe : CompleteWipe;
    std::int16_t category = 0, errorFlag = 0;
    std::int32_t patterns = 0;
    drives::ShowDriveInfo(s.SelectedDrive, {category, s.DriveCategoryKnown}, *services.drives, prompter);
    if (category == drives::CategoryCd || !services.drives->isReady(s.SelectedDrive))
        return 1;

    printLine(QStringLiteral("Wiping the free space of drive %1 [%2], %3 passes.")
                  .arg(drive.toUpper(), *folder)
                  .arg(engine::freeSpacePasses(s.WipeLevel)));
    ConsoleView view;
    engine::FillProcedure fill({s.SelectedDrive, s.WipeLevel, s.FreeSpaceKB, s.WipeStartTime, s.WipeNowTime,
                                errorFlag, patterns, category, s.DriveCategoryKnown},
                               view, services);
    const engine::FillOutcome outcome = fill.run(engine::freeSpacePasses(s.WipeLevel));
    return outcome.completed && !outcome.driveErrors && !outcome.spaceMissed ? 0 : 1;
}

} // namespace

bool isConsoleCommand(const QStringList& args)
{
    return !args.isEmpty();
}

int runConsole(const QStringList& args)
{
    const QString command = args.value(0);
    if (command == QStringLiteral("--help") || command == QStringLiteral("-h") || command == QStringLiteral("help")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (command == QStringLiteral("free-space"))
        return freeSpace(args.mid(1));
    return usageError(QStringLiteral("unknown command: ") + command);
}

} // namespace app
