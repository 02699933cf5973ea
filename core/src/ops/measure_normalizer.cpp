// The normaliser of one measurement row and its derivative with respect to a kernel parameter.
#include <cmath>
#include <variant>

#include "quorvel/measure.hpp"

namespace quorvel {

Result<RowNormalizer> row_normalizer(const Element& kernel, Normalization normalization,
                                     ParameterKind parameter, CosineWeight weight,
                                     std::span<const PointTerm> terms,
                                     std::span<const double> values,
                                     std::span<const double> derivatives,
                                     std::vector<double>& list) {
    switch (normalization) {
    case Normalization::None:
        return RowNormalizer{1.0, 0.0};
    case Normalization::RowSum: {
        double n = 0.0, dn = 0.0;
        for (double v : values) n += v;
        for (double d : derivatives) dn += d;
        return RowNormalizer{n, dn};
    }
    case Normalization::Integral:
        break;
    }

    const double n = element_integral(kernel, weight, list);
    if (const auto* delta = std::get_if<Delta>(&kernel)) {
        // The integral of a delta is w(x0): it moves with the center only.
        const bool moves = weight && parameter == ParameterKind::Center;
        return RowNormalizer{n, moves ? -*weight * std::sin(*weight * delta->x) : 0.0};
    }

    // Point masses of the moving jumps, wherever they lie, then the pointwise derivative over the
    // whole support (never a closed form).
    double dn = 0.0;
    for (const PointTerm& t : terms) dn += t.c * (weight ? std::cos(*weight * t.x) : 1.0);
    const Support s = support(kernel);
    auto integral =
        integrate_parameter_derivative(kernel, nullptr, parameter, weight, s.lower, s.upper, list);
    if (!integral) return std::unexpected(std::move(integral.error()));
    return RowNormalizer{n, dn + *integral};
}

} // namespace quorvel
