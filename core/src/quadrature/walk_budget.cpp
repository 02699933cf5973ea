// The step budget of a quadrature walk: a lower bound of the steps a walk still needs, and the
// message that names what makes its steps too short.
#include <cmath>
#include <string>

#include "quorvel/format.hpp"
#include "quorvel/stepping_walk.hpp"

namespace quorvel {
namespace {

// The distance from |y| to the next double: no step at y is shorter.
double spacing(double y) {
    const double a = std::fabs(y);
    return std::nextafter(a, INFINITY) - a;
}

// The longest step the limits allow anywhere on [a, b], and whether the cap or a factor sets it.
struct Longest {
    double lambda;
    bool cap;
};

Longest longest_step(const StepLimits& limits, double a, double b) {
    Longest l{limits.cap.length, true};
    for (const Placed& f : limits.factors) {
        const double s = step_scale_bound(*f.element, f.origin, a, b);
        if (s < l.lambda) l = {s, false};
    }
    return l;
}

// A step is at least the double spacing: where the limits ask for less, the walk moves by the
// spacing, and the quantity behind the limit is too small for double precision there.
[[noreturn]] void fail(std::span<const double> breakpoints, const StepLimits& limits,
                       const Longest& limit, bool below_spacing) {
    std::string cause;
    if (!limit.cap)
        cause = "line-shape width too small";
    else if (limits.cap.source == CapSource::Weight)
        cause = "cosine weight scale " + fmt_fixed(limits.cap.quantity) + " too large";
    else
        cause = "correlation length " + fmt_fixed(limits.cap.quantity) + " too small";
    if (below_spacing) cause += " for double precision";
    throw_invalid_input("quadrature of [" + fmt_fixed(limits.origin + breakpoints.front()) + ", " +
                        fmt_fixed(limits.origin + breakpoints.back()) + "] needs more than " +
                        std::to_string(max_walk_steps) + " steps: " + cause);
}

// A lower bound of the steps a walk from o in piece `piece` still needs, with the limit and the
// spacing test of the piece that needs the most.
struct Needed {
    double steps = 0.0;
    Longest worst_limit{0.0, true};
    bool worst_below_spacing = false;
};

Needed steps_still_needed(std::span<const double> breakpoints, std::size_t piece, double o,
                          const StepLimits& limits) {
    // Every step on [a, b] is at most 1.05 times the longer of the longest allowed step and the
    // spacing at the end farther from 0, which bounds the steps still needed from below.
    Needed r;
    double worst = -1.0;
    for (std::size_t k = piece; k + 1 < breakpoints.size(); ++k) {
        const double a = k == piece ? o : breakpoints[k];
        const double b = breakpoints[k + 1];
        if (!(a < b)) continue;
        const Longest l = longest_step(limits, a, b);
        const double sp = spacing(std::fmax(std::fabs(a), std::fabs(b)));
        const double n = (b - a) / (1.05 * std::fmax(l.lambda, sp));
        r.steps += n;
        if (n > worst) {
            worst = n;
            r.worst_limit = l;
            r.worst_below_spacing = l.lambda < sp;
        }
    }
    return r;
}

} // namespace

double walk_steps_needed(std::span<const double> breakpoints, const StepLimits& limits) {
    if (breakpoints.empty()) return 0.0;
    return steps_still_needed(breakpoints, 0, breakpoints.front(), limits).steps;
}

void fail_walk_budget(std::span<const double> breakpoints, const StepLimits& limits) {
    const Needed n = steps_still_needed(breakpoints, 0, breakpoints.front(), limits);
    fail(breakpoints, limits, n.worst_limit, n.worst_below_spacing);
}

std::uint64_t check_walk_budget(std::span<const double> breakpoints, std::size_t piece, double o,
                                const StepLimits& limits, std::uint64_t steps) {
    if (steps > max_walk_steps) {
        // The limit at the present position: the scales there, not bounds over a piece.
        Longest here{limits.cap.length, true};
        for (const Placed& f : limits.factors) {
            const double s = step_scale(*f.element, f.origin, o);
            if (s < here.lambda) here = {s, false};
        }
        fail(breakpoints, limits, here, here.lambda < spacing(o));
    }

    const Needed needed = steps_still_needed(breakpoints, piece, o, limits);
    if (needed.steps > static_cast<double>(max_walk_steps - steps))
        fail(breakpoints, limits, needed.worst_limit, needed.worst_below_spacing);
    return max_walk_steps + 1;
}

} // namespace quorvel
