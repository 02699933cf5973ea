// Product atoms: the per-dimension spaces and weights of one side, and the normaliser that turns
// each factor into a weighted average.
#include <algorithm>
#include <string>

#include "atoms.hpp"
#include "quorvel/cancel.hpp"
#include "quorvel/covariance.hpp"
#include "quorvel/parallel.hpp"
#include "quorvel/platform.hpp"

namespace quorvel {
namespace {

// The divisor of an atom factor: 1 for a point evaluation (no division, whatever the weight),
// the weighted integral otherwise.
double atom_normaliser(const Element& e, CosineWeight weight, std::vector<double>& list) {
    if (std::holds_alternative<Delta>(e)) return 1.0;
    return element_integral(e, weight, list);
}

} // namespace

Result<std::size_t> validate_atoms(std::span<const SpacePtr> spaces,
                                   std::span<const CosineWeight> weights, std::size_t n_dims) {
    if (spaces.size() != n_dims || weights.size() != n_dims)
        return invalid_input("atoms need one space and one weight per dimension (" +
                             std::to_string(n_dims) + "), got " + std::to_string(spaces.size()) +
                             " and " + std::to_string(weights.size()));
    const std::size_t n = n_dims == 0 ? 0 : spaces[0]->size();
    for (const SpacePtr& space : spaces)
        if (space->size() != n)
            return invalid_input("every dimension's space must have one element per atom");
    return n;
}

Normalisers atom_normalisers(const AtomSide& side, std::size_t n) {
    Normalisers out(side.spaces.size(), std::vector<double>(n));
    std::vector<double> list;
    const CancelFlag* const cancel = current_cancel_flag();
    for (std::size_t d = 0; d < side.spaces.size(); ++d)
        for (std::size_t i = 0; i < n; ++i) {
            poll_cancel(cancel);
            out[d][i] = atom_normaliser(side.spaces[d]->elements[i], side.weights[d], list);
        }
    return out;
}

std::vector<double> result_array(std::size_t size) {
    std::vector<double> v;
    v.reserve(size);
    platform::advise_huge_pages(v.data(), size * sizeof(double));
    v.assign(size, 0.0);
    return v;
}

void mirror_band(double* m, std::size_t n, std::size_t i0, std::size_t i1) {
    for (std::size_t j = i0 + 1; j < n; ++j) {
        double* const to = m + j * n;
        const std::size_t end = std::min(i1, j);
        for (std::size_t i = i0; i < end; ++i)
            to[i] = m[i * n + j];
    }
}

// The bands fill disjoint parts of the lower triangle, so they run in parallel.
void mirror_upper(double* m, std::size_t n) {
    parallel_rows((n + mirror_rows - 1) / mirror_rows, [&](std::size_t band) {
        const std::size_t i0 = band * mirror_rows;
        mirror_band(m, n, i0, std::min(n, i0 + mirror_rows));
    });
}

} // namespace quorvel
