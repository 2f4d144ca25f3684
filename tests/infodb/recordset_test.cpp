// Cursor operations on a real SQLite file, and failures that name the file.
#include "dbfiles.h"
#include "infodb/infodb.h"
#include "support/fakes.h"

#include <QFileInfo>
#include <QSqlDatabase>
#include <gtest/gtest.h>

using namespace infodb;
using platform::RunTimeError;

namespace {

const QString kExts = QStringLiteral("exts");
const QString kExt = QStringLiteral("extname");

class RecordsetTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        file = infodbtest::copyOfBuilt(dir.path());
        ASSERT_FALSE(file.isEmpty());
    }

    // exts holding ALL followed by `more`.
    void fill(const QStringList& more)
    {
        Connection db(file);
        Recordset exts(db, kExts);
        for (const QString& e : more) {
            exts.addNew();
            exts.setValue(kExt, e);
        }
    }

    QStringList names() { return readExtNames(Connection(file)); }

    // Every record from the first, as the cursor sees them.
    static QStringList walk(Recordset& rs)
    {
        QStringList out;
        for (rs.moveFirst(); !rs.eof(); rs.moveNext())
            out << rs.text(kExt);
        return out;
    }


    template <typename F>
    static int errorOf(F&& f, QString* detail = nullptr)
    {
        try {
            f();
        } catch (const RunTimeError& e) {
            if (detail)
                *detail = e.detail();
            return e.number();
        }
        return 0;
    }

    QTemporaryDir dir;
    QString file;
};

} // namespace

TEST_F(RecordsetTest, WalksInNaturalOrderAndWritesTheCurrentRecord)
{
    fill({"TXT", "DOC", "ZIP"});
    {
        Connection db(file);
        Recordset rs(db, kExts);
        EXPECT_FALSE(rs.bof());
        EXPECT_EQ(walk(rs), (QStringList{"ALL", "TXT", "DOC", "ZIP"}));
        EXPECT_FALSE(rs.bof()) << "the end of a walk is not the beginning";
        EXPECT_EQ(errorOf([&] { rs.moveNext(); }), platform::ErrObjectNotSet);
        EXPECT_EQ(errorOf([&] { rs.value(kExt); }), platform::ErrObjectNotSet);

        rs.moveFirst();
        EXPECT_EQ(rs.text(QStringLiteral("EXTNAME")), QStringLiteral("ALL")) << "field names ignore case";
        rs.moveNext();
        rs.setValue(kExt, QStringLiteral("PDF"));
        EXPECT_EQ(rs.text(kExt), QStringLiteral("PDF"));
        QString detail;
        EXPECT_EQ(errorOf([&] { rs.setValue(QStringLiteral("nosuch"), 1); }, &detail), platform::ErrObjectNotSet);
        EXPECT_TRUE(detail.contains(file) && detail.contains(QStringLiteral("nosuch"))) << qPrintable(detail);
    }
    EXPECT_EQ(names(), (QStringList{"ALL", "PDF", "DOC", "ZIP"}));
}

TEST_F(RecordsetTest, DeleteCurrentThenMoveGoesToTheRecordAfter)
{
    fill({"TXT", "DOC", "ZIP"});
    Connection db(file);
    Recordset rs(db, kExts);
    rs.moveNext(); // TXT
    rs.deleteCurrent();
    EXPECT_EQ(errorOf([&] { rs.value(kExt); }), platform::ErrObjectNotSet) << "a deleted record cannot be read";
    rs.moveNext();
    EXPECT_EQ(rs.text(kExt), QStringLiteral("DOC"));

    // The type selector's clean-up: keep ALL, delete everything after it.
    rs.moveFirst();
    rs.moveNext();
    while (!rs.eof()) {
        rs.deleteCurrent();
        rs.moveNext();
    }
    EXPECT_EQ(names(), QStringList{"ALL"});

    // An empty table is at both beginning and end.
    rs.moveFirst();
    rs.deleteCurrent();
    rs.moveFirst();
    EXPECT_TRUE(rs.bof());
    EXPECT_TRUE(rs.eof());
    EXPECT_EQ(errorOf([&] { rs.deleteCurrent(); }), platform::ErrObjectNotSet);
}

