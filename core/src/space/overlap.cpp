// The overlap query behind every sparse row: elements whose closed support meets [lo, hi].
#include <algorithm>

#include "quorvel/sorting.hpp"
#include "quorvel/space.hpp"

namespace quorvel {

void overlapping(const Space& space, double lo, double hi, std::vector<std::size_t>& out) {
    out.clear();
    if (space.size() == 0) return;
    // Any element reaching lo starts at or after lo - max_width.
    const auto& sl = space.sorted_lower;
    const auto first = std::lower_bound(sl.begin(), sl.end(), lo - space.max_width) - sl.begin();
    const auto last = std::upper_bound(sl.begin(), sl.end(), hi) - sl.begin();
    for (auto p = first; p < last; ++p) {
        const auto j = static_cast<std::size_t>(space.order[static_cast<std::size_t>(p)]);
        if (lo <= space.upper[j]) out.push_back(j);
    }
    sort_small(std::span<std::size_t>(out));
}

} // namespace quorvel
