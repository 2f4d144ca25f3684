#include "support/rawimage.h"

#include <QFile>
#include <QRandomGenerator>
#include <QStringList>
#include <functional>

namespace testsupport {

namespace {
// Scans in chunks that overlap by the needle's length less one, so a hit
// across a chunk boundary is found exactly once.
void scan(const QString& file, const QByteArray& needle, const std::function<bool(qint64)>& onHit)
{
    QFile f(file);
    if (needle.isEmpty() || !f.open(QIODevice::ReadOnly))
        return;
    constexpr qint64 kChunk = 8 << 20;
    const qint64 keep = needle.size() - 1;
    QByteArray window;
    qint64 windowStart = 0;
    for (;;) {
        const QByteArray next = f.read(kChunk);
        if (next.isEmpty())
            return;
        window += next;
        qsizetype from = 0;
        for (;;) {
            const qsizetype at = window.indexOf(needle, from);
            if (at < 0)
                break;
            if (!onHit(windowStart + at))
                return;
            from = at + 1;
        }
        const qsizetype drop = window.size() > keep ? window.size() - keep : 0;
        window.remove(0, drop);
        windowStart += drop;
    }
}
} // namespace

std::vector<qint64> findInFile(const QString& file, const QByteArray& needle, int limit)
{
    std::vector<qint64> hits;
    scan(file, needle, [&](qint64 at) {
        hits.push_back(at);
        return static_cast<int>(hits.size()) < limit;
    });
    return hits;
}

qint64 countInFile(const QString& file, const QByteArray& needle)
{
    qint64 n = 0;
    scan(file, needle, [&](qint64) {
        ++n;
        return true;
    });
    return n;
}

QByteArray randomPattern(int period)
{
    QByteArray p(period, '\0');
    for (char& c : p)
        c = static_cast<char>(QRandomGenerator::global()->bounded(1, 256));
    return p;
}

QByteArray repeated(const QByteArray& pattern, qsizetype size)
{
    QByteArray out;
    out.reserve(size);
    while (out.size() < size)
        out += pattern;
    out.truncate(size);
    return out;
}

QString describeOffsets(const std::vector<qint64>& offsets, int blockSize)
{
    QStringList parts;
    for (qint64 o : offsets)
        parts << QStringLiteral("0x%1 (block %2)").arg(o, 0, 16).arg(o / blockSize);
    return parts.join(QStringLiteral(", "));
}

} // namespace testsupport
