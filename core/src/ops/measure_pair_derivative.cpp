// One entry of a measurement derivative: d/dp of the integral of kernel * element * weight, the
// kernel differentiated as the truncated function that it is (pointwise derivative plus the
// point masses of its moving jumps).
#include <array>
#include <cmath>
#include <optional>
#include <string>
#include <variant>

#include "measure_row.hpp"
#include "quorvel/measure.hpp"
#include "quorvel/stepping_walk.hpp"

namespace quorvel {

Result<double> integrate_parameter_derivative(Placed kernel, const Placed* element,
                                              ParameterKind parameter, CosineWeight weight,
                                              double origin, double lo, double hi,
                                              std::vector<double>& list) {
    const Placed factors_storage[2] = {kernel, element ? *element : kernel};
    const Factors factors(factors_storage, element ? 2 : 1);
    collect_breakpoints(factors, lo, hi, list);

    // The kernel's pair with the parameter was checked by point_terms; a failure here is kept
    // and reported instead of a value.
    std::optional<CoreError> failure;
    const auto integrand = [&](double y) {
        auto d = parameter_derivative_at(*kernel.element, parameter, kernel.origin, y);
        if (!d) {
            if (!failure) failure = std::move(d.error());
            return 0.0;
        }
        double v = *d;
        if (element) v *= evaluate_at(*element->element, element->origin, y);
        return v;
    };
    const double result = integrate_between(factors, weight, origin, list, integrand);
    if (failure) return std::unexpected(std::move(*failure));
    return result;
}

Result<double> pair_parameter_derivative(const Element& kernel, const Element& element,
                                         ParameterKind parameter, CosineWeight weight,
                                         std::span<const PointTerm> terms,
                                         std::vector<double>& list) {
    // A delta kernel moved to x0 differentiates element * weight there; it cannot be widened.
    if (const auto* delta = std::get_if<Delta>(&kernel)) {
        switch (parameter) {
        case ParameterKind::Center: {
            if (std::holds_alternative<Delta>(element)) return 0.0;
            const double x0 = delta->x;
            return slope(element, x0) * weight_value(weight, x0) +
                   evaluate(element, x0) * weight_slope(weight, x0);
        }
        case ParameterKind::Scale:
            return 0.0;
        default:
            return invalid_input("a delta has no parameter " +
                                 std::string(parameter_name(parameter)));
        }
    }

    // A delta element evaluates the kernel's derivative at its position.
    if (const auto* delta = std::get_if<Delta>(&element)) {
        QUORVEL_TRY_ASSIGN(const double d, parameter_derivative(kernel, parameter, delta->x));
        return d * weight_value(weight, delta->x);
    }

    // The frame of pair_inner_product (where the common window is not empty).
    const double origin = pair_frame_origin(
        kernel, element, std::fmax(support(kernel).lower, support(element).lower),
        std::fmin(support(kernel).upper, support(element).upper));
    return pair_parameter_derivative(Placed{&kernel, origin}, Placed{&element, origin}, parameter,
                                     weight, terms, list);
}

double point_masses(Placed kernel, Placed element, CosineWeight weight,
                    std::span<const PointTerm> terms) {
    // A point term's position in the element's coordinates: the position itself when kernel and
    // element share their coordinates, else carried over through the frame.
    const bool shared = kernel.origin == element.origin;
    const Element& b = *element.element;
    const Support sb = frame_support(element);
    double masses = 0.0;
    for (const PointTerm& t : terms) {
        const double y = t.x - kernel.origin;
        if (!(sb.lower <= y && y <= sb.upper)) continue;
        const double value = shared ? evaluate(b, t.x) : evaluate_at(b, element.origin, y);
        masses += t.c * value * weight_value(weight, shared ? t.x : element.origin + y);
    }
    return masses;
}

Result<double> pair_parameter_derivative(Placed kernel, Placed element, ParameterKind parameter,
                                         CosineWeight weight, std::span<const PointTerm> terms,
                                         std::vector<double>& list) {
    const double masses = point_masses(kernel, element, weight, terms);
    const Support sb = frame_support(element);
    const Support sk = frame_support(kernel);
    const double lo = std::fmax(sk.lower, sb.lower);
    const double hi = std::fmin(sk.upper, sb.upper);
    if (lo >= hi) return masses;
    QUORVEL_TRY_ASSIGN(const double integral,
                       integrate_parameter_derivative(kernel, &element, parameter, weight,
                                                      element.origin, lo, hi, list));
    return masses + integral;
}

Result<std::array<double, 2>>
pair_value_and_derivative(const Element& kernel, const Element& element, ParameterKind parameter,
                          CosineWeight weight, std::span<const PointTerm> terms,
                          std::vector<double>& list) {
    const auto apart = [&]() -> Result<std::array<double, 2>> {
        const double v = pair_inner_product(kernel, element, weight, list);
        QUORVEL_TRY_ASSIGN(const double d, pair_parameter_derivative(kernel, element, parameter,
                                                                     weight, terms, list));
        return std::array<double, 2>{v, d};
    };
    if (std::holds_alternative<Delta>(kernel) || std::holds_alternative<Delta>(element))
        return apart();
    // The window, frame and breakpoints of pair_inner_product, which are also those of the
    // derivative's integral (its frame has the same origin).
    const std::optional<PairWindow> window = pair_window(kernel, element);
    if (!window) return apart();
    const double origin = window->origin, from = window->from, to = window->to;

    const Placed k{&kernel, origin}, e{&element, origin};
    const double masses = point_masses(k, e, weight, terms);
    const Placed factors[] = {k, e};
    collect_breakpoints(factors, from, to, list);
    // A profile moved or stretched: its value and derivative share the costly factor.
    const auto* profile = std::get_if<Profile>(&kernel);
    if (profile && (parameter == ParameterKind::Center || parameter == ParameterKind::Scale)) {
        const auto both = [&](double y) {
            const double b = evaluate_at(element, origin, y);
            const auto [value, slope] =
                value_and_placement_derivative_at(*profile, parameter, origin, y);
            return std::array<double, 2>{value * b, slope * b};
        };
        const std::array<double, 2> r = integrate_between(factors, weight, origin, list, both);
        return std::array<double, 2>{r[0], masses + r[1]};
    }
    std::optional<CoreError> failure;
    const auto both = [&](double y) {
        const double b = evaluate_at(element, origin, y);
        const double value = evaluate_at(kernel, origin, y) * b;
        auto d = parameter_derivative_at(kernel, parameter, origin, y);
        if (!d) {
            if (!failure) failure = std::move(d.error());
            return std::array<double, 2>{value, 0.0};
        }
        double slope = *d;
        slope *= b;
        return std::array<double, 2>{value, slope};
    };
    const std::array<double, 2> r = integrate_between(factors, weight, origin, list, both);
    if (failure) return std::unexpected(std::move(*failure));
    return std::array<double, 2>{r[0], masses + r[1]};
}

} // namespace quorvel
