// The one call path of every entry point: bind arguments, convert them, run the core, convert
// the result. Entry points declare their signature once, as the docstring.
//
// ADDING A MODULE FUNCTION (e.g. in bind_measure.cpp)
//
//   1. Write the implementation as a plain C++ function over converted values. Its parameters
//      are, in text-signature order, the converter types of convert.hpp (taken by const
//      reference); it returns a core value or a Result<T> that convert.hpp can turn into Python
//      (SparseMatrix, std::vector<double>, Dense2, Space, double, std::uint64_t, std::pair, ...).
//      Options parsed at the boundary (option strings, weight) are validated here, after all
//      arguments were converted; options.hpp parses option strings into an Outcome<T>, whose
//      error carries a note with the accepted names. Heavy calls wrap the core call in
//      `without_gil`:
//
//        Outcome<SparseMatrix> measure_impl(const SpacePtr& kernels, const SpacePtr& basis,
//                                           const std::string& normalization,
//                                           const std::optional<double>& weight) {
//            QUORVEL_TRY_ASSIGN(const auto norm, normalization_option(normalization));
//            QUORVEL_TRY_ASSIGN(const auto w, check_weight(weight));
//            return without_gil([&] { return measurement_matrix(...); });
//        }
//
//   2. Declare the entry once, by its owning class (nullptr here) and its docstring. The
//      compiler reads the text signature: the function's name, the parameter names, which of
//      them are optional (those written with "=None" / "=False") and the name shown in
//      TypeErrors. static_asserts check it against the implementation: as many parameters as
//      names, "=None" only on a std::optional, "=False" only on a bool, $self only on methods,
//      distinct identifiers (check_entry below):
//
//        constexpr Entry measure_entry{
//            nullptr, "measure(kernels, basis, normalization, weight=None)\n--\n\n"};
//
//   3. Add one line to the file's member table (registry.hpp), at the entry's place in the
//      registration order; module.cpp adds the table's members in order:
//
//        const Member members[] = {
//            module_function<measure_entry, measure_impl>(),
//            module_function<measure_derivative_entry, measure_derivative_impl>(),
//        };
//
//   A new bind_*.cpp exports its table (`const Members x_members = members;`), declared in
//   registry.hpp and listed in exec_module (module.cpp) at its place in the registration order.
//
// DEFINING A CLASS FROM A TYPE SPEC (e.g. Projection in bind_projection.cpp)
//
//   The instance layout is Instance<Core> (instance.hpp): one std::shared_ptr<const Core>.
//
//        constexpr Entry projection_new{"Projection", "Projection(src, dst, weight=None)\n--\n\n"};
//        Result<Projection> make_impl(const SpacePtr& src, const SpacePtr& dst,
//                                     const std::optional<double>& weight);  // without_gil inside
//
//        constexpr Entry apply_entry{"Projection",
//                                    "apply_last_axis($self, f, bounds=None)\n--\n\n..."};
//        Result<Dense2> apply_impl(const Projection& self, const ArrayView2& f, ...);
//        // reads f through pin_view (convert.hpp), once every other argument is converted
//        std::vector<double> to_dense_impl(const Projection& self);        // no arguments
//        std::uint64_t n_src(const Projection& self) { return self.n_src; }
//
//        PyMethodDef methods[] = {method_def<apply_entry, apply_impl>(),
//                                 noargs_def<to_dense_entry, to_dense_impl>(), {}};
//        PyGetSetDef getset[] = {property_def<Projection, n_src>("n_src"), {}};
//        PyType_Slot slots[] = {
//            {Py_tp_new, reinterpret_cast<void*>(constructor<projection_new, make_impl>)},
//            {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_instance<Projection>)},
//            {Py_tp_doc, const_cast<char*>(projection_new.doc)},
//            {Py_tp_methods, methods}, {Py_tp_getset, getset}, {0, nullptr}};
//        PyType_Spec spec{"quorvel._quorvel.Projection", sizeof(Instance<Projection>), 0,
//                         Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, slots};
//        PyTypeObject* slot = nullptr;
//        PyTypeObject* projection_class() { return class_object(slot, spec); }
//        const Member members[] = {module_class<projection_class>("Projection")};
//
//   A constructor's text signature carries the class name (TypeErrors name it
//   "Projection.__new__()"). Methods take `const Core& self` first; static methods use
//   static_def (same form as function_def). Instances are built from `type` by the constructor
//   template; a method that returns a new instance of another class builds it with new_instance
//   (instance.hpp) and returns the PyObject*.
//
// Every entry runs inside a guard: a C++ exception (InternalError, std::bad_alloc, anything)
// becomes a Python exception; argument TypeErrors follow one fixed set of messages; a failed
// conversion carries the note "while processing '{name}'".
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>
#include <optional>
#include <tuple>
#include <type_traits>
#include <utility>

