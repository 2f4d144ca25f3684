#include "support/rawimage.h"

#include <QFile>
#include <QRandomGenerator>
#include <algorithm>
#include <sys/stat.h>

namespace testsupport {

// Reads in chunks that overlap by the needle's length less one, so a hit
// across a chunk boundary is counted exactly once.
qint64 countInFile(const QString& file, const QByteArray& needle)
{
    QFile f(file);
    if (needle.isEmpty() || !f.open(QIODevice::ReadOnly))
        return 0;
    qint64 hits = 0;
    for (QByteArray window; !f.atEnd();) {
        window += f.read(8 << 20);
        for (qsizetype at = window.indexOf(needle); at >= 0; at = window.indexOf(needle, at + 1))
            ++hits;
        window.remove(0, std::max<qsizetype>(0, window.size() - (needle.size() - 1)));
    }
    return hits;
}

qint64 allocatedBytes(const QString& file)
{
    struct stat st {};
    return ::stat(QFile::encodeName(file).constData(), &st) == 0 ? qint64(st.st_blocks) * 512 : -1;
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
    return pattern.repeated(size / pattern.size() + 1).left(size);
}

} // namespace testsupport
