// Two shapes integrated in the frame of their common support: the segment ends of both merged into
// the breakpoint list as they are generated, and each shape valued through a cursor on the segment
// of the previous node. Every value is formed by the operations of evaluate_at, so the result is
// that of the generic pair integral.
#include "shape_pair.hpp"

#include "../element/piecewise_value.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "quorvel/quadrature.hpp"
#include "quorvel/stepping_walk.hpp"

namespace quorvel {

bool ordered_segments(const Shape& s) {
    const std::vector<Segment>& g = *s.segments;
    for (std::size_t k = 0; k < g.size(); ++k) {
        if (!(std::isfinite(g[k].a) && std::isfinite(g[k].b) && g[k].a < g[k].b)) return false;
        if (k + 1 < g.size() && !(g[k].b <= g[k + 1].a)) return false;
    }
    return !g.empty();
}

namespace {

// The segment ends of a shape in frame coordinates (offset dc = center - origin) strictly inside
// (lo, hi), ascending: a then b of each segment, formed as the breakpoint collection forms them.
// Ordered segments and a positive stretch keep them non-decreasing under rounding. +inf once
// exhausted.
class SegmentEnds {
  public:
    SegmentEnds(const Shape& s, double dc, double lo, double hi)
        : segments_(s.segments->data()), count_(2 * s.segments->size()), dc_(dc),
          stretch_(s.stretch), lo_(lo), hi_(hi) {
        advance();
    }
    double value() const { return value_; }
    void advance() {
        while (next_ < count_) {
            const Segment& g = segments_[next_ / 2];
            const double y = dc_ + stretch_ * ((next_ % 2 == 0) ? g.a : g.b);
            ++next_;
            if (!(y > lo_)) continue;
            if (y < hi_) {
                value_ = y;
                return;
            }
            break;
        }
        next_ = count_;
        value_ = INFINITY;
    }

  private:
    const Segment* segments_;
    std::size_t count_, next_ = 0;
    double dc_, stretch_, lo_, hi_, value_ = INFINITY;
};

// Two points of a panel side by side, each lane computed as the scalar code computes it.
using Two = double __attribute__((vector_size(16)));

// The value of a shape at frame positions y (frame origin `origin`), as evaluate_at forms it. The
// segment search starts from the segment of the previous point: with ordered segments, one that
// holds the local coordinate is the one the bisection would find.
class ShapeCursor {
  public:
    ShapeCursor(const Shape& s, double origin)
        : shape_(s), segments_(s.segments->data()), count_(s.segments->size()),
          dc_(origin - s.center), stretch_(s.stretch), unit_(s.stretch == 1.0) {}

    double operator()(double y) {
        if (!holds(y) && !seat(y)) return 0.0;
        const Segment& seg = segments_[current_];
        double t = unit_ ? (dc_ - seg.a) + y : ((dc_ - stretch_ * seg.a) + y) / stretch_;
        const Segment* g = &seg;
        if (shape_.from_end && t > 0.5 * (seg.b - seg.a)) {
            g = shape_.from_end->data() + current_;
            t = unit_ ? (seg.b - dc_) - y : ((stretch_ * seg.b - dc_) - y) / stretch_;
        }
        const double v = g->c0 + t * (g->c1 + t * (g->c2 + t * g->c3));
        return shape_.nonnegative && v < 0.0 ? 0.0 : v;
    }

    // The values at four ascending points. Their offsets from a segment end ascend too, so when
    // the first and the last lie in one segment all four do (the usual case: the points of a
    // panel lie between breakpoints, which include every segment end); they are then valued two
    // by two.
    void operator()(const double (&y)[4], double (&out)[4]) {
        if (!(holds(y[0]) && holds(y[3])) && !(seat(y[0]) && holds(y[3]))) {
            for (std::size_t j = 0; j < 4; ++j)
                out[j] = (*this)(y[j]);
            return;
        }
        const Segment& seg = segments_[current_];
        const Segment* const end = shape_.from_end ? shape_.from_end->data() + current_ : nullptr;
        const double start_offset = unit_ ? dc_ - seg.a : dc_ - stretch_ * seg.a;
        const double end_offset = unit_ ? seg.b - dc_ : stretch_ * seg.b - dc_;
        const double middle = 0.5 * (seg.b - seg.a);
        for (std::size_t h = 0; h < 4; h += 2) {
            const Two x{y[h], y[h + 1]};
            Two t = unit_ ? start_offset + x : (start_offset + x) / stretch_;
            Two c0 = seg.c0 + Two{}, c1 = seg.c1 + Two{}, c2 = seg.c2 + Two{}, c3 = seg.c3 + Two{};
            if (end) {
                const auto late = t > middle;
                const Two s = unit_ ? end_offset - x : (end_offset - x) / stretch_;
                t = late ? s : t;
                c0 = late ? end->c0 + Two{} : c0;
                c1 = late ? end->c1 + Two{} : c1;
                c2 = late ? end->c2 + Two{} : c2;
                c3 = late ? end->c3 + Two{} : c3;
            }
            Two v = c0 + t * (c1 + t * (c2 + t * c3));
            if (shape_.nonnegative) v = v < 0.0 ? Two{} : v;
            out[h] = v[0];
            out[h + 1] = v[1];
        }
    }

