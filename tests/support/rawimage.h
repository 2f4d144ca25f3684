#pragma once
// Looking into the raw bytes of a volume image after it is unmounted: the
// proof that a wipe reached the disk is that what was written before it is
// no longer there.
#include <QByteArray>
#include <QString>
#include <vector>

namespace testsupport {

// Byte offsets in `file` where `needle` starts, at most `limit` of them
// (empty also when the file cannot be read; see `readable`).
std::vector<qint64> findInFile(const QString& file, const QByteArray& needle, int limit = 64);
// How often `needle` occurs in `file` (overlapping hits counted once each).
qint64 countInFile(const QString& file, const QByteArray& needle);

// A distinctive marker: `period` random bytes, none of them zero.
QByteArray randomPattern(int period);
// `pattern` repeated to exactly `size` bytes.
QByteArray repeated(const QByteArray& pattern, qsizetype size);

// Offsets as text for a failure message ("0x1a000, 0x1a020, ...").
QString describeOffsets(const std::vector<qint64>& offsets, int blockSize = 4096);

} // namespace testsupport
