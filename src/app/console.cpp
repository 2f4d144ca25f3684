#include "app/console.h"
#include "app/entiredrive.h"
#include "app/paths.h"
#include "session/settings.h"
#include "drives/driveinfo.h"
#include "engine/diskwipe.h"
#include "platform/deviceerase.h"
#include "platform/hiddenareas.h"
#include "platform/newtable.h"
#include "engine/freespacewipe.h"
#include "filewipe/folderlist.h"
#include "format/filesystems.h"
#include "platform/disks.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "platform/mounts.h"
#include "platform/names.h"
#include "platform/services.h"
#include "platform/wipejournal.h"
#include "records/listing.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <algorithm>
#include <string_view>
#include <vector>
#include <cstdio>
#include <unistd.h>

namespace app {

namespace {

// Each command's flags; a flag may be given once.
struct Flag {
    const char* name;
    bool takesValue;
    const char* help;
};

// What a command works on besides its flags.
enum class Operand { Drive, Files, Folder, Record, Device, None };

struct Command {
    const char* name;
    QString synopsis;
    std::vector<Flag> flags;
    QString (*summary)();
    Operand operand = Operand::Drive;
};

QString freeSpaceSummary()
{
    return QStringLiteral("Wipes the free space of drive D: with fill files: %1 passes (%2 with --short).")
        .arg(engine::freeSpacePasses(session::CompleteWipe))
        .arg(engine::freeSpacePasses(session::ShortWipe));
}

QString driveSummary()
{
    return QStringLiteral("Destroys everything on drive D: formats it, fills it (%1 passes; %2 with --short) and\n"
                          "formats it again; needs root or an administrator's password. Without --yes it only\n"
                          "says what it would destroy.")
        .arg(engine::driveFillPasses(session::CompleteWipe))
        .arg(engine::driveFillPasses(session::ShortWipe));
}

QString filesSummary()
{
    return QStringLiteral("Overwrites each file %1 times (%2 times from 1,000,000 bytes on), cuts it to length 0,\n"
                          "overwrites its name and deletes it. Without --yes it only lists what it would destroy.\n"
                          "Every argument after -- is a path (a file named -h, say).")
        .arg(filewipe::passCountFor(0) + 1)
        .arg(filewipe::passCountFor(filewipe::kLargeFile) + 1);
}

QString folderSummary()
{
    return QStringLiteral("%1\nEvery file of the folder goes (not its subfolders), then the folder.").arg(filesSummary());
}

const std::vector<Command>& commands()
{
    static const std::vector<Command> table = {
        {"free-space", QStringLiteral("D: [--short] [--every-folder] [--yes]"),
         {{"--short", false, "a Short Wipe"},
          {"--every-folder", false, "write over the names deleted from every folder of the drive (a Complete Wipe always does)"},
          {"--yes", false, "go ahead when D: is only a folder on another drive, whose free space is then wiped"}},
         freeSpaceSummary},
        {"drive", QStringLiteral("D: --fs %1 [--short] --yes").arg(format::fileSystemSwitchNames().join(u'|')),
         {{"--fs", true, "the file system to format with"},
          {"--short", false, "a Short Wipe"},
          {"--yes", false, "do it; without it nothing is done"}},
         driveSummary},
        {"files", QStringLiteral("PATH... --yes [--free-space [--short]]"),
         {{"--yes", false, "do it; without it nothing is done"},
          {"--free-space", false, "then wipe the free space of the drive, where copy-on-write leaves old copies"},
          {"--short", false, "with --free-space: a Short Wipe"}},
         filesSummary, Operand::Files},
        {"folder", QStringLiteral("PATH --yes [--free-space [--short]]"),
         {{"--yes", false, "do it; without it nothing is done"},
          {"--free-space", false, "then wipe the free space of the drive, where copy-on-write leaves old copies"},
          {"--short", false, "with --free-space: a Short Wipe"}},
         folderSummary, Operand::Folder},
        {"records", QStringLiteral("[--pdf FILE [ID]]"),
         {{"--pdf", true, "write the certificate of record ID (the newest without it) to FILE"}},
         [] {
             return QStringLiteral("Lists the wipe records, newest first, or prints one's certificate to a PDF file.");
         },
         Operand::Record},
        {"disk", QStringLiteral("DEVICE [--method zero|random|discard|erase] [--passes N] [--verify full|sample] [--new-table ext4|exfat|ntfs [--label NAME]] --yes"),
         {{"--method", true, "what each pass writes: zero, random (the default), discard (thin and virtual devices: a discard, then zeros the device writes), or erase (the drive's own: NVMe Sanitize or Format with Secure Erase, ATA SECURITY ERASE UNIT, SCSI SANITIZE or a secure discard, once)"},
          {"--passes", true, "how many passes, 1 (the default) to 35"},
          {"--verify", true, "read back all of the last pass (full, the default) or a sample: the first and last 16 MiB and 1 % between"},
          {"--new-table", true, "afterwards, a new GPT with one partition of this file system, so that the disk can be used again"},
          {"--label", true, "the new partition's name and file system label (DATA when not given)"},
          {"--yes", false, "do it, and unmount what is mounted from the disk; without it nothing is done"}},
         [] {
             return QStringLiteral("Wipes a whole disk (zarvexwipe disks lists them): every sector from the first to "
                                   "the last, the partition table and every partition included, pass by pass, each "
                                   "pass flushed to the disk, then reads the last pass back.");
         },
         Operand::Device},
        {"disks", QString(), {},
         [] {
             return QStringLiteral("Lists the whole disks: how they are attached, their size, model and serial number, "
                                   "their partitions and where they are mounted, and why one may not be wiped.");
         },
         Operand::None},
    };
    return table;
}

QString commandHelp(const Command& c)
{
    QString text = QStringLiteral("Usage: %1\n%2\n")
                       .arg(QStringLiteral("zarvexwipe %1 %2").arg(QLatin1String(c.name), c.synopsis).trimmed(), c.summary());
    for (const Flag& f : c.flags)
        text += QStringLiteral("  %1  %2\n").arg(QLatin1String(f.name), -8).arg(QLatin1String(f.help));
    return text;
}

QString usage()
{
    QString text = QStringLiteral("Usage:\n  zarvexwipe                 open the window\n");
    for (const Command& c : commands())
        text += QStringLiteral("  %1\n").arg(QStringLiteral("zarvexwipe %1 %2").arg(QLatin1String(c.name), c.synopsis).trimmed());
    text += QStringLiteral("  zarvexwipe COMMAND --help  what a command does\n"
                           "  zarvexwipe --version       the program's version\n"
                           "\n"
                           "Drives are letters: / is c:, other mounts d:, e:, ... in the order of their\n"
                           "mount points; ZARVEX_DRIVES='c=/;t=/mnt/x' maps letters to folders.\n"
                           "Exit codes: 0 done, 1 failed or incomplete, 2 bad arguments.\n");
    return text;
}

void printLine(const QString& text)
{
    QString t = text;
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    std::fprintf(stdout, "%s\n", t.toLocal8Bit().constData());
    std::fflush(stdout);
}

// Questions get the answer the command line gave: Yes with --yes, No
// otherwise.
class ConsolePrompter : public platform::Prompter {
public:
    bool yes = false;
    void message(const QString& text) override { printLine(text); }
    bool askYesNo(const QString& text) override
    {
        printLine(QStringLiteral("%1 [%2]").arg(text, yes ? QStringLiteral("answered Yes: --yes")
                                                          : QStringLiteral("answered No: give --yes to answer Yes")));
        return yes;
    }
};

// Prints the status texts as they change and a progress line about once a
// second: percentage, bytes written, speed and the process time.
class ConsoleView : public EntireDriveView {
public:
    explicit ConsoleView(QString entry = {}, QString announcement = {})
        : tty_(::isatty(STDOUT_FILENO) == 1), entry_(std::move(entry)), announcement_(std::move(announcement))
    {
        clock_.start();
    }
    void announceWipe() override { printLine(announcement_); }
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
    QString announcement_;
    bool open_ = false;
    QElapsedTimer clock_;
    qint64 lastShown_ = -100000;
    QString percent_ = QStringLiteral("0 %");
    QString time_;
    QString status_;
    std::int64_t progress_ = 0;
};

// An argument as an error message may quote it: a runaway one is cut.
QString quoted(const QString& argument)
{
    constexpr qsizetype kMax = 60;
    return argument.size() <= kMax ? argument : QStringLiteral("%1...").arg(argument.left(kMax));
}

int usageError(const QString& why)
{
    std::fprintf(stderr, "zarvexwipe: %s\n\n%s", why.toLocal8Bit().constData(), usage().toLocal8Bit().constData());
    return 2;
}

struct Options {
    QString drive;
    QStringList paths;
    bool shortWipe = false;
    bool everyFolder = false;
    bool freeSpace = false;
    bool yes = false;
    QString fs;
    bool help = false;
    QString pdf;
    qint64 id = 0;
    QString device;
    QString method = QStringLiteral("random");
    QString passes = QStringLiteral("1");
    QString verify = QStringLiteral("full");
    QString newTable;
    QString label = QStringLiteral("DATA");
};

// A flag of the command; false after a usage message.
bool takeFlag(const Flag& flag, const QStringList& args, qsizetype& i, Options& o, QStringList& seen, int& rc)
{
    const QString& a = args[i];
    if (seen.contains(a)) {
        rc = usageError(QStringLiteral("%1 may be given once").arg(a));
        return false;
    }
    seen << a;
    if (flag.takesValue && i + 1 >= args.size()) {
        rc = usageError(QStringLiteral("%1 needs a value").arg(a));
        return false;
    }
    if (a == QStringLiteral("--short"))
        o.shortWipe = true;
    else if (a == QStringLiteral("--every-folder"))
        o.everyFolder = true;
    else if (a == QStringLiteral("--free-space"))
        o.freeSpace = true;
    else if (a == QStringLiteral("--yes"))
        o.yes = true;
    else if (a == QStringLiteral("--fs"))
        o.fs = args[++i].toLower();
    else if (a == QStringLiteral("--pdf"))
        o.pdf = args[++i];
    else if (a == QStringLiteral("--method"))
        o.method = args[++i].toLower();
    else if (a == QStringLiteral("--passes"))
        o.passes = args[++i];
    else if (a == QStringLiteral("--verify"))
        o.verify = args[++i].toLower();
    else if (a == QStringLiteral("--new-table"))
        o.newTable = args[++i].toLower();
    else if (a == QStringLiteral("--label"))
        o.label = args[++i];
    return true;
}

// What the command works on: a record number, a drive, or paths; false
// after a usage message.
bool takeOperand(const Command& command, const QString& a, Options& o, int& rc)
{
    const bool takesPaths = command.operand == Operand::Files || command.operand == Operand::Folder;
    if (command.operand == Operand::Record) {
        bool number = false;
        const qint64 id = a.toLongLong(&number);
        if (number && id > 0 && o.id == 0) {
            o.id = id;
            return true;
        }
    } else if (command.operand == Operand::Drive && o.drive.isEmpty() && platform::driveLetterOf(a) &&
               (a.size() == 2 || (a.size() == 3 && (a[2] == u'\\' || a[2] == u'/')))) {
        o.drive = a.left(2).toLower();
        return true;
    } else if (command.operand == Operand::Device && o.device.isEmpty() && a.startsWith(u'/')) {
        o.device = a;
        return true;
    } else if (takesPaths && !a.startsWith(u'-') && (command.operand == Operand::Files || o.paths.isEmpty())) {
        o.paths << a;
        return true;
    }
    rc = usageError(QStringLiteral("unexpected argument: %1").arg(quoted(a)));
    return false;
}

// "fat, fat32 or ntfs".
QString fileSystemChoices()
{
    QStringList names = format::fileSystemSwitchNames();
    const QString last = names.takeLast();
    return QStringLiteral("%1 or %2").arg(names.join(QStringLiteral(", ")), last);
}

// What the command needs once every argument is read.
bool checkOptions(const Command& command, const Options& o, int& rc)
{
    const bool takesPaths = command.operand == Operand::Files || command.operand == Operand::Folder;
    const bool takesFs = std::any_of(command.flags.begin(), command.flags.end(),
                                     [](const Flag& f) { return std::string_view(f.name) == "--fs"; });
    QString missing;
    if (o.id != 0 && o.pdf.isEmpty())
        missing = QStringLiteral("a record number goes with --pdf FILE");
    else if (command.operand == Operand::Drive && o.drive.isEmpty())
        missing = QStringLiteral("a drive is needed, for example d:");
    else if (takesPaths && o.paths.isEmpty())
        missing = command.operand == Operand::Folder ? QStringLiteral("a folder is needed")
                                                     : QStringLiteral("at least one file is needed");
    else if (takesFs && !format::fileSystemOfSwitch(o.fs))
        missing = QStringLiteral("--fs %1 is needed").arg(fileSystemChoices());
    else if (command.operand == Operand::Device && o.device.isEmpty())
        missing = QStringLiteral("a disk is needed, for example /dev/sdb");
    else if (command.operand == Operand::Device && !engine::diskMethodNamed(o.method))
        missing = QStringLiteral("--method is %1").arg(engine::diskMethodNames().join(u'|'));
    else if (command.operand == Operand::Device && !(o.passes.toInt() >= 1 && o.passes.toInt() <= 35))
        missing = QStringLiteral("--passes is a number from 1 to 35");
    else if (command.operand == Operand::Device && !QStringList{"full", "sample"}.contains(o.verify))
        missing = QStringLiteral("--verify is full or sample");
    else if (command.operand == Operand::Device && !o.newTable.isEmpty() &&
             !platform::newTableFileSystems().contains(o.newTable))
        missing = QStringLiteral("--new-table is one of the file systems whose mkfs is installed: %1")
                      .arg(platform::newTableFileSystems().join(u'|'));
    if (missing.isEmpty())
        return true;
    rc = usageError(missing);
    return false;
}

// Reads "D:" and the command's flags; false after a usage message.
bool parseOptions(const Command& command, const QStringList& args, Options& o, int& rc)
{
    QStringList seen;
    const bool takesPaths = command.operand == Operand::Files || command.operand == Operand::Folder;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        // After "--" every argument is a path, "-h" and "--yes" too.
        if (takesPaths && optionsEnded) {
            if (command.operand == Operand::Folder && !o.paths.isEmpty()) {
                rc = usageError(QStringLiteral("unexpected argument: %1").arg(quoted(a)));
                return false;
            }
            o.paths << a;
            continue;
        }
        if (takesPaths && a == QStringLiteral("--")) {
            optionsEnded = true;
            continue;
        }
        if (a == QStringLiteral("--help") || a == QStringLiteral("-h")) {
            // Asked for help together with a wipe, the command may have meant
            // a file of that name: that is said, not guessed.
            if (takesPaths && args.size() > 1) {
                rc = usageError(QStringLiteral("%1 asks for help and takes nothing else; a file of that name goes "
                                               "after --, as in: -- %1")
                                    .arg(a));
                return false;
            }
            o.help = true;
            return true;
        }
        const auto flag = std::find_if(command.flags.begin(), command.flags.end(),
                                       [&](const Flag& f) { return a == QLatin1String(f.name); });
        const bool taken =
            flag != command.flags.end() ? takeFlag(*flag, args, i, o, seen, rc) : takeOperand(command, a, o, rc);
        if (!taken)
            return false;
    }
    return checkOptions(command, o, rc);
}

// The console's share of what the window does when Wipe is pressed: the
// drive must exist, be no CD drive, and be ready.
platform::Services& baseServices()
{
    static platform::Services services = platform::systemServices();
    return services;
}

struct ConsoleRun {
    ConsolePrompter prompter;
    platform::Services services = baseServices();
    std::int16_t category = 0, errorFlag = 0, running = 0;
    std::int32_t patterns = 0;
    QString folder;

