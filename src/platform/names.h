#pragma once
// File names are bytes; the windows and procedures hold them as QString. A
// name that is not UTF-8 ("caf\xe9.txt", written on another system) must
// still reach the very file it names, so the conversion is reversible: valid
// UTF-8 decodes as usual, and every byte that is not part of valid UTF-8
// becomes the lone code unit U+DC00 + byte, which no valid name decodes to
// (the scheme Python calls surrogateescape). Everything in platform/ that
// hands a name to the kernel encodes it with `nameToBytes`.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace platform {

QString nameFromBytes(QByteArrayView bytes);
QByteArray nameToBytes(const QString& name);

// The name as a person can read it: escaped bytes and control characters
// (a line break in a name would forge a line of a report) as \xHH.
QString readableName(const QString& name);

} // namespace platform
