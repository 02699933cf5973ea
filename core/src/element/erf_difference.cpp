// erf(b) - erf(a) without cancellation in the tails: on one side of 0 the difference of the
// complementary functions keeps full relative accuracy.
#include <cmath>

#include "quorvel/profile.hpp"

namespace quorvel {

double erf_difference(double a, double b) {
    if (a >= 0.0) return std::erfc(a) - std::erfc(b);
    if (b <= 0.0) return std::erfc(-b) - std::erfc(-a);
    return std::erf(b) - std::erf(a);
}

} // namespace quorvel
