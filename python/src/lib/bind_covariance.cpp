// Python entry points of the product-atom covariances: covariance_matrix, covariance_diagonal
// and covariance_length_derivatives, with the conversion of the `dims` entries.
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "binder.hpp"
#include "options.hpp"
#include "quorvel/covariance.hpp"
#include "quorvel/quadrature.hpp"
#include "registry.hpp"

namespace quorvel::py {

namespace {

// One `dims` entry: (family, length, period or None, None or (space, coefficients)).
struct DimsItem {
    DimensionEntry entry;
};

// The tuple of exactly `n` items that a descriptor must be; false with the error pending.
bool check_tuple(PyObject* obj, Py_ssize_t n) {
    if (!PyTuple_Check(obj)) {
        raise_not_instance(obj, "tuple");
        return false;
    }
    const Py_ssize_t size = PyTuple_GET_SIZE(obj);
    if (size == n) return true;
    const std::string message = "expected tuple of length " + std::to_string(n) +
                                ", but got tuple of length " + std::to_string(size);
    PyErr_SetString(PyExc_ValueError, message.c_str());
    return false;
}

bool from_python(PyObject* obj, DimsItem& out) {
    // A string item is the family of one descriptor given bare instead of in a list.
    if (PyUnicode_Check(obj))
        ConversionHint::record("{name} is a list of (family, length, period, factor) tuples; "
                               "for one dimension, wrap it in a list: [(...)]");
    if (!check_tuple(obj, 4)) return false;
    DimensionEntry& e = out.entry;
    if (!py::from_python(PyTuple_GET_ITEM(obj, 0), e.family) ||
        !py::from_python(PyTuple_GET_ITEM(obj, 1), e.length) ||
        !py::from_python(PyTuple_GET_ITEM(obj, 2), e.period))
        return false;
    PyObject* factor = PyTuple_GET_ITEM(obj, 3);
    if (factor == Py_None) {
        e.factor.reset();
        return true;
    }
    if (!check_tuple(factor, 2)) return false;
    SpacePtr space;
    Sequence<double> coefficients;
    if (!py::from_python(PyTuple_GET_ITEM(factor, 0), space) ||
        !py::from_python(PyTuple_GET_ITEM(factor, 1), coefficients))
        return false;
    e.factor.emplace(std::move(space), std::move(coefficients.items));
    return true;
}

// One weight of a side: None or a real scale.
struct WeightItem {
    std::optional<double> scale;
};

bool from_python(PyObject* obj, WeightItem& out) {
    return py::from_python(obj, out.scale);
}

using Weights = Sequence<WeightItem>;

Outcome<std::vector<CovarianceDimension>> parse_dims(const Sequence<DimsItem>& dims) {
    std::vector<CovarianceDimension> out;
    out.reserve(dims.items.size());
    for (const DimsItem& item : dims.items) {
        auto dim = parse_dimension(item.entry);
        if (!dim)
            return std::unexpected(
                NotedError{std::move(dim).error(), covariance_family_note(item.entry.family)});
        out.push_back(*std::move(dim));
    }
    return out;
}

Status side_weights(const Weights& given, std::vector<CosineWeight>& out) {
    out.clear();
    for (const WeightItem& w : given.items) {
        QUORVEL_TRY_ASSIGN(const auto checked, check_weight(w.scale));
        out.push_back(checked);
    }
    return {};
}

// The number of atoms of a side, as far as its spaces agree (the core checks that they do).
std::size_t atom_count(const AtomSide& side) {
    return side.spaces.empty() || !side.spaces.front() ? 0 : side.spaces.front()->elements.size();
}

Outcome<Dense2> covariance_matrix_impl(const double& variance, const Sequence<DimsItem>& dims,
                                       const Sequence<SpacePtr>& a, const Weights& wa,
                                       const Sequence<SpacePtr>& b, const Weights& wb,
                                       const bool& symmetric) {
    QUORVEL_TRY(check_variance(variance));
    QUORVEL_TRY_ASSIGN(const auto parsed, parse_dims(dims));
    AtomSide side_a{a.items, {}}, side_b{b.items, {}};
    QUORVEL_TRY(side_weights(wa, side_a.weights));
    QUORVEL_TRY(side_weights(wb, side_b.weights));
    const ResultSizeNote size("covariance matrix", atom_count(side_a), atom_count(side_b));
    QUORVEL_TRY_ASSIGN(auto k, without_gil([&] {
                           return covariance_matrix(variance, parsed, side_a, side_b, symmetric);
                       }));
    return Dense2{k.rows, k.cols, std::move(k.data)};
}

// The arguments of the functions of one atom side, checked in their order: the variance, every
// dims entry, then every weight.
struct OneSide {
    std::vector<CovarianceDimension> dims;
    AtomSide side;
};

Outcome<OneSide> one_side(const double& variance, const Sequence<DimsItem>& dims,
                          const Sequence<SpacePtr>& a, const Weights& wa) {
    QUORVEL_TRY(check_variance(variance));
    QUORVEL_TRY_ASSIGN(auto parsed, parse_dims(dims));
    OneSide out{std::move(parsed), AtomSide{a.items, {}}};
    QUORVEL_TRY(side_weights(wa, out.side.weights));
    return out;
}

Outcome<std::vector<double>> covariance_diagonal_impl(const double& variance,
                                                      const Sequence<DimsItem>& dims,
                                                      const Sequence<SpacePtr>& a,
                                                      const Weights& wa) {
    QUORVEL_TRY_ASSIGN(const auto args, one_side(variance, dims, a, wa));
    return without_gil([&] { return covariance_diagonal(variance, args.dims, args.side); });
}

// K, then L as a list of arrays, then T as a list (per dimension) of lists of arrays.
using LengthDerivativeArrays = std::tuple<Dense2, List<Dense2>, List<List<Dense2>>>;

LengthDerivativeArrays derivative_arrays(LengthDerivatives& result);

Outcome<LengthDerivativeArrays> covariance_length_derivatives_impl(const double& variance,
                                                                   const Sequence<DimsItem>& dims,
                                                                   const Sequence<SpacePtr>& a,
                                                                   const Weights& wa) {
    QUORVEL_TRY_ASSIGN(const auto args, one_side(variance, dims, a, wa));
    const ResultSizeNote size("covariance matrices", atom_count(args.side),
                              atom_count(args.side));
    QUORVEL_TRY_ASSIGN(auto result, without_gil([&] {
                           return covariance_length_derivatives(variance, args.dims, args.side);
                       }));

    return derivative_arrays(result);
}

// The block of rows [0, split) and columns [split, n) of covariance_length_derivatives.
Outcome<LengthDerivativeArrays>
covariance_length_derivative_block_impl(const double& variance, const Sequence<DimsItem>& dims,
                                        const Sequence<SpacePtr>& a, const Weights& wa,
                                        const std::uint64_t& split) {
    QUORVEL_TRY_ASSIGN(const auto args, one_side(variance, dims, a, wa));
    QUORVEL_TRY_ASSIGN(auto result, without_gil([&] {
                           return covariance_length_derivative_block(
                               variance, args.dims, args.side, static_cast<std::size_t>(split));
                       }));
    return derivative_arrays(result);
}

LengthDerivativeArrays derivative_arrays(LengthDerivatives& result) {
    const std::size_t n = result.n, cols = result.cols;
    const auto array = [&](std::vector<double>& m) { return Dense2{n, cols, std::move(m)}; };
    LengthDerivativeArrays out{array(result.k), {}, {}};
    for (auto& m : result.l)
        std::get<1>(out).items.push_back(array(m));
    for (auto& list : result.t) {
        List<Dense2>& arrays = std::get<2>(out).items.emplace_back();
        for (auto& m : list)
            arrays.items.push_back(array(m));
    }
    return out;
}

constexpr Entry covariance_matrix_entry{
    nullptr, "covariance_matrix(variance, dims, a, wa, b, wb, symmetric=False)\n--\n\n"
             "The covariance matrix between product atoms a (rows) and b (columns); see\n"
             "`quorvel.covariance`."};
constexpr Entry covariance_diagonal_entry{nullptr,
                                          "covariance_diagonal(variance, dims, a, wa)\n--\n\n"
                                          "The variances of product atoms a."};
constexpr Entry covariance_length_derivatives_entry{
    nullptr, "covariance_length_derivatives(variance, dims, a, wa)\n--\n\n"
             "The symmetric covariance K of atoms a and \xe2\x84\x93_d "
             "\xe2\x88\x82K/\xe2\x88\x82\xe2\x84\x93_d for each dimension d."};

constexpr Entry covariance_length_derivative_block_entry{
    nullptr, "_covariance_length_derivative_block(variance, dims, a, wa, split)\n--\n\n"
             "Rows [0, split) and columns [split, n) of each array of\n"
             "covariance_length_derivatives(variance, dims, a, wa), computed alone."};

const Member members[] = {
    module_function<covariance_matrix_entry, covariance_matrix_impl>(),
    module_function<covariance_diagonal_entry, covariance_diagonal_impl>(),
    module_function<covariance_length_derivatives_entry, covariance_length_derivatives_impl>(),
};

const Member private_members[] = {
    module_function<covariance_length_derivative_block_entry,
                    covariance_length_derivative_block_impl>(),
};

} // namespace

const Members covariance_members = members;
const Members covariance_private_members = private_members;

} // namespace quorvel::py
