// The window of an FTS line shape: a named window, or cosine-sum or polynomial coefficients.
#include <array>
#include <cmath>
#include <string_view>

#include "quorvel/apodization.hpp"
#include "quorvel/format.hpp"

namespace quorvel {

namespace {

using K = Apodization::Kind;

std::unexpected<CoreError> give_one() {
    return invalid_input("give one of apodization (a name), cosine_sum (1-4 coefficients) or "
                         "polynomial (1-5 coefficients)");
}

// Coefficients padded with zeros to the variant's length. The window is a sum of terms bounded by
// the coefficients' magnitudes: where their sum overflows, its values can be inf - inf.
Result<Apodization> padded(K kind, const std::vector<double>& coefficients) {
    Apodization a{kind, {}};
    double magnitude = 0.0;
    for (std::size_t i = 0; i < coefficients.size(); ++i) {
        a.c[i] = coefficients[i];
        magnitude += std::fabs(coefficients[i]);
    }
    if (magnitude == INFINITY)
        return invalid_input("apodization coefficients must have magnitudes far below the largest "
                             "double");
    return a;
}

} // namespace

Result<Apodization> choose_apodization(const std::optional<std::string>& name,
                                       const std::optional<std::vector<double>>& cosine_sum,
                                       const std::optional<std::vector<double>>& polynomial) {
    if (name) {
        if (cosine_sum || polynomial) return give_one();
        if (const auto window = find_named(apodization_names, *name)) return *window;
        return invalid_input("unknown apodization " + fmt_quoted(*name));
    }
    if (cosine_sum) {
        if (polynomial || cosine_sum->empty() || cosine_sum->size() > 4) return give_one();
        return padded(K::CosineSum, *cosine_sum);
    }
    if (!polynomial || polynomial->empty() || polynomial->size() > 5) return give_one();
    return padded(K::Polynomial, *polynomial);
}

} // namespace quorvel
