// Sorting of the short lists the core builds per row and per integral: breakpoints, candidate
// columns, support bounds. Lists of up to 20 entries (the common case) are sorted by insertion.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace quorvel {

// Key whose integer order is the IEEE-754 total order of the doubles: -NaN < -inf < ... < -0 <
// +0 < ... < +inf < +NaN. Equal keys mean bitwise equal doubles, so a sort by it has one result.
inline std::int64_t total_order_key(double d) {
    const auto i = std::bit_cast<std::int64_t>(d);
    return i ^ static_cast<std::int64_t>(static_cast<std::uint64_t>(i >> 63) >> 1);
}

inline bool total_less(double a, double b) {
    return total_order_key(a) < total_order_key(b);
}

// Ascending order by `less`: insertion sort up to 20 entries, std::sort above.
template <class T, class Less = std::less<>> void sort_small(std::span<T> list, Less less = {}) {
    if (list.size() > 20) {
        std::sort(list.begin(), list.end(), less);
        return;
    }
    for (std::size_t i = 1; i < list.size(); ++i) {
        const T v = list[i];
        std::size_t j = i;
        for (; j > 0 && less(v, list[j - 1]); --j)
            list[j] = list[j - 1];
        list[j] = v;
    }
}

// Sorts in the total order and drops every entry equal (==) to the one kept before it: -0 keeps
// its place and absorbs a following +0; NaN never repeats.
inline void sort_unique(std::vector<double>& list) {
    sort_small(std::span<double>(list), [](double a, double b) { return total_less(a, b); });
    std::size_t kept = list.empty() ? 0 : 1;
    for (std::size_t i = 1; i < list.size(); ++i)
        if (!(list[i] == list[kept - 1])) list[kept++] = list[i];
    list.resize(kept);
}

} // namespace quorvel
