// The inner product of a kernel and a basis element and its parameter derivative, computed in one
// walk, equal bit for bit the two computed apart (pair_inner_product and
// pair_parameter_derivative): kernels of several kinds on boxes, hats and B-splines, knots near
// 0 and far from it with small spacing, with and without a cosine weight, every parameter a kind
// has (and the errors of those it has not).
#include <array>
#include <bit>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "../src/ops/measure_row.hpp"
#include "check.hpp"
#include "quorvel/constructors.hpp"
#include "quorvel/measure.hpp"
#include "quorvel/quadrature.hpp"

namespace {

using quorvel::Element;
using quorvel::Elements;
using quorvel::ParameterKind;

bool same_bits(double a, double b) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

std::vector<double> uniform(double offset, double step, std::size_t n) {
    std::vector<double> t(n);
    for (std::size_t i = 0; i < n; ++i)
        t[i] = offset + step * static_cast<double>(i);
    return t;
}

Elements must(quorvel::Result<Elements> r) {
    CHECK(r.has_value());
    return r ? std::move(*r) : Elements{};
}

void check_pairs(const Elements& kernels, const Elements& basis, quorvel::CosineWeight weight) {
    constexpr std::array parameters{ParameterKind::Center,    ParameterKind::Scale,
                                    ParameterKind::Sigma,     ParameterKind::Gamma,
                                    ParameterKind::Eta,       ParameterKind::Power,
                                    ParameterKind::Asymmetry, ParameterKind::HalfWidth};
    std::vector<quorvel::PointTerm> terms;
    std::vector<double> list;
    for (const Element& k : kernels) {
        for (ParameterKind p : parameters) {
            if (!quorvel::point_terms(k, p, terms)) continue;
            for (const Element& b : basis) {
                const auto both = quorvel::pair_value_and_derivative(k, b, p, weight, terms, list);
                const double v = quorvel::pair_inner_product(k, b, weight, list);
                const auto d = quorvel::pair_parameter_derivative(k, b, p, weight, terms, list);
                CHECK(both.has_value() == d.has_value());
                if (!both || !d) {
                    if (!both && !d) CHECK(both.error().message == d.error().message);
                    continue;
                }
                CHECK(same_bits((*both)[0], v));
                CHECK(same_bits((*both)[1], *d));
            }
        }
    }
}

void test_kernels_on_bases() {
    std::mt19937_64 rng(11);
    for (double offset : {0.0, 1e4, 1e6}) {
        const double h = offset == 0.0 ? 0.1 : 1e-3;
        const std::vector<double> t = uniform(offset, h, 24);
        std::vector<double> centers, sigma, gamma;
        std::uniform_real_distribution<double> at(t[4], t[19]), width(0.3 * h, 2.0 * h);
        for (int i = 0; i < 5; ++i) {
            centers.push_back(at(rng));
            sigma.push_back(width(rng));
            gamma.push_back(width(rng));
        }
        const std::vector<Elements> kernels{
            must(quorvel::gaussians(centers, sigma, 4.0)),
            must(quorvel::lorentzians(centers, gamma, 6.0)),
            must(quorvel::voigts(centers, sigma, gamma, 5.0)),
            must(quorvel::boxes(std::vector<double>{t[5], t[7] + 0.3 * h, t[12]})),
            must(quorvel::bsplines(std::vector<double>(t.begin() + 3, t.begin() + 9), 2)),
        };
        const std::vector<Elements> bases{
            must(quorvel::boxes(t)),
            must(quorvel::hats(t)),
            must(quorvel::bsplines(t, 3)),
            must(quorvel::bsplines_clamped(t, 2)),
        };
        for (const Elements& k : kernels)
            for (const Elements& b : bases)
                for (quorvel::CosineWeight w :
                     {quorvel::CosineWeight{}, quorvel::CosineWeight{2.5 / h}})
                    check_pairs(k, b, w);
    }
}

} // namespace

int main() {
    test_kernels_on_bases();
    return quorvel::test::failures;
}
