// Read access to one row of a compressed sparse matrix, for the sparse operations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "quorvel/sparse.hpp"

namespace quorvel {

struct RowView {
    std::span<const std::uint64_t> cols;
    std::span<const double> vals;
};

// Row i of m, after checking the row pointers.
RowView row(const SparseMatrix& m, std::size_t i);

} // namespace quorvel
