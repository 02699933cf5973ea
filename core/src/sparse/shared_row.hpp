// One quadrature walk per measurement row, shared by the FTS line shapes or the polynomial
// elements that the row meets.
//
// A line-shape kernel integrates against every column of its row over nearly the same window.
// The row walks the union of those windows once, with the steps every pair's own walk takes there
// (the kernel's local scale, and the samples' common step for FTS columns), and keeps the
// kernel's weighted values (and parameter derivatives) at the walk's nodes. Each pair then sums
// them against its column over the row's panels that lie inside the pair's window, plus one short
// panel at each end of the window: the same rule on steps no longer than before, so equally
// exact. Polynomial columns cut the walk at their own breakpoints too, so that their pieces stay
// whole. A pair whose window is short beside its offset from the row's origin takes its own walk.
//
// An FTS sample's line shape at a node needs sin and cos of theta = g (y - d) (node y, sample
// center d, both offsets from the row's frame origin). They come by angle addition from sin and
// cos of g y (a table per row) and of g d (once per sample), both phases split exactly into two
// doubles with an FMA so that the difference keeps the accuracy of theta itself. Within a few
// radians of the sample's center, where the window's kernel has its small-argument branches, the
// line shape is evaluated directly.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <optional>
#include <span>
#include <variant>
#include <vector>

#include "../element/apodization_kernel.hpp"
#include "../element/local_point.hpp"
#include "../element/piecewise_value.hpp"
#include "../element/profile/voigt.hpp"
#include "quorvel/constants.hpp"
#include "quorvel/element.hpp"
#include "quorvel/error.hpp"
#include "quorvel/faddeeva.hpp"
#include "quorvel/point_index.hpp"
#include "quorvel/profile.hpp"
#include "quorvel/quadrature.hpp"
#include "quorvel/space.hpp"
#include "quorvel/sparse.hpp"
#include "quorvel/stepping_walk.hpp"
#include "quorvel/voigt_point.hpp"

