#include "infodb/recordset.h"

#include "infodb/location.h"
#include "platform/appdata.h"
#include "platform/errors.h"

#include <QFileInfo>
#include <QMap>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <atomic>
#include <limits>
#include <utility>

using platform::RunTimeError;

namespace infodb {

namespace detail {

// One named Qt connection. Qt keeps connections in a global registry by
// name, so every Connection gets its own name and removes it when the last
// user (connection handle or recordset) lets go.
struct Link {
    QString name;
    QString file;

    QSqlDatabase db() const { return QSqlDatabase::database(name, false); }
    RunTimeError error(int number, const QString& what) const
    {
        return RunTimeError(number, QStringLiteral("%1: %2").arg(file, what));
    }

    ~Link()
    {
        {
            QSqlDatabase d = db();
            d.close();
        }
        QSqlDatabase::removeDatabase(name);
    }
};

} // namespace detail

namespace {

QString quoted(const QString& identifier)
{
    QString q = identifier;
    q.replace(u'"', QStringLiteral("\"\""));
    return u'"' + q + u'"';
}

QString newConnectionName()
{
    static std::atomic<int> counter{0};
    return QStringLiteral("zarvex-infodb-%1").arg(++counter);
}

} // namespace

Connection::Connection(const QString& nativeFile)
{
    // SQLite would quietly make a new empty database for a missing file.
    if (!QFileInfo(nativeFile).isFile())
        throw RunTimeError(platform::ErrFileNotFound, nativeFile);

    auto link = std::make_shared<detail::Link>();
    link->name = newConnectionName();
    link->file = nativeFile;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), link->name);
        if (!db.isValid())
            throw link->error(platform::ErrObjectNotSet, QStringLiteral("the Qt SQLite driver (QSQLITE) is not installed"));
        db.setDatabaseName(nativeFile);
        // A file that cannot be written in place (read-only mount, no
        // rights) still serves the help texts.
        if (!platform::canWriteInPlace(nativeFile))
            db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (!db.open())
            throw link->error(platform::ErrPathFileAccess, db.lastError().text());
        // SQLite reads the file lazily; a file that is not a database shows
        // up at the first statement, so make that happen now.
        QSqlQuery probe(db);
        if (!probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_master")))
            throw link->error(platform::ErrPathFileAccess, probe.lastError().text());
    }
    link_ = std::move(link);
}

Connection Connection::open()
{
    return Connection(databasePath());
}

QString Connection::file() const
{
    return link_ ? link_->file : QString();
}

struct Recordset::State {
    std::shared_ptr<detail::Link> link;
    QString table;
    QStringList columns;
    qint64 current = 0;
    bool bof = true;
    bool eof = true;
    bool deleted = false;
    bool adding = false;
    QMap<QString, QVariant> pending;

    RunTimeError error(int number, const QString& what) const { return link->error(number, what); }

    QSqlQuery query() const { return QSqlQuery(link->db()); }

    QString column(const QString& field) const
    {
        for (const QString& c : columns)
            if (c.compare(field, Qt::CaseInsensitive) == 0)
                return c;
        throw error(platform::ErrObjectNotSet,
                    QStringLiteral("table \"%1\" has no field \"%2\"").arg(table, field));
    }

    void exec(QSqlQuery& q, int failNumber) const
    {
        if (!q.exec())
            throw error(failNumber, q.lastError().text());
    }

    // Places the cursor on the first record with a rowid above `after`.
    void placeAfter(qint64 after, bool fromStart)
    {
        QSqlQuery q = query();
        q.prepare(QStringLiteral("SELECT rowid FROM %1 WHERE rowid > ? ORDER BY rowid LIMIT 1").arg(quoted(table)));
        q.addBindValue(after);
        exec(q, platform::ErrPathFileAccess);
        deleted = false;
        if (q.next()) {
            current = q.value(0).toLongLong();
            bof = eof = false;
        } else {
            eof = true;
            bof = fromStart;
        }
    }

    void storePending()
    {
        if (!adding)
            return;
        adding = false;
        const QMap<QString, QVariant> values = std::exchange(pending, {});
        QSqlQuery q = query();
        if (values.isEmpty()) {
            q.prepare(QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(quoted(table)));
        } else {
            QStringList names, marks;
            for (auto it = values.cbegin(); it != values.cend(); ++it) {
                names << quoted(it.key());
                marks << QStringLiteral("?");
            }
            q.prepare(QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                          .arg(quoted(table), names.join(u','), marks.join(u',')));
            for (const QVariant& v : values)
                q.addBindValue(v);
        }
        exec(q, platform::ErrPathFileAccess);
        current = q.lastInsertId().toLongLong();
        deleted = false;
        bof = eof = false;
    }

