// Point functionals, boxes between edges and hats on nodes.
#include <algorithm>

#include "quorvel/element_checks.hpp"
#include "quorvel/constructors.hpp"

namespace quorvel {

Result<Elements> deltas(Values x) {
    Elements out;
    out.reserve(x.size());
    for (double p : x) {
        QUORVEL_TRY(check_delta(p));
        out.emplace_back(Delta{p});
    }
    return out;
}

Result<Elements> boxes(Values edges) {
    QUORVEL_TRY(check_strictly_increasing("edges", edges));
    Elements out;
    out.reserve(edges.size() - 1);
    for (std::size_t i = 0; i + 1 < edges.size(); ++i) {
        QUORVEL_TRY(check_support_width("box", edges[i], edges[i + 1]));
        out.emplace_back(Box{edges[i], edges[i + 1]});
    }
    return out;
}

// Hat i rises from node i-1 to node i and falls to node i+1; the end hats are half hats.
Result<Elements> hats(Values nodes) {
    QUORVEL_TRY(check_strictly_increasing("nodes", nodes));
    const std::size_t n = nodes.size();
    Elements out;
    out.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t left = i == 0 ? 0 : i - 1;
        const std::size_t right = std::min(i + 1, n - 1);
        QUORVEL_TRY(check_support_width("hat", nodes[left], nodes[right]));
        out.emplace_back(Hat{nodes[left], nodes[i], nodes[right]});
    }
    return out;
}

} // namespace quorvel
