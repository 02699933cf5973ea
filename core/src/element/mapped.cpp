// Elements re-expressed through a change of variable x = forward(u): deltas are moved, every
// other element is wrapped with its support carried through the map.
#include <cmath>
#include <memory>
#include <string>

#include "quorvel/element_checks.hpp"
#include "quorvel/constructors.hpp"
#include "quorvel/format.hpp"

namespace quorvel {

namespace {

Status check_map(MapKind kind, double a, double b) {
    if (kind == MapKind::Reciprocal) {
        if (std::isfinite(a) && a != 0.0) return {};
        return invalid_input("reciprocal map needs a finite nonzero k");
    }
    if (std::isfinite(b) && b != 0.0 && std::isfinite(a)) return {};
    return invalid_input("affine map needs finite offset and nonzero finite scale");
}

// The number of maps around the innermost element of `e`.
std::size_t map_nesting(const Element& e) {
    std::size_t depth = 0;
    for (const Element* p = &e; const auto* m = std::get_if<Mapped>(p); p = m->inner.get())
        ++depth;
    return depth;
}

} // namespace

Result<MapKind> parse_map_kind(std::string_view text) {
    if (const auto kind = find_named(map_kind_names, text)) return *kind;
    return invalid_input("map kind must be " + quoted_alternatives(map_kind_names) + ", got " +
                         fmt_quoted(text));
}

Result<Elements> mapped(std::span<const Element> elements, MapKind kind, double a, double b,
                        bool jacobian) {
    Elements out;
    out.reserve(elements.size());
    // The map parameters are validated at the first element: an empty list maps to itself.
    if (elements.empty()) return out;
    QUORVEL_TRY(check_map(kind, a, b));
    const Mapped map{kind, a, b, nullptr, 0.0, 0.0, jacobian};
    for (const Element& e : elements) {
        if (const auto* d = std::get_if<Delta>(&e)) {
            const double p = mapped_forward(map, d->x);
            QUORVEL_TRY(check_delta(p));
            out.emplace_back(Delta{p});
            continue;
        }
        if (map_nesting(e) >= max_map_nesting)
            return invalid_input("maps nest at most " + std::to_string(max_map_nesting) +
                                 " deep, got an element mapped " +
                                 std::to_string(map_nesting(e)) + " times already");
        const Support s = support(e);
        if (kind == MapKind::Reciprocal && !(s.lower > 0.0 || s.upper < 0.0))
            return invalid_input("a reciprocal map needs supports on one side of 0, got [" +
                                 fmt_fixed(s.lower) + ", " + fmt_fixed(s.upper) + "]");
        const double lo = mapped_forward(map, s.lower);
        const double hi = mapped_forward(map, s.upper);
        Mapped m = map;
        m.inner = std::make_shared<const Element>(e);
        m.lower = std::fmin(lo, hi);
        m.upper = std::fmax(lo, hi);
        // A huge scale, or a reciprocal map near 0, can carry a bounded support to infinity.
        if (!std::isfinite(m.lower) || !std::isfinite(m.upper))
            return invalid_input("mapped support must be finite, got [" + fmt_fixed(m.lower) +
                                 ", " + fmt_fixed(m.upper) + "]");
        QUORVEL_TRY(check_support_width("mapped", m.lower, m.upper));
        // A tiny a can round a support end to 0, or make |du/dx| = |a| / x^2 overflow.
        if (kind == MapKind::Reciprocal &&
            (!(m.lower > 0.0 || m.upper < 0.0) ||
             (jacobian && !(std::fabs(mapped_du_dx(m, m.lower)) < INFINITY &&
                            std::fabs(mapped_du_dx(m, m.upper)) < INFINITY))))
            return invalid_input("a reciprocal map with k = " + fmt_fixed(a) +
                                 " cannot represent the support [" + fmt_fixed(m.lower) + ", " +
                                 fmt_fixed(m.upper) + "] or its Jacobian");
        out.emplace_back(std::move(m));
    }
    return out;
}

} // namespace quorvel
