// Elements rebuilt from their stored fields: each kind goes through the checks of the
// constructor that makes it, and every derived field is computed again by that constructor's
// code, so a restored element is one the constructors could have made, bit for bit.
#include <cmath>
#include <memory>
#include <string>

#include "checks.hpp"
#include "profile/fts.hpp"
#include "profile/gaussian.hpp"
#include "profile/lorentzian.hpp"
#include "profile/pseudo_voigt.hpp"
#include "profile/smoothed_box.hpp"
#include "profile/super_gaussian.hpp"
#include "profile/voigt.hpp"
#include "profiles.hpp"
#include "quorvel/constructors.hpp"
#include "quorvel/overloaded.hpp"

namespace quorvel {

namespace {

// The largest wavenumber harmonics() can give: integers are exact in a double up to 2^53.
constexpr double max_wavenumber = 9007199254740992.0;

Result<ProfileKind> check_harmonic(const Harmonic& k) {
    const bool whole = k.wavenumber >= 1.0 && k.wavenumber <= max_wavenumber &&
                       std::floor(k.wavenumber) == k.wavenumber;
    if (!whole) return invalid_input("harmonic wavenumber must be a whole number >= 1");
    if (!(k.period > 0.0 && k.period < INFINITY) || !std::isfinite(k.phase))
        return invalid_input("harmonic needs a finite period > 0 and a finite phase");
    return k;
}

// The kind remade by its constructor from its free parameters (peak factors are derived).
Result<ProfileKind> remake_kind(const ProfileKind& kind) {
    return std::visit(
        Overloaded{
            [](const Gaussian& k) { return line_shape::make_gaussian(k.sigma); },
            [](const Lorentzian& k) { return line_shape::make_lorentzian(k.hwhm); },
            [](const Voigt& k) -> Result<ProfileKind> {
                // The constructor turns a Voigt with one zero width into another kind.
                if (!(k.sigma > 0.0 && k.gamma > 0.0))
                    return invalid_input("a Voigt element needs sigma > 0 and gamma > 0");
                return line_shape::make_voigt(k.sigma, k.gamma);
            },
            [](const PseudoVoigt& k) { return line_shape::make_pseudo_voigt(k.hwhm, k.eta); },
            [](const SuperGaussian& k) {
                return line_shape::make_super_gaussian(k.hwhm_left, k.hwhm_right, k.power);
            },
            [](const SmoothedBox& k) {
                return line_shape::make_smoothed_box(k.half_width, k.sigma);
            },
            [](const Fts& k) { return line_shape::make_fts(k.max_opd, k.apodization); },
            [](const Matern&) -> Result<ProfileKind> {
                return invalid_input("a Matern profile is not an element of a space");
            },
            [](const Harmonic& k) { return check_harmonic(k); },
        },
        kind);
}

Result<Element> restore_profile(const Profile& p) {
    QUORVEL_TRY_ASSIGN(const ProfileKind kind, remake_kind(p.kind));
    QUORVEL_TRY_ASSIGN(Elements one, build_profiles(Values(&p.center, 1), {&kind, 1}, p.cutoff));
    return std::move(one.front());
}

Result<Element> restore_mapped(const Mapped& m) {
    if (m.inner == nullptr) return invalid_input("a mapped element needs an inner element");
    if (std::holds_alternative<Delta>(*m.inner))
        return invalid_input("a mapped element cannot hold a delta");
    QUORVEL_TRY_ASSIGN(Elements one,
                       mapped(std::span(m.inner.get(), 1), m.map, m.a, m.b, m.jacobian));
    Mapped& made = std::get<Mapped>(one.front());
    made.inner = m.inner;
    return Element(std::move(made));
}

} // namespace

Result<Element> restore_element(const Element& stored) {
    return std::visit(Overloaded{
                          [](const Delta& d) -> Result<Element> {
                              QUORVEL_TRY(check_delta(d.x));
                              return Element(d);
                          },
                          [](const Box& b) -> Result<Element> {
                              QUORVEL_TRY(check_box(b.a, b.b));
                              return Element(b);
                          },
                          [](const Hat& h) -> Result<Element> {
                              QUORVEL_TRY(check_hat(h.a, h.c, h.b));
                              return Element(h);
                          },
                          [](const Shape& s) -> Result<Element> {
                              if (s.segments == nullptr || s.segments->empty())
                                  return invalid_input("a shape needs at least one segment");
                              QUORVEL_TRY(check_piecewise_placement(s.center, s.stretch));
                              if (std::isinf(s.nominal_center))
                                  return invalid_input(
                                      "piecewise element needs finite center and stretch > 0");
                              // The end forms are the same pieces, one for one.
                              if (s.from_end) {
                                  const auto& a = *s.segments;
                                  const auto& b = *s.from_end;
                                  if (a.size() != b.size())
                                      return invalid_input(
                                          "a shape's end forms must match its pieces");
                                  for (std::size_t k = 0; k < a.size(); ++k)
                                      if (a[k].a != b[k].a || a[k].b != b[k].b)
                                          return invalid_input(
                                              "a shape's end forms must match its pieces");
                              }
                              Element e(s);
                              const Support sup = support(e);
                              if (!std::isfinite(sup.lower) || !std::isfinite(sup.upper))
                                  return invalid_input("piecewise element support must be finite");
                              QUORVEL_TRY(check_support_width("piecewise element", sup.lower,
                                                              sup.upper));
                              return e;
                          },
                          [](const Profile& p) { return restore_profile(p); },
                          [](const Mapped& m) { return restore_mapped(m); },
                      },
                      static_cast<const ElementVariant&>(stored));
}

} // namespace quorvel
