#include "records/store.h"
#include "platform/appdata.h"
#include "platform/errors.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>
#include <atomic>
#include <functional>
#include <vector>

using platform::RunTimeError;

namespace records {

namespace {

// Each stored field of a record: its column and how it goes in and out.
struct Column {
    const char* name;
    const char* type;
    std::function<QVariant(const WipeRecord&)> get;
    std::function<void(WipeRecord&, const QVariant&)> set;
};

QVariant timeValue(const QDateTime& t)
{
    return t.isValid() ? QVariant(t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODate)) : QVariant();
}

QDateTime timeFrom(const QVariant& v)
{
    return v.isNull() ? QDateTime() : QDateTime::fromString(v.toString(), Qt::ISODate);
}

template <typename Field>
Column textColumn(const char* name, Field field)
{
    return {name, "TEXT", [field](const WipeRecord& r) { return QVariant(r.*field); },
            [field](WipeRecord& r, const QVariant& v) { r.*field = v.toString(); }};
}

template <typename Field>
Column driveColumn(const char* name, Field field)
{
    return {name, "TEXT", [field](const WipeRecord& r) { return QVariant(r.drive.*field); },
            [field](WipeRecord& r, const QVariant& v) { r.drive.*field = v.toString(); }};
}

const std::vector<Column>& columns()
{
    static const std::vector<Column> table = {
        {"started", "TEXT NOT NULL", [](const WipeRecord& r) { return timeValue(r.started); },
         [](WipeRecord& r, const QVariant& v) { r.started = timeFrom(v); }},
        {"ended", "TEXT", [](const WipeRecord& r) { return timeValue(r.ended); },
         [](WipeRecord& r, const QVariant& v) { r.ended = timeFrom(v); }},
        {"process", "TEXT NOT NULL", [](const WipeRecord& r) { return QVariant(processName(r.process)); },
         [](WipeRecord& r, const QVariant& v) { r.process = processFromName(v.toString()).value_or(ProcessKind::FreeSpace); }},
        textColumn("level", &WipeRecord::level),
        {"passes_done", "INTEGER", [](const WipeRecord& r) { return QVariant(r.passesDone); },
         [](WipeRecord& r, const QVariant& v) { r.passesDone = v.toInt(); }},
        {"passes_planned", "INTEGER", [](const WipeRecord& r) { return QVariant(r.passesPlanned); },
         [](WipeRecord& r, const QVariant& v) { r.passesPlanned = v.toInt(); }},
        driveColumn("drive_letter", &DriveFacts::letter),
        driveColumn("mount_point", &DriveFacts::mountPoint),
        driveColumn("device", &DriveFacts::device),
        driveColumn("file_system", &DriveFacts::fileSystem),
        driveColumn("label", &DriveFacts::label),
        driveColumn("uuid", &DriveFacts::uuid),
        {"size_bytes", "INTEGER", [](const WipeRecord& r) { return QVariant(qulonglong(r.drive.sizeBytes)); },
         [](WipeRecord& r, const QVariant& v) { r.drive.sizeBytes = v.toULongLong(); }},
        {"bytes_written", "INTEGER", [](const WipeRecord& r) { return QVariant(qulonglong(r.bytesWritten)); },
         [](WipeRecord& r, const QVariant& v) { r.bytesWritten = v.toULongLong(); }},
        {"verification", "TEXT NOT NULL", [](const WipeRecord& r) { return QVariant(verificationName(r.verification)); },
         [](WipeRecord& r, const QVariant& v) { r.verification = verificationFromName(v.toString()); }},
        textColumn("verification_detail", &WipeRecord::verificationDetail),
        {"outcome", "TEXT NOT NULL", [](const WipeRecord& r) { return QVariant(outcomeName(r.outcome)); },
         [](WipeRecord& r, const QVariant& v) { r.outcome = outcomeFromName(v.toString()); }},
        {"error_number", "INTEGER", [](const WipeRecord& r) { return QVariant(r.errorNumber); },
         [](WipeRecord& r, const QVariant& v) { r.errorNumber = v.toInt(); }},
        textColumn("error_text", &WipeRecord::errorText),
        textColumn("notes", &WipeRecord::notes),
        textColumn("host", &WipeRecord::host),
        textColumn("user", &WipeRecord::user),
        textColumn("version", &WipeRecord::version),
    };
    return table;
}

QString newConnectionName()
{
    static std::atomic<int> counter{0};
    return QStringLiteral("zarvex-records-%1").arg(++counter);
}

// One write, all or nothing.
class Transaction {
public:
    Transaction(QSqlDatabase db, const QString& file) : db_(std::move(db)), file_(file)
    {
        if (!db_.transaction())
            fail(db_.lastError().text());
    }
    ~Transaction()
    {
        if (!done_)
            db_.rollback();
    }
    QSqlQuery exec(const QString& sql, const QVariantList& values = {})
    {
        QSqlQuery q(db_);
        if (!q.prepare(sql))
            fail(q.lastError().text());
        for (const QVariant& v : values)
            q.addBindValue(v);
        if (!q.exec())
            fail(q.lastError().text());
        return q;
    }
    void commit()
    {
        if (!db_.commit())
            fail(db_.lastError().text());
        done_ = true;
    }
    [[noreturn]] void fail(const QString& why) const
    {
        throw RunTimeError(platform::ErrPathFileAccess, QStringLiteral("%1: %2").arg(file_, why));
    }

private:
    QSqlDatabase db_;
    QString file_;
    bool done_ = false;
};

} // namespace

