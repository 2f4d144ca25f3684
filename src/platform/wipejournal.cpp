#include "platform/wipejournal.h"
#include "platform/appdata.h"
#include "platform/fillfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

const QString kConnection = QStringLiteral("ZarvexWipeJournal");
// What a files row names, in its folder column: 0 a file, 1 a folder, 2 a
// folder where the fill makes names of its own.
constexpr int kNamesIn = 2;
QString g_problem;

// This process as the journal knows it: its id and its start time, so a
// later process that happens to get the same id is not taken for it.
QString processKey(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return {};
    const QByteArray text = stat.readAll();
    // The command name may hold blanks: fields are counted after its ')'.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 19 ? QStringLiteral("%1:%2").arg(pid).arg(QString::fromLatin1(fields[19])) : QString();
}

bool note(const QString& what)
{
    if (g_problem.isEmpty())
        g_problem = QStringLiteral("The wipe journal cannot be written (%1): a wipe that is stopped before it "
                                   "ends cannot be repaired at the next start.")
                        .arg(what);
    return false;
}

QSqlDatabase journal()
{
    if (QSqlDatabase::contains(kConnection))
        return QSqlDatabase::database(kConnection);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kConnection);
    const QString folder = userStateFolder();
    if (folder.isEmpty() || !makePrivateFolder(folder)) {
        note(QStringLiteral("no folder of this user's own for it"));
        return db;
    }
    db.setDatabaseName(folder + QStringLiteral("/journal.db"));
    if (!db.open()) {
        note(db.lastError().text());
        return db;
    }
    makePrivateFile(folder + QStringLiteral("/journal.db"));
    QSqlQuery q(db);
    for (const char* sql : {"CREATE TABLE IF NOT EXISTS runs (id INTEGER PRIMARY KEY, process TEXT, folder TEXT, "
                            "device INTEGER)",
                            "CREATE TABLE IF NOT EXISTS files (run INTEGER, path TEXT, device INTEGER, inode INTEGER, "
                            "birth TEXT)",
                            "CREATE TABLE IF NOT EXISTS settings (run INTEGER, path TEXT, old TEXT)"})
        if (!q.exec(QString::fromLatin1(sql)))
            note(q.lastError().text());
    // Columns a journal made by an earlier version lacks (an error when they
    // are there already, which is fine).
    for (const char* sql : {"ALTER TABLE runs ADD COLUMN mark TEXT", "ALTER TABLE files ADD COLUMN folder INTEGER"})
        q.exec(QString::fromLatin1(sql));
    return db;
}

bool run(const QString& sql, const QVariantList& values)
{
    QSqlDatabase db = journal();
    if (!db.isOpen())
        return false;
    QSqlQuery q(db);
    q.prepare(sql);
    for (const QVariant& v : values)
        q.addBindValue(v);
    return q.exec() || note(q.lastError().text());
}

// The rows a query about one run gives, ready for next().
QSqlQuery rowsOfRun(const QSqlDatabase& db, const QString& sql, qint64 runId)
{
    QSqlQuery q(db);
    q.prepare(sql);
    q.addBindValue(runId);
    q.exec();
    return q;
}

bool identity(const QString& path, qint64& device, qint64& inode)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    device = static_cast<qint64>(st.st_dev);
    inode = static_cast<qint64>(st.st_ino);
    return true;
}

// When the file was made: a file system hands a freed inode number to the
// next new file at once, so a user's file made after a kill can carry the
// fill file's device and inode. Empty where the file system does not say.
QString birthOf(const QString& path)
{
    struct statx sx {};
    if (::statx(AT_FDCWD, QFile::encodeName(path).constData(), AT_SYMLINK_NOFOLLOW, STATX_BTIME, &sx) != 0 ||
        !(sx.stx_mask & STATX_BTIME))
        return {};
    return QStringLiteral("%1.%2").arg(sx.stx_btime.tv_sec).arg(sx.stx_btime.tv_nsec);
}

// The journal is a file on disk: what it asks to be deleted or written is
// checked to be what a wipe makes, whoever wrote the file.
bool isReserveSetting(const QString& path, const QString& value)
{
    static const QRegularExpression knob(QStringLiteral("^/sys/fs/ext4/[^/]+/reserved_clusters$"));
    static const QRegularExpression number(QStringLiteral("^[0-9]{1,20}$"));
    return knob.match(path).hasMatch() && number.match(value).hasMatch();
}

