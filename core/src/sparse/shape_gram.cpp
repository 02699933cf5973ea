// The Gram matrix of a space of shapes by one sweep along the axis. The segment ends of all
// elements cut the axis into intervals on each of which every element is one cubic (or 0), so the
// 4-point Gauss-Legendre rule integrates every product of two of them exactly there. Each
// element's values at the four nodes of an interval are formed once and paired with those of
// every other element live on the interval, instead of once per pair.
#include "shape_gram.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <span>
#include <vector>

#include "quorvel/parallel.hpp"
#include "quorvel/quadrature.hpp"
#include "quorvel/shape_pair.hpp"
#include "quorvel/space.hpp"

namespace quorvel {

namespace {

// How many successors one element may overlap; wider bands take the pairwise path.
constexpr std::size_t widest_band = 16;

// An element met by the sweep, with the segment it is in or comes to next.
struct Live {
    std::size_t index;
    const Shape* shape;
    std::size_t k = 0;    // current segment
    bool inside = false;  // whether the sweep is within segment k (else before it)
    double start = 0.0, end = 0.0; // segment k's ends on the axis
    double next = 0.0;    // the next end the sweep meets: start, or end when inside

    void seat() {
        const Segment& g = (*shape->segments)[k];
        start = shape->center + shape->stretch * g.a;
        end = shape->center + shape->stretch * g.b;
        next = start;
        inside = false;
    }
    // Placed at the axis position x inside its support: in the first segment that ends after x,
    // or before it when x lies in a gap.
    void seat_at(double x) {
        const std::vector<Segment>& g = *shape->segments;
        k = 0;
        while (k + 1 < g.size() && !(shape->center + shape->stretch * g[k].b > x))
            ++k;
        seat();
        if (start <= x) {
            inside = true;
            next = end;
        }
    }
    // Passes every end at y; false once past the last segment.
    bool pass(double y) {
        while (next <= y) {
            if (!inside) {
                inside = true;
                next = end;
            } else {
                if (++k == shape->segments->size()) return false;
                seat();
            }
        }
        return true;
    }
};

// The 4-point rule as offsets from the two ends of an interval: node q lies half (1 + z_q) after
// the start and half (1 - z_q) before the end.
struct Rule4 {
    std::array<double, 4> after, before, weights;
};

Rule4 rule4() {
    const QuadratureRule& r = gauss4();
    Rule4 out{};
    for (std::size_t q = 0; q < 4; ++q) {
        out.after[q] = 1.0 + r.nodes[q];
        out.before[q] = 1.0 - r.nodes[q];
        out.weights[q] = r.weights[q];
    }
    return out;
}

// The values of a live element at the nodes of [x, y] (within its segment), each from the
// nearer end of the segment: the piece's own variable is the node's distance from that end, so
// a value next to a knot keeps its relative accuracy.
void node_values(const Live& e, double x, double y, double half, const Rule4& rule,
                 std::array<double, 4>& v) {
    const Shape& s = *e.shape;
    const Segment& g = (*s.segments)[e.k];
    const Segment* const back = s.from_end ? &(*s.from_end)[e.k] : nullptr;
    const double middle = 0.5 * (g.b - g.a);
    const double inv = 1.0 / s.stretch;
    const bool unit = s.stretch == 1.0;
    const double from_start = x - e.start, to_end = e.end - y;
    for (std::size_t q = 0; q < 4; ++q) {
        const double d = from_start + half * rule.after[q];
        double t = unit ? d : d * inv;
        const Segment* p = &g;
        if (back && t > middle) {
            const double r = to_end + half * rule.before[q];
            t = unit ? r : r * inv;
            p = back;
        }
        const double value = p->c0 + t * (p->c1 + t * (p->c2 + t * p->c3));
        v[q] = s.nonnegative && value < 0.0 ? 0.0 : value;
    }
}

// Elements per chunk of the sweep. The chunks are fixed by the space alone, so the sums, and the
// result, do not depend on the number of threads.
constexpr std::size_t chunk_elements = 2048;

// The sweep over chunk [first, last) of the elements: the axis from the lower end of element
// `first` to that of element `last` (to the end for the last chunk). The elements before `first`
// still live there are at most f; their band rows, which the previous chunk writes too, go to
// `boundary` (rows first - f .. first - 1), the chunk's own rows to `band`. False when an element
// is not a shape this sweep can take.
bool sweep_chunk(const Space& space, std::span<const Shape* const> shapes, std::size_t f,
                 std::size_t first, std::size_t last, double* band, double* boundary) {
    const std::size_t n = space.size();
    const std::size_t width = f + 1;
    const double from = space.lower[first];
    const double to = last < n ? space.lower[last] : INFINITY;
    const std::size_t base = first >= f ? first - f : 0;
    const auto row = [&](std::size_t i) {
        return i >= first ? band + i * width : boundary + (i - base) * width;
    };
    const Rule4 rule = rule4();
    std::vector<Live> live;
    live.reserve(width);
    // Node values of the elements inside the current interval (also weighted), with indices.
    std::vector<std::array<double, 4>> values(width), weighted(width);
    std::vector<std::size_t> inside(width);

    for (std::size_t i = base; i < first; ++i) {
        if (!(space.upper[i] > from)) continue;
        if (!ordered_segments(*shapes[i]) || live.size() == width) return false;
        Live e{i, shapes[i]};
        e.seat_at(from);
        live.push_back(e);
    }
    std::size_t started = first;
    double x = from;
    for (;;) {
        double y = started < last ? space.lower[started] : INFINITY;
        for (const Live& e : live)
            y = std::min(y, e.next);
        y = std::min(y, to);
        if (y == INFINITY) break;
        if (x < y) {
            const double half = (y - x) * 0.5;
            std::size_t m = 0;
            for (const Live& e : live) {
                if (!e.inside) continue;
                node_values(e, x, y, half, rule, values[m]);
                for (std::size_t q = 0; q < 4; ++q)
                    weighted[m][q] = half * (rule.weights[q] * values[m][q]);
                inside[m++] = e.index;
            }
            for (std::size_t a = 0; a < m; ++a) {
                double* const r = row(inside[a]);
                for (std::size_t b = a; b < m; ++b) {
                    const std::array<double, 4>& u = weighted[a];
                    const std::array<double, 4>& v = values[b];
                    r[inside[b] - inside[a]] +=
                        ((u[0] * v[0] + u[1] * v[1]) + (u[2] * v[2] + u[3] * v[3]));
                }
            }
        }
        if (y >= to) break;
        std::erase_if(live, [y](Live& e) { return !e.pass(y); });
        // Elements that start at y join in index order (they come sorted by lower end). All live
        // elements then share the interval after y, so there are at most f + 1 of them.
        while (started < last && space.lower[started] <= y) {
            // The segments of the elements about to join are fetched ahead: each element has
            // its own table, and a long space does not stay in cache.
            if (started + 4 < last) {
                __builtin_prefetch(shapes[started + 4]->segments->data());
                if (shapes[started + 4]->from_end)
                    __builtin_prefetch(shapes[started + 4]->from_end->data());
            }
            if (!ordered_segments(*shapes[started])) return false;
            Live e{started, shapes[started]};
            e.seat();
            // The first segment starts at the lower end, computed the same way.
            if (e.start != space.lower[started] || live.size() == width) return false;
            e.pass(y);
            live.push_back(e);
            ++started;
        }
        x = y;
    }
    return true;
}

} // namespace

std::optional<SparseMatrix> shape_space_gram(const Space& space) {
    const std::size_t n = space.size();
    if (n == 0) return std::nullopt;
    // Elements in order of their lower ends, each overlapping at most widest_band successors:
    // element i shares an interval of positive length only with elements j > i that start
    // before it ends. Segment tables are checked as the sweep meets them, when it reads them.
    const std::size_t chunks = (n + chunk_elements - 1) / chunk_elements;
    std::vector<const Shape*> shapes(n);
    std::vector<std::size_t> reach(chunks, 0);
    std::atomic<bool> failed{false};
    parallel_rows(chunks, [&](std::size_t c) {
        const std::size_t last = std::min(n, (c + 1) * chunk_elements);
        for (std::size_t i = c * chunk_elements; i < last; ++i) {
            const auto* s = std::get_if<Shape>(&space.elements[i]);
            std::size_t j = i + 1;
            while (s != nullptr && j < n && space.lower[j] < space.upper[i] &&
                   j - i <= widest_band)
                ++j;
            if (s == nullptr || space.order[i] != i || (j < n && j - i > widest_band &&
                                                        space.lower[j] < space.upper[i])) {
                failed.store(true, std::memory_order_relaxed);
                return;
            }
            shapes[i] = s;
            reach[c] = std::max(reach[c], j - 1 - i);
        }
    });
    if (failed.load()) return std::nullopt;
    const std::size_t f = *std::max_element(reach.begin(), reach.end());
    const std::size_t width = f + 1;
    std::vector<double> band(n * width, 0.0); // row i, offset j - i, for j >= i
    // Chunk c > 0 adds the part of the rows first - f .. first - 1 above its start here; the
    // previous chunk has summed the part below it into the band.
    std::vector<double> boundaries(chunks * f * width, 0.0);
    parallel_rows(chunks, [&](std::size_t c) {
        const std::size_t first = c * chunk_elements;
        const std::size_t last = std::min(n, first + chunk_elements);
        if (!sweep_chunk(space, shapes, f, first, last, band.data(),
                         boundaries.data() + c * f * width))
            failed.store(true, std::memory_order_relaxed);
    });
    if (failed.load()) return std::nullopt;
    for (std::size_t c = 1; c < chunks; ++c) {
        const std::size_t first = c * chunk_elements;
        const double* b = boundaries.data() + c * f * width;
        for (std::size_t i = first - f; i < first; ++i)
            for (std::size_t d = 0; d < width; ++d)
                band[i * width + d] += b[(i - (first - f)) * width + d];
    }

    // The full symmetric matrix: row i takes column j < i from band row j, then its own band row;
    // exact zeros are left out, as by every matrix builder. Counted, then written, by chunks of
    // rows in parallel.
    const auto for_each_entry = [&](std::size_t i, auto&& take) {
        for (std::size_t j = i >= f ? i - f : 0; j < i; ++j)
            if (const double v = band[j * width + (i - j)]; v != 0.0) take(j, v);
        for (std::size_t d = 0; d < width && i + d < n; ++d)
            if (const double v = band[i * width + d]; v != 0.0) take(i + d, v);
    };
    SparseMatrix g;
    g.n_rows = g.n_cols = n;
    g.indptr.assign(n + 1, 0);
    parallel_rows(chunks, [&](std::size_t c) {
        const std::size_t last = std::min(n, (c + 1) * chunk_elements);
        for (std::size_t i = c * chunk_elements; i < last; ++i) {
            std::uint64_t count = 0;
            for_each_entry(i, [&count](std::size_t, double) { ++count; });
            g.indptr[i + 1] = count;
        }
    });
    for (std::size_t i = 0; i < n; ++i)
        g.indptr[i + 1] += g.indptr[i];
    g.indices.resize(g.indptr[n]);
    g.data.resize(g.indptr[n]);
    parallel_rows(chunks, [&](std::size_t c) {
        const std::size_t last = std::min(n, (c + 1) * chunk_elements);
        for (std::size_t i = c * chunk_elements; i < last; ++i) {
            std::uint64_t at = g.indptr[i];
            for_each_entry(i, [&](std::size_t j, double v) {
                g.indices[at] = j;
                g.data[at++] = v;
            });
        }
    });
    return g;
}

} // namespace quorvel
