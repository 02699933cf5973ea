// Derivatives of piecewise-polynomial elements, as shapes with the same segment ends.
#include <cmath>
#include <vector>

#include "checks.hpp"
#include "quorvel/element.hpp"
#include "quorvel/overloaded.hpp"

namespace quorvel {

namespace {

Result<Shape> shape_of(std::vector<Segment> segments) {
    QUORVEL_TRY(check_segments(segments));
    return Shape{std::make_shared<const std::vector<Segment>>(std::move(segments)), 0.0, 1.0};
}

// Shapes as they are, boxes and hats as shapes with center 0 and stretch 1; the other kinds
// have no derivatives.
Result<Shape> as_shape(const Element& e) {
    const auto none = []() -> Result<Shape> {
        return invalid_input("only piecewise-polynomial elements have derivatives");
    };
    const Overloaded visitor{
        [](const Shape& s) -> Result<Shape> { return s; },
        [](const Box& b) { return shape_of({{1.0, 0.0, 0.0, 0.0, b.a, b.b}}); },
        [](const Hat& h) {
            std::vector<Segment> segments;
            if (h.a < h.c) segments.push_back({0.0, 1.0 / (h.c - h.a), 0.0, 0.0, h.a, h.c});
            if (h.c < h.b) segments.push_back({1.0, -1.0 / (h.b - h.c), 0.0, 0.0, h.c, h.b});
            return shape_of(std::move(segments));
        },
        [&](const Delta&) { return none(); },
        [&](const Profile&) { return none(); },
        [&](const Mapped&) { return none(); },
    };
    return std::visit(visitor, static_cast<const ElementVariant&>(e));
}

} // namespace

Result<Element> derivative(const Element& e, std::uint64_t order) {
    if (order == 0) return e;
    QUORVEL_TRY_ASSIGN(const Shape shape, as_shape(e));
    const double s = shape.stretch;

    // Each round maps (c0, c1, c2, c3) to (c1, 2 c2, 3 c3, 0); after four rounds every
    // coefficient is 0, so a huge order costs no more than four rounds.
    const std::uint64_t rounds = order < 4 ? order : 4;
    double inv_scale = 1.0;
    if (order < 4) {
        double p = 1.0;
        for (std::uint64_t k = 0; k < order; ++k)
            p *= s;
        inv_scale = 1.0 / p;
    }
    // In a variable s = b - u that runs against u each round also changes the sign.
    const auto differentiate = [&](const std::vector<Segment>& pieces, double sign) {
        std::vector<Segment> out(pieces);
        for (Segment& seg : out) {
            for (std::uint64_t k = 0; k < rounds; ++k) {
                seg = {sign * seg.c1, sign * 2.0 * seg.c2, sign * 3.0 * seg.c3, 0.0, seg.a, seg.b};
            }
            // Zero coefficients stay 0 even when the chain-rule factor overflows.
            for (double* c : {&seg.c0, &seg.c1, &seg.c2, &seg.c3}) {
                if (*c != 0.0) *c *= inv_scale;
            }
        }
        return out;
    };
    std::vector<Segment> segments = differentiate(*shape.segments, 1.0);
    QUORVEL_TRY(check_piecewise_placement(shape.center, s));
    // A tiny stretch can overflow the scaled coefficients; report it instead of storing inf.
    QUORVEL_TRY(check_segments(segments));
    SegmentList from_end;
    if (shape.from_end) {
        std::vector<Segment> end_pieces = differentiate(*shape.from_end, -1.0);
        QUORVEL_TRY(check_segments(end_pieces));
        from_end = std::make_shared<const std::vector<Segment>>(std::move(end_pieces));
    }
    return Element{Shape{std::make_shared<const std::vector<Segment>>(std::move(segments)),
                         shape.center, s, false, std::move(from_end), shape.nominal_center}};
}

} // namespace quorvel
