#pragma once
// A connection to the info database and a cursor over one of its tables in
// natural (rowid) order: first, next, beginning and end tests, field read and
// write by name, delete the current record, append. The windows use these the
// way they would use a dynamic recordset: a new record is stored when the
// cursor next moves or when the recordset is released.
//
// Every failure is a platform::RunTimeError whose detail names the file:
// 53 the file is missing, 75 it cannot be opened, read or written, 91 a
// table or field is missing or there is no current record.
#include <QString>
#include <QStringList>
#include <QVariant>
#include <memory>

namespace infodb {

namespace detail {
struct Link;
}

class Connection {
public:
    Connection() = default;
    // Opens the given database file; it must exist.
    explicit Connection(const QString& nativeFile);
    // Opens the program's database (databasePath()).
    static Connection open();

    bool isOpen() const { return bool(link_); }
    QString file() const;
    // Drops this handle; the connection goes once no recordset uses it.
    void release() { link_.reset(); }

private:
    std::shared_ptr<detail::Link> link_;
    friend class Recordset;
};

class Recordset {
public:
    Recordset();
    // Opens a cursor on a table, positioned on its first record (at both
    // beginning and end when the table is empty).
    Recordset(const Connection& connection, const QString& table);
    ~Recordset();
    Recordset(Recordset&& other) noexcept;
    Recordset& operator=(Recordset&& other) noexcept;
    Recordset(const Recordset&) = delete;
    Recordset& operator=(const Recordset&) = delete;

    bool isOpen() const { return bool(s_); }
    // Field names as the table has them.
    QStringList fields() const;

    void moveFirst();
    // Moving past the last record sets the end; moving at the end is an error.
    void moveNext();
    // True only when the table was empty when the cursor was last placed.
    bool bof() const;
    bool eof() const;

    // Field names are matched without regard to case, as the table's own
    // SQL does. A null value reads as an invalid QVariant (empty text).
    QVariant value(const QString& field) const;
    QString text(const QString& field) const { return value(field).toString(); }
    void setValue(const QString& field, const QVariant& value);

    // Deletes the current record; the cursor stays where it was until it
    // moves (the next record is the one after the deleted one). Deleting a
    // new record that was not stored yet just drops it.
    void deleteCurrent();
    // Starts a new record; its fields can be set at once and it is stored
    // when the cursor next moves or on release.
    void addNew();
    // Stores a pending new record and lets go of the table. Safe to call
    // twice; the destructor does it too (without reporting failures).
    void release();

private:
    struct State;
    State& state() const;
    std::unique_ptr<State> s_;
};

} // namespace infodb
