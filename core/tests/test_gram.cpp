// The Gram product gathered band row by band row from the transpose equals the one scattered
// row by row, bitwise: random sparse matrices with empty rows, single entries, wide and narrow
// rows, values that cancel, on one thread and on the pool.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <random>
#include <tuple>
#include <vector>

#include "check.hpp"
#include "quorvel/parallel.hpp"
#include "quorvel/sparse.hpp"

namespace {

quorvel::SparseMatrix random_matrix(std::mt19937_64& rng, std::size_t rows, std::size_t cols,
                                    std::size_t widest) {
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    std::uniform_int_distribution<std::size_t> start(0, cols - 1), span(0, widest);
    std::bernoulli_distribution skip(0.2), empty(0.1), round(0.3);
    quorvel::SparseMatrix m;
    m.n_rows = rows;
    m.n_cols = cols;
    for (std::size_t i = 0; i < rows; ++i) {
        if (!empty(rng)) {
            const std::size_t a = start(rng);
            const std::size_t b = std::min(cols - 1, a + span(rng));
            for (std::size_t c = a; c <= b; ++c) {
                if (c != a && c != b && skip(rng)) continue;
                m.indices.push_back(c);
                // Some values on a coarse grid, so that sums cancel to exact zeros.
                const double v = value(rng);
                m.data.push_back(round(rng) ? static_cast<double>(static_cast<int>(v * 4)) : v);
            }
        }
        m.indptr.push_back(m.indices.size());
    }
    return m;
}

bool same(const quorvel::SparseMatrix& a, const quorvel::SparseMatrix& b) {
    if (a.n_rows != b.n_rows || a.n_cols != b.n_cols || a.indptr != b.indptr ||
        a.indices != b.indices || a.data.size() != b.data.size())
        return false;
    for (std::size_t k = 0; k < a.data.size(); ++k)
        if (std::bit_cast<std::uint64_t>(a.data[k]) != std::bit_cast<std::uint64_t>(b.data[k]))
            return false;
    return true;
}

} // namespace

int main() {
    std::mt19937_64 rng(5);
    for (std::size_t threads : {1, 0}) {
        quorvel::set_row_threads(threads);
        for (auto [rows, cols, widest] :
             {std::tuple{1, 3, 2}, {40, 7, 3}, {3000, 50, 4}, {5000, 400, 12}, {200, 1000, 30}}) {
            const quorvel::SparseMatrix m = random_matrix(rng, rows, cols, widest);
            CHECK(same(quorvel::gram(m), quorvel::gram(m, quorvel::transpose(m))));
        }
    }
    return quorvel::test::failures;
}
