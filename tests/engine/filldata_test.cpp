#include "engine/filldata.h"
#include "format/elapsed.h"

#include <gtest/gtest.h>

using namespace engine;

TEST(FillData, CallCountChoosesZerosOnesLetterThenRandom)
{
    std::int32_t count = 0;
    FillBuffers& b = fillBuffers();
    b.FillBlock1K = QByteArray(5000, 'x'); // whatever the buffers held before
    Get_Char(count);
    EXPECT_EQ(b.FillUnit, QByteArray("0000000000"));
    Get_Char(count);
    EXPECT_EQ(b.FillUnit, QByteArray("1111111111"));
    Get_Char(count);
    ASSERT_EQ(b.FillUnit.size(), 10);
    EXPECT_EQ(b.FillUnit, QByteArray(10, b.FillUnit[0])); // one letter, repeated
    EXPECT_GE(b.FillUnit[0], 'B');
    EXPECT_LE(b.FillUnit[0], '[');
    Get_Char(count);
    EXPECT_EQ(count, 4);
    EXPECT_EQ(b.FillUnit.size(), 10);
}

TEST(FillData, BlocksRepeatTheUnitWithoutASeam)
{
    std::int32_t count = 3; // the next calls make random units
    for (int call = 0; call < 20; ++call) {
        Get_Char(count);
        const FillBuffers& b = fillBuffers();
        ASSERT_EQ(b.FillBlock1K.size(), 1024);
        ASSERT_EQ(b.FillBlock5K.size(), 5120);
        ASSERT_EQ(b.FillBlock25K.size(), 25600);
        EXPECT_EQ(b.FillBlock1K.right(4), b.FillUnit.left(4));
        for (const QByteArray* block : {&b.FillBlock1K, &b.FillBlock5K, &b.FillBlock25K})
            for (qsizetype i = 0; i < block->size(); ++i)
                ASSERT_EQ(block->at(i), b.FillUnit.at(i % 10)) << i;
        for (const char c : b.FillUnit) {
            const int code = static_cast<unsigned char>(c);
            EXPECT_GE(code, 33);
            EXPECT_LE(code, 254);
        }
    }
}

TEST(FillData, RunsAppendAndStayInRange)
{
    FillBuffers& b = fillBuffers();
    QSet<char> letters;
    for (int i = 0; i < 400; ++i) {
        b.FillUnit.clear();
        Get_Rand_Alpha();
        ASSERT_EQ(b.FillUnit.size(), 20);
        ASSERT_EQ(b.FillUnit, QByteArray(20, b.FillUnit[0]));
        ASSERT_NE(b.FillUnit[0], 'A');
        ASSERT_GE(b.FillUnit[0], 'B');
        ASSERT_LE(b.FillUnit[0], '[');
        letters.insert(b.FillUnit[0]);
    }
    EXPECT_GT(letters.size(), 15); // not one letter over and over
    b.FillUnit = "ab";
    Get_Rand_Seq();
    ASSERT_EQ(b.FillUnit.size(), 22);
    EXPECT_TRUE(b.FillUnit.startsWith("ab"));
    // Two calls in the same instant still differ (seeded from the system).
    b.FillUnit.clear();
    Get_Rand_Seq();
    const QByteArray first = b.FillUnit;
    b.FillUnit.clear();
    Get_Rand_Seq();
    EXPECT_NE(first, b.FillUnit);
    QSet<int> codes;
    for (int i = 0; i < 500; ++i) {
        b.FillUnit.clear();
        Get_Rand();
        for (const char c : b.FillUnit) {
            const int code = static_cast<unsigned char>(c);
            ASSERT_GE(code, 33);
            ASSERT_LE(code, 254);
            codes.insert(code);
        }
    }
    EXPECT_GT(codes.size(), 200); // the whole range is used
}

TEST(ElapsedTextTest, HoursMinutesSecondsWithoutWidths)
{
    using format::ElapsedText;
    EXPECT_EQ(ElapsedText((3600 + 120 + 3) * 1000), "1:2:3");
    EXPECT_EQ(ElapsedText(999), "0:0:0");
    EXPECT_EQ(ElapsedText(0), "0:0:0");
    EXPECT_EQ(ElapsedText(-12LL * 3600 * 1000), "-12:0:0");
    EXPECT_EQ(ElapsedText(25LL * 3600 * 1000), "25:0:0");
    EXPECT_EQ(ElapsedText(100LL * 3600 * 1000 + 59 * 60 * 1000 + 59999), "100:59:59");
    // Full timestamps: a process past midnight keeps a true elapsed time.
    const QDateTime before(QDate(2026, 3, 1), QTime(23, 59, 0));
    EXPECT_EQ(ElapsedText(before, before.addSecs(3 * 60 + 5)), "0:3:5");
}
