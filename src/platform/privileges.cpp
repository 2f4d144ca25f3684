#include "platform/privileges.h"
#include "platform/installation.h"
#include "platform/mounts.h"
#include "platform/process.h"

namespace platform {

QStringList rootCommand(const QString& helper, const QStringList& args, bool callerIsRoot)
{
    QStringList command{helper};
    command += args;
    if (!callerIsRoot)
        command.prepend(QLatin1String(kPkexec));
    return command;
}

QStringList formatHelperCommand(const QStringList& args)
{
    return rootCommand(locatePart(PartKind::Helper, QLatin1String(kFormatHelperName)).path, args, isSuperUser());
}

std::optional<QString> authorizationFailure(int exitCode, const QString& pkexecOutput)
{
    QString said = pkexecOutput.simplified();
    if (said.isEmpty())
        said = QStringLiteral("no reason given");
    if (exitCode == 126)
        return QStringLiteral("This needs an administrator's password, and the password request was dismissed (%1). "
                              "Nothing was changed.")
            .arg(said);
    if (exitCode == 127)
        return QStringLiteral("This needs an administrator's password, and it was not granted (%1). "
                              "Nothing was changed.")
            .arg(said);
    return std::nullopt;
}

} // namespace platform
