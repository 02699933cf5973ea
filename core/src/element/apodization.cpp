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

// The moments m_j(theta) = j_j(theta) / theta^j of the spherical Bessel functions, j = 0..5:
// power series near 0, upward recurrence from sin and cos elsewhere.
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
    const double s = std::sin(theta);
    const double q = std::cos(theta);
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
