// A profile element at one point with its value and its derivatives by several parameters, all
// from one evaluation, for the line-shape kinds that compute them together.
#pragma once

#include <array>
#include <optional>
#include <span>

#include "quorvel/element.hpp"
#include "quorvel/profile.hpp"

namespace quorvel {

class JointPoint {
  public:
    // Nothing when the kind of `e` does not compute every one of `parameters` with its value
    // (Center and Scale always count). `e` must outlive the result.
    static std::optional<JointPoint> make(const Profile& e,
                                          std::span<const ParameterKind> parameters);

    // The value at origin + y and the derivatives by Center, Scale and the kind's joint
    // parameters, each bitwise what evaluate_at and parameter_derivative_at give (0 outside the
    // support); slot(p) is where the one by p is.
    using Values = std::array<double, 5>;
    Values at(double origin, double y) const { return at_(*profile_, constant_, origin, y); }
    std::size_t slot(ParameterKind p) const;

  private:
    using At = Values (*)(const Profile&, double constant, double origin, double y);
    using Slot = int (*)(const Profile&, ParameterKind p);
    JointPoint(const Profile& e, double constant, At at, Slot slot)
        : profile_(&e), constant_(constant), at_(at), slot_(slot) {}

    const Profile* profile_;
    double constant_;
    At at_;
    Slot slot_;
};

} // namespace quorvel
