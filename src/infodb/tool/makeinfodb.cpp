// Build tool: makes the info database ZarvexWipe.db from the schema and one
// plain-text file per help topic. Not part of the program.
//
//   zarvexmkinfodb <output.db> <schema.sql> <texts folder>
//
// The schema's statements run first; then the one record of MiscInfo is
// stored with each column taken from <texts folder>/<column>.txt (a missing
// or empty text fails the build). The database is written aside and renamed
// into place, so a failed build never leaves a half-made file. Its
// user_version is a hash of everything that went in: the program renews its
// per-user copy when that changes.
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QtEndian>
#include <cstdio>
#include <cstdlib>

namespace {

[[noreturn]] void fail(const QString& message)
{
    std::fprintf(stderr, "zarvexmkinfodb: %s\n", qPrintable(message));
    std::exit(1);
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        fail(QStringLiteral("cannot read %1: %2").arg(path, f.errorString()));
    return f.readAll();
}

// Statements of the schema: comment lines dropped, split at semicolons that
// end a line (the schema keeps no semicolons inside its texts).
QStringList statements(const QString& schema)
{
    QString body;
    for (const QString& line : schema.split(u'\n'))
        if (!line.trimmed().startsWith(QStringLiteral("--")))
            body += line + u'\n';
    QStringList result;
    for (const QString& part : body.split(QRegularExpression(QStringLiteral(";\\s*\\n"))))
        if (!part.trimmed().isEmpty())
            result << part.trimmed();
    return result;
}

void exec(QSqlQuery& q, const QString& what)
{
    if (!q.exec())
        fail(QStringLiteral("%1: %2").arg(what, q.lastError().text()));
}

void build(const QString& output, const QString& schemaFile, const QString& textsFolder)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    const QByteArray schema = readFile(schemaFile);
    hash.addData(schema);

    const QString aside = output + QStringLiteral(".part");
    QFile::remove(aside);
    QDir().mkpath(QFileInfo(output).absolutePath());
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("build"));
        db.setDatabaseName(aside);
        if (!db.open())
            fail(QStringLiteral("cannot create %1: %2").arg(aside, db.lastError().text()));
        QSqlQuery q(db);
        for (const QString& statement : statements(QString::fromUtf8(schema))) {
            if (!q.exec(statement))
                fail(QStringLiteral("schema statement failed: %1\n%2").arg(q.lastError().text(), statement));
        }

        QStringList columns;
        if (!q.exec(QStringLiteral("PRAGMA table_info(MiscInfo)")))
            fail(QStringLiteral("no table MiscInfo: %1").arg(q.lastError().text()));
        while (q.next())
            columns << q.value(1).toString();
        if (columns.isEmpty())
            fail(QStringLiteral("the schema makes no table MiscInfo"));

        QStringList marks;
        for (qsizetype i = 0; i < columns.size(); ++i)
            marks << QStringLiteral("?");
        QSqlQuery insert(db);
        insert.prepare(QStringLiteral("INSERT INTO MiscInfo (%1) VALUES (%2)")
                           .arg(columns.join(u','), marks.join(u',')));
        for (const QString& column : columns) {
            const QByteArray raw = readFile(QDir(textsFolder).filePath(column + QStringLiteral(".txt")));
            const QString text = QString::fromUtf8(raw).trimmed();
            if (text.isEmpty())
                fail(QStringLiteral("the help text %1.txt is empty").arg(column));
            hash.addData(column.toUtf8());
            hash.addData(raw);
            insert.addBindValue(text);
        }
        exec(insert, QStringLiteral("storing the help texts"));

        // A positive 32-bit stamp of the contents.
        const qint32 version = qint32(qFromBigEndian<quint32>(hash.result().constData()) & 0x7fffffffu);
        if (!q.exec(QStringLiteral("PRAGMA user_version = %1").arg(version)))
            fail(QStringLiteral("setting the content version: %1").arg(q.lastError().text()));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("build"));

    QFile::remove(output);
    if (!QFile::rename(aside, output))
        fail(QStringLiteral("cannot move %1 to %2").arg(aside, output));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4)
        fail(QStringLiteral("usage: zarvexmkinfodb <output.db> <schema.sql> <texts folder>"));
    build(args[1], args[2], args[3]);
    return 0;
}
