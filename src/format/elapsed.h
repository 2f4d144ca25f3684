#pragma once
// The process-time text: H:MM:SS, and the time a process has left.
#include <QDateTime>
#include <QString>

namespace format {

// Hours are not reduced to a day: a fill of a large disk runs for days.
// A negative difference (a clock set back) keeps its sign in each part.
QString ElapsedText(qint64 milliseconds);
QString ElapsedText(const QDateTime& from, const QDateTime& to);
// "about 1:30:00 left" for a process that has done the fraction `done` in
// `elapsedMs`; empty before anything (or after everything) is done.
QString TimeLeftText(qint64 elapsedMs, double done);

} // namespace format
