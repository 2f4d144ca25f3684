// The info database: the file the build puts beside the program, where the
// program finds it (and the per-user copy it falls back to when the
// program's folder cannot be written), and cursor operations on a real
// SQLite file, whose failures name the file.
#include "dbfiles.h"
#include "infodb/infodb.h"
#include "platform/appdata.h"
#include "support/volumes.h"

#include <QFileInfo>
#include <QProcess>
#include <QSqlDatabase>
#include <gtest/gtest.h>

using namespace infodb;
using infodbtest::errorOf;
using platform::ErrObjectNotSet;

namespace {
QByteArray contents(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class RecordsetTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    const QString file = infodbtest::copyOfBuilt(dir.path());

    QStringList names() { return readExtNames(Connection(file)); }
    // Every record from the first, as the cursor sees them.
    static QStringList walk(Recordset& rs)
    {
        QStringList out;
        for (rs.moveFirst(); !rs.eof(); rs.moveNext())
            out << rs.text("extname");
        return out;
    }
};
} // namespace

TEST(BuiltDatabase, HoldsTheTypeListAndOneHelpRecordWithItsOwnTextForEveryTopic)
{
    const QString file = infodbtest::builtDatabase();
    ASSERT_TRUE(QFileInfo(file).isFile()) << qPrintable(file);
    // The build stamps a content version so per-user copies can be renewed.
    EXPECT_GT(contentVersion(file).value_or(0), 0);
    Connection db(file);
    EXPECT_EQ(readExtNames(db).value(0), "ALL");
    Recordset help(db, "MiscInfo");
    EXPECT_EQ(help.fields(), topicColumns());
    ASSERT_FALSE(help.eof());
    help.moveNext();
    EXPECT_TRUE(help.eof()) << "MiscInfo must hold exactly one record";

    QStringList seen;
    for (const QString& column : topicColumns()) {
        const QString text = readTopic(db, column);
        EXPECT_GT(text.size(), 200) << qPrintable(column);
        EXPECT_FALSE(seen.contains(text)) << qPrintable(column) << " repeats another topic";
        seen << text;
    }
    // A few facts the texts must state as the program does them.
    const std::pair<const char*, const char*> facts[] = {
        {"CRInfo", "Copyright (c) 2026 Orvane Software"}, {"EULA", "MIT License"}, {"stops", "tmptxt1.txt"},
        {"ReadMe", "ZARVEX_DRIVES"}};
    for (const auto& [column, fact] : facts)
        EXPECT_TRUE(readTopic(db, column).contains(fact)) << column;
}

TEST(DatabaseLocation, WritableProgramFolderIsUsedInPlaceInstalledOneCopiedAMissingOneNamed)
{
    QTemporaryDir program, user;
    const QString file = infodbtest::copyOfBuilt(program.path());
    EXPECT_EQ(locateDatabase(file, user.path()), file);
    EXPECT_TRUE(QDir(user.path()).isEmpty()) << "no copy is made";

    // An installed file stays as its package put it, even for root.
    const QString copy = locateDatabase(file, user.path(), false);
    EXPECT_EQ(copy, user.filePath("ZarvexWipe.db"));
    EXPECT_EQ(contents(copy), contents(file));

    ASSERT_TRUE(QFile::remove(file));
    QString detail;
    EXPECT_EQ(errorOf([&] { locateDatabase(file, user.path()); }, &detail), platform::ErrFileNotFound);
    EXPECT_TRUE(detail.contains(file));
}

// The program's folder is a tmpfs remounted read-only, since permissions do
// not stop root.
TEST(DatabaseLocation, ReadOnlyProgramFolderFallsBackToAUserCopyKeptUntilStaleOrIsReadInPlace)
{
    testsupport::ScratchVolume volume{testsupport::ScratchVolume::Kind::Tmpfs, 4};
    if (!volume.ok())
        GTEST_SKIP() << volume.skipReason().toStdString();
    const QString file = infodbtest::copyOfBuilt(volume.folder());
    QString out;
    ASSERT_EQ(testsupport::runCommand("mount", {"-o", "remount,ro", volume.folder()}, &out), 0) << out.toStdString();
    ASSERT_FALSE(platform::canWriteInPlace(file));

    QTemporaryDir user;
    const QString userFolder = user.filePath("share/ZarvexWipe");
    const QString copy = locateDatabase(file, userFolder);
    EXPECT_EQ(copy, QDir(userFolder).filePath("ZarvexWipe.db"));
    EXPECT_EQ(contents(copy), contents(file));
    // The copy is the one written from now on, and it is kept.
    ASSERT_EQ(QProcess::execute("sqlite3", {copy, "INSERT INTO exts (extname) VALUES ('TXT')"}), 0);
    EXPECT_EQ(locateDatabase(file, userFolder), copy);
    EXPECT_EQ(readExtNames(Connection(copy)), (QStringList{"ALL", "TXT"}));

    // A copy from another program version, or a damaged one, is renewed.
    ASSERT_EQ(QProcess::execute("sqlite3", {copy, "PRAGMA user_version = 12345"}), 0);
    EXPECT_EQ(locateDatabase(file, userFolder), copy);
    EXPECT_EQ(contents(copy), contents(file));
    QFile damaged(copy);
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly | QIODevice::Truncate) && damaged.write("not a database") > 0);
    damaged.close();
    EXPECT_EQ(locateDatabase(file, userFolder), copy);
    EXPECT_EQ(readExtNames(Connection(copy)), QStringList{"ALL"});

    // With the user folder on the same read-only place, the texts are read in
    // place and a write is refused, naming the file.
    ASSERT_EQ(locateDatabase(file, QDir(volume.folder()).filePath("user")), file);
    Connection db(file);
    EXPECT_FALSE(readTopic(db, "ReadMe").isEmpty());
    Recordset exts(db, "exts");
    QString detail;
    EXPECT_EQ(errorOf([&] { exts.setValue("extname", "XYZ"); }, &detail), platform::ErrPathFileAccess);
    EXPECT_TRUE(detail.contains(file)) << qPrintable(detail);
}

