// The cells of the point table list exactly the overlap query's candidates, and the values from
// the digested forms equal the element values bitwise, one point at a time and several points
// together, on spaces of every kind: B-splines with their end forms and their derivatives,
// shapes with unit and other stretches, gaps and repeated knots, hats, boxes, deltas, line
// shapes (voigts also where their far expansion serves), mapped elements and mixtures,
// far from 0 as well, at random points, at every support and segment end and next to them,
// queried in ascending and in random order. The point evaluation matrix and the inner products
// of Delta rows equal the same pairings gathered row by row.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "../src/sparse/point_table.hpp"
#include "check.hpp"
#include "quorvel/constructors.hpp"
#include "quorvel/inner_products.hpp"
#include "quorvel/quadrature.hpp"
#include "quorvel/space.hpp"
#include "quorvel/sparse.hpp"

namespace {

using quorvel::Element;
using quorvel::Elements;

bool same_bits(double a, double b) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

double pairing(const Element& e, double x) {
    if (const auto* d = std::get_if<quorvel::Delta>(&e)) return d->x == x ? 1.0 : 0.0;
    return quorvel::evaluate(e, x);
}

// Every support end, every shape segment end, their neighbours, and random points around them
// and among them at a spacing of 1e-3 of their span.
std::vector<double> probe_points(const quorvel::Space& space, std::mt19937_64& rng) {
    std::vector<double> points;
    auto around = [&points](double v) {
        points.push_back(v);
        points.push_back(std::nextafter(v, INFINITY));
        points.push_back(std::nextafter(v, -INFINITY));
    };
    double lo = INFINITY, hi = -INFINITY;
    for (std::size_t j = 0; j < space.size(); ++j) {
        around(space.lower[j]);
        around(space.upper[j]);
        lo = std::min(lo, space.lower[j]);
        hi = std::max(hi, space.upper[j]);
        if (const auto* s = std::get_if<quorvel::Shape>(&space.elements[j]))
            for (const quorvel::Segment& g : *s->segments) {
                around(s->center + s->stretch * g.a);
                around(s->center + s->stretch * g.b);
            }
    }
    const double margin = 0.1 * (hi - lo);
    std::uniform_real_distribution<double> u(lo - margin, hi + margin);
    for (int k = 0; k < 3000; ++k)
        points.push_back(u(rng));
    for (int k = 0; k < 1000; ++k)
        points.push_back(lo + (hi - lo) * 1e-3 * k);
    points.push_back(0.0);
    points.push_back(-0.0);
    return points;
}

// The matrix gathered row by row from the overlap query and the element values.
quorvel::SparseMatrix reference_rows(const quorvel::Space& space, const std::vector<double>& x,
                                     const quorvel::CosineWeight* weight) {
    quorvel::SparseMatrix m;
    m.n_rows = x.size();
    m.n_cols = space.size();
    std::vector<std::size_t> candidates;
    for (double p : x) {
        quorvel::overlapping(space, p, p, candidates);
        for (std::size_t j : candidates) {
            double v = pairing(space.elements[j], p);
            if (weight && !std::holds_alternative<quorvel::Delta>(space.elements[j]))
                v *= quorvel::weight_value(*weight, p);
            if (v != 0.0) {
                m.indices.push_back(j);
                m.data.push_back(v);
            }
        }
        m.indptr.push_back(m.indices.size());
    }
    return m;
}

bool same_matrix(const quorvel::SparseMatrix& a, const quorvel::SparseMatrix& b) {
    if (a.n_rows != b.n_rows || a.n_cols != b.n_cols || a.indptr != b.indptr ||
        a.indices != b.indices || a.data.size() != b.data.size())
        return false;
    for (std::size_t k = 0; k < a.data.size(); ++k)
        if (!same_bits(a.data[k], b.data[k])) return false;
    return true;
}

void compare(const quorvel::Space& space, std::mt19937_64& rng) {
    std::vector<double> points = probe_points(space, rng);
    const auto table = quorvel::PointTable::build(space, points.size());
    CHECK(table.has_value());
    if (!table) return;
    std::vector<double> sorted = points;
    std::sort(sorted.begin(), sorted.end());
    std::shuffle(points.begin(), points.end(), rng);
    std::vector<std::size_t> expected;
    std::vector<double> values(table->widest() + 1);
    for (const std::vector<double>* list : {&sorted, &points}) {
        std::size_t cursor = 0;
        for (double x : *list) {
            quorvel::overlapping(space, x, x, expected);
            const auto cell = table->entries_at(x, cursor);
            CHECK(cell.size() == expected.size());
            if (cell.size() != expected.size()) continue;
            quorvel::point_values(table->forms(), table->kind(), cell, x, values.data());
            for (std::size_t k = 0; k < cell.size(); ++k) {
                CHECK(cell[k].column == expected[k]);
                CHECK(same_bits(values[k], pairing(space.elements[expected[k]], x)));
            }
        }
        // Several points at a time, in runs of every length up to 40.
        quorvel::PointScratch scratch;
        std::uniform_int_distribution<std::size_t> run(1, 40);
        for (std::size_t i = 0; i < list->size();) {
            const std::size_t n = std::min(run(rng), list->size() - i);
            std::vector<quorvel::PointQuery> queries;
            std::size_t total = 0;
            for (std::size_t r = 0; r < n; ++r) {
                const double x = (*list)[i + r];
                queries.push_back({x, table->entries_at(x, cursor)});
                total += queries.back().entries.size();
            }
            std::vector<double> out(total + 1, -1.0);
            quorvel::point_values(table->forms(), table->kind(), queries, out.data(), scratch);
            std::size_t k = 0;
            for (const quorvel::PointQuery& q : queries)
                for (const quorvel::PointEntry& e : q.entries)
                    CHECK(same_bits(out[k++], pairing(space.elements[e.column], q.x)));
            i += n;
        }
    }

    // Whole matrices: the point evaluation, and inner products of Delta rows with and without a
    // weight.
    const auto evaluated = quorvel::evaluate_points(space, points);
    CHECK(evaluated.has_value());
    if (evaluated) CHECK(same_matrix(*evaluated, reference_rows(space, points, nullptr)));
    std::vector<Element> rows;
    for (double p : sorted)
        rows.emplace_back(quorvel::Delta{p});
    const quorvel::CosineWeight none{}, cosine{0.7};
    for (const quorvel::CosineWeight* w : {&none, &cosine})
        CHECK(same_matrix(quorvel::inner_product_matrix(rows, space, *w),
                          reference_rows(space, sorted, w)));
}

Elements take(quorvel::Result<Elements> r) {
    CHECK(r.has_value());
    return r ? *r : Elements{};
}

Elements derivatives(const Elements& elements, std::uint64_t order) {
    Elements out;
    for (const Element& e : elements) {
        auto d = quorvel::derivative(e, order);
        CHECK(d.has_value());
        if (d) out.push_back(*d);
    }
    return out;
}

} // namespace

