// Point values from digested element forms: one switch on the kind per list of elements, the
// kinds' own formulas inline, through the same code as evaluate_at.
#include "quorvel/point_values.hpp"

#include <memory>

#include "local_point.hpp"
#include "piecewise_value.hpp"
#include "profile/kinds.hpp"
#include "quorvel/overloaded.hpp"

namespace quorvel {

namespace {

template <std::size_t I> using LineKind = std::variant_alternative_t<I, ProfileKind>;

// Calls f(std::integral_constant<std::size_t, I>{}) for the line-shape kind index I = `index`.
template <class F> decltype(auto) with_line_kind(std::size_t index, F&& f) {
    return [&]<std::size_t... I>(std::index_sequence<I...>) -> decltype(auto) {
        using R = decltype(f(std::integral_constant<std::size_t, 0>{}));
        if constexpr (std::is_void_v<R>) {
            ((index == I ? (f(std::integral_constant<std::size_t, I>{}), true) : false) || ...);
        } else {
            R r{};
            ((index == I ? (r = f(std::integral_constant<std::size_t, I>{}), true) : false) ||
             ...);
            return r;
        }
    }(std::make_index_sequence<line_kind_count>{});
}

template <std::size_t I> constexpr bool batched_line_kind() {
    return line_shape::HasValuesMany<LineKind<I>>;
}

PointForm profile_form(const Profile& p) {
    PointForm f;
    f.kind = profile_point_kind(p.kind.index());
    f.center = p.center;
    f.lower = p.lower;
    f.upper = p.upper;
    std::visit(
        [&f]<class K>(const K& k) {
            f.data = &k;
            if constexpr (record_inline<K>) std::construct_at(reinterpret_cast<K*>(f.record), k);
        },
        p.kind);
    return f;
}

const Segment* segments_of(const PointForm& f) {
    return static_cast<const Segment*>(f.data);
}

ShapeView shape_of(const PointForm& f) {
    return {segments_of(f), f.shape.from_end, f.count, f.center, f.shape.scale, f.nonnegative};
}

// The local point of evaluate(element, x).
LocalPoint at(double x) {
    return {x, 0.0};
}

// A profile's value: 0 outside its support, else its kind's formula at x - center.
template <std::size_t I> [[gnu::always_inline]] inline double profile_value_of(const PointForm& f,
                                                                               double x) {
    const LocalPoint p = at(x);
    if (p.outside(f.lower, f.upper)) return 0.0;
    return line_shape::value(line_record<LineKind<I>>(f), p.from(f.center));
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
    } else if constexpr (is_profile_point(K)) {
        return profile_value_of<line_kind_of(K)>(f, x);
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

// Calls f(std::integral_constant<PointKind, K>{}) for the form kind K = `kind` (not Mixed).
template <class F> decltype(auto) with_point_kind(PointKind kind, F&& f) {
    using P = PointKind;
    switch (kind) {
    case P::Delta:
        return f(std::integral_constant<P, P::Delta>{});
    case P::Box:
        return f(std::integral_constant<P, P::Box>{});
    case P::Hat:
        return f(std::integral_constant<P, P::Hat>{});
    case P::Shape:
        return f(std::integral_constant<P, P::Shape>{});
    case P::Other:
    case P::Mixed:
        break;
    default:
        return with_line_kind(line_kind_of(kind), [&](auto i) {
            return f(std::integral_constant<P, profile_point_kind(decltype(i)::value)>{});
        });
    }
    return f(std::integral_constant<P, P::Other>{});
}

double mixed_value(const PointForm& f, std::uint32_t hint, double x) {
    return with_point_kind(f.kind, [&](auto k) { return value_of<decltype(k)::value>(f, hint, x); });
}

// The several-point values when every form is a profile of the batched kind I: the offsets of
// all pairs, those outside their support taken at the center and set to 0 after.
template <std::size_t I>
void one_kind_values(std::span<const PointForm> forms, std::span<const PointQuery> queries,
                     double* out, PointScratch& scratch) {
    std::size_t total = 0;
    for (const PointQuery& q : queries)
        total += q.entries.size();
    auto& kinds = std::get<I>(scratch.kinds);
    std::vector<double>& t = scratch.batches[I].t;
    std::vector<std::size_t>& outside = scratch.batches[I].at;
    kinds.resize(total);
    t.resize(total);
    outside.clear();
    std::size_t k = 0;
    for (const PointQuery& q : queries) {
        const LocalPoint p = at(q.x);
        for (const PointEntry& e : q.entries) {
            const PointForm& f = forms[e.column];
            kinds[k] = &line_record<LineKind<I>>(f);
            if (p.outside(f.lower, f.upper)) {
                t[k] = 0.0;
                outside.push_back(k);
            } else {
                t[k] = p.from(f.center);
            }
            ++k;
        }
    }
    line_shape::values_many(std::span(kinds.data(), total), t, out, scratch.lists);
    for (std::size_t j : outside)
        out[j] = 0.0;
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
                              f.shape.scale = s.stretch;
                              f.shape.from_end = s.from_end ? s.from_end->data() : nullptr;
                              return f;
                          },
                          [&](const Profile& p) { return profile_form(p); },
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

bool batched_point_kind(PointKind kind) {
    if (kind == PointKind::Mixed) return true;
    if (!is_profile_point(kind)) return false;
    return with_line_kind(line_kind_of(kind), [](auto i) { return batched_line_kind<decltype(i)::value>(); });
}

std::uint32_t segment_hint(const PointForm& form, double x) {
    if (form.kind != PointKind::Shape) return no_hint;
    const ShapePoint p = shape_point(shape_of(form), x, 0.0);
    if (p.segment == nullptr) return no_hint;
    // An end form's index is that of its segment.
    const Segment* base = p.from_end ? form.shape.from_end : segments_of(form);
    return static_cast<std::uint32_t>(p.segment - base);
}

void point_values(std::span<const PointForm> forms, PointKind kind,
                  std::span<const PointEntry> entries, double x, double* out) {
    if (kind != PointKind::Mixed)
        return with_point_kind(
            kind, [&](auto k) { values_of<decltype(k)::value>(forms, entries, x, out); });
    for (std::size_t k = 0; k < entries.size(); ++k)
        out[k] = mixed_value(forms[entries[k].column], entries[k].hint, x);
}

void point_values(std::span<const PointForm> forms, PointKind kind,
                  std::span<const PointQuery> queries, double* out, PointScratch& scratch) {
    if (!batched_point_kind(kind)) {
        for (const PointQuery& q : queries) {
            point_values(forms, kind, q.entries, q.x, out);
            out += q.entries.size();
        }
        return;
    }
    if (kind != PointKind::Mixed)
        return with_line_kind(line_kind_of(kind), [&](auto i) {
            if constexpr (batched_line_kind<decltype(i)::value>())
                one_kind_values<decltype(i)::value>(forms, queries, out, scratch);
        });
    // Profiles of a kind that values many offsets together keep their offset, as their value
    // would form it; every other value is taken at once.
    [&]<std::size_t... I>(std::index_sequence<I...>) {
        ((scratch.batches[I].t.clear(), scratch.batches[I].at.clear(),
          std::get<I>(scratch.kinds).clear()),
         ...);
    }(std::make_index_sequence<line_kind_count>{});
    std::size_t k = 0;
    for (const PointQuery& q : queries) {
        const LocalPoint p = at(q.x);
        for (const PointEntry& e : q.entries) {
            const PointForm& f = forms[e.column];
            if (!is_profile_point(f.kind) ||
                !with_line_kind(line_kind_of(f.kind),
                                [](auto i) { return batched_line_kind<decltype(i)::value>(); })) {
                out[k] = mixed_value(f, e.hint, q.x);
            } else if (p.outside(f.lower, f.upper)) {
                out[k] = 0.0;
            } else {
                PointBatch& b = scratch.batches[line_kind_of(f.kind)];
                with_line_kind(line_kind_of(f.kind), [&](auto i) {
                    constexpr std::size_t j = decltype(i)::value;
                    std::get<j>(scratch.kinds).push_back(&line_record<LineKind<j>>(f));
                });
                b.t.push_back(p.from(f.center));
                b.at.push_back(k);
            }
            ++k;
        }
    }
    [&]<std::size_t... I>(std::index_sequence<I...>) {
        const auto run = [&]<std::size_t J>(std::integral_constant<std::size_t, J>) {
            if constexpr (batched_line_kind<J>()) {
                PointBatch& b = scratch.batches[J];
                if (b.t.empty()) return;
                b.values.resize(b.t.size());
                const auto& kinds = std::get<J>(scratch.kinds);
                line_shape::values_many(std::span(kinds.data(), kinds.size()), b.t,
                                        b.values.data(), scratch.lists);
                for (std::size_t i = 0; i < b.at.size(); ++i)
                    out[b.at[i]] = b.values[i];
            }
        };
        (run(std::integral_constant<std::size_t, I>{}), ...);
    }(std::make_index_sequence<line_kind_count>{});
}

bool profile_values_many(const Profile& e, double origin, std::span<const double> y, double* out,
                         PointScratch& scratch) {
    return with_line_kind(e.kind.index(), [&](auto i) {
        constexpr std::size_t I = decltype(i)::value;
        if constexpr (!batched_line_kind<I>()) {
            return false;
        } else {
            PointBatch& b = scratch.batches[I];
            auto& kinds = std::get<I>(scratch.kinds);
            const LineKind<I>& kind = std::get<I>(e.kind);
            b.t.clear();
            b.at.clear();
            kinds.clear();
            for (std::size_t k = 0; k < y.size(); ++k) {
                const LocalPoint x{origin, y[k]};
                if (x.outside(e.lower, e.upper)) {
                    out[k] = 0.0;
                    continue;
                }
                kinds.push_back(&kind);
                b.t.push_back(x.from(e.center));
                b.at.push_back(k);
            }
            b.values.resize(b.t.size());
            line_shape::values_many(std::span(kinds.data(), kinds.size()), b.t, b.values.data(),
                                    scratch.lists);
            for (std::size_t k = 0; k < b.at.size(); ++k)
                out[b.at[k]] = b.values[k];
            return true;
        }
    });
}

} // namespace quorvel
