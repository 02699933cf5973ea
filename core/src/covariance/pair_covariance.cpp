// The covariance of two element factors in one dimension: the double integral of the factors
// against the (periodic) kernel, with its derivative with respect to log l.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

#include "quorvel/covariance.hpp"

namespace quorvel {
namespace {

double weight_value(CosineWeight weight, double x) { return weight ? std::cos(*weight * x) : 1.0; }


// Key whose integer order is the IEEE-754 total order of the doubles.
std::int64_t total_order_key(double d) {
    const auto i = std::bit_cast<std::int64_t>(d);
    return i ^ static_cast<std::int64_t>(static_cast<std::uint64_t>(i >> 63) >> 1);
}

void sort_unique(std::vector<double>& list) {
    std::sort(list.begin(), list.end(),
              [](double a, double b) { return total_order_key(a) < total_order_key(b); });
    std::size_t kept = list.empty() ? 0 : 1;
    for (std::size_t i = 1; i < list.size(); ++i)
        if (!(list[i] == list[kept - 1])) list[kept++] = list[i];
    list.resize(kept);
}

// Images i = first ... last of a periodic kernel, or nothing when the range cannot be counted.
struct ImageRange {
    double first, last;
    bool countable;
};

ImageRange image_range(double from, double to, double period) {
    const double first = std::ceil(from / period);
    const double last = std::floor(to / period);
    return {first, last, std::isfinite(first) && std::isfinite(last) && !(last - first > 0x1p52)};
}

// Two point evaluations: the kernel and its log-l derivative summed over the images within the
// window.
CovarianceValue delta_pair(const CovarianceDimension& dim, double d) {
    const double L = dim.window;
    CovarianceValue r;
    const auto add = [&](double t) {
        r.value += profile_value(dim.kind, t);
        r.derivative += -t * profile_slope(dim.kind, t);
    };
    if (!dim.period) {
        if (std::fabs(d) <= L) add(d);
        return r;
    }
    const double p = *dim.period;
    const ImageRange images = image_range(d - L, d + L, p);
    if (!images.countable) {
        const double nan = std::numeric_limits<double>::quiet_NaN();
        return {nan, nan};
    }
    for (double i = images.first; i <= images.last; i += 1.0) {
        const double t = d - i * p;
        if (std::fabs(t) <= L) add(t);
    }
    return r;
}

// The outer walk over the support of phi of the inner smoothed value of psi.
CovarianceValue smooth_pair(const CovarianceDimension& dim, const Element& phi,
                            CosineWeight weight_phi, const Element* s_phi, const Element& psi,
                            CosineWeight weight_psi, const Element* s_psi, bool want,
                            CovarianceScratch& scratch) {
    const Support sp = support(phi);
    const double u = sp.lower, t = sp.upper;
    const double L = dim.window;
    std::vector<double>& outer = scratch.outer;
    std::vector<double>& sides = scratch.sides;

    // Where phi or its amplitude change formula.
    const Element* phi_factors[] = {&phi, s_phi};
    collect_breakpoints(Factors(phi_factors, s_phi ? 2 : 1), u, t, outer);

    // Where the inner function has kinks: the kernel's center and window ends meet a breakpoint
    // of psi or of its amplitude.
    const Support sq = support(psi);
    const Element* psi_factors[] = {&psi, s_psi};
    collect_breakpoints(Factors(psi_factors, s_psi ? 2 : 1), sq.lower, sq.upper, sides);
    const double width = t - u;
    const double e_lo = sq.lower - width, e_hi = sq.upper + width;
    const auto add_kinks = [&](double shift) {
        for (double q : sides) {
            for (double k : {q - shift, q - shift - L, q - shift + L})
                if (u < k && k < t) outer.push_back(k);
        }
    };
    if (dim.period) {
        const double p = *dim.period;
        const ImageRange images = image_range(e_lo - L - u, e_hi + L - u, p);
        if (!images.countable) {
            const double nan = std::numeric_limits<double>::quiet_NaN();
            return {nan, want ? nan : 0.0};
        }
        for (double i = images.first; i <= images.last; i += 1.0) add_kinks(i * p);
    } else if (e_lo <= u + L && e_hi >= u - L) {
        add_kinks(0.0);
    }
    sort_unique(outer);

    const QuadratureRule& rule = gauss8();
    const double cap =
        weight_phi ? 0.25 / std::fabs(*weight_phi) : std::numeric_limits<double>::infinity();
    CovarianceValue r;
    for (std::size_t k = 0; k + 1 < outer.size(); ++k) {
        const double end = outer[k + 1];
        double o = outer[k];
        while (o < end) {
            const double lambda = std::fmin(std::fmin(dim.step_cap, step_scale(phi, o)), cap);
            double step = (o + 1.05 * lambda < end) ? lambda : end - o;
            // A step too small to move o would never finish the piece: take the rest whole.
            if (!(o + step > o)) step = end - o;
            const double next = o + step;
            const double half = (next - o) * 0.5;
            const double mid = (o + next) * 0.5;
            for (std::size_t j = 0; j < rule.nodes.size(); ++j) {
                const double x = mid + half * rule.nodes[j];
                const double s = s_phi ? evaluate(*s_phi, x) : 1.0;
                const double f = evaluate(phi, x) * weight_value(weight_phi, x) * s;
                if (f == 0.0) continue;
                const CovarianceValue inner =
                    smoothed_value(dim, psi, weight_psi, s_psi, x, want, scratch);
                r.value += inner.value * f * half * rule.weights[j];
                r.derivative += inner.derivative * f * half * rule.weights[j];
            }
            o = next;
        }
    }
    return r;
}

} // namespace

double amplitude_value(const CovarianceDimension& dim, const Element* s, double x) {
    if (s == nullptr) return 1.0;
    if (dim.factor && s == &dim.factor->shape) return dim.factor->value(x);
    return evaluate(*s, x);
}

CovarianceValue pair_covariance(const CovarianceDimension& dim, const Element& phi,
                                CosineWeight weight_phi, const Element* s_phi, const Element& psi,
                                CosineWeight weight_psi, const Element* s_psi,
                                bool want_derivative, CovarianceScratch& scratch) {
    const auto* dphi = std::get_if<Delta>(&phi);
    const auto* dpsi = std::get_if<Delta>(&psi);
    if (dphi && dpsi) {
        const double scale =
            amplitude_value(dim, s_phi, dphi->x) * amplitude_value(dim, s_psi, dpsi->x);
        if (scale == 0.0) return {};
        const CovarianceValue k = delta_pair(dim, dphi->x - dpsi->x);
        return {scale * k.value, scale * k.derivative};
    }
    // A point factor evaluates the other side's smoothed kernel there; its weight does not enter.
    if (dphi || dpsi) {
        const double x0 = dphi ? dphi->x : dpsi->x;
        const double w = amplitude_value(dim, dphi ? s_phi : s_psi, x0);
        if (w == 0.0) return {};
        const CovarianceValue v =
            dphi ? smoothed_value(dim, psi, weight_psi, s_psi, x0, want_derivative, scratch)
                 : smoothed_value(dim, phi, weight_phi, s_phi, x0, want_derivative, scratch);
        return {w * v.value, w * v.derivative};
    }
    return smooth_pair(dim, phi, weight_phi, s_phi, psi, weight_psi, s_psi, want_derivative,
                       scratch);
}

} // namespace quorvel