namespace quorvel {

// Lists of one worker, reused row after row.
struct SharedRowScratch {
    std::vector<double> list, lo, hi, y, s, c, f, half, weight;
    // Voigt values in lanes: the nodes that take the Faddeeva function, and its arguments.
    std::vector<std::size_t> at;
    std::vector<double> u, v, re;
    std::vector<std::size_t> first;
    std::vector<Placed> factors;
};

// A kernel's value and its derivatives by M parameters at frame position y (kernel coordinate
// origin + y), each as evaluate_at and parameter_derivative_at give it; a failing derivative
// gives 0 and is kept in `failure`.
template <std::size_t M> class KernelQuantities {
  public:
    KernelQuantities(const Element& kernel, std::span<const ParameterKind, M> parameters)
        : kernel_(kernel), parameters_(parameters), profile_(std::get_if<Profile>(&kernel)) {
        voigt_ = profile_ ? std::get_if<Voigt>(&profile_->kind) : nullptr;
        if (voigt_ && std::all_of(parameters.begin(), parameters.end(), [](ParameterKind p) {
                return placement(p) || p == ParameterKind::Sigma || p == ParameterKind::Gamma;
            }))
            peak_slope_ = voigt_peak_slope(*voigt_);
        else
            voigt_ = nullptr;
    }

    std::array<double, M + 1> operator()(double origin, double y) {
        std::array<double, M + 1> v{};
        if constexpr (M == 0) {
            v[0] = evaluate_at(kernel_, origin, y);
        } else {
            if (voigt_) {
                const VoigtPointValues p =
                    voigt_point_at(*profile_, *voigt_, peak_slope_, origin, y);
                v[0] = p.value;
                for (std::size_t m = 0; m < M; ++m)
                    v[m + 1] = pick(p, parameters_[m]);
                return v;
            }
            bool valued = false;
            for (std::size_t m = 0; m < M; ++m) {
                if (profile_ && placement(parameters_[m])) {
                    const auto [f, d] =
                        value_and_placement_derivative_at(*profile_, parameters_[m], origin, y);
                    if (!valued) v[0] = f;
                    valued = true;
                    v[m + 1] = d;
                    continue;
                }
                auto d = parameter_derivative_at(kernel_, parameters_[m], origin, y);
                if (!d) {
                    if (!failure) failure = std::move(d.error());
                    continue;
                }
                v[m + 1] = *d;
            }
            if (!valued) v[0] = evaluate_at(kernel_, origin, y);
        }
        return v;
    }

    // The quantities at every node y[i], node after node, M + 1 each; a Voigt kernel's values
    // alone take the Faddeeva function in lanes (bitwise what evaluate_at gives).
    void many(double origin, std::span<const double> y, std::vector<double>& out,
              SharedRowScratch& s) {
        out.resize(y.size() * (M + 1));
        if (M > 0 || profile_ == nullptr || !std::holds_alternative<Voigt>(profile_->kind)) {
            for (std::size_t i = 0; i < y.size(); ++i) {
                const auto v = (*this)(origin, y[i]);
                for (std::size_t m = 0; m <= M; ++m)
                    out[i * (M + 1) + m] = v[m];
            }
            return;
        }
        const Voigt& voigt = std::get<Voigt>(profile_->kind);
        s.at.clear();
        s.u.clear();
        s.v.clear();
        for (std::size_t i = 0; i < y.size(); ++i) {
            const LocalPoint x{origin, y[i]};
            double u = 0.0, v = 0.0;
            if (x.outside(profile_->lower, profile_->upper)) {
                out[i] = 0.0;
            } else if (!line_shape::voigt::near_argument(voigt, x.from(profile_->center), u, v)) {
                out[i] = line_shape::voigt::far_value(voigt, x.from(profile_->center));
            } else {
                s.at.push_back(i);
                s.u.push_back(u);
                s.v.push_back(v);
            }
        }
        s.re.resize(s.u.size());
        faddeeva_re_many(s.u, s.v, s.re.data());
        for (std::size_t k = 0; k < s.at.size(); ++k)
            out[s.at[k]] = voigt.inv_peak * s.re[k];
    }

    std::optional<CoreError> failure;

  private:
    static bool placement(ParameterKind p) {
        return p == ParameterKind::Center || p == ParameterKind::Scale;
    }
    static double pick(const VoigtPointValues& v, ParameterKind p) {
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

    const Element& kernel_;
    std::span<const ParameterKind, M> parameters_;
    const Profile* profile_;
    const Voigt* voigt_ = nullptr;
    double peak_slope_ = 0.0;
};

// The shared walk of one row with K sums per pair (the value, then derivatives).
template <std::size_t K> class SharedRow {
  public:
    using Sums = std::array<double, K>;

    // Fewer candidates than this are integrated pair by pair.
    static constexpr std::size_t min_candidates = 4;
    // The most nodes a row keeps; a longer walk is left to the pairs.
    static constexpr double max_nodes = 1 << 20;

    // Lays the row's walk when the kernel is a line shape and the candidates are either all FTS
    // line shapes of one max_opd and one phase factor, or all polynomial elements; `quantities`
    // are the kernel's. Returns false, doing nothing else, when the row does not take the shared
    // walk.
    bool prepare(const Element& kernel, std::span<const std::size_t> candidates,
                 const Space& basis, KernelQuantities<K - 1>& quantities, SharedRowScratch& s) {
        const auto* k = std::get_if<Profile>(&kernel);
        if (k == nullptr || candidates.size() < min_candidates) return false;
        const Element& front = basis.elements[candidates.front()];
        fts_ = is_fts(front);
        if (!fts_ && !is_polynomial(front)) return false;
        double lowest = INFINITY, highest = -INFINITY;
        const Fts* first_kind = nullptr;
        for (std::size_t j : candidates) {
            const Element& e = basis.elements[j];
            if (fts_) {
                const auto& p = std::get<Profile>(e);
                const auto* fts = std::get_if<Fts>(&p.kind);
                if (fts == nullptr) return false;
                if (first_kind == nullptr) first_kind = fts;
                if (fts->max_opd != first_kind->max_opd ||
                    apodization_phase_factor(fts->apodization) !=
                        apodization_phase_factor(first_kind->apodization))
                    return false;
            } else if (!is_polynomial(e)) {
                return false;
            }
            const Support se = support(e);
            lowest = std::fmin(lowest, se.lower);
            highest = std::fmax(highest, se.upper);
        }
        if (fts_) {
            g_ = first_kind->max_opd * constants::two_pi;
            phase_ = g_ * apodization_phase_factor(first_kind->apodization);
            if (!(g_ < INFINITY)) return false;
        }
        const double lo = std::fmax(k->lower, lowest), hi = std::fmin(k->upper, highest);
        if (!(lo < hi)) return false;

        origin_ = std::fmin(std::fmax(k->center, lo), hi);
        from_ = k->lower - origin_;
        to_ = k->upper - origin_;
        // FTS samples are smooth: the kernel's breakpoints cut the walk. Polynomial elements
        // join their own pieces too, so that every pair's window and pieces are the walk's.
        s.factors.assign(1, Placed{&kernel, origin_});
        if (!fts_)
            for (std::size_t j : candidates)
                s.factors.push_back(Placed{&basis.elements[j], origin_});
        collect_breakpoints(s.factors, lo - origin_, hi - origin_, s.list);
        // The samples' step is a constant of the row; polynomial elements set none.
        const Placed limited[] = {s.factors.front(), {&front, origin_}};
        const StepLimits limits{std::span(limited, fts_ ? 2 : 1), StepCap{}, false, origin_};
        if (walk_steps_needed(s.list, limits) * 8.0 > max_nodes) return false;

        s.lo.clear();
        s.hi.clear();
        s.first.clear();
        s.y.clear();
        s.half.clear();
        s.weight.clear();
        stepping_walk(s.list, limits, [&](Panel p) {
            s.lo.push_back(p.lo);
            s.hi.push_back(p.hi);
            s.first.push_back(s.y.size());
            for (std::size_t j = 0; j < p.size(); ++j) {
                s.y.push_back(p.node(j));
                s.half.push_back(p.half);
                s.weight.push_back(p.weight(j));
            }
        });
        s.first.push_back(s.y.size());
        quantities.many(origin_, s.y, s.f, s);
        for (std::size_t i = 0; i < s.y.size(); ++i)
            for (std::size_t m = 0; m < K; ++m)
                s.f[i * K + m] = s.half[i] * (s.weight[i] * s.f[i * K + m]);
        scratch_ = &s;
        if (!fts_) return true;

        // sin and cos of the nodes' phases, each phase split exactly as hi + lo.
        const std::size_t n = s.y.size();
        s.s.resize(n);
        s.c.resize(n);
        for (std::size_t i = 0; i < n; ++i) {
            const SinCos t = split_sincos(phase_, s.y[i]);
            s.s[i] = t.s;
            s.c[i] = t.c;
        }
        return true;
    }

    // Whether the pair of the kernel with `element` (one of the row's candidates) takes the
    // shared walk: not when their window is short beside its distance from the row's origin,
    // where the nodes' offsets would carry the rounding of that distance into the element's
    // values near its ends (the pair's own walk frames its window at the window's end).
    bool shares(const Element& element) const {
        const Support se = frame_support(element, support(element), origin_);
        const double a = std::fmax(from_, se.lower), b = std::fmin(to_, se.upper);
        return b - a >= 0.125 * std::fmax(std::fabs(a), std::fabs(b));
    }

    // The K integrals of the prepared kernel's quantities times `element` (one of the row's
    // candidates, shares(element)) over the pair's window.
    Sums pair(const Element& element, KernelQuantities<K - 1>& quantities) const {
        const SharedRowScratch& s = *scratch_;
        Sums sums{};
        const Support se = frame_support(element, support(element), origin_);
        const double a = std::fmax(from_, se.lower);
        const double b = std::fmin(to_, se.upper);
        if (!(a < b)) return sums;

        const auto fresh = [&](double u, double v) {
            const auto f = [&](double y) {
                Sums q = quantities(origin_, y);
                const double e = evaluate_at(element, origin_, y);
                for (double& x : q)
                    x *= e;
                return q;
            };
            const Sums r = panel_integral(Panel(gauss8(), u, v), f);
            for (std::size_t m = 0; m < K; ++m)
                sums[m] += r[m];
        };

        // Panels [first, last] lie inside [a, b].
        const std::size_t first = static_cast<std::size_t>(
            std::lower_bound(s.lo.begin(), s.lo.end(), a) - s.lo.begin());
        const std::size_t end = static_cast<std::size_t>(
            std::upper_bound(s.hi.begin(), s.hi.end(), b) - s.hi.begin());
        if (first >= end) {
            fresh(a, b);
            return sums;
        }
        if (a < s.lo[first]) fresh(a, s.lo[first]);
        const std::size_t n0 = s.first[first], n1 = s.first[end];
        const double* y = s.y.data();
        if (!fts_) {
            if (const auto* shape = std::get_if<Shape>(&element)) {
                shape_sums(*shape, n0, n1, sums);
            } else {
                for (std::size_t i = n0; i < n1; ++i) {
                    const double e = evaluate_at(element, origin_, y[i]);
                    for (std::size_t m = 0; m < K; ++m)
                        sums[m] += s.f[i * K + m] * e;
                }
            }
            if (s.hi[end - 1] < b) fresh(s.hi[end - 1], b);
            return sums;
        }

        const auto& p = std::get<Profile>(element);
        const auto& kind = std::get<Fts>(p.kind);
        const double d = p.center - origin_;
        const double reach = apodization_phase_radius(kind.apodization) / g_;
        const std::size_t near0 =
            static_cast<std::size_t>(std::lower_bound(y + n0, y + n1, d - reach) - y);
        const std::size_t near1 = static_cast<std::size_t>(
            std::lower_bound(y + near0, y + n1, d + reach) - y);
        const SinCos shift = split_sincos(phase_, d);
        table_sums(kind, d, shift, n0, near0, sums);
        for (std::size_t i = near0; i < near1; ++i) {
            const double e = evaluate_at(element, origin_, y[i]);
            for (std::size_t m = 0; m < K; ++m)
                sums[m] += s.f[i * K + m] * e;
        }
        table_sums(kind, d, shift, near1, n1, sums);

        if (s.hi[end - 1] < b) fresh(s.hi[end - 1], b);
        return sums;
    }

    double origin() const { return origin_; }

  private:
    static bool is_fts(const Element& e) {
        const auto* p = std::get_if<Profile>(&e);
        return p != nullptr && std::holds_alternative<Fts>(p->kind);
    }

    struct SinCos {
        double s, c;
    };

    // sin and cos of w x, w x split exactly into hi + lo: the low part enters to first order.
    static SinCos split_sincos(double w, double x) {
        const double hi = w * x;
        const double lo = std::fma(w, x, -hi);
        const double sh = std::sin(hi), ch = std::cos(hi);
        return {sh + lo * ch, ch - lo * sh};
    }

    // Sums over the nodes [n0, n1) against a shape, its values as evaluate_at gives them, each
    // node's segment search starting from the previous node's segment.
    void shape_sums(const Shape& shape, std::size_t n0, std::size_t n1, Sums& sums) const {
        const SharedRowScratch& s = *scratch_;
        const ShapeView view = shape_view(shape);
        const Segment* guess = nullptr;
        for (std::size_t i = n0; i < n1; ++i) {
            const ShapePoint p = shape_point(view, origin_, s.y[i], guess);
            if (p.segment == nullptr) continue;
            guess = p.from_end ? view.segments + (p.segment - view.from_end) : p.segment;
            const Segment& g = *p.segment;
            double e = g.c0 + p.t * (g.c1 + p.t * (g.c2 + p.t * g.c3));
            if (view.nonnegative && e < 0.0) e = 0.0;
            for (std::size_t m = 0; m < K; ++m)
                sums[m] += s.f[i * K + m] * e;
        }
    }

    // Sums over the nodes [n0, n1), all at least the phase radius from the sample's center.
    void table_sums(const Fts& kind, double d, SinCos shift, std::size_t n0, std::size_t n1,
                    Sums& sums) const {
        const Apodization& ap = kind.apodization;
        const bool sinc = ap.kind == Apodization::Kind::CosineSum && ap.c[1] == 0.0 &&
                          ap.c[2] == 0.0 && ap.c[3] == 0.0;
        if (sinc) {
            const double scale = kind.inv_peak * (ap.c[0] * 2.0);
            node_sums(d, shift, n0, n1, sums,
                      [scale](double theta, double sn, double) { return scale * (sn / theta); });
        } else {
            node_sums(d, shift, n0, n1, sums, [&kind, &ap](double theta, double sn, double cs) {
                return kind.inv_peak * apodization_kernel_from_phase(ap, theta, sn, cs);
            });
        }
    }

    // sum_i f_i * value(theta_i, sin, cos) over [n0, n1), in four interleaved partial sums.
    template <class Value>
    void node_sums(double d, SinCos shift, std::size_t n0, std::size_t n1, Sums& sums,
                   Value value) const {
        const SharedRowScratch& s = *scratch_;
        const double* y = s.y.data();
        const double* ts = s.s.data();
        const double* tc = s.c.data();
        const double* f = s.f.data();
        const double g = g_;
        std::array<std::array<double, 4>, K> part{};
        std::size_t i = n0;
        for (; i + 4 <= n1; i += 4) {
            double v[4];
            for (std::size_t l = 0; l < 4; ++l) {
                const std::size_t n = i + l;
                const double theta = g * (y[n] - d);
                const double sn = ts[n] * shift.c - tc[n] * shift.s;
                const double cs = tc[n] * shift.c + ts[n] * shift.s;
                v[l] = value(theta, sn, cs);
            }
            for (std::size_t m = 0; m < K; ++m)
                for (std::size_t l = 0; l < 4; ++l)
                    part[m][l] += f[(i + l) * K + m] * v[l];
        }
        for (; i < n1; ++i) {
            const double theta = g * (y[i] - d);
            const double sn = ts[i] * shift.c - tc[i] * shift.s;
            const double cs = tc[i] * shift.c + ts[i] * shift.s;
            const double v = value(theta, sn, cs);
            for (std::size_t m = 0; m < K; ++m)
                part[m][0] += f[i * K + m] * v;
        }
        for (std::size_t m = 0; m < K; ++m)
            sums[m] += (part[m][0] + part[m][1]) + (part[m][2] + part[m][3]);
    }

    const SharedRowScratch* scratch_ = nullptr;
    bool fts_ = false;
    double origin_ = 0.0, from_ = 0.0, to_ = 0.0, g_ = 0.0, phase_ = 0.0;
};

// Inner products of line-shape rows with the columns they meet (no weight): a row whose candidates
// all take the shared walk integrates them from it, other rows pair by pair (pair_inner_product).
SparseMatrix shared_walk_rows(std::span<const Element> rows, const Space& cols,
                              const PointIndex& index);

} // namespace quorvel
