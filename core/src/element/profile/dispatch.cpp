// One visit over the line-shape kinds per operation, calling the functions of the kind files and
// reading their descriptors, and the checks every kind shares.
#include "dispatch.hpp"

#include <string>
#include <variant>

#include "../apodization_kernel.hpp"
#include "kinds.hpp"

namespace quorvel {

namespace {

using line_shape::Descriptor;

std::string render_value(double v) {
    return fmt_debug(v);
}
std::string render_value(const Apodization& a) {
    return render_apodization(a);
}
std::string render_value(MaternOrder o) {
    return std::string(line_shape::matern_order_name(o));
}

std::unexpected<CoreError> no_parameter(const ProfileKind& kind, ParameterKind p) {
    return invalid_input(render_kind(kind) + " has no parameter " + std::string(parameter_name(p)));
}

} // namespace

std::string_view parameter_name(ParameterKind p) {
    for (const ParameterName& n : parameter_names)
        if (n.value == p) return n.variant;
    throw InternalError("unknown parameter kind");
}

double profile_value(const ProfileKind& kind, double t) {
    return std::visit([t](const auto& k) { return line_shape::value(k, t); }, kind);
}

void profile_values(const ProfileKind& kind, std::span<const double> t, double* out) {
    std::visit(
        [t, out](const auto& k) {
            for (std::size_t i = 0; i < t.size(); ++i)
                out[i] = line_shape::value(k, t[i]);
        },
        kind);
}

double profile_slope(const ProfileKind& kind, double t) {
    return std::visit([t](const auto& k) { return line_shape::slope(k, t); }, kind);
}

std::array<double, 2> profile_value_and_slope(const ProfileKind& kind, double t) {
    return std::visit(
        [t]<class K>(const K& k) -> std::array<double, 2> {
            if constexpr (line_shape::HasValueAndSlope<K>)
                return line_shape::value_and_slope(k, t);
            else
                return {line_shape::value(k, t), line_shape::slope(k, t)};
        },
        kind);
}

double profile_scale(const ProfileKind& kind, double d) {
    return std::visit([d](const auto& k) { return line_shape::step_scale(k, d); }, kind);
}

double profile_scale_bound(const ProfileKind& kind, double d) {
    return std::visit(
        [d]<class K>(const K& k) {
            if constexpr (line_shape::HasStepBound<K>)
                return line_shape::step_bound(k, d);
            else
                return line_shape::step_scale(k, d);
        },
        kind);
}

std::optional<double> profile_integral(const ProfileKind& kind, double a, double b) {
    return std::visit(
        [a, b]<class K>(const K& k) -> std::optional<double> {
            if constexpr (line_shape::HasIntegral<K>)
                return line_shape::integral(k, a, b);
            else
                return std::nullopt;
        },
        kind);
}

Result<line_shape::Extent> profile_extent(const ProfileKind& kind, double cutoff) {
    if (!(cutoff > 0.0 && cutoff < INFINITY))
        return invalid_input("cutoff must be finite and > 0, got " + fmt_fixed(cutoff));
    return std::visit([cutoff](const auto& k) { return line_shape::extent(k, cutoff); }, kind);
}

Result<double> profile_parameter_derivative(const ProfileKind& kind, ParameterKind p, double t) {
    if (p == ParameterKind::Center) return -profile_slope(kind, t);
    if (p == ParameterKind::Scale) return -t * profile_slope(kind, t);
    const std::optional<double> d = std::visit(
        [p, t]<class K>(const K& k) -> std::optional<double> {
            if constexpr (line_shape::HasParameters<K>)
                return line_shape::parameter_derivative(k, p, t);
            else
                return std::nullopt;
        },
        kind);
    if (!d) return no_parameter(kind, p);
    return *d;
}

Result<ExtentRates> profile_extent_rates(const ProfileKind& kind, ParameterKind p, double cutoff) {
    const std::optional<ExtentRates> rates = std::visit(
        [p, cutoff]<class K>(const K& k) -> std::optional<ExtentRates> {
            if constexpr (line_shape::HasParameters<K>)
                return line_shape::extent_rates(k, p, cutoff);
            else
                return std::nullopt;
        },
        kind);
    if (!rates) return no_parameter(kind, p);
    return *rates;
}

std::string_view kind_name(const ProfileKind& kind) {
    return std::visit([]<class K>(const K&) { return Descriptor<K>::name; }, kind);
}

KindFamily kind_family(const ProfileKind& kind) {
    return std::visit(
        []<class K>(const K&) { return KindFamily{Descriptor<K>::one, Descriptor<K>::many}; }, kind);
}

std::string render_kind(const ProfileKind& kind) {
    return std::visit(
        []<class K>(const K& k) {
            std::string text = std::string(Descriptor<K>::name) + " { ";
            bool first = true;
            line_shape::for_each_field<K>([&](const auto& f) {
                text += (first ? "" : ", ") + std::string(f.name) + ": " + render_value(k.*f.member);
                first = false;
            });
            return text + " }";
        },
        kind);
}

Result<ProfileKind> remake_kind(const ProfileKind& kind) {
    return std::visit([]<class K>(const K& k) { return Descriptor<K>::remake(k); }, kind);
}

// ---- serialized form ---------------------------------------------------------------------------

namespace {

void write_field(KindFieldWriter& out, double v) {
    out.real(v);
}
void write_field(KindFieldWriter& out, const Apodization& a) {
    out.window(a);
}
Result<double> read_field(KindFieldReader& in, double*) {
    return in.real();
}
Result<Apodization> read_field(KindFieldReader& in, Apodization*) {
    return in.window();
}

} // namespace

std::optional<std::uint8_t> kind_wire(const ProfileKind& kind) {
    return std::visit([]<class K>(const K&) { return Descriptor<K>::wire; }, kind);
}

void write_kind_fields(const ProfileKind& kind, KindFieldWriter& out) {
    std::visit(
        [&out]<class K>(const K& k) {
            if constexpr (Descriptor<K>::wire.has_value()) {
                line_shape::for_each_field<K>([&](const auto& f) {
                    if (f.stored == line_shape::Stored::Free) write_field(out, k.*f.member);
                });
            } else {
                throw InternalError("a " + std::string(Descriptor<K>::name) +
                                    " profile is not an element of a space");
            }
        },
        kind);
}

std::optional<Result<ProfileKind>> read_kind_fields(std::uint8_t wire, KindFieldReader& in) {
    std::optional<Result<ProfileKind>> out;
    line_shape::for_each_kind([&]<class K>(std::type_identity<K>) {
        if constexpr (Descriptor<K>::wire.has_value()) {
            if (out || *Descriptor<K>::wire != wire) return;
            K k{};
            Status status;
            line_shape::for_each_field<K>([&](const auto& f) {
                if (f.stored != line_shape::Stored::Free || !status) return;
                auto v = read_field(in, &(k.*f.member));
                if (v)
                    k.*f.member = *v;
                else
                    status = std::unexpected(v.error());
            });
            out = status ? Result<ProfileKind>(k) : Result<ProfileKind>(std::unexpected(status.error()));
        }
    });
    return out;
}

} // namespace quorvel
