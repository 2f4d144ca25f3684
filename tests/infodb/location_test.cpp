// Where the program finds its database, and the per-user copy it falls back
// to when the program's folder cannot be written.
#include "dbfiles.h"
#include "infodb/infodb.h"
#include "platform/appdata.h"
#include "support/volumes.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <gtest/gtest.h>
#include <memory>

using namespace infodb;

namespace {

QByteArray contents(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A folder holding a copy of the built database that this process cannot
// write. As root, permissions do not stop writes, so it is a tmpfs mounted
// read-only (unmounted whatever happens); otherwise a folder without write
// permission.
class ReadOnlyProgramFolder {
public:
    ReadOnlyProgramFolder()
    {
        if (testsupport::isRoot()) {
            volume_ = std::make_unique<testsupport::ScratchVolume>(testsupport::ScratchVolume::Kind::Tmpfs, 4);
            if (!volume_->ok()) {
                skip_ = volume_->skipReason();
                return;
            }
            folder_ = volume_->folder();
        } else {
            folder_ = dir_.path();
        }
        file_ = infodbtest::copyOfBuilt(folder_);
        if (file_.isEmpty()) {
            skip_ = QStringLiteral("cannot copy the built database");
            return;
        }
        if (volume_) {
            QString out;
            if (testsupport::runCommand(QStringLiteral("mount"), {"-o", "remount,ro", folder_}, &out) != 0)
                skip_ = QStringLiteral("cannot remount read-only: ") + out;
        } else {
            QFile::setPermissions(folder_, QFile::ReadOwner | QFile::ExeOwner);
        }
    }
    ~ReadOnlyProgramFolder()
    {
        if (!volume_)
            QFile::setPermissions(folder_, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    const QString& skipReason() const { return skip_; }
    const QString& folder() const { return folder_; }
    const QString& file() const { return file_; }

private:
    QTemporaryDir dir_;
    std::unique_ptr<testsupport::ScratchVolume> volume_;
    QString folder_;
    QString file_;
    QString skip_;
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

TEST(DatabaseLocation, WritableProgramFolderIsUsedInPlace)
{
    QTemporaryDir program, user;
    const QString file = infodbtest::copyOfBuilt(program.path());
    EXPECT_EQ(locateDatabase(file, user.path()), file);
    EXPECT_TRUE(QDir(user.path()).isEmpty()) << "no copy is made";

    setDatabasePath(file);
    EXPECT_EQ(databasePath(), file);
    setDatabasePath({});
}

TEST(DatabaseLocation, MissingFileIsFileNotFoundNamingIt)
{
    QTemporaryDir program, user;
    const QString file = QDir(program.path()).filePath(QStringLiteral("ZarvexWipe.db"));
    try {
        locateDatabase(file, user.path());
        FAIL() << "no error";
    } catch (const platform::RunTimeError& e) {
        EXPECT_EQ(e.number(), platform::ErrFileNotFound);
        EXPECT_TRUE(e.description().contains(file));
    }
}

TEST(DatabaseLocation, ReadOnlyProgramFolderFallsBackToAUserCopy)
{
    ReadOnlyProgramFolder program;
    if (!program.skipReason().isEmpty())
        GTEST_SKIP() << qPrintable(program.skipReason());
    ASSERT_FALSE(platform::canWriteInPlace(program.file()));
    QTemporaryDir user;
    const QString userFolder = QDir(user.path()).filePath(QStringLiteral("share/ZarvexWipe"));

    const QString copy = locateDatabase(program.file(), userFolder);
    EXPECT_EQ(copy, QDir(userFolder).filePath(QStringLiteral("ZarvexWipe.db")));
    EXPECT_EQ(contents(copy), contents(program.file()));

    // The copy is the one written from now on, and it is kept.
    {
        Connection db(copy);
        Recordset exts(db, QStringLiteral("exts"));
        exts.addNew();
        exts.setValue(QStringLiteral("extname"), QStringLiteral("TXT"));
    }
    EXPECT_EQ(locateDatabase(program.file(), userFolder), copy);
    EXPECT_EQ(readExtNames(Connection(copy)), (QStringList{"ALL", "TXT"}));

    // A copy from another program version, or a damaged one, is renewed.
    setVersion(copy, 12345);
    EXPECT_EQ(locateDatabase(program.file(), userFolder), copy);
    EXPECT_EQ(contents(copy), contents(program.file()));
    {
        QFile f(copy);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("not a database");
    }
    EXPECT_EQ(locateDatabase(program.file(), userFolder), copy);
    EXPECT_EQ(readExtNames(Connection(copy)), QStringList{"ALL"});
}

TEST(DatabaseLocation, WithNowhereToCopyTheTextsAreStillReadable)
{
    ReadOnlyProgramFolder program;
    if (!program.skipReason().isEmpty())
        GTEST_SKIP() << qPrintable(program.skipReason());
    // The user folder lies on the same read-only place.
    const QString userFolder = QDir(program.folder()).filePath(QStringLiteral("user"));
    ASSERT_EQ(locateDatabase(program.file(), userFolder), program.file());

    Connection db(program.file());
    EXPECT_FALSE(readTopic(db, QStringLiteral("ReadMe")).isEmpty());
    Recordset exts(db, QStringLiteral("exts"));
    try {
        exts.setValue(QStringLiteral("extname"), QStringLiteral("XYZ"));
        FAIL() << "a read-only database took a write";
    } catch (const platform::RunTimeError& e) {
        EXPECT_EQ(e.number(), platform::ErrPathFileAccess);
        EXPECT_TRUE(e.detail().contains(program.file()));
    }
}