bool isFillFileOf(const QString& path, const QString& folder)
{
    const QString inside = path.startsWith(folder + u'/') ? path.mid(folder.size() + 1) : QString();
    return inside.startsWith(QStringLiteral("tmptxt")) && !inside.split(u'/').contains(QStringLiteral(".."));
}

// A folder of the drive where the fill made names of its own.
bool isFolderOf(const QString& path, const QString& folder)
{
    return (path == folder || path.startsWith(folder + u'/')) && !path.split(u'/').contains(QStringLiteral(".."));
}

bool writeSetting(const QString& path, const QString& value)
{
    if (!isReserveSetting(path, value))
        return false;
    QFile f(path);
    const QByteArray bytes = value.toLatin1();
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() && f.flush();
}

} // namespace

JournalEntry::JournalEntry(const QString& folder) : mark_(newFillMark())
{
    qint64 device = 0, inode = 0;
    identity(folder, device, inode);
    QSqlDatabase db = journal();
    if (!db.isOpen())
        return;
    QSqlQuery q(db);
    q.prepare(QStringLiteral("INSERT INTO runs (process, folder, device, mark) VALUES (?, ?, ?, ?)"));
    q.addBindValue(processKey(::getpid()));
    q.addBindValue(folder);
    q.addBindValue(device);
    q.addBindValue(QString::fromLatin1(mark_));
    if (q.exec())
        id_ = q.lastInsertId().toLongLong();
    else
        note(q.lastError().text());
}

JournalEntry::~JournalEntry()
{
    if (id_ == 0)
        return;
    run(QStringLiteral("DELETE FROM files WHERE run = ?"), {id_});
    // A setting not seen back at its old value stays for the next start to
    // put back; the run is marked as ended so that the repair takes it.
    QSqlQuery left = rowsOfRun(journal(), QStringLiteral("SELECT COUNT(*) FROM settings WHERE run = ?"), id_);
    if (left.next() && left.value(0).toLongLong() > 0) {
        run(QStringLiteral("UPDATE runs SET process = '' WHERE id = ?"), {id_});
        return;
    }
    run(QStringLiteral("DELETE FROM runs WHERE id = ?"), {id_});
}

void JournalEntry::creating(const QString& nativePath, bool folder)
{
    if (id_ != 0)
        run(QStringLiteral("INSERT INTO files (run, path, folder) VALUES (?, ?, ?)"), {id_, nativePath, folder ? 1 : 0});
}

void JournalEntry::namesMaking(const QString& nativeFolder)
{
    if (id_ != 0)
        run(QStringLiteral("INSERT INTO files (run, path, folder) VALUES (?, ?, ?)"), {id_, nativeFolder, kNamesIn});
}

void JournalEntry::fileCreated(const QString& nativePath)
{
    qint64 device = 0, inode = 0;
    if (id_ != 0 && identity(nativePath, device, inode))
        run(QStringLiteral("UPDATE files SET device = ?, inode = ?, birth = ? WHERE run = ? AND path = ?"),
            {device, inode, birthOf(nativePath), id_, nativePath});
}

void JournalEntry::fileDeleted(const QString& nativePath)
{
    if (id_ != 0)
        run(QStringLiteral("DELETE FROM files WHERE run = ? AND path = ?"), {id_, nativePath});
}

void JournalEntry::settingChanging(const QString& path, const QString& oldValue)
{
    if (id_ != 0)
        run(QStringLiteral("INSERT INTO settings (run, path, old) VALUES (?, ?, ?)"), {id_, path, oldValue});
}

void JournalEntry::settingRestored(const QString& path)
{
    if (id_ != 0)
        run(QStringLiteral("DELETE FROM settings WHERE run = ? AND path = ?"), {id_, path});
}

QString JournalEntry::problem()
{
    return g_problem;
}

