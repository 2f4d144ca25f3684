// The database file the build puts beside the program.
#include "dbfiles.h"
#include "infodb/infodb.h"

#include <QFileInfo>
#include <gtest/gtest.h>

using namespace infodb;

TEST(BuiltDatabase, HasBothTablesWithAllFirstAndOneHelpRecord)
{
    const QString file = infodbtest::builtDatabase();
    ASSERT_TRUE(QFileInfo(file).isFile()) << qPrintable(file);

    Connection db(file);
    Recordset exts(db, QStringLiteral("exts"));
    EXPECT_EQ(exts.fields(), QStringList{QStringLiteral("extname")});
    ASSERT_FALSE(exts.eof());
    EXPECT_EQ(exts.text(QStringLiteral("extname")), QStringLiteral("ALL"));

    Recordset help(db, QStringLiteral("MiscInfo"));
    EXPECT_EQ(help.fields(), topicColumns());
    ASSERT_FALSE(help.eof());
    help.moveNext();
    EXPECT_TRUE(help.eof()) << "MiscInfo must hold exactly one record";

    // The build stamps a content version so per-user copies can be renewed.
    EXPECT_GT(contentVersion(file).value_or(0), 0);
}

TEST(BuiltDatabase, EveryTopicHasItsOwnText)
{
    Connection db(infodbtest::builtDatabase());
    QStringList seen;
    for (const QString& column : topicColumns()) {
        const QString text = readTopic(db, column);
        EXPECT_GT(text.size(), 200) << qPrintable(column);
        EXPECT_FALSE(seen.contains(text)) << qPrintable(column) << " repeats another topic";
        seen << text;
    }
    // A few facts the texts must state as the program does them.
    EXPECT_TRUE(readTopic(db, QStringLiteral("CRInfo")).contains(QStringLiteral("Copyright (c) 2026 Orvane Software")));
    EXPECT_TRUE(readTopic(db, QStringLiteral("EULA")).contains(QStringLiteral("MIT License")));
    EXPECT_TRUE(readTopic(db, QStringLiteral("stops")).contains(QStringLiteral("tmptxt1.txt")));
    EXPECT_TRUE(readTopic(db, QStringLiteral("ReadMe")).contains(QStringLiteral("ZARVEX_DRIVES")));
}
