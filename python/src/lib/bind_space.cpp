// The Space class: not constructible from Python; instances come from its static constructors
// and methods. Each owns one shared immutable core Space. Everything here runs with the
// interpreter lock held, except integrals.
#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "binder.hpp"
#include "options.hpp"
#include "pickle.hpp"
#include "quorvel/apodization.hpp"
#include "quorvel/constructors.hpp"
#include "quorvel/format.hpp"
#include "quorvel/inner_products.hpp"
#include "quorvel/overloaded.hpp"
#include "quorvel/profile.hpp"
#include "quorvel/quadrature.hpp"
#include "registry.hpp"

namespace quorvel::py {

namespace {

using Array = std::vector<double>;

Result<Space> built(Result<Elements> elements) {
    QUORVEL_TRY_ASSIGN(auto e, std::move(elements));
    return build_space(std::move(e));
}

// ---- static constructors -----------------------------------------------------------------------

// What the binder converts for a parameter of a core constructor: arrays for spans of values.
template <class T> struct Bound {
    using type = T;
};
template <> struct Bound<Values> {
    using type = Array;
};

// The entry point of a core constructor: the converted arguments passed on, the elements built
// into a Space.
template <auto Make> struct Constructor;
template <class... A, Result<Elements> (*Make)(A...)> struct Constructor<Make> {
    static Result<Space> impl(const typename Bound<A>::type&... args) {
        return built(Make(args...));
    }
};

std::optional<std::vector<double>> items(const std::optional<Sequence<double>>& s) {
    if (!s) return std::nullopt;
    return s->items;
}

Outcome<Space> fts_impl(const Array& centers, const Array& max_opd, const double& cutoff,
                        const std::optional<std::string>& apodization,
                        const std::optional<Sequence<double>>& cosine_sum,
                        const std::optional<Sequence<double>>& polynomial) {
    auto window = choose_apodization(apodization, items(cosine_sum), items(polynomial));
    if (!window) {
        // A name alone can only fail by being unknown.
        const bool name_alone = apodization && !cosine_sum && !polynomial;
        return std::unexpected(NotedError{std::move(window).error(),
                                          name_alone ? apodization_note(*apodization) : ""});
    }
    return built(fts(centers, max_opd, cutoff, *window));
}

Outcome<Space> shifted_impl(const Array& shape_x, const Array& shape_y, const Array& centers,
                            const Array& stretch, const std::string& interp) {
    QUORVEL_TRY_ASSIGN(const auto how, interp_option(interp));
    return built(shifted(shape_x, shape_y, centers, stretch, how));
}

Tables tables(const Array2& a) {
    return Tables{a.rows, a.cols, a.data};
}

Outcome<Space> tabulated_impl(const Array& centers, const Array2& x, const Array2& y,
                              const std::string& interp) {
    QUORVEL_TRY_ASSIGN(const auto how, interp_option(interp));
    return built(tabulated(centers, tables(x), tables(y), how));
}

Space concatenate_impl(const Sequence<SpacePtr>& spaces) {
    return concatenate(spaces.items);
}

// ---- methods -----------------------------------------------------------------------------------

Outcome<Space> mapped_impl(const Space& self, const std::string& kind, const double& a,
                           const double& b, const bool& jacobian) {
    QUORVEL_TRY_ASSIGN(const auto map, map_kind_option(kind));
    return built(mapped(self.elements, map, a, b, jacobian));
}
Result<Space> take_impl(const Space& self, const Sequence<std::uint64_t>& indices) {
    return take(self, indices.items);
}
Result<Space> derivative_impl(const Space& self, const std::uint64_t& order) {
    return derivative(self, order);
}
std::vector<double> lower_impl(const Space& self) {
    return self.lower;
}
std::vector<double> upper_impl(const Space& self) {
    return self.upper;
}
std::vector<double> centers_impl(const Space& self) {
    return centers(self);
}

Result<std::vector<double>> integrals_impl(const Space& self, const std::optional<double>& weight) {
    QUORVEL_TRY_ASSIGN(const auto w, check_weight(weight));
    return without_gil([&] { return space_integrals(self, w); });
}

constexpr Entry deltas_entry{"Space", "deltas(x)\n--\n\n"};
constexpr Entry boxes_entry{"Space", "boxes(edges)\n--\n\n"};
constexpr Entry hats_entry{"Space", "hats(nodes)\n--\n\n"};
constexpr Entry bsplines_entry{"Space", "bsplines(knots, degree)\n--\n\n"};
constexpr Entry harmonics_entry{"Space", "harmonics(n, period, start)\n--\n\n"};
constexpr Entry bsplines_periodic_entry{"Space", "bsplines_periodic(breakpoints, degree)\n--\n\n"};
constexpr Entry bsplines_clamped_entry{"Space", "bsplines_clamped(breakpoints, degree)\n--\n\n"};
constexpr Entry gaussians_entry{"Space", "gaussians(centers, sigma, cutoff)\n--\n\n"};
constexpr Entry lorentzians_entry{"Space", "lorentzians(centers, hwhm, cutoff)\n--\n\n"};
constexpr Entry voigts_entry{"Space", "voigts(centers, sigma, gamma, cutoff)\n--\n\n"};
constexpr Entry pseudo_voigts_entry{"Space", "pseudo_voigts(centers, hwhm, eta, cutoff)\n--\n\n"};
constexpr Entry super_gaussians_entry{
    "Space", "super_gaussians(centers, hwhm_left, hwhm_right, power, cutoff)\n--\n\n"};
constexpr Entry smoothed_boxes_entry{"Space",
                                     "smoothed_boxes(centers, half_width, sigma, cutoff)\n--\n\n"};
constexpr Entry fts_entry{
    "Space",
    "fts(centers, max_opd, cutoff, apodization=None, cosine_sum=None, polynomial=None)\n--\n\n"
    "`apodization` is a name, or None with `cosine_sum` (<= 4) or `polynomial` (<= 5)\n"
    "coefficients."};
constexpr Entry rectangles_entry{"Space", "rectangles(centers, widths)\n--\n\n"};
constexpr Entry triangles_entry{"Space", "triangles(centers, hwhm)\n--\n\n"};
constexpr Entry trapezoids_entry{"Space", "trapezoids(centers, top, bottom)\n--\n\n"};
constexpr Entry shifted_entry{
    "Space",
    "shifted(shape_x, shape_y, centers, stretch, interp)\n--\n\n"
    "Copies of the tabulated shape (shape_x, shape_y), shifted to `centers` and stretched by\n"
    "`stretch`."};
constexpr Entry tabulated_entry{
    "Space", "tabulated(centers, x, y, interp)\n--\n\n"
             "Per-element tables: x has 1 or len(centers) rows, y has len(centers) rows."};
constexpr Entry mapped_entry{
    "Space",
    "mapped($self, kind, a, b, jacobian)\n--\n\n"
    "The elements as functions of x = forward(u): kind \"reciprocal\" (x = a / u) or \"affine\"\n"
    "(x = a + b·u)."};
constexpr Entry concatenate_entry{"Space", "concatenate(spaces)\n--\n\n"};
constexpr Entry take_entry{"Space", "take($self, indices)\n--\n\n"};
constexpr Entry derivative_entry{"Space", "derivative($self, order)\n--\n\n"};
constexpr Entry lower_entry{"Space", "lower($self)\n--\n\n"};
constexpr Entry upper_entry{"Space", "upper($self)\n--\n\n"};
constexpr Entry centers_entry{"Space", "centers($self)\n--\n\n"};
constexpr Entry integrals_entry{"Space", "integrals($self, weight=None)\n--\n\n"};

// The method table in the documented member order.
PyMethodDef space_methods[] = {
    static_def<deltas_entry, &Constructor<deltas>::impl>(),
    static_def<boxes_entry, &Constructor<boxes>::impl>(),
    static_def<hats_entry, &Constructor<hats>::impl>(),
    static_def<bsplines_entry, &Constructor<bsplines>::impl>(),
    static_def<harmonics_entry, &Constructor<harmonics>::impl>(),
    static_def<bsplines_periodic_entry, &Constructor<bsplines_periodic>::impl>(),
    static_def<bsplines_clamped_entry, &Constructor<bsplines_clamped>::impl>(),
    static_def<gaussians_entry, &Constructor<gaussians>::impl>(),
    static_def<lorentzians_entry, &Constructor<lorentzians>::impl>(),
    static_def<voigts_entry, &Constructor<voigts>::impl>(),
    static_def<pseudo_voigts_entry, &Constructor<pseudo_voigts>::impl>(),
    static_def<super_gaussians_entry, &Constructor<super_gaussians>::impl>(),
    static_def<smoothed_boxes_entry, &Constructor<smoothed_boxes>::impl>(),
    static_def<fts_entry, fts_impl>(),
    static_def<rectangles_entry, &Constructor<rectangles>::impl>(),
    static_def<triangles_entry, &Constructor<triangles>::impl>(),
    static_def<trapezoids_entry, &Constructor<trapezoids>::impl>(),
    static_def<shifted_entry, shifted_impl>(),
    static_def<tabulated_entry, tabulated_impl>(),
    method_def<mapped_entry, mapped_impl>(),
    static_def<concatenate_entry, concatenate_impl>(),
    method_def<take_entry, take_impl>(),
    method_def<derivative_entry, derivative_impl>(),
    noargs_def<lower_entry, lower_impl>(),
    noargs_def<upper_entry, upper_impl>(),
    noargs_def<centers_entry, centers_impl>(),
    method_def<integrals_entry, integrals_impl>(),
    reduce_method<Space>(),
    copy_method(),
    deepcopy_method(),
    {nullptr, nullptr, 0, nullptr},
};

// ---- repr -------------------------------------------------------------------------------------

// "Hat", "Gaussian" (a profile by its kind), "Mapped(reciprocal, Gaussian)".
std::string element_kind_name(const Element& e) {
    return std::visit(Overloaded{
                          [](const Delta&) -> std::string { return "Delta"; },
                          [](const Box&) -> std::string { return "Box"; },
                          [](const Hat&) -> std::string { return "Hat"; },
                          [](const Shape&) -> std::string { return "Shape"; },
                          [](const Profile& p) { return std::string(kind_name(p.kind)); },
                          [](const Mapped& m) {
                              return std::string("Mapped(") +
                                     (m.map == MapKind::Reciprocal ? "reciprocal, " : "affine, ") +
                                     element_kind_name(*m.inner) + ")";
                          },
                      },
                      static_cast<const ElementVariant&>(e));
}

// "Space(5 elements: 3 Gaussian, 2 Voigt; support [-4.0, 14.5])": the element kinds with their
// counts in order of first appearance, and the hull of the supports.
std::string describe(const Space& space) {
    const std::size_t n = space.size();
    std::string text = "Space(" + std::to_string(n) + (n == 1 ? " element" : " elements");
    if (n == 0) return text + ")";
    std::vector<std::pair<std::string, std::size_t>> kinds;
    for (const Element& e : space.elements) {
        std::string name = element_kind_name(e);
        const auto same =
            std::ranges::find(kinds, name, &std::pair<std::string, std::size_t>::first);
        if (same != kinds.end())
            ++same->second;
        else
            kinds.emplace_back(std::move(name), 1);
    }
    constexpr std::size_t shown = 5;
    text += ": ";
    for (std::size_t i = 0; i < std::min(kinds.size(), shown); ++i)
        text += (i > 0 ? ", " : "") + std::to_string(kinds[i].second) + " " + kinds[i].first;
    if (const std::size_t more = kinds.size() - std::min(kinds.size(), shown); more > 0)
        text += ", and " + std::to_string(more) + (more == 1 ? " other kind" : " other kinds");
    const double lo = *std::ranges::min_element(space.lower);
    const double hi = *std::ranges::max_element(space.upper);
    return text + "; support [" + fmt_debug(lo) + ", " + fmt_debug(hi) + "])";
}

PyObject* space_repr(PyObject* self) {
    return guarded([&]() -> PyObject* {
        const std::string text = describe(instance_value<Space>(self));
        return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    });
}

Py_ssize_t space_length(PyObject* self) {
    return static_cast<Py_ssize_t>(instance_value<Space>(self).size());
}

PyType_Slot space_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_instance<Space>)},
    {Py_sq_length, reinterpret_cast<void*>(space_length)},
    {Py_tp_repr, reinterpret_cast<void*>(space_repr)},
    {Py_tp_methods, space_methods},
    {0, nullptr},
};

ClassDefinition space_class{
    "Space",
    {"quorvel._quorvel.Space", sizeof(Instance<Space>), 0,
     Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE,
     space_slots},
};

const Member members[] = {module_class<space_class>()};

} // namespace

PyTypeObject* space_type() {
    return space_class.in_call();
}

const Members space_members = members;

} // namespace quorvel::py