#include "convert.hpp"
#include "errors.hpp"
#include "instance.hpp"
#include "interrupt.hpp"
#include "signature.hpp"

namespace quorvel::py {

// Binds fast-call arguments to the parameters: bound[i] receives a borrowed reference or
// nullptr for an omitted optional parameter. Returns false with the TypeError pending.
bool bind_arguments(const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, PyObject** bound);
// The same for a tuple and a keyword dict (class construction).
bool bind_arguments(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** bound);

// Converter types that an omitted "=None" parameter may leave at their default: std::optional,
// and types that declare `static constexpr bool accepts_none = true`.
template <class T> inline constexpr bool accepts_none = requires { requires T::accepts_none; };
template <class T> inline constexpr bool accepts_none<std::optional<T>> = true;

namespace detail {

template <class F> struct Traits;
template <class R, class... A> struct Traits<R (*)(A...)> {
    using Values = std::tuple<std::remove_cvref_t<A>...>;
};
template <class R, class S, class... A> struct MethodTraits {
    using Self = std::remove_cvref_t<S>;
    using Values = std::tuple<std::remove_cvref_t<A>...>;
};
template <class F> struct SelfTraits;
template <class R, class S, class... A>
struct SelfTraits<R (*)(S, A...)> : MethodTraits<R, S, A...> {};

template <class T> constexpr bool fits_default(Default fallback) {
    switch (fallback) {
    case Default::Required:
        return true;
    case Default::None:
        return accepts_none<T>;
    case Default::False:
        return std::is_same_v<T, bool>;
    }
    return false;
}

template <class Values, std::size_t... I>
constexpr bool defaults_fit(const Signature& sig, std::index_sequence<I...>) {
    return (fits_default<std::tuple_element_t<I, Values>>(sig.params[I].fallback) && ...);
}

enum class Kind { Function, StaticMethod, Method, NoArgs, Constructor };

// The compile-time checks of one entry against its implementation; `Values` are the converted
// parameter types of the implementation (without `self`).
template <const Entry& E, Kind K, class Values> constexpr void check_entry() {
    constexpr Signature sig = signature_of<E>;
    static_assert(sig.has_separator, "a docstring starts with the text signature "
                                     "\"name(params)\" followed by \"\\n--\\n\\n\"");
    static_assert(sig.identifiers, "text signature: every name must be a Python identifier");
    static_assert(sig.self_first, "text signature: $self may only come first");
    static_assert(sig.known_defaults, "text signature: a default must be None or False");
    static_assert(sig.defaults_last, "text signature: required parameters precede optional ones");
    static_assert(sig.distinct, "text signature: a parameter name appears twice");
    static_assert(sig.fits, "text signature: more than max_parameters parameters");
    static_assert((K == Kind::Function) == sig.owner.empty(),
                  "module functions have no owner, class members name their class");
    static_assert((K == Kind::Constructor) == sig.constructor(),
                  "a constructor's text signature, and only that, carries the class name");
    static_assert(sig.has_self == (K == Kind::Method || K == Kind::NoArgs),
                  "methods, and only methods, take $self first");
    static_assert(K != Kind::NoArgs || sig.count == 0,
                  "a method without arguments has the text signature \"name($self)\"");
    static_assert(std::tuple_size_v<Values> == sig.count,
                  "the implementation takes as many parameters as the text signature names "
                  "(besides $self)");
    if constexpr (std::tuple_size_v<Values> == sig.count) {
        static_assert(defaults_fit<Values>(sig, std::make_index_sequence<sig.count>{}),
                      "a parameter written =None is a std::optional (or accepts None), one "
                      "written =False is a bool");
    }
}

// `hint` collects the hint of the failing conversion: the first failure ends the call.
template <class T>
bool convert_one(const Signature& sig, const ConversionHint& hint, std::size_t i, PyObject* obj,
                 T& out) {
    if (obj == nullptr) return true; // omitted optional parameter keeps its default
    if (from_python(obj, out)) return true;
    note_conversion_failure(sig.params[i].name, hint.text());
    return false;
}

template <class Tuple, std::size_t... I>
bool convert_all(const Signature& sig, PyObject** bound, Tuple& values, std::index_sequence<I...>) {
    const ConversionHint hint;
    return (convert_one(sig, hint, I, bound[I], std::get<I>(values)) && ...);
}

template <class Values, class... Args>
bool bind_and_convert(const Signature& sig, Values& values, Args... args) {
    PyObject* bound[max_parameters] = {};
    if (!bind_arguments(sig, args..., bound)) return false;
    constexpr auto all = std::make_index_sequence<std::tuple_size_v<Values>>{};
    // Conversions run Python code (__index__, __float__, __iter__, ...). Fast-call arguments stay
    // owned by the caller for the whole call, but the keyword dict of a class construction can be
    // reached from such code (the garbage collector lists it) and cleared: hold its values.
    if constexpr (sizeof...(Args) == 2) {
        Ref held[max_parameters];
        for (std::size_t i = 0; i < sig.count; ++i)
            held[i] = Ref::borrow(bound[i]);
        return convert_all(sig, bound, values, all);
    } else {
        return convert_all(sig, bound, values, all);
    }
}

template <class F> constexpr PyCFunction as_cfunction(F f) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

} // namespace detail

// ---- entry templates -------------------------------------------------------------------------

template <const Entry& E, auto Impl>
PyObject* function(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        typename detail::Traits<decltype(Impl)>::Values values;
        if (!detail::bind_and_convert(signature_of<E>, values, args, nargs, kwnames))
            return nullptr;
        return to_python(std::apply(Impl, values));
    });
}

