// Where the program finds its database, and the per-user copy it falls back
// to when the program's folder cannot be written.
#include "dbfiles.h"
#include "infodb/infodb.h"
#include "platform/appdata.h"
#include "support/volumes.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <gtest/gtest.h>

using namespace infodb;

namespace {

QByteArray contents(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A copy of the built database in a folder this process cannot write: a
// tmpfs remounted read-only, since permissions do not stop root.
class ReadOnlyProgramFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!volume.ok())
            GTEST_SKIP() << volume.skipReason().toStdString();
        file = infodbtest::copyOfBuilt(volume.folder());
        ASSERT_FALSE(file.isEmpty()) << "cannot copy the built database";
        QString out;
        ASSERT_EQ(testsupport::runCommand(QStringLiteral("mount"), {"-o", "remount,ro", volume.folder()}, &out), 0)
            << out.toStdString();
        ASSERT_FALSE(platform::canWriteInPlace(file));
    }
    testsupport::ScratchVolume volume{testsupport::ScratchVolume::Kind::Tmpfs, 4};
    QString file;
};

void setVersion(const QString& file, int version)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("stamp"));
        db.setDatabaseName(file);
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec(QStringLiteral("PRAGMA user_version = %1").arg(version)));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("stamp"));
}

} // namespace

TEST(DatabaseLocation, WritableProgramFolderIsUsedInPlaceInstalledOneCopiedAMissingOneNamed)
{
    QTemporaryDir program, user;
    const QString file = infodbtest::copyOfBuilt(program.path());
    EXPECT_EQ(locateDatabase(file, user.path()), file);
    EXPECT_TRUE(QDir(user.path()).isEmpty()) << "no copy is made";

    // An installed file stays as its package put it, even for root.
    const QString copy = locateDatabase(file, user.path(), false);
    EXPECT_EQ(copy, QDir(user.path()).filePath(QStringLiteral("ZarvexWipe.db")));
    EXPECT_EQ(contents(copy), contents(file));

    ASSERT_TRUE(QFile::remove(file));
    try {
        locateDatabase(file, user.path());
        FAIL() << "no error";
    } catch (const platform::RunTimeError& e) {
        EXPECT_EQ(e.number(), platform::ErrFileNotFound);
        EXPECT_TRUE(e.description().contains(file));
    }
}

TEST_F(ReadOnlyProgramFolder, FallsBackToAUserCopyKeptUntilStale)
{
    QTemporaryDir user;
    const QString userFolder = QDir(user.path()).filePath(QStringLiteral("share/ZarvexWipe"));
    const QString copy = locateDatabase(file, userFolder);
    EXPECT_EQ(copy, QDir(userFolder).filePath(QStringLiteral("ZarvexWipe.db")));
    EXPECT_EQ(contents(copy), contents(file));

    // The copy is the one written from now on, and it is kept.
    {
        Connection db(copy);
        Recordset exts(db, QStringLiteral("exts"));
        exts.addNew();
        exts.setValue(QStringLiteral("extname"), QStringLiteral("TXT"));
    }
    EXPECT_EQ(locateDatabase(file, userFolder), copy);
    EXPECT_EQ(readExtNames(Connection(copy)), (QStringList{"ALL", "TXT"}));

    // A copy from another program version, or a damaged one, is renewed.
    setVersion(copy, 12345);
    EXPECT_EQ(locateDatabase(file, userFolder), copy);
    EXPECT_EQ(contents(copy), contents(file));
    {
        QFile f(copy);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("not a database");
    }
    EXPECT_EQ(locateDatabase(file, userFolder), copy);
    EXPECT_EQ(readExtNames(Connection(copy)), QStringList{"ALL"});
}

TEST_F(ReadOnlyProgramFolder, WithNowhereToCopyTheTextsAreStillReadable)
{
    // The user folder lies on the same read-only place.
    ASSERT_EQ(locateDatabase(file, QDir(volume.folder()).filePath(QStringLiteral("user"))), file);
    Connection db(file);
    EXPECT_FALSE(readTopic(db, QStringLiteral("ReadMe")).isEmpty());
    Recordset exts(db, QStringLiteral("exts"));
    try {
        exts.setValue(QStringLiteral("extname"), QStringLiteral("XYZ"));
        FAIL() << "a read-only database took a write";
    } catch (const platform::RunTimeError& e) {
        EXPECT_EQ(e.number(), platform::ErrPathFileAccess);
        EXPECT_TRUE(e.detail().contains(file));
    }
}
