// The normaliser of one measurement row and its derivative with respect to a kernel parameter.
#include <variant>

#include "measure_row.hpp"

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
        for (double v : values)
            n += v;
        for (double d : derivatives)
            dn += d;
        return RowNormalizer{n, dn};
    }
    case Normalization::Integral:
        break;
    }

    const double n = element_integral(kernel, weight, list);
    if (const auto* delta = std::get_if<Delta>(&kernel)) {
        // The integral of a delta is w(x0): it moves with the center only.
        return RowNormalizer{n, parameter == ParameterKind::Center ? weight_slope(weight, delta->x)
                                                                   : 0.0};
    }

    // Point masses of the moving jumps, wherever they lie, then the pointwise derivative over the
    // whole support (never a closed form).
    double dn = 0.0;
    for (const PointTerm& t : terms)
        dn += t.c * weight_value(weight, t.x);
    const Support s = support(kernel);
    const Support f = frame_support(kernel, s, s.lower);
    QUORVEL_TRY_ASSIGN(const double integral,
                       integrate_parameter_derivative({&kernel, s.lower}, nullptr, parameter,
                                                      weight, s.lower, f.lower, f.upper, list));
    return RowNormalizer{n, dn + integral};
}

} // namespace quorvel