    bool prepare(const Options& o)
    {
        services.prompter = &prompter;
        prompter.yes = o.yes;
        const auto f = services.drives->table().folderFor(o.drive[0]);
        if (!f) {
            printLine(QStringLiteral("There is no drive %1.").arg(o.drive.toUpper()));
            return false;
        }
        folder = *f;
        session::ProcessSettings& s = session::settings();
        s.SelectedDrive = o.drive + u'\\';
        s.WipeLevel = o.shortWipe ? session::ShortWipe : session::CompleteWipe;
        drives::ShowDriveInfo(s.SelectedDrive, {category, s.DriveCategoryKnown}, *services.drives, prompter);
        return category != drives::CategoryCd && services.drives->isReady(s.SelectedDrive);
    }
    engine::FillState fillState()
    {
        session::ProcessSettings& s = session::settings();
        return {s.SelectedDrive, s.WipeLevel, s.FreeSpaceKB, s.WipeStartTime, s.WipeNowTime,
                errorFlag,       patterns,    category,      s.DriveCategoryKnown};
    }
};

// Reads the command's arguments; false with the exit code in `rc` when the
// command cannot go on (bad arguments, or --help answered).
bool readArguments(const char* name, const QStringList& args, Options& o, int& rc)
{
    const Command& command =
        *std::find_if(commands().begin(), commands().end(), [&](const Command& c) { return std::string_view(c.name) == name; });
    if (!parseOptions(command, args, o, rc))
        return false;
    if (o.help) {
        std::fputs(commandHelp(command).toLocal8Bit().constData(), stdout);
        rc = 0;
        return false;
    }
    rc = 1;
    return true;
}

// Reads the arguments and checks the command's drive.
bool begin(const char* name, const QStringList& args, Options& o, ConsoleRun& run, int& rc)
{
    return readArguments(name, args, o, rc) && run.prepare(o);
}

int entireDrive(const QStringList& args)
{
    Options o;
    ConsoleRun run;
    int rc = 0;
    if (!begin("drive", args, o, run, rc))
        return rc;
    session::ProcessSettings& s = session::settings();
    // --fs named a row of the table when the arguments were read.
    s.FormatType = static_cast<std::int16_t>(format::fileSystemOfSwitch(o.fs)->code);
    if (forceFatForRemovable(run.category, s.FormatType))
        printLine(removableFatMessage());
    const QString fsName = QLatin1String(format::fileSystemOfCode(s.FormatType).name);
    const QString plan = QStringLiteral("drive %1 [%2]: format as %3, fill %4 passes, format again")
                             .arg(o.drive.toUpper(), run.folder, fsName,
                                  QString::number(engine::driveFillPasses(s.WipeLevel)));
    if (!o.yes) {
        printLine(QStringLiteral("This destroys everything on %1.\nNothing was done. Run the command again with --yes "
                                 "to do it.")
                      .arg(plan));
        return 1;
    }
    s.SystemRootPath = platform::systemRootValue(run.services.drives->table());
    // Said once the wipe's own refusals (boot drive, CD, not ready) have passed.
    ConsoleView view(platform::driveEntryText({o.drive[0], run.folder}), QStringLiteral("Wiping %1.").arg(plan));
    EntireDriveContext ctx{run.fillState(), s, run.running, view, run.services, {}, true};
    const DriveWipeResult result = runEntireDriveWipe(ctx);
    return result == DriveWipeResult::Completed ? 0 : 1;
}

int freeSpace(const QStringList& args)
{
    Options o;
    ConsoleRun run;
    int rc = 0;
    if (!begin("free-space", args, o, run, rc))
        return rc;
    const session::ProcessSettings& s = session::settings();
    printLine(QStringLiteral("Wiping the free space of drive %1 [%2], %3 passes.")
                  .arg(o.drive.toUpper(), run.folder, QString::number(engine::freeSpacePasses(s.WipeLevel))));
    ConsoleView view;
    engine::FillProcedure fill(run.fillState(), view, run.services);
    fill.setEveryFolder(o.everyFolder);
    const engine::FillOutcome outcome = fill.run(engine::freeSpacePasses(s.WipeLevel));
    return outcome.completed && !outcome.driveErrors && !outcome.spaceMissed &&
                   outcome.verification != platform::Verification::Failed
               ? 0
               : 1;
}

int recordsCommand(const QStringList& args)
{
    Options o;
    int rc = 0;
    if (!readArguments("records", args, o, rc))
        return rc;
    return records::listOrPrintRecords(o.pdf, o.id, printLine);
}

// A disk in a few lines: what it is, where it and its partitions are
// mounted, and what holds it.
QStringList diskLines(const platform::Disk& d)
{
    QStringList facts{d.transport, platform::diskSizeText(d.bytes)};
    if (d.transport != QStringLiteral("loop"))
        facts << (d.rotational ? QStringLiteral("rotational") : QStringLiteral("not rotational"));
    if (d.removable)
        facts << QStringLiteral("removable");
    if (!d.model.isEmpty())
        facts << d.model;
    if (!d.serial.isEmpty())
        facts << QStringLiteral("serial %1").arg(d.serial);
    QStringList lines{QStringLiteral("%1  %2").arg(d.device, facts.join(QStringLiteral(", ")))};
    if (!d.mountPoints.isEmpty())
        lines << QStringLiteral("  mounted at %1").arg(d.mountPoints.join(QStringLiteral(", ")));
    for (const platform::DiskPart& part : d.parts)
        lines << QStringLiteral("  %1  %2%3")
                     .arg(part.device, platform::diskSizeText(part.bytes),
                          part.mountPoints.isEmpty() ? QString()
                                                     : QStringLiteral(", mounted at %1").arg(part.mountPoints.join(
                                                           QStringLiteral(", "))));
    for (const QString& why : platform::refusalsOf(d))
        lines << QStringLiteral("  may not be wiped: %1").arg(why);
    if (platform::speaksAta(d))
        lines << QStringLiteral("  hidden areas: %1").arg(platform::hiddenAreasText(platform::hiddenAreasOf(d)));
    const platform::EraseFacts erase = platform::eraseFactsOf(d);
    QStringList offered;
    for (const platform::DeviceErase e : erase.offered)
        offered << platform::eraseName(e);
    lines << QStringLiteral("  its own erase: %1")
                 .arg(offered.isEmpty() ? erase.none.join(QStringLiteral("; ")) : offered.join(QStringLiteral(", ")));
    if (erase.chosen && erase.offered.size() > 1)
        lines << QStringLiteral("  the erase method would use: %1").arg(platform::eraseName(*erase.chosen));
    return lines;
}

// What a disk wipe shows on the terminal: each status once, and a progress
// line as it goes.
class ConsoleDiskView : public engine::DiskWipeView {
public:
    void setStatus(const QString& text) override { printLine(text); }
    void setProgress(int pass, int passes, std::uint64_t done, std::uint64_t total, double bytesPerSecond) override
    {
        printLine(QStringLiteral("  ") + engine::diskProgressText(pass, passes, done, total, bytesPerSecond));
    }
};

int diskCommand(const QStringList& args)
{
    Options o;
    int rc = 0;
    if (!readArguments("disk", args, o, rc))
        return rc;
    engine::DiskWipePlan plan;
    plan.method = *engine::diskMethodNamed(o.method);
    plan.passes = o.passes.toInt();
    plan.verify = o.verify == QStringLiteral("sample") ? engine::DiskVerify::Sample : engine::DiskVerify::Full;
    plan.newFileSystem = o.newTable;
    plan.label = o.label;
    ConsolePrompter prompter;
    prompter.yes = o.yes;
    ConsoleDiskView view;
    const engine::DiskWipeResult r = engine::wipeDisk(o.device, plan, prompter, view);
    // A refusal was said as the wipe found it; a name that led to no disk
    // ends it as a problem.
    if (r.declined)
        printLine(QStringLiteral("Nothing was done. Run the command again with --yes to do it."));
    else if (r.refusals.isEmpty())
        for (const QString& line : r.endLines())
            printLine(line);
    if (r.recordId > 0)
        printLine(QStringLiteral("Wipe record %1 (zarvexwipe records --pdf FILE %1 writes its certificate).").arg(r.recordId));
    return r.completed() ? 0 : 1;
}

int disksCommand(const QStringList& args)
{
    Options o;
    int rc = 0;
    if (!readArguments("disks", args, o, rc))
        return rc;
    const QList<platform::Disk> disks = platform::listDisks();
    if (disks.isEmpty())
        printLine(QStringLiteral("No disks were found."));
    for (const platform::Disk& d : disks)
        for (const QString& line : diskLines(d))
            printLine(line);
    return 0;
}

// What a file or folder wipe shows on the terminal: each status once.
class ConsoleFileView : public filewipe::FolderList {
public:
    using FolderList::FolderList;
    void setStatus(const QString& text) override
    {
        FolderList::setStatus(text);
        printLine(text);
    }
};

// The files of one folder that a command names.
struct FolderChoice {
    QString drivePath; // "t:\docs"
    QString native;
    QStringList names;
    QList<platform::FileId> ids; // each file once, however often it was named
};

// Groups the paths by folder, each file once; a path that is no regular
// file, or lies on no drive, is refused by name.
bool groupByFolder(const QStringList& paths, const platform::DriveTable& table, std::vector<FolderChoice>& out)
{
    for (const QString& path : paths) {
        const qsizetype slash = path.lastIndexOf(u'/');
        const QString name = slash < 0 ? path : path.mid(slash + 1);
        const QString folder = platform::canonicalFolder(slash < 0    ? QStringLiteral(".")
                                                         : slash == 0 ? QStringLiteral("/")
                                                                      : path.left(slash))
                                   .value_or(QString());
        const auto facts = platform::examinePath(path);
        const auto drivePath = folder.isEmpty() ? std::nullopt : table.toDrivePath(folder);
        if (!facts || !facts->regularFile || name.isEmpty() || !drivePath) {
            printLine(QStringLiteral("%1 is not a file on any drive; nothing was wiped.")
                          .arg(quoted(platform::readableName(path))));
            return false;
        }
        auto group = std::find_if(out.begin(), out.end(), [&](const FolderChoice& c) { return c.native == folder; });
        if (group == out.end())
            group = out.insert(out.end(), {*drivePath, folder, {}, {}});
        if (!group->ids.contains(facts->id)) {
            group->names << name;
            group->ids << facts->id;
        }
    }
    return true;
}

int fileOrFolderWipe(const char* name, const QStringList& args, bool folderMode)
{
    Options o;
    int rc = 0;
    if (!readArguments(name, args, o, rc))
        return rc;
    ConsolePrompter prompter;
    prompter.yes = o.yes; // nothing gets to a question without it
    platform::Services services = baseServices();
    services.prompter = &prompter;
    const platform::DriveTable table = services.drives->table();

    std::vector<FolderChoice> choices;
    if (folderMode) {
        const QString folder = platform::canonicalFolder(o.paths.first()).value_or(QString());
        const auto drivePath = folder.isEmpty() ? std::nullopt : table.toDrivePath(folder);
        // A drive's root is no folder to remove.
        if (!drivePath || drivePath->size() <= 3) {
            printLine(QStringLiteral("%1 is not a folder on a drive; nothing was wiped.")
                          .arg(quoted(platform::readableName(o.paths.first()))));
            return 1;
        }
        choices.push_back({*drivePath, folder, {}, {}});
    } else if (!groupByFolder(o.paths, table, choices)) {
        return 1;
    }
    if (!o.yes) {
        for (const FolderChoice& c : choices) {
            const QStringList names = folderMode ? filewipe::FolderList(c.drivePath, c.native).names() : c.names;
            for (const QString& n : names)
                printLine(QStringLiteral("would destroy %1").arg(platform::readableName(c.native + u'/' + n)));
            if (folderMode)
                printLine(QStringLiteral("would remove the folder %1").arg(platform::readableName(c.native)));
        }
        printLine(QStringLiteral("Nothing was done. Run the command again with --yes to do it."));
        return 1;
    }

    session::ProcessSettings& s = session::settings();
    std::int16_t wipeInProgress = 0;
    bool allWiped = true;
    for (const FolderChoice& c : choices) {
        ConsoleFileView view(c.drivePath, c.native);
        if (!folderMode && !std::all_of(c.ids.begin(), c.ids.end(), [&](platform::FileId id) { return view.choose(id); })) {
            printLine(QStringLiteral("A file in %1 is no longer there; nothing more was wiped.")
                          .arg(platform::readableName(c.native)));
            return 1;
        }
        s.SelectedDrive = c.drivePath.left(2) + u'\\';
        filewipe::FileWipeContext ctx{folderMode, folderMode ? c.drivePath + u'\\' : QString(), s, wipeInProgress,
                                      view, services, o.freeSpace};
        const filewipe::FileWipeResult result = filewipe::runFileWipe(ctx);
        allWiped = allWiped && result.completed() && (!folderMode || result.folderRemoved);
        if (!result.completed())
            break;
    }
    if (!o.freeSpace)
        return allWiped ? 0 : 1;
    // Then each drive once: the copies copy-on-write left are in its free space.
    QStringList drives;
    for (const FolderChoice& c : choices)
        if (!drives.contains(c.drivePath.left(2)))
            drives << c.drivePath.left(2);
    bool freeWiped = true;
    for (const QString& drive : drives)
        freeWiped = freeSpace(QStringList{drive} + (o.shortWipe ? QStringList{QStringLiteral("--short")} : QStringList{})) == 0 &&
                    freeWiped;
    return allWiped && freeWiped ? 0 : 1;
}

} // namespace

