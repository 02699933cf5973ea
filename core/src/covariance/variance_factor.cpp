// The amplitude profile of a dimension: a linear combination of piecewise-polynomial elements,
// re-expressed as a single cubic Shape.
#include <cmath>
#include <memory>

#include "dimension.hpp"
#include "quorvel/covariance.hpp"

namespace quorvel {
namespace {

// Monomial coefficients a0..a3 in tau of the cubic through (tau_k, y_k) for tau = 1/8, 3/8, 5/8,
// 7/8: the rows of the inverse Vandermonde matrix of these nodes.
void cubic_through_samples(const double y[4], double a[4]) {
    a[0] = (35.0 * y[0] - 35.0 * y[1] + 21.0 * y[2] - 5.0 * y[3]) / 16.0;
    a[1] = (-71.0 * y[0] + 141.0 * y[1] - 93.0 * y[2] + 23.0 * y[3]) / 6.0;
    a[2] = 20.0 * y[0] - 52.0 * y[1] + 44.0 * y[2] - 12.0 * y[3];
    a[3] = (-32.0 * y[0] + 96.0 * y[1] - 96.0 * y[2] + 32.0 * y[3]) / 3.0;
}

} // namespace

double VarianceFactor::value(double origin, double y) const {
    double v = 0.0;
    for (std::size_t j = 0; j < sources.size(); ++j)
        v += coefficients[j] * evaluate_at(sources[j], origin, y);
    return v;
}

double amplitude_value(const CovarianceDimension& dim, const Element* s, double origin, double y) {
    if (s == nullptr) return 1.0;
    if (dim.factor && s == &dim.factor->shape) return dim.factor->value(origin, y);
    return evaluate_at(*s, origin, y);
}

Result<VarianceFactor> make_variance_factor(const Space& space, std::span<const double> c) {
    const std::vector<Element>& elements = space.elements;
    if (elements.empty() || elements.size() != c.size())
        return invalid_input("a linear combination needs one coefficient per element");
    for (const Element& e : elements)
        if (!is_polynomial(e))
            return invalid_input("a linear combination needs piecewise-polynomial elements");
    for (double v : c)
        if (!std::isfinite(v)) return invalid_input("coefficients must be finite");

    double lo = NAN, hi = NAN;
    for (const Element& e : elements) {
        const Support s = support(e);
        lo = std::fmin(lo, s.lower);
        hi = std::fmax(hi, s.upper);
    }

    // Every element is a polynomial between consecutive breakpoints of the whole family.
    std::vector<Placed> factors;
    factors.reserve(elements.size());
    for (const Element& e : elements)
        factors.push_back({&e, 0.0});
    std::vector<double> points;
    collect_breakpoints(factors, lo, hi, points);

    // Samples at x0 + delta tau, each element evaluated from x0 by evaluate_at: the positions
    // are then exact to rounding in the segment's own variable, far from 0 as well.
    const auto sum = [&](double x0, double offset) {
        double v = 0.0;
        for (std::size_t j = 0; j < elements.size(); ++j)
            v += c[j] * evaluate_at(elements[j], x0, offset);
        return v;
    };
    constexpr double taus[4] = {0.125, 0.375, 0.625, 0.875};
    std::vector<Segment> segments;
    segments.reserve(points.size());
    for (std::size_t k = 0; k + 1 < points.size(); ++k) {
        const double x0 = points[k];
        const double delta = points[k + 1] - x0;
        double y[4], a[4];
        for (int m = 0; m < 4; ++m)
            y[m] = sum(x0, delta * taus[m]);
        cubic_through_samples(y, a);
        segments.push_back({a[0], a[1] / delta, a[2] / (delta * delta),
                            a[3] / (delta * delta * delta), x0, points[k + 1]});
    }
    QUORVEL_TRY(check_segments(segments));

    VarianceFactor factor{
        std::vector<Element>(elements.begin(), elements.end()),
        std::vector<double>(c.begin(), c.end()),
        Shape{std::make_shared<const std::vector<Segment>>(std::move(segments)), 0.0, 1.0}};
    return factor;
}

} // namespace quorvel