  private:
    bool in(std::size_t k, double y) const {
        return !before_end(dc_, y, stretch_, unit_, segments_[k].a) &&
               before_end(dc_, y, stretch_, unit_, segments_[k].b);
    }
    bool holds(double y) const { return current_ < count_ && in(current_, y); }

    // Moves the cursor to the segment of frame position y as evaluate_at's search finds it;
    // false where no segment holds y. Points ascend, so the next segment is tried first.
    bool seat(double y) {
        if (current_ + 1 < count_ && in(current_ + 1, y)) {
            ++current_;
            return true;
        }
        const Segment* it = find_segment_at(segments_, count_, dc_, y, stretch_, unit_);
        if (it == nullptr) return false;
        current_ = static_cast<std::size_t>(it - segments_);
        return true;
    }

    const Shape& shape_;
    const Segment* segments_;
    std::size_t count_, current_ = 0;
    double dc_, stretch_;
    bool unit_;
};

} // namespace

double shape_pair_integral(const Shape& a, const Shape& b, std::vector<double>& list) {
    const std::vector<Segment>& ga = *a.segments;
    const std::vector<Segment>& gb = *b.segments;
    // The window and its frame, as for any pair: the frame starts at the window's lower end. The
    // ends are finite (finite centers, stretches and segment ends), so the larger and the smaller
    // need none of fmax's and fmin's NaN rules; which zero a tie of -0 and +0 keeps changes no
    // value, since zeros enter the nodes and the sums only beside non-zero terms.
    const auto larger = [](double x, double y) { return x < y ? y : x; };
    const auto smaller = [](double x, double y) { return y < x ? y : x; };
    const double lo =
        larger(a.center + a.stretch * ga.front().a, b.center + b.stretch * gb.front().a);
    const double hi =
        smaller(a.center + a.stretch * ga.back().b, b.center + b.stretch * gb.back().b);
    // Supports that only touch carry no area.
    if (lo >= hi) return 0.0;
    const double dca = a.center - lo, dcb = b.center - lo;
    const double from = larger(dca + a.stretch * ga.front().a, dcb + b.stretch * gb.front().a);
    const double to = smaller(dca + a.stretch * ga.back().b, dcb + b.stretch * gb.back().b);
    if (!(from < to)) return 0.0;

    // The sorted, distinct breakpoints: the two ascending sequences of segment ends merged.
    // Numerically equal entries are kept once, as after the sort of the breakpoint collection;
    // where that sort would keep -0 rather than +0 the panels come out the same, since a zero
    // end enters them only through sums and differences with the other, non-zero end.
    list.clear();
    list.push_back(from);
    SegmentEnds ea(a, dca, from, to), eb(b, dcb, from, to);
    for (;;) {
        SegmentEnds& e = ea.value() <= eb.value() ? ea : eb;
        const double y = e.value();
        if (y == INFINITY) break;
        e.advance();
        if (!(y == list.back())) list.push_back(y);
    }
    list.push_back(to);

    // Two polynomial factors without a weight: one 4-point panel per piece.
    // The products at the four nodes of a panel are formed side by side and summed as
    // panel_integral sums them.
    ShapeCursor va(a, lo), vb(b, lo);
    const QuadratureRule& rule = gauss4();
    static const bool four = rule.nodes.size() == 4 && rule.weights.size() == 4 &&
                             std::is_sorted(rule.nodes.begin(), rule.nodes.end());
    double result = 0.0;
    for_each_piece(list, rule, [&](Panel p) {
        if (!four) {
            result += panel_integral(p, [&va, &vb](double y) { return va(y) * vb(y); });
            return;
        }
        const double y[4] = {p.node(0), p.node(1), p.node(2), p.node(3)};
        double fa[4], fb[4];
        va(y, fa);
        // A shape paired with itself (the diagonal of a Gram matrix) has the same values twice.
        if (&a == &b)
            std::copy(fa, fa + 4, fb);
        else
            vb(y, fb);
        double s = 0.0;
        for (std::size_t j = 0; j < 4; ++j)
            s += p.weight(j) * (fa[j] * fb[j]);
        result += p.half * s;
    });
    return result;
}

} // namespace quorvel