bool isConsoleCommand(const QStringList& args)
{
    return !args.isEmpty();
}

static int runCommand(const QStringList& args);

int runConsole(const QStringList& args)
{
    return runConsole(args, platform::systemServices());
}

bool consoleNeedsFonts(const QStringList& args)
{
    return args.value(0) == QStringLiteral("records");
}

int runConsole(const QStringList& args, const platform::Services& services)
{
    baseServices() = services;
    // A wipe that was killed left its fill files and settings: put right first.
    if (const QString repaired = platform::repairInterruptedWipes(); !repaired.isEmpty())
        printLine(repaired);
    try {
        return runCommand(args);
    } catch (const std::exception& e) {
        // Unwinding has deleted the running pass's fill files by now.
        printLine(QStringLiteral("The process stopped: %1").arg(QString::fromLocal8Bit(e.what())));
        return 1;
    }
}

static int runCommand(const QStringList& args)
{
    const QString command = args.value(0);
    if (command == QStringLiteral("--help") || command == QStringLiteral("-h") || command == QStringLiteral("help")) {
        std::fputs(usage().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (command == QStringLiteral("--paths")) { // checks an installation; not in the usage
        std::fputs(installationPaths().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (command == QStringLiteral("--version")) {
        std::fprintf(stdout, "zarvexwipe %s\n", ZARVEX_VERSION);
        return 0;
    }
    if (command == QStringLiteral("free-space"))
        return freeSpace(args.mid(1));
    if (command == QStringLiteral("drive"))
        return entireDrive(args.mid(1));
    if (command == QStringLiteral("files"))
        return fileOrFolderWipe("files", args.mid(1), false);
    if (command == QStringLiteral("folder"))
        return fileOrFolderWipe("folder", args.mid(1), true);
    if (command == QStringLiteral("records"))
        return recordsCommand(args.mid(1));
    if (command == QStringLiteral("disks"))
        return disksCommand(args.mid(1));
    if (command == QStringLiteral("disk"))
        return diskCommand(args.mid(1));
    return usageError(QStringLiteral("unknown command: %1").arg(quoted(command)));
}

} // namespace app
