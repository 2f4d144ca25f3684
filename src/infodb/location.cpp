#include "infodb/location.h"

#include "platform/appdata.h"
#include "platform/errors.h"
#include "platform/installation.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace infodb {

namespace {
QString& overridePath()
{
    static QString path;
    return path;
}
} // namespace

QString shippedDatabasePath()
{
    return platform::locatePart(platform::PartKind::Data, QLatin1String(kDatabaseFileName)).path;
}

std::optional<qint32> contentVersion(const QString& nativeFile)
{
    // The SQLite file header: a 16-byte magic string, and the user_version
    // as a big-endian 32-bit number at offset 60.
    QFile f(nativeFile);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray header = f.read(64);
    if (header.size() < 64 || !header.startsWith(QByteArrayLiteral("SQLite format 3\0")))
        return std::nullopt;
    const auto byte = [&](int i) { return quint32(quint8(header[i])); };
    return qint32(byte(60) << 24 | byte(61) << 16 | byte(62) << 8 | byte(63));
}

QString locateDatabase(const QString& shippedFile, const QString& userFolder, bool inPlaceAllowed)
{
    if (!QFileInfo(shippedFile).isFile())
        throw platform::RunTimeError(platform::ErrFileNotFound, shippedFile);
    if ((inPlaceAllowed && platform::canWriteInPlace(shippedFile)) || userFolder.isEmpty())
        return shippedFile;

    const QString copy = QDir(userFolder).filePath(QString::fromLatin1(kDatabaseFileName));
    // The copy keeps the user's scratch list; it is only replaced when the
    // program beside it carries other texts (an update) or it is damaged.
    const auto shippedVersion = contentVersion(shippedFile);
    const auto copyVersion = contentVersion(copy);
    if (!copyVersion || copyVersion != shippedVersion) {
        try {
            platform::copyFileReplacing(shippedFile, copy);
        } catch (const platform::RunTimeError&) {
            // Nowhere to write: the help texts can still be read in place.
            return shippedFile;
        }
    }
    return copy;
}

QString databasePath()
{
    if (!overridePath().isEmpty())
        return overridePath();
    // Even root leaves an installed file as its package put it.
    const platform::PartLocation shipped =
        platform::locatePart(platform::PartKind::Data, QLatin1String(kDatabaseFileName));
    return locateDatabase(shipped.path, platform::userDataFolder(), !shipped.installed);
}

void setDatabasePath(const QString& nativeFile)
{
    overridePath() = nativeFile;
}

} // namespace infodb
