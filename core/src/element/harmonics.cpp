// A Fourier basis on one period: cos and sin of wavenumbers 1..n as profiles whose phase already
// holds the shift to the common center, so they are cos(2 pi k x / P) and sin(2 pi k x / P) in
// absolute x whatever the start.
#include <cmath>
#include <new>

#include "quorvel/constants.hpp"
#include "profile/dispatch.hpp"
#include "quorvel/constructors.hpp"

namespace quorvel {

namespace c = constants;

Result<Elements> harmonics(std::uint64_t n, double period, double start) {
    if (n == 0) return invalid_input("harmonics need n >= 1");
    if (!(period > 0.0 && period < INFINITY) || !std::isfinite(start))
        return invalid_input("harmonics need a finite period > 0 and a finite start");
    const double x0 = start + period * 0.5;
    if (!std::isfinite(x0)) return invalid_input("harmonic phase and center must be finite");
    const double half = period * 0.5;
    Elements out;
    // 2 n elements must be addressable; a larger request is memory exhaustion, not a wrapped count.
    if (n > out.max_size() / 2) throw std::bad_alloc();
    out.reserve(static_cast<std::size_t>(2 * n));
    for (std::uint64_t k = 1; k <= n; ++k) {
        const double wavenumber = static_cast<double>(k);
        for (double base : {0.0, -c::half_pi}) {
            const double phase = base + ((wavenumber * c::two_pi) * x0) / period;
            // A far-away center can overflow the phase even when the center itself is finite.
            if (!std::isfinite(phase))
                return invalid_input("harmonic phase and center must be finite");
            const ProfileKind kind = Harmonic{wavenumber, period, phase};
            QUORVEL_TRY_ASSIGN(const line_shape::Extent extent, profile_extent(kind, half));
            out.emplace_back(Profile{kind, x0, x0 - extent.left, x0 + extent.right, half});
        }
    }
    return out;
}

} // namespace quorvel
