// Finding runs of B-splines among the elements of a space (spline_runs.hpp).
//
// In a run of degree-d B-splines of knots t, element k has support [t[k], t[k+d+1]], so t[k] is
// the lower end of element k's support, and element k's knots are the lower ends of elements
// k ... k + d followed by its own upper end; past the last element of the space, knot k is the
// upper end of element k - d - 1. Each element is checked by making it again from those knots;
// a run grows while the next element checks and its upper end is the knot that the elements
// after it give.
#include "spline_runs.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <optional>

#include "quorvel/constructors.hpp"

namespace quorvel {

namespace {

constexpr std::size_t max_degree = 3;

bool same_bits(double x, double y) {
    return std::bit_cast<std::uint64_t>(x) == std::bit_cast<std::uint64_t>(y);
}

bool same_table(const SegmentList& x, const SegmentList& y) {
    if (x == nullptr || y == nullptr) return x == y;
    if (x->size() != y->size()) return false;
    for (std::size_t k = 0; k < x->size(); ++k) {
        const Segment& p = (*x)[k];
        const Segment& q = (*y)[k];
        if (!same_bits(p.c0, q.c0) || !same_bits(p.c1, q.c1) || !same_bits(p.c2, q.c2) ||
            !same_bits(p.c3, q.c3) || !same_bits(p.a, q.a) || !same_bits(p.b, q.b))
            return false;
    }
    return true;
}

bool same_shape(const Shape& x, const Shape& y) {
    return same_bits(x.center, y.center) && same_bits(x.stretch, y.stretch) &&
           x.nonnegative == y.nonnegative && same_bits(x.nominal_center, y.nominal_center) &&
           same_table(x.segments, y.segments) && same_table(x.from_end, y.from_end);
}

// Whether `e` is the one degree-d B-spline of the d + 2 knots `t`.
bool is_bspline(const Element& e, std::span<const double> t, std::size_t d) {
    const Result<Elements> made = bsplines(t, d);
    return made && made->size() == 1 &&
           same_shape(std::get<Shape>(e), std::get<Shape>(made->front()));
}

// What a B-spline looks like before it is checked: a non-negative shape with end forms.
bool may_be_bspline(const Element& e) {
    const auto* s = std::get_if<Shape>(&e);
    return s != nullptr && s->nonnegative && s->from_end != nullptr && !s->segments->empty() &&
           s->segments->size() <= max_degree + 1;
}

// The longest run of at most `limit` degree-d B-splines starting at element `first`, empty if
// there is none. The candidates are the elements whose knots fit together; they are made again
// in one call of the constructor (which computes each knot interval once) and compared.
SplineRun run_from(std::span<const Element> elements, std::size_t first, std::size_t d,
                   std::size_t limit) {
    const std::size_t n = elements.size();
    // Knot j of the run, for j >= first; past the space, only where an element of the run
    // ends there.
    const auto knot = [&](std::size_t j) -> std::optional<double> {
        if (j < n) return support(elements[j]).lower;
        if (j >= first + d + 1) return support(elements[j - d - 1]).upper;
        return std::nullopt;
    };
    std::array<double, max_degree + 2> t{};
    std::size_t k = first;
    for (; k < n && k - first < limit && may_be_bspline(elements[k]); ++k) {
        bool known = true;
        for (std::size_t m = 0; m <= d && known; ++m) {
            const std::optional<double> v = knot(k + m);
            known = v.has_value() && (m == 0 || t[m - 1] <= *v);
            if (known) t[m] = *v;
        }
        t[d + 1] = support(elements[k]).upper;
        if (!known || !(t[d] <= t[d + 1])) break;
        // The run stores the last knot of the element before as the lower end of element k + d.
        if (k > first && !same_bits(support(elements[k - 1]).upper, t[d])) break;
        // The first one alone, so that a wrong degree costs one small call.
        if (k == first && !is_bspline(elements[k], std::span(t.data(), d + 2), d)) break;
    }
    SplineRun run;
    if (k == first) return run;
    run.first = first;
    run.degree = d;
    run.knots.reserve(k - first + d + 1);
    for (std::size_t m = first; m < k + d; ++m)
        run.knots.push_back(*knot(m));
    run.knots.push_back(support(elements[k - 1]).upper);
    const Result<Elements> made = bsplines(run.knots, d);
    std::size_t matched = 0;
    if (made) {
        while (matched < made->size() &&
               same_shape(std::get<Shape>(elements[first + matched]),
                          std::get<Shape>((*made)[matched])))
            ++matched;
    }
    // The first element alone was made exactly; in a longer call it is made the same way.
    run.count = std::max<std::size_t>(matched, 1);
    // Knot count + d of a shorter run is the last knot of its last element (checked above).
    run.knots.resize(run.count + d + 1);
    if (matched == 0) run.knots.back() = support(elements[first]).upper;
    return run;
}

// Two runs of one degree that follow each other and share their d + 1 common knots as one.
bool join(SplineRun& a, SplineRun& b) {
    const std::size_t d = a.degree;
    if (b.degree != d || a.first + a.count != b.first) return false;
    for (std::size_t m = 0; m <= d; ++m)
        if (!same_bits(a.knots[a.count + m], b.knots[m])) return false;
    a.knots.resize(a.count);
    a.knots.insert(a.knots.end(), b.knots.begin(), b.knots.end());
    a.count += b.count;
    return true;
}

// The whole space as one periodic family, or an empty run. Its pieces are placed at 0 and
// wrapped onto the breakpoints, so the ends of all pieces are the breakpoints.
SplineRun periodic_family(std::span<const Element> elements) {
    SplineRun run;
    std::vector<double> ends;
    std::size_t most_pieces = 0;
    for (const Element& e : elements) {
        if (!may_be_bspline(e)) return run;
        const Shape& s = std::get<Shape>(e);
        if (!same_bits(s.center, 0.0)) return run;
        most_pieces = std::max(most_pieces, s.segments->size());
        for (const Segment& piece : *s.segments) {
            ends.push_back(s.stretch * piece.a);
            ends.push_back(s.stretch * piece.b);
        }
    }
    std::sort(ends.begin(), ends.end());
    ends.erase(std::unique(ends.begin(), ends.end()), ends.end());
    if (elements.empty() || ends.size() != elements.size() + 1) return run;
    for (std::size_t d = most_pieces - 1; d <= max_degree; ++d) {
        const Result<Elements> made = bsplines_periodic(ends, d);
        if (!made || made->size() != elements.size()) continue;
        bool same = true;
        for (std::size_t i = 0; i < elements.size() && same; ++i)
            same = same_shape(std::get<Shape>(elements[i]), std::get<Shape>((*made)[i]));
        if (!same) continue;
        run.count = elements.size();
        run.degree = d;
        run.knots = std::move(ends);
        run.periodic = true;
        return run;
    }
    return run;
}

} // namespace

std::vector<SplineRun> find_spline_runs(std::span<const Element> elements) {
    if (SplineRun family = periodic_family(elements); family.count > 0) return {std::move(family)};
    // Candidates are checked in growing batches: a space of B-splines is checked in few calls,
    // and a space where runs break often does not make long calls for short runs.
    constexpr std::size_t first_batch = 16, last_batch = 4096;
    std::size_t batch = first_batch;
    std::vector<SplineRun> runs;
    for (std::size_t i = 0; i < elements.size();) {
        SplineRun best;
        if (may_be_bspline(elements[i])) {
            // A degree-d B-spline has at most d + 1 pieces; the likeliest degree is tried first.
            const std::size_t pieces = std::get<Shape>(elements[i]).segments->size();
            for (std::size_t d = pieces - 1; d <= max_degree && best.count == 0; ++d)
                best = run_from(elements, i, d, batch);
        }
        if (best.count == 0) {
            ++i;
            batch = first_batch;
            continue;
        }
        batch = best.count == batch ? std::min(2 * batch, last_batch) : first_batch;
        i += best.count;
        if (runs.empty() || !join(runs.back(), best)) runs.push_back(std::move(best));
    }
    return runs;
}

} // namespace quorvel