TEST_F(RecordsetTest, AppendedRecordIsStoredWhenTheCursorMovesOrIsReleased)
{
    Connection db(file);
    {
        Recordset rs(db, kExts);
        rs.moveNext();
        ASSERT_TRUE(rs.eof());
        rs.addNew();
        EXPECT_FALSE(rs.eof());
        rs.setValue(kExt, QStringLiteral("TXT"));
        EXPECT_EQ(rs.text(kExt), QStringLiteral("TXT"));
        EXPECT_EQ(names(), QStringList{"ALL"}) << "not stored before the cursor moves";

        rs.moveFirst();
        EXPECT_EQ(names(), (QStringList{"ALL", "TXT"}));
        EXPECT_EQ(rs.text(kExt), QStringLiteral("ALL"));

        // moveNext stores it and goes on past it: the new record was the last.
        rs.addNew();
        rs.setValue(kExt, QStringLiteral("DOC"));
        rs.moveNext();
        EXPECT_TRUE(rs.eof());
        EXPECT_EQ(walk(rs), (QStringList{"ALL", "TXT", "DOC"}));

        rs.addNew();
        rs.setValue(kExt, QStringLiteral("LOG"));
        rs.release();
        EXPECT_FALSE(rs.isOpen());
        rs.release(); // twice is harmless
    }
    {
        Recordset rs(db, kExts);
        rs.addNew();
        rs.setValue(kExt, QStringLiteral("INI"));
    } // the destructor releases too
    EXPECT_EQ(names(), (QStringList{"ALL", "TXT", "DOC", "LOG", "INI"}));
}

TEST_F(RecordsetTest, ConnectionLastsWhileARecordsetUsesIt)
{
    const QStringList before = QSqlDatabase::connectionNames();
    {
        Connection db(file);
        Recordset rs(db, kExts);
        db.release();
        EXPECT_EQ(rs.text(kExt), QStringLiteral("ALL"));
        Connection second(file); // each connection has its own name
        EXPECT_EQ(readExtNames(second), QStringList{"ALL"});
    }
    EXPECT_EQ(QSqlDatabase::connectionNames(), before) << "released connections are removed";
}

TEST_F(RecordsetTest, FailuresNameTheFile)
{
    QString detail;
    const QString missing = dir.filePath(QStringLiteral("missing.db"));
    EXPECT_EQ(errorOf([&] { Connection c(missing); }, &detail), platform::ErrFileNotFound);
    EXPECT_TRUE(detail.contains(missing));
    EXPECT_FALSE(QFileInfo::exists(missing)) << "opening must not create an empty database";

    const QString junk = dir.filePath(QStringLiteral("junk.db"));
    QFile junkFile(junk);
    ASSERT_TRUE(junkFile.open(QIODevice::WriteOnly) && junkFile.write(QByteArray(4096, 'x')) == 4096);
    junkFile.close();
    EXPECT_EQ(errorOf([&] { Connection c(junk); }, &detail), platform::ErrPathFileAccess);
    EXPECT_TRUE(detail.contains(junk));

    Connection db(file);
    EXPECT_EQ(errorOf([&] { Recordset rs(db, QStringLiteral("nosuch")); }, &detail), platform::ErrObjectNotSet);
    EXPECT_TRUE(detail.contains(file) && detail.contains(QStringLiteral("nosuch")));
}

TEST(InfoDbReport, MissingDatabaseIsReportedOnceAndWindowsGoOn)
{
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("ZarvexWipe.db"));
    setDatabasePath(missing);
    resetReports();
    testsupport::ScriptedPrompter prompter;

    EXPECT_EQ(topicTextOrReport(QStringLiteral("ReadMe"), prompter), QString());
    EXPECT_EQ(extNamesOrReport(prompter), QStringList{"ALL"});
    EXPECT_EQ(topicTextOrReport(QStringLiteral("FAQ"), prompter), QString());
    ASSERT_EQ(prompter.texts.size(), 1);
    EXPECT_TRUE(prompter.texts.front().contains(missing)) << qPrintable(prompter.texts.front());

    // Another failure is news and is reported too.
    setDatabasePath(dir.filePath(QStringLiteral("other.db")));
    extNamesOrReport(prompter);
    EXPECT_EQ(prompter.texts.size(), 2);

    setDatabasePath({});
    resetReports();
}
