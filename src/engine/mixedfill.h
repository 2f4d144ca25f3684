#pragma once
// Fill data for a drive that compresses. A pass's pattern repeats every few
// bytes, so a compressing file system stores a drive's worth of it in a few
// MiB and the fill never reaches the free space. There the pattern is mixed
// (XOR) with a keyed generator, so that no two blocks are alike and nothing
// compresses or deduplicates; every other drive gets the pattern unchanged.
#include "engine/filltarget.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace engine {

// xoshiro256** under a key drawn from the operating system: some GB/s, and
// no two fill files share a stream.
class KeyedMix {
public:
    KeyedMix();
    // XORs the next `size` bytes of the stream into `data`.
    void apply(char* data, std::size_t size);

private:
    std::uint64_t next();
    std::uint64_t s_[4];
    std::uint64_t word_ = 0;
    unsigned used_ = 8; // bytes of word_ already spent
};

// The target with every fill file's data mixed; files, names and free space
// as the inner target has them.
std::unique_ptr<FillTarget> incompressible(std::unique_ptr<FillTarget> inner);

} // namespace engine
