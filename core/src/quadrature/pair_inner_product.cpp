// Integral of the product of two elements, optionally weighted by cos(omega x).
#include <cmath>
#include <optional>

#include "quorvel/quadrature.hpp"
#include "quorvel/shape_pair.hpp"

namespace quorvel {

double pair_inner_product(const Element& a, const Element& b, CosineWeight weight,
                          std::vector<double>& list) {
    // Point functionals pair by evaluation, never by quadrature.
    const auto* da = std::get_if<Delta>(&a);
    const auto* db = std::get_if<Delta>(&b);
    if (da && db) return da->x == db->x ? 1.0 : 0.0;
    if (da || db) {
        const double x = da ? da->x : db->x;
        const double v = evaluate(da ? b : a, x);
        return v * weight_value(weight, x);
    }

    // Two shapes, the pair of most Gram and cross matrices, take a path of their own.
    if (!weight) {
        const auto* ta = std::get_if<Shape>(&a);
        const auto* tb = std::get_if<Shape>(&b);
        if (ta && tb && ordered_segments(*ta) && ordered_segments(*tb))
            return shape_pair_integral(*ta, *tb, list);
    }

    // Supports that only touch carry no area.
    const std::optional<PairWindow> w = pair_window(a, b);
    if (!w) return 0.0;
    const Placed factors[] = {{&a, w->origin}, {&b, w->origin}};
    collect_breakpoints(factors, w->from, w->to, list);
    return integrate_product(factors, weight, w->origin, list);
}

std::optional<PairWindow> pair_window(const Element& a, const Element& b) {
    const Support sa = support(a);
    const Support sb = support(b);
    const double lo = std::fmax(sa.lower, sb.lower);
    const double hi = std::fmin(sa.upper, sb.upper);
    if (lo >= hi) return std::nullopt;
    const double origin = pair_frame_origin(a, b, lo, hi);
    const Support fa = frame_support(a, sa, origin);
    const Support fb = frame_support(b, sb, origin);
    const double from = std::fmax(fa.lower, fb.lower);
    const double to = std::fmin(fa.upper, fb.upper);
    if (!(from < to)) return std::nullopt;
    return PairWindow{origin, from, to};
}

double pair_integral(Placed a, Placed b, CosineWeight weight, double origin,
                     std::vector<double>& list) {
    const Support sa = frame_support(a);
    const Support sb = frame_support(b);
    const double lo = std::fmax(sa.lower, sb.lower);
    const double hi = std::fmin(sa.upper, sb.upper);
    // Supports that only touch carry no area.
    if (lo >= hi) return 0.0;
    const Placed factors[] = {a, b};
    collect_breakpoints(factors, lo, hi, list);
    return integrate_product(factors, weight, origin, list);
}

} // namespace quorvel
