#pragma once
// The process-time text: hours:minutes:seconds without fixed widths.
#include <QDateTime>
#include <QString>

namespace format {

// Hours are not reduced to a day: a fill of a large disk runs for days.
// A negative difference (a clock set back) keeps its sign in each part.
QString ElapsedText(qint64 milliseconds);
QString ElapsedText(const QDateTime& from, const QDateTime& to);

} // namespace format