TEST_F(RecordsetTest, WalksInNaturalOrderWritesAndDeletesTheCurrentRecord)
{
    ASSERT_EQ(QProcess::execute("sqlite3", {file, "INSERT INTO exts (extname) VALUES ('TXT'), ('DOC'), ('ZIP')"}), 0);
    {
        Connection db(file);
        Recordset rs(db, "exts");
        EXPECT_FALSE(rs.bof());
        EXPECT_EQ(walk(rs), (QStringList{"ALL", "TXT", "DOC", "ZIP"}));
        EXPECT_FALSE(rs.bof()) << "the end of a walk is not the beginning";
        EXPECT_EQ(errorOf([&] { rs.moveNext(); }), ErrObjectNotSet);
        EXPECT_EQ(errorOf([&] { rs.value("extname"); }), ErrObjectNotSet);

        rs.moveFirst();
        EXPECT_EQ(rs.text("EXTNAME"), "ALL") << "field names ignore case";
        rs.moveNext();
        rs.setValue("extname", "PDF");
        EXPECT_EQ(rs.text("extname"), "PDF");
        QString detail;
        EXPECT_EQ(errorOf([&] { rs.setValue("nosuch", 1); }, &detail), ErrObjectNotSet);
        EXPECT_TRUE(detail.contains(file) && detail.contains("nosuch")) << qPrintable(detail);
    }
    EXPECT_EQ(names(), (QStringList{"ALL", "PDF", "DOC", "ZIP"}));

    Connection db(file);
    Recordset rs(db, "exts");
    rs.moveNext(); // PDF
    rs.deleteCurrent();
    EXPECT_EQ(errorOf([&] { rs.value("extname"); }), ErrObjectNotSet) << "a deleted record cannot be read";
    rs.moveNext();
    EXPECT_EQ(rs.text("extname"), "DOC");
    // The type selector's clean-up: keep ALL, delete everything after it.
    rs.moveFirst();
    for (rs.moveNext(); !rs.eof(); rs.moveNext())
        rs.deleteCurrent();
    EXPECT_EQ(names(), QStringList{"ALL"});
    // An empty table is at both beginning and end.
    rs.moveFirst();
    rs.deleteCurrent();
    rs.moveFirst();
    EXPECT_TRUE(rs.bof() && rs.eof());
    EXPECT_EQ(errorOf([&] { rs.deleteCurrent(); }), ErrObjectNotSet);
}

// names() reads through a second connection while the first is open: each
// connection has its own name, and released ones are removed.
TEST_F(RecordsetTest, AppendedRecordIsStoredWhenTheCursorMovesOrIsReleased)
{
    const QStringList connections = QSqlDatabase::connectionNames();
    Connection db(file);
    {
        Recordset rs(db, "exts");
        rs.moveNext();
        ASSERT_TRUE(rs.eof());
        rs.addNew();
        EXPECT_FALSE(rs.eof());
        rs.setValue("extname", "TXT");
        EXPECT_EQ(rs.text("extname"), "TXT");
        EXPECT_EQ(names(), QStringList{"ALL"}) << "not stored before the cursor moves";
        rs.moveFirst();
        EXPECT_EQ(names(), (QStringList{"ALL", "TXT"}));
        EXPECT_EQ(rs.text("extname"), "ALL");

        // moveNext stores it and goes on past it: the new record was the last.
        rs.addNew();
        rs.setValue("extname", "DOC");
        rs.moveNext();
        EXPECT_TRUE(rs.eof());
        EXPECT_EQ(walk(rs), (QStringList{"ALL", "TXT", "DOC"}));

        rs.addNew();
        rs.setValue("extname", "LOG");
        rs.release();
        EXPECT_FALSE(rs.isOpen());
        rs.release(); // twice is harmless
    }
    {
        Recordset rs(db, "exts");
        db.release(); // the connection lasts while the recordset uses it
        EXPECT_EQ(rs.text("extname"), "ALL");
        rs.addNew();
        rs.setValue("extname", "INI");
    } // the destructor releases too
    EXPECT_EQ(names(), (QStringList{"ALL", "TXT", "DOC", "LOG", "INI"}));
    EXPECT_EQ(QSqlDatabase::connectionNames(), connections);
}

TEST_F(RecordsetTest, FailuresNameTheFile)
{
    const QString missing = dir.filePath("missing.db"), junk = dir.filePath("junk.db");
    QFile junkFile(junk);
    ASSERT_TRUE(junkFile.open(QIODevice::WriteOnly) && junkFile.write(QByteArray(4096, 'x')) == 4096);
    junkFile.close();
    Connection db(file);
    const struct { std::function<void()> open; int number; QString named; } cases[] = {
        {[&] { Connection c(missing); }, platform::ErrFileNotFound, missing},
        {[&] { Connection c(junk); }, platform::ErrPathFileAccess, junk},
        {[&] { Recordset rs(db, "nosuch"); }, ErrObjectNotSet, file + ": no table \"nosuch\""}};
    for (const auto& c : cases) {
        QString detail;
        EXPECT_EQ(errorOf(c.open, &detail), c.number) << qPrintable(c.named);
        EXPECT_TRUE(detail.contains(c.named)) << qPrintable(detail);
    }
    EXPECT_FALSE(QFileInfo::exists(missing)) << "opening must not create an empty database";
}