    void requireCurrent() const
    {
        if (bof || eof || deleted)
            throw error(platform::ErrObjectNotSet, QStringLiteral("no current record in table \"%1\"").arg(table));
    }
};

Recordset::Recordset() = default;
Recordset::~Recordset()
{
    try {
        release();
    } catch (const RunTimeError&) {
        // A destructor cannot report; callers who care call release().
    }
}
Recordset::Recordset(Recordset&& other) noexcept = default;
Recordset& Recordset::operator=(Recordset&& other) noexcept
{
    if (this != &other) {
        try {
            release();
        } catch (const RunTimeError&) {
        }
        s_ = std::move(other.s_);
    }
    return *this;
}

Recordset::Recordset(const Connection& connection, const QString& table)
{
    if (!connection.link_)
        throw RunTimeError(platform::ErrObjectNotSet, QStringLiteral("info database not open"));
    auto s = std::make_unique<State>();
    s->link = connection.link_;

    QSqlQuery q = s->query();
    q.prepare(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table' AND name = ? COLLATE NOCASE"));
    q.addBindValue(table);
    s->exec(q, platform::ErrPathFileAccess);
    if (!q.next())
        throw s->error(platform::ErrObjectNotSet, QStringLiteral("no table \"%1\"").arg(table));
    s->table = q.value(0).toString();

    QSqlQuery info = s->query();
    info.prepare(QStringLiteral("PRAGMA table_info(%1)").arg(quoted(s->table)));
    s->exec(info, platform::ErrPathFileAccess);
    while (info.next())
        s->columns << info.value(1).toString();

    s->placeAfter(std::numeric_limits<qint64>::min(), true);
    s_ = std::move(s);
}

Recordset::State& Recordset::state() const
{
    if (!s_)
        throw RunTimeError(platform::ErrObjectNotSet, QStringLiteral("info database table not open"));
    return *s_;
}

QStringList Recordset::fields() const
{
    return s_ ? s_->columns : QStringList();
}

void Recordset::moveFirst()
{
    State& s = state();
    s.storePending();
    s.placeAfter(std::numeric_limits<qint64>::min(), true);
}

void Recordset::moveNext()
{
    State& s = state();
    if (s.adding) {
        // Storing the new record makes it current; the move goes on past it.
        s.storePending();
    } else if (s.eof) {
        throw s.error(platform::ErrObjectNotSet,
                        QStringLiteral("move past the end of table \"%1\"").arg(s.table));
    }
    s.placeAfter(s.current, false);
}

bool Recordset::bof() const
{
    return !s_ || (s_->bof && !s_->adding);
}

bool Recordset::eof() const
{
    return !s_ || (s_->eof && !s_->adding);
}

QVariant Recordset::value(const QString& field) const
{
    State& s = state();
    const QString col = s.column(field);
    if (s.adding)
        return s.pending.value(col);
    s.requireCurrent();
    QSqlQuery q = s.query();
    q.prepare(QStringLiteral("SELECT %1 FROM %2 WHERE rowid = ?").arg(quoted(col), quoted(s.table)));
    q.addBindValue(s.current);
    s.exec(q, platform::ErrPathFileAccess);
    if (!q.next())
        throw s.error(platform::ErrObjectNotSet,
                        QStringLiteral("the current record of table \"%1\" is gone").arg(s.table));
    return q.isNull(0) ? QVariant() : q.value(0);
}

void Recordset::setValue(const QString& field, const QVariant& value)
{
    State& s = state();
    const QString col = s.column(field);
    if (s.adding) {
        s.pending.insert(col, value);
        return;
    }
    s.requireCurrent();
    QSqlQuery q = s.query();
    q.prepare(QStringLiteral("UPDATE %1 SET %2 = ? WHERE rowid = ?").arg(quoted(s.table), quoted(col)));
    q.addBindValue(value);
    q.addBindValue(s.current);
    s.exec(q, platform::ErrPathFileAccess);
}

void Recordset::deleteCurrent()
{
    State& s = state();
    if (s.adding) {
        s.adding = false;
        s.pending.clear();
        s.deleted = true;
        return;
    }
    s.requireCurrent();
    QSqlQuery q = s.query();
    q.prepare(QStringLiteral("DELETE FROM %1 WHERE rowid = ?").arg(quoted(s.table)));
    q.addBindValue(s.current);
    s.exec(q, platform::ErrPathFileAccess);
    s.deleted = true;
}

void Recordset::addNew()
{
    State& s = state();
    s.storePending();
    s.adding = true;
    s.pending.clear();
}

void Recordset::release()
{
    if (!s_)
        return;
    const std::unique_ptr<State> s = std::move(s_);
    s->storePending();
}

} // namespace infodb
