#pragma once
// A window's progress bar counts in int; fills count kilobytes of a whole
// drive and file wipes blocks of a file, in 64 bits.
#include <QProgressBar>
#include <algorithm>
#include <cstdint>
#include <limits>

namespace controls {

// Shows `value` of `maximum`: counts too large for the bar are halved
// together until the maximum fits, keeping the ratio (no product that could
// overflow). The value stays within the bar; a maximum of 0 or less leaves
// the bar nothing to count (Qt draws that as busy).
inline void setScaledProgress(QProgressBar* bar, std::int64_t value, std::int64_t maximum)
{
    const std::int64_t top = std::max<std::int64_t>(maximum, 0);
    int shift = 0;
    while ((top >> shift) > std::numeric_limits<int>::max())
        ++shift;
    bar->setRange(0, static_cast<int>(top >> shift));
    bar->setValue(static_cast<int>(std::clamp<std::int64_t>(value, 0, top) >> shift));
}

} // namespace controls
