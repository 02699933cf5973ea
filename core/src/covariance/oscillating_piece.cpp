// The outer integral of a covariance over a piece clear of the kernel's kinks, between polynomial
// elements with cosine weights, in closed form: there the inner value is
// A(x) cos(w x) - B(x) sin(w x) with A and B from the kernel's weighted moments, and the outer
// integrand is a polynomial times cosines and sines, whose integral takes a bounded number of
// operations at any frequency.
#include <array>
#include <cmath>
#include <complex>
#include <numbers>

#include "dimension.hpp"

namespace quorvel {
namespace {

using Complex = std::complex<double>;
using Cubic = std::array<double, 4>;   // coefficients of tau^0 ... tau^3
using Sextic = std::array<double, 7>;  // of tau^0 ... tau^6

// The cubic in tau on [-1, 1] through the values at tau = -3/4, -1/4, 1/4, 3/4 (interior nodes,
// so a half-open element end never decides a value).
Cubic cubic_through(const std::array<double, 4>& f) {
    const double e1 = 0.5 * (f[2] + f[1]), e3 = 0.5 * (f[3] + f[0]);
    const double o1 = 0.5 * (f[2] - f[1]), o3 = 0.5 * (f[3] - f[0]);
    const double a2 = 2.0 * (e3 - e1);
    const double a3 = 8.0 * (o3 - 3.0 * o1) / 3.0;
    return {e1 - a2 / 16.0, 4.0 * (o1 - a3 / 64.0), a2, a3};
}

Cubic sample(const Element& e, double origin, double c, double h) {
    constexpr std::array<double, 4> tau{-0.75, -0.25, 0.25, 0.75};
    std::array<double, 4> f{};
    for (std::size_t j = 0; j < 4; ++j)
        f[j] = evaluate_at(e, origin, c + h * tau[j]);
    return cubic_through(f);
}

Sextic times(const Cubic& p, const Cubic& q) {
    Sextic r{};
    for (std::size_t i = 0; i < 4; ++i)
        for (std::size_t j = 0; j < 4; ++j)
            r[i + j] += p[i] * q[j];
    return r;
}

// int_{-1}^{1} R(tau) e^{i theta tau} d tau for |theta| <= 1: the exponential's Taylor series
// against the moments of tau, until the terms fall below rounding.
Complex small_phase(const Sextic& r, double theta) {
    Complex sum = 0.0, term = 1.0; // (i theta)^k / k!
    for (int k = 0; k < 40; ++k) {
        double mu = 0.0; // int R(tau) tau^k
        for (int j = 0; j < 7; ++j)
            if ((j + k) % 2 == 0) mu += r[j] * 2.0 / (j + k + 1);
        sum += term * mu;
        if (std::abs(term) < 1e-19 && k > 6) break;
        term *= Complex(0.0, theta) / double(k + 1);
    }
    return sum;
}

// R(c + w u) as a polynomial of u (Taylor shift and scaling).
Sextic shifted(const Sextic& r, double c, double w) {
    Sextic out{};
    // Horner: out = ((r6 (c + w u) + r5) (c + w u) + ...).
    for (int j = 6; j >= 0; --j) {
        Sextic next{};
        for (int k = 0; k < 7; ++k) {
            next[k] += out[k] * c;
            if (k + 1 < 7) next[k + 1] += out[k] * w;
        }
        next[0] += r[j];
        out = next;
    }
    return out;
}

// int_{-1}^{1} R(tau) e^{i theta tau} d tau for any theta: the series where |theta| <= 1, the
// same on ceil(|theta|) sub-panels up to |theta| = 64, and repeated integration by parts beyond,
// where the derivatives of a sextic fall by |theta| per term.
Complex phase_integral(const Sextic& r, double theta) {
    const double t = std::fabs(theta);
    if (t <= 1.0) return small_phase(r, theta);
    if (t <= 64.0) {
        const int n = static_cast<int>(std::ceil(t));
        const double w = 1.0 / n;
        Complex sum = 0.0;
        for (int p = 0; p < n; ++p) {
            const double c = -1.0 + (2.0 * p + 1.0) * w;
            sum += std::polar(1.0, theta * c) * (w * small_phase(shifted(r, c, w), theta * w));
        }
        return sum;
    }
    // sum_k (-1)^k [R^(k)(tau) e^{i theta tau}] from -1 to 1 over (i theta)^(k + 1).
    const Complex up = std::polar(1.0, theta), down = std::polar(1.0, -theta);
    Complex sum = 0.0, power = Complex(0.0, theta);
    Sextic d = r;
    double sign = 1.0;
    for (int k = 0; k < 7; ++k) {
        double at_plus = 0.0, at_minus = 0.0; // R^(k)(1), R^(k)(-1)
        for (int j = 6; j >= 0; --j) {
            at_plus = at_plus + d[j];
            at_minus = -at_minus + d[j];
        }
        sum += sign * (at_plus * up - at_minus * down) / power;
        for (int j = 0; j < 6; ++j)
            d[j] = d[j + 1] * (j + 1);
        d[6] = 0.0;
        power *= Complex(0.0, theta);
        sign = -sign;
    }
    return sum;
}

} // namespace

KernelMoments kernel_moments(const CovarianceDimension& dim, double omega) {
    const double l = dim.length;
    const std::optional<MaternOrder> order = correlation_order(dim.kind);
    if (!order) {
        // Derivatives in omega of sqrt(2 pi) l exp(-omega^2 l^2 / 2), the kernel's transform.
        const double l2 = l * l, w2l2 = (omega * l) * (omega * l);
        const double g = std::sqrt(2.0 * std::numbers::pi) * l * std::exp(-0.5 * w2l2);
        return {g, omega * l2 * g, l2 * (1.0 - w2l2) * g, omega * l2 * l2 * (3.0 - w2l2) * g};
    }
    // Matérn kernels: k(t) = p(a t) e^{-a t} for t > 0, and
    // int_0^inf t^j e^{-(a - i omega) t} dt = j! / (a - i omega)^(j + 1).
    const double rho = *order == MaternOrder::Half          ? 1.0
                       : *order == MaternOrder::ThreeHalves ? constants::sqrt3
                                                             : constants::sqrt5;
    const double a = rho / l;
    const std::array<double, 3> p = *order == MaternOrder::Half ? std::array{1.0, 0.0, 0.0}
                                     : *order == MaternOrder::ThreeHalves
                                         ? std::array{1.0, 1.0, 0.0}
                                         : std::array{1.0, 1.0, 1.0 / 3.0};
    const Complex inv = 1.0 / Complex(a, -omega);
    std::array<Complex, 7> powers{}; // j! / (a - i omega)^(j + 1)
    Complex pw = inv;
    double factorial = 1.0;
    for (int j = 0; j < 7; ++j) {
        powers[j] = factorial * pw;
        pw *= inv;
        factorial *= j + 1;
    }
    std::array<Complex, 4> half{}; // int_0^inf k(t) t^n e^{i omega t} dt
    for (int n = 0; n < 4; ++n) {
        double aq = 1.0;
        for (int q = 0; q < 3; ++q) {
            half[n] += p[q] * aq * powers[n + q];
            aq *= a;
        }
    }
    // The even kernel: the cosine moments are twice the real parts, the sine moments twice the
    // imaginary parts.
    return {2.0 * half[0].real(), 2.0 * half[1].imag(), 2.0 * half[2].real(),
            2.0 * half[3].imag()};
}

double oscillating_piece(const CovarianceDimension& dim, const CovarianceFactor& phi,
                         const CovarianceFactor& psi, double origin, double a, double b) {
    const double c = 0.5 * (a + b), h = 0.5 * (b - a);
    const double w_phi = phi.weight ? *phi.weight : 0.0;
    const double w_psi = psi.weight ? *psi.weight : 0.0;
    const Cubic p = sample(phi.element, origin, c, h);
    const Cubic q = sample(psi.element, origin, c, h);
    const KernelMoments k = kernel_moments(dim, w_psi);
    // A = c0 Q + c2 Q'' / 2 and B = s1 Q' + s3 Q''' / 6, derivatives in x = c + h tau.
    const double h2 = h * h;
    const Cubic A{k.c0 * q[0] + k.c2 * q[2] / h2, k.c0 * q[1] + 3.0 * k.c2 * q[3] / h2,
                  k.c0 * q[2], k.c0 * q[3]};
    const Cubic B{k.s1 * q[1] / h + k.s3 * q[3] / (h2 * h), 2.0 * k.s1 * q[2] / h,
                  3.0 * k.s1 * q[3] / h, 0.0};
    const Sextic pa = times(p, A), pb = times(p, B);
    // cos(u X) cos(v X) and cos(u X) sin(v X) as sums over the frequencies u - v and u + v, at
    // X = origin + c + h tau.
    const double centre = origin + c;
    const auto e = [&](const Sextic& r, double omega) {
        return std::polar(1.0, omega * centre) * phase_integral(r, omega * h);
    };
    const double diff = w_phi - w_psi, sum = w_phi + w_psi;
    const Complex pa_diff = e(pa, diff), pa_sum = e(pa, sum);
    const Complex pb_diff = e(pb, diff), pb_sum = e(pb, sum);
    return 0.5 * h *
           (pa_diff.real() + pa_sum.real() - pb_sum.imag() + pb_diff.imag());
}

} // namespace quorvel
