// Apodization windows of Fourier-transform line shapes.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "quorvel/error.hpp"

namespace quorvel {

struct Apodization {
    enum class Kind { CosineSum, Triangle, Polynomial };
    Kind kind = Kind::CosineSum;
    // CosineSum uses c[0..3], Polynomial c[0..4], Triangle none.
    std::array<double, 5> c{};
};

// Chooses the window from a name, cosine-sum coefficients or polynomial coefficients (absent
// arguments are nullopt), with the messages of Space.fts.
Result<Apodization> choose_apodization(const std::optional<std::string>& name,
                                       const std::optional<std::vector<double>>& cosine_sum,
                                       const std::optional<std::vector<double>>& polynomial);

} // namespace quorvel
