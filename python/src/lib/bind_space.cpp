// The Space class: not constructible from Python; instances come from its static constructors
// and methods. Each owns one shared immutable core Space. Everything here runs with the
// interpreter lock held, except integrals.
#include <algorithm>
#include <cmath>
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

Outcome<Space> deltas_impl(const Array& x) {
    return with_nonfinite_note(built(deltas(x)), "delta position must be finite", "x", x);
}

// The widths of the first element that fails the width rules, named with its index.
std::string voigt_widths_note(const Array& sigma, const Array& gamma) {
    const auto bad = [](double s, double g) {
        return !(s >= 0.0 && s < INFINITY && g >= 0.0 && g < INFINITY) || (s == 0.0 && g == 0.0);
    };
    for (std::size_t i = 0; i < std::min(sigma.size(), gamma.size()); ++i)
        if (bad(sigma[i], gamma[i]))
            return "element " + std::to_string(i) + " has sigma " + fmt_fixed(sigma[i]) +
                   " and gamma " + fmt_fixed(gamma[i]);
    return {};
}

Outcome<Space> voigts_impl(const Array& centers, const Array& sigma, const Array& gamma,
                           const double& cutoff) {
    auto space = built(voigts(centers, sigma, gamma, cutoff));
    if (space) return std::move(space).value();
    const bool widths = space.error().message.starts_with("voigt needs");
    return std::unexpected(
        NotedError{std::move(space).error(), widths ? voigt_widths_note(sigma, gamma) : ""});
}

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
    static_def<deltas_entry, deltas_impl>(),
    static_def<boxes_entry, &Constructor<boxes>::impl>(),
    static_def<hats_entry, &Constructor<hats>::impl>(),
    static_def<bsplines_entry, &Constructor<bsplines>::impl>(),
    static_def<harmonics_entry, &Constructor<harmonics>::impl>(),
    static_def<bsplines_periodic_entry, &Constructor<bsplines_periodic>::impl>(),
    static_def<bsplines_clamped_entry, &Constructor<bsplines_clamped>::impl>(),
    static_def<gaussians_entry, &Constructor<gaussians>::impl>(),
    static_def<lorentzians_entry, &Constructor<lorentzians>::impl>(),
    static_def<voigts_entry, voigts_impl>(),
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

// A family of elements as the repr names it, in the singular and the plural.
struct Family {
    std::string one, many;
    bool operator==(const Family&) const = default;
};

Family profile_family(const ProfileKind& kind) {
    const KindFamily f = kind_family(kind);
    return {std::string(f.one), std::string(f.many)};
}

// The highest power with a non-zero coefficient in any piece of a shape.
int shape_degree(const Shape& s) {
    int degree = 0;
    for (const Segment& g : *s.segments)
        degree = std::max({degree, g.c1 != 0.0 ? 1 : 0, g.c2 != 0.0 ? 2 : 0, g.c3 != 0.0 ? 3 : 0});
    return degree;
}

// "hat", "B-spline of degree 3" (shapes that keep their non-negativity are B-splines), "smoothed
// box under a reciprocal map".
Family family_of(const Element& e) {
    return std::visit(
        Overloaded{
            [](const Delta&) -> Family { return {"delta", "deltas"}; },
            [](const Box&) -> Family { return {"box", "boxes"}; },
            [](const Hat&) -> Family { return {"hat", "hats"}; },
            [](const Shape& s) -> Family {
                const std::string of = " of degree " + std::to_string(shape_degree(s));
                if (s.nonnegative) return {"B-spline" + of, "B-splines" + of};
                return {"piecewise polynomial" + of, "piecewise polynomials" + of};
            },
            [](const Profile& p) { return profile_family(p.kind); },
            [](const Mapped& m) {
                const std::string map = m.map == MapKind::Reciprocal ? " under a reciprocal map"
                                                                     : " under an affine map";
                Family inner = family_of(*m.inner);
                return Family{inner.one + map, inner.many + map};
            },
        },
        static_cast<const ElementVariant&>(e));
}

// "Space(7 B-splines of degree 3 on [0, 1])"; a space of several families counts each, in order
// of first appearance, with the hull of its supports: "Space(5 elements: 3 hats on [-4, 6],
// 2 smoothed boxes on [2, 14.5])".
std::string describe(const Space& space) {
    const std::size_t n = space.size();
    if (n == 0) return "Space(0 elements)";
    struct Group {
        Family family;
        std::size_t count;
        double lower, upper;
    };
    std::vector<Group> groups;
    for (std::size_t i = 0; i < n; ++i) {
        Family family = family_of(space.elements[i]);
        const auto same = std::ranges::find(groups, family, &Group::family);
        if (same == groups.end()) {
            groups.push_back({std::move(family), 1, space.lower[i], space.upper[i]});
        } else {
            ++same->count;
            same->lower = std::min(same->lower, space.lower[i]);
            same->upper = std::max(same->upper, space.upper[i]);
        }
    }
    const auto text = [](const Group& g) {
        return std::to_string(g.count) + " " + (g.count == 1 ? g.family.one : g.family.many) +
               " on [" + fmt_fixed(g.lower) + ", " + fmt_fixed(g.upper) + "]";
    };
    if (groups.size() == 1) return "Space(" + text(groups[0]) + ")";
    constexpr std::size_t shown = 5;
    std::string out = "Space(" + std::to_string(n) + " elements: ";
    for (std::size_t i = 0; i < std::min(groups.size(), shown); ++i)
        out += (i > 0 ? ", " : "") + text(groups[i]);
    if (const std::size_t more = groups.size() - std::min(groups.size(), shown); more > 0)
        out += ", and " + std::to_string(more) + (more == 1 ? " other family" : " other families");
    return out + ")";
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
