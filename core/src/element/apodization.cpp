// Cosine transforms K(theta) of the apodization windows over [-1, 1], their derivatives, and
// the rendering of a window for messages.
#include "apodization_kernel.hpp"

#include <array>
#include <cmath>
#include <string_view>

#include "quorvel/constants.hpp"
#include "quorvel/format.hpp"

namespace quorvel {

namespace c = constants;

namespace {

constexpr std::array<double, 3> k_pi{c::pi, c::two_pi, c::three_pi};

double sinc(double a) {
    if (std::abs(a) >= 1e-4) return std::sin(a) / a;
    return a * a / -6.0 + 1.0;
}

double dsinc(double a) {
    if (std::abs(a) >= 0.001) return (std::cos(a) - std::sin(a) / a) / a;
    return a * (a * a) / 30.0 + a / -3.0;
}

// The moments m_j(theta) = j_j(theta) / theta^j of the spherical Bessel functions, j = 0..5, by
// upward recurrence from s = sin(theta) and q = cos(theta) (stable for |theta| >= 4).
std::array<double, 6> bessel_moments_from_phase(double theta, double s, double q) {
    std::array<double, 6> m{};
    const double t = theta * theta;
    const double j1 = s / t - q / theta;
    const double j2 = 3.0 / theta * j1 - s / theta;
    const double j3 = 5.0 / theta * j2 - j1;
    const double j4 = 7.0 / theta * j3 - j2;
    const double j5 = 9.0 / theta * j4 - j3;
    m[0] = s / theta;
    m[1] = j1 / theta;
    m[2] = j2 / t;
    m[3] = j3 / (theta * t);
    m[4] = j4 / (t * t);
    m[5] = j5 / (theta * (t * t));
    return m;
}

// The same moments of any theta: by their power series near 0, by the recurrence elsewhere.
std::array<double, 6> bessel_moments(double theta) {
    std::array<double, 6> m{};
    if (std::abs(theta) < 4.0) {
        constexpr std::array<double, 6> first{1.0,         1.0 / 3.0,   1.0 / 15.0,
                                              1.0 / 105.0, 1.0 / 945.0, 1.0 / 10395.0};
        const double x = theta * (theta * -0.5);
        for (int j = 0; j < 6; ++j) {
            double term = first[static_cast<std::size_t>(j)];
            double sum = term;
            for (int i = 1; i <= 59; ++i) {
                term = term * x / static_cast<double>(i * (2 * j + 2 * i + 1));
                sum += term;
                if (std::abs(term) < std::abs(sum) * 1e-17) break;
            }
            m[static_cast<std::size_t>(j)] = sum;
        }
        return m;
    }
    return bessel_moments_from_phase(theta, std::sin(theta), std::cos(theta));
}

// The cosine transform of (1 - u^2)^n over [-1, 1] is 2^(n+1) n! m_n.
constexpr std::array<double, 5> polynomial_factor{2.0, 4.0, 16.0, 96.0, 768.0};

template <class F> double cosine_sum(const Apodization& a, double theta, F f) {
    double k = (a.c[0] * 2.0) * f(theta);
    for (std::size_t i = 1; i <= 3; ++i) {
        if (a.c[i] != 0.0) k += a.c[i] * (f(theta - k_pi[i - 1]) + f(theta + k_pi[i - 1]));
    }
    return k;
}

std::string coefficient_list(std::string_view name, const double* c, std::size_t n) {
    std::string s(name);
    s += "([";
    for (std::size_t i = 0; i < n; ++i) {
        if (i > 0) s += ", ";
        s += fmt_debug(c[i]);
    }
    s += "])";
    return s;
}

} // namespace

double apodization_kernel(const Apodization& a, double theta) {
    switch (a.kind) {
    case Apodization::Kind::CosineSum:
        return cosine_sum(a, theta, sinc);
    case Apodization::Kind::Triangle: {
        const double s = sinc(theta * 0.5);
        return s * s;
    }
    case Apodization::Kind::Polynomial: {
        const auto m = bessel_moments(theta);
        double k = 0.0;
        for (std::size_t n = 0; n < 5; ++n)
            k += polynomial_factor[n] * a.c[n] * m[n];
        return k;
    }
    }
    throw InternalError("unknown apodization kind");
}

double apodization_kernel_slope(const Apodization& a, double theta) {
    switch (a.kind) {
    case Apodization::Kind::CosineSum:
        return cosine_sum(a, theta, dsinc);
    case Apodization::Kind::Triangle: {
        const double h = theta * 0.5;
        return sinc(h) * dsinc(h);
    }
    case Apodization::Kind::Polynomial: {
        // d m_n / d theta = -theta m_(n+1)
        const auto m = bessel_moments(theta);
        double k = 0.0;
        for (std::size_t n = 0; n < 5; ++n)
            k += polynomial_factor[n] * a.c[n] * m[n + 1];
        return -theta * k;
    }
    }
    throw InternalError("unknown apodization kind");
}

double apodization_phase_factor(const Apodization& a) {
    return a.kind == Apodization::Kind::Triangle ? 0.5 : 1.0;
}

double apodization_phase_radius(const Apodization& a) {
    switch (a.kind) {
    case Apodization::Kind::CosineSum: {
        // One radian beyond the farthest shifted sinc.
        double r = 1.0;
        for (std::size_t i = 1; i <= 3; ++i)
            if (a.c[i] != 0.0) r = 1.0 + k_pi[i - 1];
        return r;
    }
    case Apodization::Kind::Triangle:
        return 2.0;
    case Apodization::Kind::Polynomial:
        return 5.0;
    }
    throw InternalError("unknown apodization kind");
}

double apodization_kernel_from_phase(const Apodization& a, double theta, double s, double q) {
    switch (a.kind) {
    case Apodization::Kind::CosineSum: {
        // sin(theta -+ k pi) = (-1)^k sin(theta)
        double k = (a.c[0] * 2.0) * (s / theta);
        for (std::size_t i = 1; i <= 3; ++i) {
            if (a.c[i] == 0.0) continue;
            const double sk = (i % 2 == 1) ? -s : s;
            k += a.c[i] * (sk / (theta - k_pi[i - 1]) + sk / (theta + k_pi[i - 1]));
        }
        return k;
    }
    case Apodization::Kind::Triangle: {
        const double r = s / (theta * 0.5);
        return r * r;
    }
    case Apodization::Kind::Polynomial: {
        const auto m = bessel_moments_from_phase(theta, s, q);
        double k = 0.0;
        for (std::size_t n = 0; n < 5; ++n)
            k += polynomial_factor[n] * a.c[n] * m[n];
        return k;
    }
    }
    throw InternalError("unknown apodization kind");
}

std::string render_apodization(const Apodization& a) {
    switch (a.kind) {
    case Apodization::Kind::CosineSum:
        return coefficient_list("CosineSum", a.c.data(), 4);
    case Apodization::Kind::Triangle:
        return "Triangle";
    case Apodization::Kind::Polynomial:
        return coefficient_list("Polynomial", a.c.data(), 5);
    }
    throw InternalError("unknown apodization kind");
}

} // namespace quorvel
