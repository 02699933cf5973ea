// The exponential in lanes gives exactly the bits of the single-value form, for every array
// length (padded tails), in place, and for arguments outside the lanes' range (infinities, NaN,
// results below the normal range or beyond the doubles); and it is within 2 ulp of exp computed
// in long double.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "check.hpp"
#include "quorvel/vector_math.hpp"

namespace {

bool same_bits(double a, double b) {
    return std::memcmp(&a, &b, sizeof(double)) == 0;
}

// |got - ref| in units of the spacing of doubles at ref.
double ulps(double got, long double ref) {
    const double r = static_cast<double>(ref);
    const double spacing = std::nextafter(std::abs(r), INFINITY) - std::abs(r);
    return static_cast<double>(std::abs(static_cast<long double>(got) - ref)) / spacing;
}

} // namespace

int main() {
    std::mt19937_64 random(25);
    std::uniform_real_distribution<double> wide(-760.0, 720.0), near(-40.0, 1.0);
    std::vector<double> x;
    for (int i = 0; i < 200000; ++i)
        x.push_back(i % 2 ? wide(random) : near(random));
    const double inf = std::numeric_limits<double>::infinity();
    for (double v : {0.0, -0.0, -707.0, 709.0, -708.5, -745.2, -746.0, 709.8, 710.0, inf, -inf,
                     std::numeric_limits<double>::quiet_NaN(), 1e-300, -1e-300})
        x.push_back(v);

    std::vector<double> many(x.size());
    quorvel::exp_many(x.data(), x.size(), many.data());
    double worst = 0.0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double one = quorvel::exp_one(x[i]);
        CHECK(same_bits(many[i], one) || (std::isnan(many[i]) && std::isnan(one)));
        if (std::isnormal(one))
            worst = std::max(worst, ulps(one, std::exp(static_cast<long double>(x[i]))));
    }
    CHECK(worst <= 2.0);
    CHECK(quorvel::exp_one(0.0) == 1.0 && quorvel::exp_one(-inf) == 0.0);
    CHECK(quorvel::exp_one(inf) == inf && quorvel::exp_one(710.0) == inf);

    // Every short length and offset (tails of 1 to 3 values), and in place.
    for (std::size_t n = 0; n <= 9; ++n)
        for (std::size_t start = 0; start < 5; ++start) {
            std::vector<double> out(n), in(x.begin() + start, x.begin() + start + n);
            quorvel::exp_many(x.data() + start, n, out.data());
            quorvel::exp_many(in.data(), n, in.data());
            for (std::size_t i = 0; i < n; ++i) {
                CHECK(same_bits(out[i], many[start + i]));
                CHECK(same_bits(in[i], many[start + i]));
            }
        }
    return quorvel::test::failures;
}
