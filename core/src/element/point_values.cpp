// Point values from digested element forms: one switch on the kind per list of elements, the
// kinds' own formulas inline, through the same code as evaluate_at.
#include "quorvel/point_values.hpp"

#include "local_point.hpp"
#include "piecewise_value.hpp"
#include "profile/gaussian.hpp"
#include "profile/lorentzian.hpp"
#include "profile/voigt.hpp"
#include "quorvel/faddeeva.hpp"
#include "quorvel/overloaded.hpp"

namespace quorvel {

namespace {

PointForm profile_form(const Profile& p, const Element& e) {
    PointForm f;
    f.center = p.center;
    f.lower = p.lower;
    f.upper = p.upper;
    f.data = &e;
    // The width of a Gaussian or Lorentzian is copied into the form, so that a value needs no
    // second load.
    if (const auto* g = std::get_if<Gaussian>(&p.kind)) {
        f.kind = PointKind::Gaussian;
        f.scale = g->sigma;
    } else if (const auto* l = std::get_if<Lorentzian>(&p.kind)) {
        f.kind = PointKind::Lorentzian;
        f.scale = l->hwhm;
    } else if (const auto* v = std::get_if<Voigt>(&p.kind)) {
        f.kind = PointKind::Voigt;
        f.data = v;
    }
    return f;
}

const Segment* segments_of(const PointForm& f) {
    return static_cast<const Segment*>(f.data);
}

ShapeView shape_of(const PointForm& f) {
    return {segments_of(f), f.from_end, f.count, f.center, f.scale, f.nonnegative};
}

// The local point of evaluate(element, x).
LocalPoint at(double x) {
    return {x, 0.0};
}

template <PointKind K>
[[gnu::always_inline]] inline double value_of(const PointForm& f, std::uint32_t hint, double x) {
    if constexpr (K == PointKind::Delta) {
        return static_cast<const Delta*>(f.data)->x == x ? 1.0 : 0.0;
    } else if constexpr (K == PointKind::Box) {
        return box_value(*static_cast<const Box*>(f.data), at(x));
    } else if constexpr (K == PointKind::Hat) {
        return hat_value(*static_cast<const Hat*>(f.data), at(x));
    } else if constexpr (K == PointKind::Shape) {
        const Segment* guess = hint < f.count ? segments_of(f) + hint : nullptr;
        return shape_value(shape_of(f), x, 0.0, guess);
    } else if constexpr (K == PointKind::Gaussian || K == PointKind::Lorentzian ||
                         K == PointKind::Voigt) {
        // A profile's value: 0 outside its support, else its kind's formula at x - center.
        const LocalPoint p = at(x);
        if (p.outside(f.lower, f.upper)) return 0.0;
        const double t = p.from(f.center);
        if constexpr (K == PointKind::Gaussian)
            return line_shape::value(Gaussian{f.scale}, t);
        else if constexpr (K == PointKind::Lorentzian)
            return line_shape::value(Lorentzian{f.scale}, t);
        else
            return line_shape::value(*static_cast<const Voigt*>(f.data), t);
    } else {
        return evaluate(*static_cast<const Element*>(f.data), x);
    }
}

template <PointKind K>
void values_of(std::span<const PointForm> forms, std::span<const PointEntry> entries, double x,
               double* out) {
    for (std::size_t k = 0; k < entries.size(); ++k)
        out[k] = value_of<K>(forms[entries[k].column], entries[k].hint, x);
}

double mixed_value(const PointForm& f, std::uint32_t hint, double x) {
    switch (f.kind) {
    case PointKind::Delta:
        return value_of<PointKind::Delta>(f, hint, x);
    case PointKind::Box:
        return value_of<PointKind::Box>(f, hint, x);
    case PointKind::Hat:
        return value_of<PointKind::Hat>(f, hint, x);
    case PointKind::Shape:
        return value_of<PointKind::Shape>(f, hint, x);
    case PointKind::Gaussian:
        return value_of<PointKind::Gaussian>(f, hint, x);
    case PointKind::Lorentzian:
        return value_of<PointKind::Lorentzian>(f, hint, x);
    case PointKind::Voigt:
        return value_of<PointKind::Voigt>(f, hint, x);
    case PointKind::Other:
    case PointKind::Mixed:
        break;
    }
    return value_of<PointKind::Other>(f, hint, x);
}

} // namespace

PointForm point_form(const Element& e) {
    const auto record = [](PointKind kind, const void* data) {
        PointForm f;
        f.kind = kind;
        f.data = data;
        return f;
    };
    return std::visit(Overloaded{
                          [&](const Delta& d) { return record(PointKind::Delta, &d); },
                          [&](const Box& b) { return record(PointKind::Box, &b); },
                          [&](const Hat& h) { return record(PointKind::Hat, &h); },
                          [&](const Shape& s) {
                              PointForm f = record(PointKind::Shape, s.segments->data());
                              f.nonnegative = s.nonnegative;
                              f.count = static_cast<std::uint32_t>(s.segments->size());
                              f.center = s.center;
                              f.scale = s.stretch;
                              f.from_end = s.from_end ? s.from_end->data() : nullptr;
                              return f;
                          },
                          [&](const Profile& p) { return profile_form(p, e); },
                          [&](const Mapped&) { return record(PointKind::Other, &e); },
                      },
                      static_cast<const ElementVariant&>(e));
}

PointKind common_kind(std::span<const PointForm> forms) {
    if (forms.empty()) return PointKind::Mixed;
    const PointKind k = forms.front().kind;
    for (const PointForm& f : forms)
        if (f.kind != k) return PointKind::Mixed;
    return k;
}

std::uint32_t segment_hint(const PointForm& form, double x) {
    if (form.kind != PointKind::Shape) return no_hint;
    const ShapePoint p = shape_point(shape_of(form), x, 0.0);
    if (p.segment == nullptr) return no_hint;
    // An end form's index is that of its segment.
    const Segment* base = p.from_end ? form.from_end : segments_of(form);
    return static_cast<std::uint32_t>(p.segment - base);
}

void point_values(std::span<const PointForm> forms, PointKind kind,
                  std::span<const PointEntry> entries, double x, double* out) {
    switch (kind) {
    case PointKind::Delta:
        return values_of<PointKind::Delta>(forms, entries, x, out);
    case PointKind::Box:
        return values_of<PointKind::Box>(forms, entries, x, out);
    case PointKind::Hat:
        return values_of<PointKind::Hat>(forms, entries, x, out);
    case PointKind::Shape:
        return values_of<PointKind::Shape>(forms, entries, x, out);
    case PointKind::Gaussian:
        return values_of<PointKind::Gaussian>(forms, entries, x, out);
    case PointKind::Lorentzian:
        return values_of<PointKind::Lorentzian>(forms, entries, x, out);
    case PointKind::Voigt:
        return values_of<PointKind::Voigt>(forms, entries, x, out);
    case PointKind::Other:
        return values_of<PointKind::Other>(forms, entries, x, out);
    case PointKind::Mixed:
        break;
    }
    for (std::size_t k = 0; k < entries.size(); ++k)
        out[k] = mixed_value(forms[entries[k].column], entries[k].hint, x);
}

void point_values(std::span<const PointForm> forms, PointKind kind,
                  std::span<const PointQuery> queries, double* out, PointScratch& scratch) {
    if (kind != PointKind::Voigt && kind != PointKind::Mixed) {
        for (const PointQuery& q : queries) {
            point_values(forms, kind, q.entries, q.x, out);
            out += q.entries.size();
        }
        return;
    }
    // Voigt profiles that take the Faddeeva function at the point keep its argument, as their
    // value would form it; every other value is taken at once.
    scratch.voigts.clear();
    scratch.at.clear();
    scratch.u.clear();
    scratch.v.clear();
    std::size_t k = 0;
    for (const PointQuery& q : queries) {
        const LocalPoint p = at(q.x);
        for (const PointEntry& e : q.entries) {
            const PointForm& f = forms[e.column];
            double u = 0.0, v = 0.0;
            if (f.kind != PointKind::Voigt) {
                out[k] = mixed_value(f, e.hint, q.x);
            } else if (p.outside(f.lower, f.upper)) {
                out[k] = 0.0;
            } else if (const Voigt& voigt = *static_cast<const Voigt*>(f.data);
                       !line_shape::voigt::near_argument(voigt, p.from(f.center), u, v)) {
                out[k] = line_shape::voigt::far_value(voigt, p.from(f.center));
            } else {
                scratch.voigts.push_back(&voigt);
                scratch.at.push_back(k);
                scratch.u.push_back(u);
                scratch.v.push_back(v);
            }
            ++k;
        }
    }
    const std::size_t n = scratch.u.size();
    scratch.re.resize(n);
    faddeeva_re_many(scratch.u, scratch.v, scratch.re.data());
    for (std::size_t i = 0; i < n; ++i)
        out[scratch.at[i]] = scratch.voigts[i]->inv_peak * scratch.re[i];
}

} // namespace quorvel
