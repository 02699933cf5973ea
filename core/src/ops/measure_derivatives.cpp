// The measurement matrix W together with its exact derivatives with respect to several kernel
// parameters: one quadrature walk per kernel-element pair carries the value and every derivative,
// each sum formed exactly as the walk of one parameter forms it, so every matrix equals the one
// of measurement_derivative for its parameter entry for entry.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "../sparse/shared_row.hpp"
#include "measure_row.hpp"
#include "quorvel/measure_derivatives.hpp"
#include "quorvel/point_index.hpp"
#include "quorvel/profile.hpp"
#include "quorvel/row_assembler.hpp"
#include "quorvel/space.hpp"
#include "quorvel/stepping_walk.hpp"
#include "quorvel/voigt_point.hpp"

namespace quorvel {

namespace {

bool is_placement(ParameterKind p) {
    return p == ParameterKind::Center || p == ParameterKind::Scale;
}

bool is_voigt_parameter(ParameterKind p) {
    return is_placement(p) || p == ParameterKind::Sigma || p == ParameterKind::Gamma;
}

double voigt_derivative(const VoigtPointValues& v, ParameterKind p) {
    switch (p) {
    case ParameterKind::Center:
        return v.center;
    case ParameterKind::Scale:
        return v.scale;
    case ParameterKind::Sigma:
        return v.sigma;
    default:
        return v.gamma;
    }
}

// {V, D_1, ..., D_M} of one kernel-element pair: the inner product and its derivative with
// respect to each parameter, as pair_value_and_derivative gives them one parameter at a time.
template <std::size_t M>
Result<std::array<double, M + 1>>
pair_value_and_derivatives(const Element& kernel, const Element& element,
                           std::span<const ParameterKind, M> parameters, CosineWeight weight,
                           std::span<const std::vector<PointTerm>, M> terms,
                           std::vector<double>& list) {
    using Values = std::array<double, M + 1>;
    const auto apart = [&]() -> Result<Values> {
        Values r{};
        r[0] = pair_inner_product(kernel, element, weight, list);
        for (std::size_t k = 0; k < M; ++k) {
            QUORVEL_TRY_ASSIGN(r[k + 1], pair_parameter_derivative(kernel, element, parameters[k],
                                                                   weight, terms[k], list));
        }
        return r;
    };
    if (std::holds_alternative<Delta>(kernel) || std::holds_alternative<Delta>(element))
        return apart();
    // The window, frame and breakpoints of pair_inner_product, shared by every derivative.
    const std::optional<PairWindow> window = pair_window(kernel, element);
    if (!window) return apart();
    const double origin = window->origin, from = window->from, to = window->to;

    const Placed k{&kernel, origin}, e{&element, origin};
    const Placed factors[] = {k, e};
    collect_breakpoints(factors, from, to, list);

    const auto* profile = std::get_if<Profile>(&kernel);
    // A Voigt line by its placement and widths: all values of a node from one evaluation.
    const auto* voigt = profile ? std::get_if<Voigt>(&profile->kind) : nullptr;
    if (voigt && std::all_of(parameters.begin(), parameters.end(), is_voigt_parameter)) {
        const double peak_slope = voigt_peak_slope(*voigt);
        const auto all = [&](double y) {
            const double b = evaluate_at(element, origin, y);
            const VoigtPointValues p = voigt_point_at(*profile, *voigt, peak_slope, origin, y);
            Values v;
            v[0] = p.value * b;
            for (std::size_t m = 0; m < M; ++m)
                v[m + 1] = voigt_derivative(p, parameters[m]) * b;
            return v;
        };
        Values r = integrate_between(factors, weight, origin, list, all);
        for (std::size_t m = 0; m < M; ++m)
            r[m + 1] = point_masses(k, e, weight, terms[m]) + r[m + 1];
        return r;
    }

    // A moved or stretched profile gives its value with the derivative; the other parameters
    // take the pointwise derivative (a failure is kept and reported instead of a value).
    std::optional<CoreError> failure;
    const auto all = [&](double y) {
        Values v;
        const double b = evaluate_at(element, origin, y);
        std::optional<double> value;
        for (std::size_t m = 0; m < M; ++m) {
            if (profile && is_placement(parameters[m])) {
                const auto [f, d] =
                    value_and_placement_derivative_at(*profile, parameters[m], origin, y);
                if (!value) value = f;
                v[m + 1] = d * b;
                continue;
            }
            auto d = parameter_derivative_at(kernel, parameters[m], origin, y);
            if (!d) {
                if (!failure) failure = std::move(d.error());
                v[m + 1] = 0.0;
                continue;
            }
            double slope = *d;
            slope *= b;
            v[m + 1] = slope;
        }
        v[0] = (value ? *value : evaluate_at(kernel, origin, y)) * b;
        return v;
    };
    Values r = integrate_between(factors, weight, origin, list, all);
    if (failure) return std::unexpected(std::move(*failure));
    for (std::size_t m = 0; m < M; ++m)
        r[m + 1] = point_masses(k, e, weight, terms[m]) + r[m + 1];
    return r;
}

// Lists owned by one worker and reused for all its rows.
struct DerivativesScratch {
    std::vector<std::size_t> candidates;
    std::vector<double> breakpoints;
    std::vector<std::vector<PointTerm>> terms;
    SharedRowScratch row;
};

// One row: the stored columns with V and every D, rescaled in place into W = V / N and
// dW = (D - dN W) / N once the row's normaliser is known.
template <std::size_t M>
Status derivatives_row(const Element& kernel, const Space& basis, const PointIndex& index,
                       Normalization normalization, std::span<const ParameterKind, M> parameters,
                       CosineWeight weight, DerivativesScratch& s, RowSink<M + 1>& sink) {
    s.terms.resize(M);
    const std::span<const std::vector<PointTerm>, M> terms(s.terms.data(), M);
    for (std::size_t m = 0; m < M; ++m)
        QUORVEL_TRY(point_terms(kernel, parameters[m], s.terms[m]));

    const Support sk = support(kernel);
    index.overlapping(sk.lower, sk.upper, s.candidates);
    // Line-shape kernels against FTS samples: one walk for the row.
    SharedRow<M + 1> shared;
    KernelQuantities<M> quantities(kernel, parameters);
    const bool one_walk =
        !weight && shared.prepare(kernel, s.candidates, basis, quantities, s.row);
    const Placed k{&kernel, shared.origin()};
    for (std::size_t j : s.candidates) {
        const Element& b = basis.elements[j];
        std::array<double, M + 1> v;
        if (one_walk && shared.shares(b)) {
            v = shared.pair(b, quantities);
            if (quantities.failure) return std::unexpected(std::move(*quantities.failure));
            for (std::size_t m = 0; m < M; ++m)
                v[m + 1] = point_masses(k, {&b, shared.origin()}, weight, terms[m]) + v[m + 1];
        } else {
            QUORVEL_TRY_ASSIGN(v, pair_value_and_derivatives<M>(kernel, b, parameters, weight,
                                                                terms, s.breakpoints));
        }
        bool zero = true;
        for (double x : v)
            zero = zero && x == 0.0;
        if (zero) continue;
        [&]<std::size_t... i>(std::index_sequence<i...>) {
            sink.push(j, v[i]...);
        }(std::make_index_sequence<M + 1>{});
    }

    // One normaliser, and its derivative for each parameter.
    const std::span<double> w = sink.row_values(0);
    std::array<double, M> dn;
    double n = 1.0;
    for (std::size_t m = 0; m < M; ++m) {
        QUORVEL_TRY_ASSIGN(const RowNormalizer norm,
                           row_normalizer(kernel, normalization, parameters[m], weight,
                                          s.terms[m], w, sink.row_values(m + 1), s.breakpoints));
        n = norm.n;
        dn[m] = norm.dn;
    }

    // Quotient rule.
    const RowScale scale(n);
    for (std::size_t m = 0; m < M; ++m) {
        const std::span<double> dw = sink.row_values(m + 1);
        for (std::size_t k = 0; k < w.size(); ++k)
            dw[k] = scale(dw[k] - dn[m] * scale(w[k]));
    }
    for (double& x : w)
        x = scale(x);
    return {};
}

template <std::size_t M>
Result<std::vector<SparseMatrix>>
derivatives_of(std::span<const Element> kernels, const Space& basis, Normalization normalization,
               std::span<const ParameterKind> parameters, CosineWeight weight) {
    const std::span<const ParameterKind, M> fixed(parameters.data(), M);
    const PointIndex index(basis, kernels.size());
    auto row = [&](std::size_t i, DerivativesScratch& s, RowSink<M + 1>& sink) {
        return derivatives_row<M>(kernels[i], basis, index, normalization, fixed, weight, s,
                                  sink);
    };
    refuse_oversized_rows<M + 1>(kernels.size(), basis.size(),
                                 [&](std::size_t i, std::vector<std::size_t>& candidates) {
                                     const Support s = support(kernels[i]);
                                     index.overlapping(s.lower, s.upper, candidates);
                                     return candidates.size();
                                 });
    QUORVEL_TRY_ASSIGN(auto matrices, (assemble_rows<DerivativesScratch, M + 1>(
                                          kernels.size(), basis.size(), row)));
    return std::vector<SparseMatrix>(std::make_move_iterator(matrices.begin()),
                                     std::make_move_iterator(matrices.end()));
}

template <std::size_t... M>
Result<std::vector<SparseMatrix>>
dispatch(std::index_sequence<M...>, std::span<const Element> kernels, const Space& basis,
         Normalization normalization, std::span<const ParameterKind> parameters,
         CosineWeight weight) {
    using Builder = Result<std::vector<SparseMatrix>> (*)(std::span<const Element>, const Space&,
                                                          Normalization,
                                                          std::span<const ParameterKind>,
                                                          CosineWeight);
    static constexpr Builder builders[] = {&derivatives_of<M + 1>...};
    return builders[parameters.size() - 1](kernels, basis, normalization, parameters, weight);
}

} // namespace

Result<std::vector<SparseMatrix>>
measurement_derivatives(std::span<const Element> kernels, const Space& basis,
                        Normalization normalization, std::span<const ParameterKind> parameters,
                        CosineWeight weight) {
    for (std::size_t m = 0; m < parameters.size(); ++m)
        for (std::size_t k = 0; k < m; ++k)
            if (parameters[k] == parameters[m])
                return invalid_input("parameter " + std::string(parameter_name(parameters[m])) +
                                     " is given twice");
    // Distinct kinds, so at most max_measure_parameters of them.
    if (parameters.empty()) {
        std::vector<SparseMatrix> only;
        only.push_back(measurement_matrix(kernels, basis, normalization, weight));
        return only;
    }
    return dispatch(std::make_index_sequence<max_measure_parameters>{}, kernels, basis,
                    normalization, parameters, weight);
}

} // namespace quorvel