template <const Entry& E, auto Impl>
PyObject* method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        using T = detail::SelfTraits<decltype(Impl)>;
        typename T::Values values;
        if (!detail::bind_and_convert(signature_of<E>, values, args, nargs, kwnames))
            return nullptr;
        const auto& core = instance_value<typename T::Self>(self);
        return to_python(std::apply([&](auto&... a) { return Impl(core, a...); }, values));
    });
}

template <auto Impl> PyObject* method_noargs(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        using T = detail::SelfTraits<decltype(Impl)>;
        return to_python(Impl(instance_value<typename T::Self>(self)));
    });
}

// Py_tp_new of a class: binds and converts like a function, then wraps the core value.
template <const Entry& E, auto Impl>
PyObject* constructor(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    detail::check_entry<E, detail::Kind::Constructor,
                        typename detail::Traits<decltype(Impl)>::Values>();
    return guarded([&]() -> PyObject* {
        typename detail::Traits<decltype(Impl)>::Values values;
        if (!detail::bind_and_convert(signature_of<E>, values, args, kwargs)) return nullptr;
        auto result = std::apply(Impl, values);
        if (!result) {
            raise_core_error(result.error());
            return nullptr;
        }
        using Core = typename std::remove_cvref_t<decltype(result)>::value_type;
        return new_instance<Core>(type, std::make_shared<const Core>(std::move(*result)));
    });
}

// Read-only integer property.
template <class Core, std::uint64_t (*Get)(const Core&)> PyObject* property(PyObject* self, void*) {
    return guarded([&]() -> PyObject* { return to_python(Get(instance_value<Core>(self))); });
}

template <const Entry& E, auto Impl> PyMethodDef function_def() {
    detail::check_entry<E, detail::Kind::Function,
                        typename detail::Traits<decltype(Impl)>::Values>();
    return {entry_name<E>.data(), detail::as_cfunction(&function<E, Impl>),
            METH_FASTCALL | METH_KEYWORDS, E.doc};
}
template <const Entry& E, auto Impl> PyMethodDef static_def() {
    detail::check_entry<E, detail::Kind::StaticMethod,
                        typename detail::Traits<decltype(Impl)>::Values>();
    return {entry_name<E>.data(), detail::as_cfunction(&function<E, Impl>),
            METH_FASTCALL | METH_KEYWORDS | METH_STATIC, E.doc};
}
template <const Entry& E, auto Impl> PyMethodDef method_def() {
    detail::check_entry<E, detail::Kind::Method,
                        typename detail::SelfTraits<decltype(Impl)>::Values>();
    return {entry_name<E>.data(), detail::as_cfunction(&method<E, Impl>),
            METH_FASTCALL | METH_KEYWORDS, E.doc};
}
template <const Entry& E, auto Impl> PyMethodDef noargs_def() {
    detail::check_entry<E, detail::Kind::NoArgs,
                        typename detail::SelfTraits<decltype(Impl)>::Values>();
    return {entry_name<E>.data(), detail::as_cfunction(&method_noargs<Impl>), METH_NOARGS, E.doc};
}
template <class Core, std::uint64_t (*Get)(const Core&)>
PyGetSetDef property_def(const char* name) {
    return {name, &property<Core, Get>, nullptr, nullptr, nullptr};
}

} // namespace quorvel::py
