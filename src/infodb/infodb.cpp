#include "infodb/infodb.h"

#include "platform/prompter.h"

#include <QSet>

namespace infodb {

QStringList topicColumns()
{
    return {QStringLiteral("ReadMe"),   QStringLiteral("DRWipe"),   QStringLiteral("FoldWipe"),
            QStringLiteral("FileWipe"), QStringLiteral("EULA"),     QStringLiteral("FAQ"),
            QStringLiteral("CRInfo"),   QStringLiteral("RegSafe"),  QStringLiteral("CandD"),
            QStringLiteral("RegPrivate"), QStringLiteral("GenWipe"), QStringLiteral("FreeWipe"),
            QStringLiteral("stops")};
}

QString readTopic(const Connection& connection, const QString& column)
{
    Recordset help(connection, QString::fromLatin1(kHelpTable));
    if (help.eof())
        throw platform::RunTimeError(platform::ErrObjectNotSet,
                                     QStringLiteral("%1: table \"MiscInfo\" has no record").arg(connection.file()));
    return help.text(column);
}

QString readTopic(const QString& column)
{
    return readTopic(Connection::open(), column);
}

QStringList readExtNames(const Connection& connection)
{
    Recordset exts(connection, QString::fromLatin1(kExtsTable));
    QStringList names;
    for (; !exts.eof(); exts.moveNext())
        names << exts.text(QString::fromLatin1(kExtField));
    return names;
}

QStringList readExtNames()
{
    return readExtNames(Connection::open());
}

namespace {
QSet<QString>& reported()
{
    static QSet<QString> set;
    return set;
}
} // namespace

void reportOnce(platform::Prompter& prompter, const platform::RunTimeError& error)
{
    const QString key = QString::number(error.number()) + u'|' + error.detail();
    if (reported().contains(key))
        return;
    reported().insert(key);
    prompter.message(platform::joinLines({
        QStringLiteral("The information database could not be used:"),
        QString(),
        error.description(),
        QString(),
        QStringLiteral("Help texts and the file type list are not available until the file is restored."),
    }));
}

void resetReports()
{
    reported().clear();
}

} // namespace infodb
