#include "engine/filldata.h"

#include <random>

namespace engine {

void FillBuffers::clear()
{
    FillUnit.clear();
    FillBlock1K.clear();
    FillBlock5K.clear();
    FillBlock25K.clear();
}

FillBuffers& fillBuffers()
{
    static FillBuffers buffers;
    return buffers;
}

namespace {

// A generator seeded from the operating system once per call: seeding from
// the clock would repeat the same characters within one clock tick.
class Draws {
public:
    Draws() : gen_(std::random_device{}()) {}
    // Uniform in [0, 1), single precision as the classic source.
    float next() { return dist_(gen_); }

private:
    std::mt19937 gen_;
    std::uniform_real_distribution<float> dist_{0.0f, 1.0f};
};

void appendLetterRun(int n)
{
    Draws d;
    float r = d.next();
    if (r >= 1.0f) // float rounding can reach the upper bound
        r = 0.0f;
    const int k = static_cast<int>(static_cast<double>(r) * 26.0);
    int code = 66 + k;
    if (code > 91)
        code = 91;
    fillBuffers().FillUnit.append(QByteArray(n, static_cast<char>(code)));
}

void appendRandomRun(int n)
{
    Draws d;
    QByteArray& unit = fillBuffers().FillUnit;
    for (int i = 0; i < n; ++i) {
        float r = d.next();
        if (r >= 1.0f)
            r = 0.0f;
        const int code = 33 + static_cast<int>(static_cast<double>(r) * 222.0);
        unit.append(static_cast<char>(static_cast<unsigned char>(code)));
    }
}

} // namespace

void Get_A_Rand() { appendLetterRun(10); }
void Get_Rand() { appendRandomRun(10); }
void Get_Rand_Alpha() { appendLetterRun(20); }
void Get_Rand_Seq() { appendRandomRun(20); }

void Get_Char(std::int32_t& PatternCallCount)
{
    FillBuffers& b = fillBuffers();
    b.clear();
    ++PatternCallCount;
    if (PatternCallCount == 1)
        b.FillUnit = QByteArray(10, '0');
    else if (PatternCallCount == 2)
        b.FillUnit = QByteArray(10, '1');
    else if (PatternCallCount == 3)
        Get_A_Rand();
    else
        Get_Rand();
    b.FillBlock1K.reserve(1024);
    for (int i = 0; i < 102; ++i)
        b.FillBlock1K.append(b.FillUnit);
    b.FillBlock1K.append(b.FillUnit.left(4));
    // The larger blocks continue the unit's pattern without a seam (1,024
    // is no multiple of 10, so five 1K blocks in a row would break it).
    b.FillBlock5K = b.FillUnit.repeated(512);
    b.FillBlock25K = b.FillUnit.repeated(2560);
}

} // namespace engine
