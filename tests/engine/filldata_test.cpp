#include "engine/filldata.h"
#include "format/elapsed.h"

#include <gtest/gtest.h>

using namespace engine;

TEST(FillData, PassesWriteZerosOnesALetterThenRandomInSeamlessBlocks)
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
    EXPECT_TRUE(b.FillUnit[0] >= 'B' && b.FillUnit[0] <= '[') << b.FillUnit[0];
    for (int call = 4; call < 24; ++call) {
        Get_Char(count);
        ASSERT_EQ(count, call);
        ASSERT_EQ(b.FillUnit.size(), 10);
        for (const auto& [block, size] :
             {std::pair{&b.FillBlock1K, 1024}, {&b.FillBlock5K, 5120}, {&b.FillBlock25K, 25600}}) {
            ASSERT_EQ(block->size(), size);
            for (qsizetype i = 0; i < size; ++i)
                ASSERT_EQ(block->at(i), b.FillUnit.at(i % 10)) << i;
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
        ASSERT_EQ(b.FillUnit, QByteArray(20, b.FillUnit[0]));
        ASSERT_TRUE(b.FillUnit[0] >= 'B' && b.FillUnit[0] <= '[') << b.FillUnit[0]; // never 'A'
        letters.insert(b.FillUnit[0]);
    }
    EXPECT_GT(letters.size(), 15); // not one letter over and over
    b.FillUnit = "ab";
    Get_Rand_Seq();
    ASSERT_EQ(b.FillUnit.size(), 22);
    EXPECT_TRUE(b.FillUnit.startsWith("ab"));
    // Two calls in the same instant still differ (seeded from the system).
    const QByteArray first = b.FillUnit.mid(2);
    b.FillUnit.clear();
    Get_Rand_Seq();
    EXPECT_NE(first, b.FillUnit);
    QSet<int> codes;
    for (int i = 0; i < 500; ++i) {
        b.FillUnit.clear();
        Get_Rand();
        for (const char c : b.FillUnit) {
            const int code = static_cast<unsigned char>(c);
            ASSERT_TRUE(code >= 33 && code <= 254) << code;
            codes.insert(code);
        }
    }
    EXPECT_GT(codes.size(), 200); // the whole range is used
}

TEST(ElapsedTextTest, HoursThenMinutesAndSecondsOfTwoDigits)
{
    using format::ElapsedText;
    EXPECT_EQ(ElapsedText((3600 + 120 + 3) * 1000), "1:02:03");
    EXPECT_EQ(ElapsedText(999), "0:00:00");
    EXPECT_EQ(ElapsedText(-12LL * 3600 * 1000), "-12:00:00");
    EXPECT_EQ(ElapsedText(100LL * 3600 * 1000 + 59 * 60 * 1000 + 59999), "100:59:59");
    // Full timestamps: a process past midnight keeps a true elapsed time.
    const QDateTime before(QDate(2026, 3, 1), QTime(23, 59, 0));
    EXPECT_EQ(ElapsedText(before, before.addSecs(3 * 60 + 5)), "0:03:05");
    // The time left: the rest at the pace so far, once something is done.
    const struct { qint64 ms; double done; const char* left; } rows[] = {
        {600'000, 0.25, "about 0:30:00 left"}, {1000, 0, ""}, {1000, 1, ""}, {0, 0.5, ""}};
    for (const auto& r : rows)
        EXPECT_EQ(format::TimeLeftText(r.ms, r.done), r.left);
}
