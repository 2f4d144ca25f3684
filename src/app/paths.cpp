#include "app/paths.h"
#include "infodb/location.h"
#include "platform/errors.h"
#include "platform/installation.h"
#include "platform/privileges.h"
#include "platform/process.h"

#include <QCoreApplication>

namespace app {

QString installationPaths()
{
    const QString helper =
        platform::locatePart(platform::PartKind::Helper, QLatin1String(platform::kFormatHelperName)).path;
    QString inUse;
    try {
        inUse = infodb::databasePath();
        inUse += QStringLiteral(" (texts version %1)").arg(infodb::contentVersion(inUse).value_or(-1));
    } catch (const platform::RunTimeError& e) {
        inUse = QStringLiteral("none: ") + e.description();
    }
    return QStringLiteral("program: %1\n"
                          "format helper: %2\n"
                          "format helper started as: %3\n"
                          "info database: %4\n"
                          "info database in use: %5\n")
        .arg(QCoreApplication::applicationFilePath(), helper, platform::formatHelperCommand({}).join(u' '),
             infodb::shippedDatabasePath(), inUse);
}

} // namespace app
