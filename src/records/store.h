#pragma once
// The wipe records file: an SQLite database in the user's state folder
// (WipeRecords.db), with one row per process in "records" and the files and
// folders of a file or folder wipe in "record_items". Every write is one
// transaction, so a record is either stored whole or not at all.
//
// Failures are RunTimeErrors naming the file: 76 there is no state folder,
// 75 the file cannot be opened, written or is no records database.
#include "records/wiperecord.h"

#include <QList>
#include <QString>
#include <optional>

namespace records {

inline constexpr const char* kRecordsTable = "records";

class Store {
public:
    // <state folder>/WipeRecords.db; empty when there is no state folder.
    static QString defaultFile();

    // Opens the file, making it (and its folder) when it is missing.
    explicit Store(const QString& file = defaultFile());
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    const QString& file() const { return file_; }
    // The Qt connection, for a model over the records table.
    QString connectionName() const { return connection_; }

    // Stores a new record with its items; returns its id.
    qint64 add(const WipeRecord& record);
    // Rewrites the record's own fields (not its items).
    void update(const WipeRecord& record);
    // Every record, newest first, each with its items.
    QList<WipeRecord> all() const;
    std::optional<WipeRecord> find(qint64 id) const;

private:
    QList<WipeRecord> select(const QString& where, qint64 id) const;
    QString file_;
    QString connection_;
};

} // namespace records
