// Both parts of the Faddeeva function and of its slope, which the Python interface does not expose,
// against values from mpmath (erfc at a working precision that covers its cancellation), in every
// region of the evaluation; and the value is the same with and without the slope.
#include <cmath>
#include <utility>

#include "check.hpp"
#include "quorvel/faddeeva.hpp"

namespace {

struct Reference {
    double x, y, re, im, slope_re, slope_im;
};

constexpr Reference references[] = {
    {0.5, 0.3, 0.614851539146991, 0.3031243496473511, -0.4329769293585804, 0.45634389395996694},
    {3.0, 2.0, 0.09271076642644334, 0.12831696222826158, -0.0429967496456137,
     -0.012365671979830215},
    {4.0, 0.05, 0.001962170887009435, 0.14592594097867062, -0.0011047729982084178,
     -0.03922457782255336},
    {5.9, 1e-10, 1.696969938847702e-12, 0.0970628171206851, -6.116818542658632e-13,
     -0.01696207492857163},
    {10.0, 0.05, 0.000286428453614216, 0.05670393981751957, -5.817509053236305e-05,
     -0.005728272100240206},
    {8.5, 8.5, 0.03330124644642656, 0.033071615535004394, -0.0039037254941768802,
     4.051341118635868e-05},
    {-7.5, 0.3, 0.0030877814871104184, -0.07578559870214388, 0.0008453630853699497,
     -0.01025748232891178},
    {1000.0, 0.001, 5.641904298336832e-10, 0.000564189865642407, -1.1283825522434515e-12,
     -5.641904298325548e-07},
    {1e10, 1.0, 5.6418958354775626e-21, 5.641895835477563e-11, -1.1283791670955125e-30,
     -5.6418958354775626e-21},
    {0.0, 0.001, 0.9988726200811514, 0.0, 0.0, 1.1263814218553503},
};

bool close(double got, double want, double rel) {
    return std::abs(got - want) <= rel * std::abs(want);
}

} // namespace

int main() {
    for (const Reference& r : references) {
        const quorvel::ComplexValue w = quorvel::faddeeva(r.x, r.y);
        const quorvel::WithSlope ws = quorvel::faddeeva_with_slope(r.x, r.y);
        CHECK(w.re == ws.w.re && w.im == ws.w.im);
        CHECK(close(w.re, r.re, 1e-13));
        CHECK(close(w.im, r.im, 1e-13));
        // The slope's real part next to the axis comes from derivatives of Dawson's function
        // whose recurrence cancels by about x^4.
        CHECK(close(ws.slope.re, r.slope_re, 1e-11));
        CHECK(close(ws.slope.im, r.slope_im, 1e-12));
    }
    // Non-finite arguments give NaN in both parts.
    for (const auto& [x, y] : {std::pair{INFINITY, 1.0}, {1.0, INFINITY}, {NAN, 0.0}, {0.0, NAN}}) {
        const quorvel::WithSlope ws = quorvel::faddeeva_with_slope(x, y);
        CHECK(std::isnan(ws.w.re) && std::isnan(ws.w.im));
        CHECK(std::isnan(ws.slope.re) && std::isnan(ws.slope.im));
    }
    return quorvel::test::failures;
}
