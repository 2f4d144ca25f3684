#include "app/console.h"
#include "app/entiredrive.h"
#include "app/settings.h"
#include "drives/driveinfo.h"
#include "engine/freespacewipe.h"
#include "platform/environment.h"
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
    "  zarvexwipe drive D: --fs fat|fat32|ntfs [--short] --yes\n"
    "                                      destroy everything on drive D: format it,\n"
    "                                      fill it (10 passes; 5 with --short), format\n"
    "                                      it again; needs root. Without --yes it only\n"
    "                                      says what it would destroy.\n"
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
class ConsoleView : public EntireDriveView {
public:
    explicit ConsoleView(QString entry = {}) : tty_(::isatty(STDOUT_FILENO) == 1), entry_(std::move(entry))
    {
        clock_.start();
    }
    void lockChoices() override {}
    QString selectedDriveEntry() const override { return entry_; }
    void unlockAfterRefusal() override {}
    void showFormatType(int) override {}
    void lockForShortWipe() override {}
    void resetAfterDriveWipe() override { endProgressLine(); }
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
    QString entry_;
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

struct Options {
    QString drive;
    bool shortWipe = false;
    bool yes = false;
    QString fs;
};

// Reads "D:" and the flags a command accepts; false after a usage message.
bool parseOptions(const QStringList& args, bool driveCommand, Options& o, int& rc)
{
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QStringLiteral("--short"))
            o.shortWipe = true;
        else if (driveCommand && a == QStringLiteral("--yes"))
            o.yes = true;
        else if (driveCommand && a == QStringLiteral("--fs") && i + 1 < args.size())
            o.fs = args[++i].toLower();
        else if (o.drive.isEmpty() && platform::driveLetterOf(a) &&
                 (a.size() == 2 || (a.size() == 3 && (a[2] == u'\\' || a[2] == u'/'))))
            o.drive = a.left(2).toLower();
        else {
            rc = usageError(QStringLiteral("unexpected argument: ") + a);
            return false;
        }
    }
    if (o.drive.isEmpty()) {
        rc = usageError(QStringLiteral("a drive is needed, for example d:"));
        return false;
    }
    if (driveCommand && o.fs != QStringLiteral("fat") && o.fs != QStringLiteral("fat32") &&
        o.fs != QStringLiteral("ntfs")) {
        rc = usageError(QStringLiteral("--fs fat, fat32 or ntfs is needed"));
        return false;
    }
    return true;
}

// The console's share of what the window does when Wipe is pressed: the
// drive must exist, be no CD drive, and be ready.
struct ConsoleRun {
    ConsolePrompter prompter;
    platform::Services services = platform::systemServices();
    std::int16_t category = 0, errorFlag = 0, running = 0;
    std::int32_t patterns = 0;
    QString folder;

    bool prepare(const Options& o)
    {
        services.prompter = &prompter;
        const auto f = services.drives->table().folderFor(o.drive[0]);
        if (!f) {
            printLine(QStringLiteral("There is no drive %1.").arg(o.drive.toUpper()));
            return false;
        }
        folder = *f;
        ProcessSettings& s = settings();
        s.SelectedDrive = o.drive + u'\\';
        s.WipeLevel = o.shortWipe ? ShortWipe : CompleteWipe;
        drives::ShowDriveInfo(s.SelectedDrive, {category, s.DriveCategoryKnown}, *services.drives, prompter);
        return category != drives::CategoryCd && services.drives->isReady(s.SelectedDrive);
    }
    engine::FillState fillState()
    {
        ProcessSettings& s = settings();
        return {s.SelectedDrive, s.WipeLevel, s.FreeSpaceKB, s.WipeStartTime, s.WipeNowTime,
                errorFlag,       patterns,    category,      s.DriveCategoryKnown};
    }
};

// Reads the command's arguments and checks its drive; false with the exit
// code in `rc` when the command cannot go on.
bool begin(const QStringList& args, bool driveCommand, Options& o, ConsoleRun& run, int& rc)
{
    if (!parseOptions(args, driveCommand, o, rc))
        return false;
    rc = 1;
    return run.prepare(o);
}

int entireDrive(const QStringList& args)
{
    Options o;
    ConsoleRun run;
    int rc = 0;
    if (!begin(args, true, o, run, rc))
        return rc;
    ProcessSettings& s = settings();
    s.FormatType = o.fs == QStringLiteral("fat") ? FormatFat : o.fs == QStringLiteral("fat32") ? FormatFat32 : FormatNtfs;
    if (forceFatForRemovable(run.category, s.FormatType))
        printLine(removableFatMessage());
    const QString fsName = s.FormatType == FormatFat ? QStringLiteral("FAT")
                           : s.FormatType == FormatFat32 ? QStringLiteral("FAT32") : QStringLiteral("NTFS");
    const QString plan = QStringLiteral("drive %1 [%2]: format as %3, fill %4 passes, format again")
                             .arg(o.drive.toUpper(), run.folder, fsName)
                             .arg(engine::driveFillPasses(s.WipeLevel));
    if (!o.yes) {
        printLine(QStringLiteral("This destroys everything on ") + plan +
                  QStringLiteral(".\nNothing was done. Run the command again with --yes to do it."));
        return 1;
    }
    s.SystemRootPath = platform::systemRootValue(run.services.drives->table());
    printLine(QStringLiteral("Wiping ") + plan + u'.');
    ConsoleView view(platform::driveEntryText({o.drive[0], run.folder}));
    EntireDriveContext ctx{run.fillState(), s, run.running, view, run.services, {}, true};
    const DriveWipeResult result = runEntireDriveWipe(ctx);
    return result == DriveWipeResult::Completed ? 0 : 1;
}

int freeSpace(const QStringList& args)
{
    Options o;
    ConsoleRun run;
    int rc = 0;
    if (!begin(args, false, o, run, rc))
        return rc;
    const ProcessSettings& s = settings();
    printLine(QStringLiteral("Wiping the free space of drive %1 [%2], %3 passes.")
                  .arg(o.drive.toUpper(), run.folder)
                  .arg(engine::freeSpacePasses(s.WipeLevel)));
    ConsoleView view;
    engine::FillProcedure fill(run.fillState(), view, run.services);
    const engine::FillOutcome outcome = fill.run(engine::freeSpacePasses(s.WipeLevel));
    return outcome.completed && !outcome.driveErrors && !outcome.spaceMissed ? 0 : 1;
}

} // namespace

bool isConsoleCommand(const QStringList& args)
{
    return !args.isEmpty();
}

static int runCommand(const QStringList& args);

int runConsole(const QStringList& args)
{
    try {
        return runCommand(args);
    } catch (const std::exception& e) {
        // Unwinding has deleted the running pass's fill files by now.
        printLine(QStringLiteral("The process stopped: ") + QString::fromLocal8Bit(e.what()));
        return 1;
    }
}

static int runCommand(const QStringList& args)
{
    const QString command = args.value(0);
    if (command == QStringLiteral("--help") || command == QStringLiteral("-h") || command == QStringLiteral("help")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (command == QStringLiteral("free-space"))
        return freeSpace(args.mid(1));
    if (command == QStringLiteral("drive"))
        return entireDrive(args.mid(1));
    return usageError(QStringLiteral("unknown command: ") + command);
}

} // namespace app
