#pragma once
// Fill data: short units of zeros, ones, one repeated letter or random
// characters, and the large blocks the fills write. Every character has a
// code from 33 to 254 and is written as one byte.
#include <QByteArray>
#include <cstdint>

namespace engine {

struct FillBuffers {
    QByteArray FillUnit;
    QByteArray FillBlock1K;  // unit x 102, then its first 4 characters
    QByteArray FillBlock5K;  // 5,120 characters of the unit's pattern
    QByteArray FillBlock25K; // 25,600 characters of the unit's pattern
    void clear();
};

// The process-wide buffers, shared by both working windows.
FillBuffers& fillBuffers();

// Chooses the unit by the call count (1 zeros, 2 ones, 3 a letter run, then
// random characters) and builds the three blocks.
void Get_Char(std::int32_t& PatternCallCount);
// Append a run to FillUnit: one letter 10 or 20 times ("B" to "Z" or "[",
// never "A"), or 10 or 20 random characters.
void Get_A_Rand();
void Get_Rand();
void Get_Rand_Alpha();
void Get_Rand_Seq();

} // namespace engine
