#pragma once
// The records on a terminal: a table, one line per record, and the
// certificate of one record written to a PDF file.
#include "records/wiperecord.h"

#include <QList>
#include <QString>
#include <functional>

namespace records {

// A header line and one line per record, in the order given.
QStringList recordsTable(const QList<WipeRecord>& list);

// Prints the table (`pdf` empty) or writes the certificate of record `id`
// (0: the newest) to `pdf`; `say` gets every line. The exit code: 0 done,
// 1 no such record or the file could not be used.
int listOrPrintRecords(const QString& pdf, qint64 id, const std::function<void(const QString&)>& say);

} // namespace records