namespace {

// A run the journal holds: a wipe still running, or one that was stopped
// before it could clean up.
struct JournalRun {
    qint64 id, device;
    QString process, folder;
    QByteArray mark;
};

std::vector<JournalRun> journalRuns(QSqlDatabase& db)
{
    std::vector<JournalRun> found;
    QSqlQuery runs(db);
    runs.exec(QStringLiteral("SELECT id, process, folder, device, mark FROM runs"));
    while (runs.next())
        found.push_back({runs.value(0).toLongLong(), runs.value(3).toLongLong(), runs.value(1).toString(),
                         runs.value(2).toString(), runs.value(4).toString().toLatin1()});
    return found;
}

bool stillRunning(const JournalRun& r)
{
    return !r.process.isEmpty() && processKey(r.process.section(u':', 0, 0).toLongLong()) == r.process;
}

// What the repair of one run did.
struct Repair {
    QStringList deleted, left, restored;
    bool settingsBack = true;
};

// Deletes only what a wipe makes, where it makes it, and only when proven
// the fill's by its mark, or by its identity and birth time (a file system
// hands a freed inode to the next new file at once).
void deleteFillFiles(QSqlDatabase& db, const JournalRun& r, Repair& repair)
{
    QSqlQuery files =
        rowsOfRun(db, QStringLiteral("SELECT path, device, inode, birth, folder FROM files WHERE run = ?"), r.id);
    while (files.next()) {
        const QString path = files.value(0).toString();
        const bool isFolder = files.value(4).toInt() == 1;
        if (files.value(4).toInt() == kNamesIn) {
            const int removed = isFolderOf(path, r.folder) ? removeMarkedNames(path, r.mark) : 0;
            if (removed > 0)
                repair.deleted << QStringLiteral("%1 file(s) of its own in %2").arg(removed).arg(path);
            continue;
        }
        qint64 d = 0, i = 0;
        if (!identity(path, d, i))
            continue; // gone already, or never made
        const QString birth = files.value(3).toString();
        const bool recorded =
            !files.value(2).isNull() && d == files.value(1).toLongLong() && i == files.value(2).toLongLong();
        const bool proven = carriesFillMark(path, r.mark) || (recorded && !birth.isEmpty() && birthOf(path) == birth);
        const bool removed = isFillFileOf(path, r.folder) && proven &&
                             (isFolder ? removeMarkedFolder(path, r.mark) : ::unlink(QFile::encodeName(path).constData()) == 0);
        (removed ? repair.deleted : repair.left) << QFileInfo(path).fileName();
    }
}

void restoreSettings(QSqlDatabase& db, const JournalRun& r, Repair& repair)
{
    QSqlQuery settings = rowsOfRun(db, QStringLiteral("SELECT path, old FROM settings WHERE run = ?"), r.id);
    while (settings.next()) {
        const QString path = settings.value(0).toString();
        const QString old = settings.value(1).toString();
        if (!isReserveSetting(path, old))
            continue; // not what a wipe changes: never written
        if (writeSetting(path, old))
            repair.restored << path;
        else
            repair.settingsBack = false;
    }
}

// "folder: deleted the fill files a, b; put back ...".
QString repairLine(const QString& folder, const Repair& repair)
{
    QStringList done;
    if (!repair.deleted.isEmpty())
        done << QStringLiteral(" deleted the fill files %1").arg(repair.deleted.join(QStringLiteral(", ")));
    if (!repair.left.isEmpty())
        done << QStringLiteral(" left alone %1, not certainly the files the wipe made (delete them if they are)")
                    .arg(repair.left.join(QStringLiteral(", ")));
    if (!repair.restored.isEmpty())
        done << QStringLiteral(" put back the space the file system keeps in reserve");
    if (!repair.settingsBack)
        done << QStringLiteral(" could not put back the file system's reserve (run the program as root)");
    const QString what = done.isEmpty() ? QStringLiteral(" nothing was left to repair") : done.join(u';');
    return QStringLiteral("%1:%2.").arg(folder, what);
}

void forgetRun(qint64 id)
{
    run(QStringLiteral("DELETE FROM files WHERE run = ?"), {id});
    run(QStringLiteral("DELETE FROM settings WHERE run = ?"), {id});
    run(QStringLiteral("DELETE FROM runs WHERE id = ?"), {id});
}

} // namespace

QString repairInterruptedWipes()
{
    // Nothing to repair without a journal file: do not make one.
    if (!QFileInfo::exists(userStateFolder() + QStringLiteral("/journal.db")))
        return {};
    QSqlDatabase db = journal();
    if (!db.isOpen())
        return {};
    QStringList report;
    for (const JournalRun& r : journalRuns(db)) {
        if (stillRunning(r))
            continue;
        qint64 device = 0, inode = 0;
        if (!identity(r.folder, device, inode) || device != r.device) {
            report << QStringLiteral("%1: its drive is not there now; it will be repaired at a later start.").arg(r.folder);
            continue;
        }
        Repair repair;
        deleteFillFiles(db, r, repair);
        restoreSettings(db, r, repair);
        report << repairLine(r.folder, repair);
        // A reserve not put back is tried again at the next start.
        if (repair.settingsBack)
            forgetRun(r.id);
    }
    if (report.isEmpty())
        return {};
    return QStringLiteral("A wipe that was stopped before it could clean up has been repaired:\r\n\r\n%1")
        .arg(report.join(QStringLiteral("\r\n")));
}

} // namespace platform
