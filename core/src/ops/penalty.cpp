// Roughness penalties of a fit: integrated squared derivatives or squared coefficient differences.
#include <string>
#include <utility>

#include "penalty.hpp"
#include "quorvel/fit.hpp"
#include "quorvel/format.hpp"
#include "quorvel/inner_products.hpp"
#include "quorvel/space.hpp"

namespace quorvel {

Result<Penalty::Kind> parse_penalty(std::string_view text) {
    if (const auto kind = find_named(penalty_names, text)) return *kind;
    return invalid_input("penalty must be " + quoted_alternatives(penalty_names) + ", got " +
                         fmt_quoted(text));
}

std::string render_penalty(const Penalty& p) {
    const char* name = p.kind == Penalty::Kind::Derivative ? "Derivative" : "Difference";
    return std::string(name) + "(" + std::to_string(p.order) + ")";
}

namespace {

// The (n - order) x n matrix of order-th differences of n coefficients.
SparseMatrix difference_matrix(std::size_t n, std::uint64_t order) {
    // Signed binomial coefficients (-1)^(order - k) C(order, k), by repeated differencing of [1].
    std::vector<double> c{1.0};
    for (std::uint64_t step = 0; step < order; ++step) {
        std::vector<double> next(c.size() + 1);
        for (std::size_t k = 0; k < next.size(); ++k) {
            const double older = k >= 1 ? c[k - 1] : 0.0;
            const double same = k < c.size() ? c[k] : 0.0;
            next[k] = older - same;
        }
        c = std::move(next);
    }
    SparseMatrix d;
    d.n_cols = n;
    d.n_rows = order < n ? n - order : 0;
    d.indptr.assign(1, 0);
    d.indices.reserve(d.n_rows * c.size());
    d.data.reserve(d.n_rows * c.size());
    for (std::size_t i = 0; i < d.n_rows; ++i) {
        for (std::size_t k = 0; k < c.size(); ++k) {
            d.indices.push_back(i + k);
            d.data.push_back(c[k]);
        }
        d.indptr.push_back(d.indices.size());
    }
    return d;
}

} // namespace

Result<std::optional<SparseMatrix>> penalty_matrix(const Space& model, const Penalty& p) {
    if (p.kind == Penalty::Kind::Difference) {
        if (p.order >= model.size()) return std::optional<SparseMatrix>{};
        return std::optional<SparseMatrix>{gram(difference_matrix(model.size(), p.order))};
    }
    QUORVEL_TRY_ASSIGN(const Space derived, derivative(model, p.order));
    return std::optional<SparseMatrix>{
        inner_product_matrix(derived.elements, derived, CosineWeight{})};
}

} // namespace quorvel
