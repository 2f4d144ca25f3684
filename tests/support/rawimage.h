#pragma once
// Looking into the raw bytes of a volume image after it is unmounted: the
// proof that a wipe reached the disk is that what was written before it is
// no longer there.
#include <QByteArray>
#include <QString>

namespace testsupport {

// How often `needle` occurs in `file` (overlapping hits counted once each;
// 0 when the file cannot be read).
qint64 countInFile(const QString& file, const QByteArray& needle);

// Bytes the file really occupies on its disk (holes not counted).
qint64 allocatedBytes(const QString& file);

// A distinctive marker: `period` random bytes, none of them zero.
QByteArray randomPattern(int period);
// `pattern` repeated to exactly `size` bytes.
QByteArray repeated(const QByteArray& pattern, qsizetype size);

} // namespace testsupport