int main() {
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    auto uniform = [&](std::size_t n, double lo, double hi) {
        std::vector<double> v(n);
        for (double& x : v)
            x = lo + (hi - lo) * unit(rng);
        std::sort(v.begin(), v.end());
        return v;
    };
    // n knots from `from` at a spacing of about `step`, jittered.
    auto spaced = [&](std::size_t n, double from, double step) {
        std::vector<double> v(n);
        for (std::size_t k = 0; k < n; ++k)
            v[k] = from + step * (static_cast<double>(k) + 0.4 * unit(rng));
        return v;
    };

    std::vector<Elements> families;
    for (std::uint64_t degree = 0; degree <= 3; ++degree) {
        families.push_back(take(quorvel::bsplines(uniform(60, -3.0, 5.0), degree)));
        families.push_back(take(quorvel::bsplines_periodic(uniform(20, 1e4, 1e4 + 2.0), degree)));
    }
    for (double offset : {0.0, 1e4, 1e6}) {
        const Elements cubic = take(quorvel::bsplines(spaced(40, offset, 1e-3), 3));
        families.push_back(cubic);
        for (std::uint64_t order = 1; order <= 3; ++order)
            families.push_back(derivatives(cubic, order));
        families.push_back(take(quorvel::bsplines_clamped(spaced(30, -offset, 1e-3), 3)));
    }
    const std::vector<double> repeated{0, 0, 0, 0, .3, .3, .5, .7, .7, .7, 1, 1, 1, 1};
    families.push_back(take(quorvel::bsplines(repeated, 3)));
    families.push_back(derivatives(take(quorvel::bsplines(repeated, 3)), 2));
    families.push_back(take(quorvel::bsplines_clamped(uniform(30, -1e6, -1e6 + 1.0), 3)));
    families.push_back(take(quorvel::hats(uniform(40, -2.0, 2.0))));
    families.push_back(derivatives(take(quorvel::hats(uniform(20, -2.0, 2.0))), 1));
    families.push_back(take(quorvel::hats(spaced(40, 1e6, 1e-3))));
    families.push_back(take(quorvel::boxes(uniform(40, -2.0, 2.0))));
    families.push_back(take(quorvel::boxes(spaced(40, -1e4, 1e-3))));
    const std::vector<double> shape_x{-1.0, -0.3, 0.2, 1.0}, shape_y{0.0, 1.0, 0.5, 2.0};
    const std::vector<double> stretch{0.37}, top{0.1}, bottom{0.4};
    for (auto interp : {quorvel::Interpolation::Linear, quorvel::Interpolation::Pchip})
        families.push_back(
            take(quorvel::shifted(shape_x, shape_y, uniform(25, -2.0, 2.0), stretch, interp)));
    families.push_back(take(quorvel::trapezoids(uniform(20, 0.0, 3.0), top, bottom)));
    std::vector<double> positions = uniform(30, -1.0, 1.0);
    positions[3] = positions[4];
    families.push_back(take(quorvel::deltas(positions)));
    const std::vector<double> widths = uniform(15, 0.05, 0.4);
    const std::vector<double> narrow = uniform(15, 1e-10, 2e-10);
    families.push_back(take(quorvel::gaussians(uniform(15, -2.0, 2.0), widths, 5.0)));
    families.push_back(take(quorvel::gaussians(spaced(15, 1e6, 1e-3), widths, 40.0)));
    families.push_back(take(quorvel::lorentzians(uniform(15, -2.0, 2.0), widths, 9.0)));
    families.push_back(take(quorvel::lorentzians(spaced(15, -1e4, 1e-3), widths, 50.0)));
    families.push_back(take(quorvel::voigts(uniform(15, -2.0, 2.0), widths, widths, 7.0)));
    families.push_back(take(quorvel::voigts(spaced(15, 1e6, 1e-3), widths, widths, 30.0)));
    // Wide Cauchy parts, where the expansion serves the whole line, and narrow normal parts
    // with a huge cutoff, where it serves the far points.
    const std::vector<double> wide = uniform(15, 4.0, 9.0);
    families.push_back(take(quorvel::voigts(uniform(15, -2.0, 2.0), widths, wide, 3.0)));
    // (Supports over the whole line: left out of the mixture, whose cells they would fill.)
    const Elements far = take(quorvel::voigts(uniform(15, -2.0, 2.0), widths, narrow, 1e9));
    compare(quorvel::build_space(far), rng);
    families.push_back(take(quorvel::pseudo_voigts(uniform(15, -2.0, 2.0), widths, widths, 6.0)));
    families.push_back(take(quorvel::harmonics(4, 3.0, -1.0)));
    const Elements inner = take(quorvel::bsplines(uniform(12, 1.0, 3.0), 3));
    families.push_back(take(quorvel::mapped(inner, quorvel::MapKind::Reciprocal, 2.0, 0.0, true)));
    families.push_back(take(quorvel::mapped(inner, quorvel::MapKind::Affine, -0.5, 1.5, false)));

    Elements mixture;
    for (const Elements& f : families) {
        compare(quorvel::build_space(f), rng);
        for (std::size_t k = 0; k < f.size(); k += 3)
            mixture.push_back(f[k]);
    }
    compare(quorvel::build_space(mixture), rng);
    return quorvel::test::failures;
}