QString Store::defaultFile()
{
    const QString folder = platform::userStateFolder();
    return folder.isEmpty() ? QString() : folder + QStringLiteral("/WipeRecords.db");
}

Store::Store(const QString& file) : file_(file), connection_(newConnectionName())
{
    if (file_.isEmpty())
        throw RunTimeError(platform::ErrPathNotFound, QStringLiteral("there is no folder for the wipe records"));
    const QString folder = QFileInfo(file_).absolutePath();
    if (!platform::makePrivateFolder(folder))
        throw RunTimeError(platform::ErrPathNotFound,
                           QStringLiteral("%1: cannot make the folder, or it is not this user's own").arg(folder));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
        db.setDatabaseName(file_);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=3000"));
        if (!db.open()) {
            const QString why = db.lastError().text();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(connection_);
            throw RunTimeError(platform::ErrPathFileAccess, QStringLiteral("%1: %2").arg(file_, why));
        }
    }
    platform::makePrivateFile(file_);
    try {
        QStringList fields{QStringLiteral("id INTEGER PRIMARY KEY AUTOINCREMENT")};
        for (const Column& c : columns())
            fields << QStringLiteral("%1 %2").arg(QLatin1String(c.name), QLatin1String(c.type));
        // Also the first statement to read the file: a damaged one fails here.
        Transaction t(QSqlDatabase::database(connection_, false), file_);
        t.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS records (%1)").arg(fields.join(QStringLiteral(", "))));
        t.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS record_items (record_id INTEGER NOT NULL REFERENCES "
                              "records(id), position INTEGER NOT NULL, path TEXT NOT NULL, size INTEGER NOT NULL, "
                              "folder INTEGER NOT NULL, PRIMARY KEY (record_id, position))"));
        t.commit();
    } catch (...) {
        QSqlDatabase::removeDatabase(connection_);
        throw;
    }
}

Store::~Store()
{
    {
        QSqlDatabase db = QSqlDatabase::database(connection_, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(connection_);
}

qint64 Store::add(const WipeRecord& record)
{
    QStringList names;
    QVariantList values;
    for (const Column& c : columns()) {
        names << QLatin1String(c.name);
        values << c.get(record);
    }
    Transaction t(QSqlDatabase::database(connection_, false), file_);
    const QSqlQuery q = t.exec(QStringLiteral("INSERT INTO records (%1) VALUES (%2)")
                                   .arg(names.join(QStringLiteral(", ")),
                                        QStringList(names.size(), QStringLiteral("?")).join(QStringLiteral(", "))),
                               values);
    const qint64 id = q.lastInsertId().toLongLong();
    for (qsizetype i = 0; i < record.items.size(); ++i) {
        const WipedItem& item = record.items[i];
        t.exec(QStringLiteral("INSERT INTO record_items (record_id, position, path, size, folder) VALUES (?, ?, ?, ?, ?)"),
               {id, i, item.path, qlonglong(item.size), item.folder ? 1 : 0});
    }
    t.commit();
    return id;
}

void Store::update(const WipeRecord& record)
{
    QStringList sets;
    QVariantList values;
    for (const Column& c : columns()) {
        sets << QStringLiteral("%1 = ?").arg(QLatin1String(c.name));
        values << c.get(record);
    }
    values << record.id;
    Transaction t(QSqlDatabase::database(connection_, false), file_);
    const QSqlQuery q = t.exec(QStringLiteral("UPDATE records SET %1 WHERE id = ?").arg(sets.join(QStringLiteral(", "))),
                               values);
    if (q.numRowsAffected() != 1)
        t.fail(QStringLiteral("record %1 is not in the file").arg(record.id));
    t.commit();
}

QList<WipeRecord> Store::select(const QString& where, qint64 id) const
{
    // A read is a transaction too: the record and its items as of one moment.
    Transaction t(QSqlDatabase::database(connection_, false), file_);
    QSqlQuery q = t.exec(QStringLiteral("SELECT * FROM records %1 ORDER BY id DESC").arg(where),
                         where.isEmpty() ? QVariantList{} : QVariantList{id});
    QList<WipeRecord> list;
    while (q.next()) {
        WipeRecord r;
        r.id = q.value(QStringLiteral("id")).toLongLong();
        for (const Column& c : columns())
            c.set(r, q.value(QLatin1String(c.name)));
        list << r;
    }
    for (WipeRecord& r : list) {
        QSqlQuery items = t.exec(
            QStringLiteral("SELECT path, size, folder FROM record_items WHERE record_id = ? ORDER BY position"), {r.id});
        while (items.next())
            r.items << WipedItem{items.value(0).toString(), items.value(1).toLongLong(), items.value(2).toInt() != 0};
    }
    t.commit();
    return list;
}

QList<WipeRecord> Store::all() const
{
    return select({}, 0);
}

std::optional<WipeRecord> Store::find(qint64 id) const
{
    const QList<WipeRecord> one = select(QStringLiteral("WHERE id = ?"), id);
    if (one.isEmpty())
        return std::nullopt;
    return one.first();
}

} // namespace records
