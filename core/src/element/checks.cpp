// Validation shared by the constructors of the piecewise element kinds.
#include "quorvel/element_checks.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "quorvel/format.hpp"

namespace quorvel {

Status check_delta(double x) {
    if (std::isfinite(x)) return {};
    return invalid_input("delta position must be finite");
}

Status check_box(double a, double b) {
    if (std::isfinite(a) && std::isfinite(b) && a < b) return {};
    return invalid_input("box needs finite a < b, got [" + fmt_fixed(a) + ", " + fmt_fixed(b) +
                         "]");
}

Status check_hat(double a, double c, double b) {
    if (std::isfinite(a) && std::isfinite(c) && std::isfinite(b) && a <= c && c <= b && a < b)
        return {};
    return invalid_input("hat needs finite a <= c <= b with a < b, got (" + fmt_fixed(a) + ", " +
                         fmt_fixed(c) + ", " + fmt_fixed(b) + ")");
}

Status check_segments(std::span<const Segment> segments) {
    if (segments.empty()) return invalid_input("a shape needs at least one segment");
    for (const Segment& s : segments) {
        const bool finite = std::isfinite(s.c0) && std::isfinite(s.c1) && std::isfinite(s.c2) &&
                            std::isfinite(s.c3) && std::isfinite(s.a) && std::isfinite(s.b);
        if (!finite) return invalid_input("shape segments must be finite");
        if (!(s.a < s.b)) return invalid_input("shape segments need a < b");
    }
    for (std::size_t i = 1; i < segments.size(); ++i) {
        if (segments[i].a < segments[i - 1].b)
            return invalid_input("shape segments must be sorted and non-overlapping");
    }
    return {};
}

Status check_piecewise_placement(double center, double stretch) {
    if (std::isfinite(center) && std::isfinite(stretch) && stretch > 0.0) return {};
    return invalid_input("piecewise element needs finite center and stretch > 0");
}

Status check_strictly_increasing(std::string_view name, std::span<const double> values) {
    const std::string n(name);
    if (values.size() < 2) return invalid_input(n + " needs at least 2 values");
    for (double v : values) {
        if (!std::isfinite(v)) return invalid_input(n + " must be finite");
    }
    for (std::size_t i = 1; i < values.size(); ++i) {
        if (values[i - 1] >= values[i]) return invalid_input(n + " must be strictly increasing");
    }
    return {};
}

Status check_support_width(std::string_view what, double lower, double upper) {
    if (std::isfinite(upper - lower)) return {};
    return invalid_input(std::string(what) + " support width must be finite, got [" +
                         fmt_fixed(lower) + ", " + fmt_fixed(upper) + "]");
}

double representation_scale(double span) {
    constexpr double ordinary_lo = 0x1p-64, ordinary_hi = 0x1p64;
    if (span >= ordinary_lo && span <= ordinary_hi) return 1.0;
    const int e = std::isfinite(span) && span > 0.0 ? std::ilogb(span) : 1023;
    return std::ldexp(1.0, std::clamp(e, -1022, 1023));
}

} // namespace quorvel
