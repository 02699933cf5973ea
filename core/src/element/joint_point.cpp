// A profile element at one point with all its derivatives, through its kind's joint values.
#include "quorvel/joint_point.hpp"

#include "local_point.hpp"
#include "profile/kinds.hpp"

namespace quorvel {

namespace {

template <class K>
JointPoint::Values joint_at(const Profile& e, double constant, double origin, double y) {
    const LocalPoint x{origin, y};
    if (x.outside(e.lower, e.upper)) return {0.0, 0.0, 0.0, 0.0, 0.0};
    const double t = x.from(e.center);
    const line_shape::JointValues p = line_shape::joint_values(std::get<K>(e.kind), t, constant);
    return {p.value, -p.slope, -t * p.slope, p.rates[0], p.rates[1]};
}

template <class K> int joint_slot(const Profile& e, ParameterKind p) {
    if (p == ParameterKind::Center) return 1;
    if (p == ParameterKind::Scale) return 2;
    const int r = line_shape::joint_rate(std::get<K>(e.kind), p);
    return r < 0 ? -1 : 3 + r;
}

} // namespace

std::optional<JointPoint> JointPoint::make(const Profile& e,
                                           std::span<const ParameterKind> parameters) {
    return std::visit(
        [&]<class K>(const K& k) -> std::optional<JointPoint> {
            if constexpr (line_shape::HasJointRates<K>) {
                for (ParameterKind p : parameters)
                    if (joint_slot<K>(e, p) < 0) return std::nullopt;
                return JointPoint(e, line_shape::joint_constant(k), joint_at<K>, joint_slot<K>);
            } else {
                return std::nullopt;
            }
        },
        e.kind);
}

std::size_t JointPoint::slot(ParameterKind p) const {
    return static_cast<std::size_t>(slot_(*profile_, p));
}

} // namespace quorvel
