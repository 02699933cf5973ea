// The `dims` descriptor of one dimension: family, correlation length, period, support window and
// variance factor.
#include <cmath>
#include <string>
#include <string_view>

#include "dimension.hpp"
#include "quorvel/covariance.hpp"
#include "quorvel/format.hpp"

namespace quorvel {
namespace {

// Smallest multiple m in 1, 1.5, 2, ... of l where the kernel has fallen to 1e-17.
double cutoff_multiple(const ProfileKind& kind, double length) {
    double m = 1.0;
    while (profile_value(kind, m * length) > 1e-17)
        m += 0.5;
    return m;
}

} // namespace

Result<CovarianceDimension> parse_dimension(const DimensionEntry& entry) {
    const CovarianceFamily* family = nullptr;
    for (const CovarianceFamily& f : covariance_families)
        if (f.name == entry.family) family = &f;
    if (family == nullptr)
        return invalid_input("unknown covariance family " + fmt_quoted(entry.family));

    const double l = entry.length;
    if (!(std::isfinite(l) && l > 0.0))
        return invalid_input("correlation length must be finite and > 0, got " + fmt_fixed(l));
    if (entry.period && !(std::isfinite(*entry.period) && *entry.period > 0.0))
        return invalid_input("period must be finite and > 0, got " + fmt_fixed(*entry.period));

    const ProfileKind kind =
        family->matern ? ProfileKind{Matern{family->order, l}} : ProfileKind{Gaussian{l}};
    const double cutoff = cutoff_multiple(kind, l);
    const double window = cutoff * l;
    const double step_cap = l * 0.5 / family->rho;
    CovarianceDimension dim{kind, l, entry.period, cutoff, window, step_cap, std::nullopt};

    if (entry.factor) {
        QUORVEL_TRY_ASSIGN(dim.factor,
                           make_variance_factor(*entry.factor->first, entry.factor->second));
    }
    return dim;
}

Element kernel_profile(const CovarianceDimension& dim, double v) {
    return Profile{dim.kind, v, v - dim.window, v + dim.window, dim.cutoff};
}

ImageRange kernel_images(const CovarianceDimension& dim, double lo, double hi, double x) {
    const double L = dim.window;
    if (!dim.period) {
        const bool meets = lo <= x + L && hi >= x - L;
        return {0.0, meets ? 0.0 : -1.0};
    }
    const double p = *dim.period;
    const double first = std::ceil((lo - L - x) / p);
    const double last = std::floor((hi + L - x) / p);
    // A sum too long to take (or an unbounded one) fails instead of running for hours.
    if (!(last - first < static_cast<double>(max_walk_steps)))
        throw_invalid_input("periodic kernel needs more than " + std::to_string(max_walk_steps) +
                            " images: period " + fmt_fixed(p) +
                            " too small for correlation length " + fmt_fixed(dim.length));
    return {first, last};
}

} // namespace quorvel
