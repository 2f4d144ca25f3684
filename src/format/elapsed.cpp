#include "format/elapsed.h"

#include <cmath>

namespace format {

QString ElapsedText(qint64 milliseconds)
{
    const qint64 secs = static_cast<qint64>(std::floor(static_cast<double>(milliseconds) / 1000.0));
    const qint64 hours = static_cast<qint64>(std::floor(static_cast<double>(secs) / 3600.0));
    // C++ remainders take the sign of the dividend, as the classic ones do.
    const qint64 minutes = static_cast<qint64>(std::floor(static_cast<double>(secs) / 60.0)) % 60;
    const qint64 seconds = secs % 60;
    return QStringLiteral("%1:%2:%3").arg(hours).arg(minutes, 2, 10, QLatin1Char('0')).arg(seconds, 2, 10, QLatin1Char('0'));
}

QString TimeLeftText(qint64 elapsedMs, double done)
{
    if (done <= 0 || done >= 1 || elapsedMs <= 0)
        return {};
    return QStringLiteral("about %1 left").arg(ElapsedText(static_cast<qint64>(elapsedMs * (1 - done) / done)));
}

QString ElapsedText(const QDateTime& from, const QDateTime& to)
{
    return ElapsedText(from.msecsTo(to));
}

} // namespace format
