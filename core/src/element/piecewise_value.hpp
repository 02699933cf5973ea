// Point values of the piecewise kinds at origin + y, written once for evaluate_at and for the
// bulk point values, so that both give the same result bit for bit.
#pragma once

#include <algorithm>
#include <cstddef>

#include "local_point.hpp"
#include "quorvel/element.hpp"

namespace quorvel {

inline double box_value(const Box& b, LocalPoint x) {
    return (!x.before(b.a) && x.before(b.b)) ? 1.0 : 0.0;
}

inline double hat_value(const Hat& h, LocalPoint x) {
    if (x.outside(h.a, h.b)) return 0.0;
    if (x.at(h.c)) return 1.0;
    if (x.before(h.c)) return x.from(h.a) / (h.c - h.a);
    return x.to(h.b) / (h.b - h.c);
}

// The segment that holds local coordinate u: the last one starting at or before u, when u lies
// before its end; null for a gap or a point outside.
inline const Segment* find_segment(const Segment* segments, std::size_t count, double u) {
    const Segment* it = std::upper_bound(segments, segments + count, u,
                                         [](double v, const Segment& s) { return v < s.a; });
    if (it == segments) return nullptr;
    const Segment& s = *(it - 1);
    if (u < s.b) return &s;
    return nullptr;
}

// The fields of a shape that its values need, read once.
struct ShapeView {
    const Segment* segments;
    const Segment* from_end; // null when the shape has no end forms
    std::size_t count;
    double center, stretch;
    bool nonnegative;
};

inline ShapeView shape_view(const Shape& s) {
    return {s.segments->data(), s.from_end ? s.from_end->data() : nullptr,
            s.segments->size(), s.center,
            s.stretch,          s.nonnegative};
}

// The piece of a shape at the point origin + y and the piece's own variable there:
// t = (x - center) / stretch - a, formed as ((origin - center) - stretch a + y) / stretch so that
// a shape whose segments sit far from its center (or from 0) keeps t exact to rounding. In the
// second half of a piece of a shape written from its ends too, the piece comes from that list and
// the variable is s = b - (x - center) / stretch instead (`from_end`).
struct ShapePoint {
    const Segment* segment;
    double t;
    bool from_end;
};

// Whether the point at offset dc + y from a shape's center lies before the local coordinate a:
// the sign of the offset from a, ((dc - stretch a) + y), formed as the piece's variable is, so
// that a point within a few ulps of a segment end (a node of a piece only ulps wide) is placed by
// its exact offset and not by the rounded coordinate dc + y.
[[gnu::always_inline]] inline bool before_end(double dc, double y, double stretch, bool unit,
                                              double a) {
    return (unit ? (dc - a) + y : (dc - stretch * a) + y) < 0.0;
}

// The segment holding the point at offset dc + y (as find_segment, by exact offsets).
inline const Segment* find_segment_at(const Segment* segments, std::size_t count, double dc,
                                      double y, double stretch, bool unit) {
    const Segment* it = std::upper_bound(segments, segments + count, 0.0,
                                         [&](double, const Segment& s) {
                                             return before_end(dc, y, stretch, unit, s.a);
                                         });
    if (it == segments) return nullptr;
    const Segment& s = *(it - 1);
    if (before_end(dc, y, stretch, unit, s.b)) return &s;
    return nullptr;
}

// `guess` (or null) is a segment tried before the search: segments are sorted and do not
// overlap, so one that holds the point is the segment the search would find.
[[gnu::always_inline]] inline ShapePoint shape_point(const ShapeView& s, double origin, double y,
                                                     const Segment* guess = nullptr) {
    const double dc = origin - s.center;
    // Unstretched shapes need neither the products nor the divisions.
    const bool unit = s.stretch == 1.0;
    const Segment* seg = (guess != nullptr && !before_end(dc, y, s.stretch, unit, guess->a) &&
                          before_end(dc, y, s.stretch, unit, guess->b))
                             ? guess
                             : find_segment_at(s.segments, s.count, dc, y, s.stretch, unit);
    if (seg == nullptr) return {nullptr, 0.0, false};
    const double t = unit ? (dc - seg->a) + y : ((dc - s.stretch * seg->a) + y) / s.stretch;
    if (s.from_end != nullptr && t > 0.5 * (seg->b - seg->a)) {
        const Segment* end = s.from_end + (seg - s.segments);
        return {end, unit ? (seg->b - dc) - y : ((s.stretch * seg->b - dc) - y) / s.stretch, true};
    }
    return {seg, t, false};
}

[[gnu::always_inline]] inline double shape_value(const ShapeView& s, double origin, double y,
                                                 const Segment* guess = nullptr) {
    const ShapePoint p = shape_point(s, origin, y, guess);
    if (p.segment == nullptr) return 0.0;
    const Segment& g = *p.segment;
    const double v = g.c0 + p.t * (g.c1 + p.t * (g.c2 + p.t * g.c3));
    return s.nonnegative && v < 0.0 ? 0.0 : v;
}

} // namespace quorvel
