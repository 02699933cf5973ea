// Writing and reading the binary form of spaces and of projection and fit inputs (layout in
// quorvel/serialize.hpp). Writing numbers the shared parts (segment tables, inner elements of
// mapped elements) once; reading checks each count against the remaining bytes, each reference
// against what was read before it, and each element through restore_element.
#include "quorvel/serialize.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <iterator>
#include <limits>
#include <memory>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <utility>

#include "quorvel/constructors.hpp"
#include "quorvel/overloaded.hpp"
#include "restore.hpp"
#include "spline_runs.hpp"

namespace quorvel {

namespace {

// Element kinds are written as their variant indices.
static_assert(std::is_same_v<std::variant_alternative_t<0, ElementVariant>, Delta> &&
              std::is_same_v<std::variant_alternative_t<3, ElementVariant>, Shape> &&
              std::is_same_v<std::variant_alternative_t<5, ElementVariant>, Mapped>);

enum class Object : std::uint8_t { Space = 0, Projection = 1, Fit = 2 };

constexpr std::array<std::uint8_t, 2> magic{'Q', 'V'};
constexpr std::size_t segment_size = 6 * 8;
// The smallest encodings of a table and of an element bound the counts that data can claim.
constexpr std::size_t min_table_size = 1 + segment_size;
constexpr std::size_t min_element_size = 1 + 8;
// A run of B-splines takes at least one knot (8 bytes) per element.
constexpr std::size_t min_run_element_size = 8;
// The records of a run of B-splines and of a periodic family in a space, after the element kinds.
constexpr std::uint8_t spline_run_record = 6;
constexpr std::uint8_t periodic_family_record = 7;
// The first version that stores runs of B-splines as their knots.
constexpr std::uint8_t first_version_with_runs = 2;

// Coefficients stored per apodization window.
std::size_t window_coefficients(Apodization::Kind kind) {
    switch (kind) {
    case Apodization::Kind::CosineSum:
        return 4;
    case Apodization::Kind::Triangle:
        return 0;
    case Apodization::Kind::Polynomial:
        return 5;
    }
    return 0;
}

// ---- writing -----------------------------------------------------------------------------------

class Writer {
  public:
    void byte(std::uint8_t v) { out_.push_back(v); }
    void flag(bool v) { byte(v ? 1 : 0); }
    void count(std::uint64_t v) {
        for (; v >= 0x80; v >>= 7)
            out_.push_back(static_cast<std::uint8_t>(v | 0x80));
        out_.push_back(static_cast<std::uint8_t>(v));
    }
    void real(double v) {
        auto bits = std::bit_cast<std::uint64_t>(v);
        for (int i = 0; i < 8; ++i, bits >>= 8)
            out_.push_back(static_cast<std::uint8_t>(bits));
    }
    void weight(CosineWeight w) {
        flag(w.has_value());
        if (w) real(*w);
    }
    Bytes take() { return std::move(out_); }

  private:
    Bytes out_;
};

// The shared parts of the elements to write, numbered in the order first met. An inner element
// is numbered after the inner elements it holds, so references only ever point backwards.
class SharedParts {
  public:
    Status add(const Element& e) {
        std::size_t depth = 0;
        for (const Element* p = &e; const auto* m = std::get_if<Mapped>(p); p = m->inner.get())
            ++depth;
        if (depth > max_mapped_depth)
            return invalid_input("mapped elements nested more than " +
                                 std::to_string(max_mapped_depth) + " deep cannot be serialized");
        visit(e);
        return {};
    }
    std::size_t table_of(const std::vector<Segment>& t) const { return table_index_.at(&t); }
    std::size_t inner_of(const Mapped& m) const { return inner_index_.at(m.inner.get()); }
    const std::vector<const std::vector<Segment>*>& tables() const { return tables_; }
    const std::vector<const Element*>& inner() const { return inner_; }

  private:
    void visit(const Element& e) {
        if (const auto* s = std::get_if<Shape>(&e)) {
            add_table(s->segments.get());
            if (s->from_end) add_table(s->from_end.get());
        } else if (const auto* m = std::get_if<Mapped>(&e)) {
            const Element* inner = m->inner.get();
            if (inner_index_.contains(inner)) return;
            visit(*inner);
            inner_index_.emplace(inner, inner_.size());
            inner_.push_back(inner);
        }
    }

    void add_table(const std::vector<Segment>* table) {
        if (table_index_.emplace(table, tables_.size()).second) tables_.push_back(table);
    }

    std::unordered_map<const std::vector<Segment>*, std::size_t> table_index_;
    std::vector<const std::vector<Segment>*> tables_;
    std::unordered_map<const Element*, std::size_t> inner_index_;
    std::vector<const Element*> inner_;
};

// A line shape as its wire number and its free fields.
void write_kind(Writer& w, const ProfileKind& kind) {
    const std::optional<std::uint8_t> wire = kind_wire(kind);
    if (!wire)
        throw InternalError("a " + std::string(kind_name(kind)) +
                            " profile is not an element of a space");
    w.byte(*wire);
    struct Fields final : KindFieldWriter {
        Writer& w;
        explicit Fields(Writer& w) : w(w) {}
        void real(double v) override { w.real(v); }
        void window(const Apodization& a) override {
            w.byte(static_cast<std::uint8_t>(a.kind));
            for (std::size_t i = 0; i < window_coefficients(a.kind); ++i)
                w.real(a.c[i]);
        }
    } fields(w);
    write_kind_fields(kind, fields);
}

void write_element(Writer& w, const Element& e, const SharedParts& parts) {
    w.byte(static_cast<std::uint8_t>(e.index()));
    std::visit(Overloaded{
                   [&](const Delta& d) { w.real(d.x); },
                   [&](const Box& b) {
                       w.real(b.a);
                       w.real(b.b);
                   },
                   [&](const Hat& h) {
                       w.real(h.a);
                       w.real(h.c);
                       w.real(h.b);
                   },
                   [&](const Shape& s) {
                       w.count(parts.table_of(*s.segments));
                       w.real(s.center);
                       w.real(s.stretch);
                       // 2: non-negative, with the reported center after the end form.
                       const bool nominal = !std::isnan(s.nominal_center);
                       w.byte(nominal ? 2 : s.nonnegative ? 1 : 0);
                       w.flag(s.from_end != nullptr);
                       if (s.from_end) w.count(parts.table_of(*s.from_end));
                       if (nominal) w.real(s.nominal_center);
                   },
                   [&](const Profile& p) {
                       write_kind(w, p.kind);
                       w.real(p.center);
                       w.real(p.cutoff);
                   },
                   [&](const Mapped& m) {
                       w.byte(m.map == MapKind::Reciprocal ? 0 : 1);
                       w.real(m.a);
                       w.real(m.b);
                       w.flag(m.jacobian);
                       w.count(parts.inner_of(m));
                   },
               },
               static_cast<const ElementVariant&>(e));
}

// A space with its runs of B-splines, which are written as their knots.
struct SpaceToWrite {
    const Space* space;
    std::vector<SplineRun> runs;
};

void write_space(Writer& w, const SpaceToWrite& s, const SharedParts& parts) {
    const std::vector<Element>& elements = s.space->elements;
    w.count(elements.size());
    auto run = s.runs.begin();
    for (std::size_t i = 0; i < elements.size();) {
        if (run != s.runs.end() && run->first == i) {
            w.byte(run->periodic ? periodic_family_record : spline_run_record);
            w.byte(static_cast<std::uint8_t>(run->degree));
            w.count(run->count);
            for (double t : run->knots)
                w.real(t);
            i += run->count;
            ++run;
        } else {
            write_element(w, elements[i], parts);
            ++i;
        }
    }
}

// Header, shared parts and spaces; `tail` writes the object's remaining fields.
template <class Tail>
Result<Bytes> write_object(Object object, std::initializer_list<const Space*> spaces, Tail tail) {
    std::vector<SpaceToWrite> to_write;
    SharedParts parts;
    for (const Space* space : spaces) {
        SpaceToWrite& s = to_write.emplace_back(space, find_spline_runs(space->elements));
        // Only the elements outside runs are written with their shared parts.
        auto run = s.runs.begin();
        for (std::size_t i = 0; i < space->size(); ++i) {
            if (run != s.runs.end() && i >= run->first + run->count) ++run;
            if (run != s.runs.end() && i >= run->first) continue;
            QUORVEL_TRY(parts.add(space->elements[i]));
        }
    }

    Writer w;
    w.byte(magic[0]);
    w.byte(magic[1]);
    w.byte(serial_format_version);
    w.byte(static_cast<std::uint8_t>(object));
    w.count(parts.tables().size());
    for (const std::vector<Segment>* table : parts.tables()) {
        w.count(table->size());
        for (const Segment& s : *table)
            for (double v : {s.c0, s.c1, s.c2, s.c3, s.a, s.b})
                w.real(v);
    }
    w.count(parts.inner().size());
    for (const Element* e : parts.inner())
        write_element(w, *e, parts);
    for (const SpaceToWrite& s : to_write)
        write_space(w, s, parts);
    tail(w);
    return w.take();
}

// ---- reading -----------------------------------------------------------------------------------

std::unexpected<CoreError> corrupt(const std::string& detail) {
    return invalid_input("corrupt serialized quorvel data: " + detail);
}

std::unexpected<CoreError> truncated() {
    return invalid_input("serialized quorvel data is truncated");
}

// A prefix naming where a constructor's check failed.
std::unexpected<CoreError> corrupt_at(const std::string& where, const CoreError& error) {
    return corrupt(where + ": " + error.message);
}

class Reader {
  public:
    explicit Reader(std::span<const std::uint8_t> bytes) : rest_(bytes) {}

    std::size_t remaining() const { return rest_.size(); }
    // The next byte, not taken; only when remaining() > 0.
    std::uint8_t peek() const { return rest_.front(); }

    Result<std::uint8_t> byte() {
        if (rest_.empty()) return truncated();
        const std::uint8_t v = rest_.front();
        rest_ = rest_.subspan(1);
        return v;
    }

    Result<bool> flag(const char* what) {
        QUORVEL_TRY_ASSIGN(const std::uint8_t v, byte());
        if (v > 1) return corrupt(std::string(what) + " must be 0 or 1, got " + std::to_string(v));
        return v == 1;
    }

    Result<double> real() {
        if (rest_.size() < 8) return truncated();
        std::uint64_t bits = 0;
        for (int i = 0; i < 8; ++i)
            bits |= static_cast<std::uint64_t>(rest_[i]) << (8 * i);
        rest_ = rest_.subspan(8);
        return std::bit_cast<double>(bits);
    }

    template <std::size_t N> Result<std::array<double, N>> reals() {
        std::array<double, N> out{};
        for (double& v : out) {
            QUORVEL_TRY_ASSIGN(v, real());
        }
        return out;
    }

    // Unsigned LEB128, at most ten bytes.
    Result<std::uint64_t> varint() {
        std::uint64_t v = 0;
        for (unsigned shift = 0;; shift += 7) {
            QUORVEL_TRY_ASSIGN(const std::uint8_t b, byte());
            if (shift == 63 && b > 1) return corrupt("a count does not fit in 64 bits");
            v |= static_cast<std::uint64_t>(b & 0x7f) << shift;
            if (b < 0x80) return v;
        }
    }

    // A count of items that take at least `min_size` bytes each: more than the remaining bytes
    // can hold is rejected before anything is allocated for them.
    Result<std::size_t> count(std::size_t min_size, const char* what) {
        QUORVEL_TRY_ASSIGN(const std::uint64_t n, varint());
        if (n > rest_.size() / min_size)
            return corrupt(std::to_string(n) + " " + what + " cannot fit in the remaining " +
                           std::to_string(rest_.size()) + " bytes");
        return static_cast<std::size_t>(n);
    }

    // A reference to one of the `n` parts read before.
    Result<std::size_t> index(std::size_t n, const char* what) {
        QUORVEL_TRY_ASSIGN(const std::uint64_t i, varint());
        if (i >= n)
            return corrupt(std::string(what) + " " + std::to_string(i) + " out of range for " +
                           std::to_string(n));
        return static_cast<std::size_t>(i);
    }

  private:
    std::span<const std::uint8_t> rest_;
};

// The shared parts read so far, with the nesting depth of each inner element.
struct Parts {
    std::vector<SegmentList> tables;
    std::vector<std::shared_ptr<const Element>> inner;
    std::vector<std::size_t> depth;
};

Result<SegmentList> read_table(Reader& r, std::size_t t) {
    QUORVEL_TRY_ASSIGN(const std::size_t n, r.count(segment_size, "segments"));
    std::vector<Segment> segments;
    segments.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        QUORVEL_TRY_ASSIGN(const auto v, r.reals<6>());
        segments.push_back(Segment{v[0], v[1], v[2], v[3], v[4], v[5]});
    }
    if (auto ok = check_segments(segments); !ok)
        return corrupt_at("segment table " + std::to_string(t), ok.error());
    return std::make_shared<const std::vector<Segment>>(std::move(segments));
}

Result<Apodization> read_window(Reader& r) {
    QUORVEL_TRY_ASSIGN(const std::uint8_t kind, r.byte());
    if (kind > static_cast<std::uint8_t>(Apodization::Kind::Polynomial))
        return corrupt("unknown apodization window " + std::to_string(kind));
    Apodization a{static_cast<Apodization::Kind>(kind), {}};
    for (std::size_t i = 0; i < window_coefficients(a.kind); ++i) {
        QUORVEL_TRY_ASSIGN(a.c[i], r.real());
    }
    return a;
}

// The free parameters of a line shape; restore_element derives the rest.
Result<ProfileKind> read_kind(Reader& r) {
    QUORVEL_TRY_ASSIGN(const std::uint8_t wire, r.byte());
    struct Fields final : KindFieldReader {
        Reader& r;
        explicit Fields(Reader& r) : r(r) {}
        Result<double> real() override { return r.real(); }
        Result<Apodization> window() override { return read_window(r); }
    } fields(r);
    std::optional<Result<ProfileKind>> kind = read_kind_fields(wire, fields);
    if (!kind) return corrupt("unknown line-shape kind " + std::to_string(wire));
    return std::move(*kind);
}

// One element as stored, before restore_element checks it; `depth` receives its nesting depth.
Result<Element> read_fields(Reader& r, const Parts& parts, std::size_t& depth) {
    depth = 0;
    QUORVEL_TRY_ASSIGN(const std::uint8_t kind, r.byte());
    switch (kind) {
    case 0: {
        QUORVEL_TRY_ASSIGN(const auto v, r.reals<1>());
        return Delta{v[0]};
    }
    case 1: {
        QUORVEL_TRY_ASSIGN(const auto v, r.reals<2>());
        return Box{v[0], v[1]};
    }
    case 2: {
        QUORVEL_TRY_ASSIGN(const auto v, r.reals<3>());
        return Hat{v[0], v[1], v[2]};
    }
    case 3: {
        QUORVEL_TRY_ASSIGN(const std::size_t t, r.index(parts.tables.size(), "segment table"));
        QUORVEL_TRY_ASSIGN(const auto v, r.reals<2>());
        QUORVEL_TRY_ASSIGN(const std::uint8_t sign_flag, r.byte());
        if (sign_flag > 2)
            return corrupt("the non-negative flag must be 0, 1 or 2, got " +
                           std::to_string(sign_flag));
        QUORVEL_TRY_ASSIGN(const bool has_end, r.flag("the end-form flag"));
        SegmentList from_end;
        if (has_end) {
            QUORVEL_TRY_ASSIGN(const std::size_t e, r.index(parts.tables.size(), "segment table"));
            from_end = parts.tables[e];
        }
        double nominal = std::numeric_limits<double>::quiet_NaN();
        if (sign_flag == 2) {
            QUORVEL_TRY_ASSIGN(nominal, r.real());
        }
        return Shape{parts.tables[t], v[0], v[1], sign_flag != 0, std::move(from_end), nominal};
    }
    case 4: {
        QUORVEL_TRY_ASSIGN(ProfileKind line_shape, read_kind(r));
        QUORVEL_TRY_ASSIGN(const auto v, r.reals<2>());
        return Profile{std::move(line_shape), v[0], 0.0, 0.0, v[1]};
    }
    case 5: {
        QUORVEL_TRY_ASSIGN(const std::uint8_t map, r.byte());
        if (map > 1) return corrupt("unknown map kind " + std::to_string(map));
        QUORVEL_TRY_ASSIGN(const auto v, r.reals<2>());
        QUORVEL_TRY_ASSIGN(const bool jacobian, r.flag("the jacobian flag"));
        QUORVEL_TRY_ASSIGN(const std::size_t i, r.index(parts.inner.size(), "inner element"));
        depth = parts.depth[i] + 1;
        if (depth > max_mapped_depth)
            return corrupt("mapped elements nested more than " + std::to_string(max_mapped_depth) +
                           " deep");
        const MapKind kind_of_map = map == 0 ? MapKind::Reciprocal : MapKind::Affine;
        return Mapped{kind_of_map, v[0], v[1], parts.inner[i], 0.0, 0.0, jacobian};
    }
    default:
        return corrupt("unknown element kind " + std::to_string(kind));
    }
}

Result<Element> read_element(Reader& r, const Parts& parts, std::size_t& depth,
                             const std::string& where) {
    QUORVEL_TRY_ASSIGN(const Element stored, read_fields(r, parts, depth));
    auto restored = restore_element(stored);
    if (!restored) return corrupt_at(where, restored.error());
    return std::move(*restored);
}

Result<Parts> read_parts(Reader& r) {
    Parts parts;
    QUORVEL_TRY_ASSIGN(const std::size_t n_tables, r.count(min_table_size, "segment tables"));
    parts.tables.reserve(n_tables);
    for (std::size_t t = 0; t < n_tables; ++t) {
        QUORVEL_TRY_ASSIGN(SegmentList table, read_table(r, t));
        parts.tables.push_back(std::move(table));
    }
    QUORVEL_TRY_ASSIGN(const std::size_t n_inner, r.count(min_element_size, "inner elements"));
    parts.inner.reserve(n_inner);
    parts.depth.reserve(n_inner);
    for (std::size_t i = 0; i < n_inner; ++i) {
        std::size_t depth = 0;
        QUORVEL_TRY_ASSIGN(Element e,
                           read_element(r, parts, depth, "inner element " + std::to_string(i)));
        parts.inner.push_back(std::make_shared<const Element>(std::move(e)));
        parts.depth.push_back(depth);
    }
    return parts;
}

// A run of B-splines of one knot vector, for elements first ... of a space of n, appended to
// `elements` as the constructor makes them.
Status read_spline_run(Reader& r, bool periodic, std::size_t first, std::size_t n,
                       std::vector<Element>& elements, const char* name) {
    QUORVEL_TRY_ASSIGN(const std::uint8_t degree, r.byte());
    if (degree > 3) return corrupt("B-spline run of degree " + std::to_string(degree));
    QUORVEL_TRY_ASSIGN(const std::uint64_t count, r.varint());
    if (count == 0 || count > n - first)
        return corrupt(std::string(periodic ? "periodic " : "") + "B-spline run of " +
                       std::to_string(count) + " elements at " + name + " element " +
                       std::to_string(first) + " of " + std::to_string(n));
    const std::uint64_t n_knots = periodic ? count + 1 : count + degree + 1;
    if (n_knots > r.remaining() / 8) return truncated();
    std::vector<double> knots(static_cast<std::size_t>(n_knots));
    for (double& t : knots) {
        QUORVEL_TRY_ASSIGN(t, r.real());
    }
    auto made = periodic ? bsplines_periodic(knots, degree) : bsplines(knots, degree);
    if (!made)
        return corrupt_at(std::string(name) + " element " + std::to_string(first), made.error());
    internal_assert(made->size() == count, "a B-spline run of the wrong length");
    std::move(made->begin(), made->end(), std::back_inserter(elements));
    return {};
}

Result<Space> read_space(Reader& r, const Parts& parts, std::uint8_t version, const char* name) {
    const bool runs = version >= first_version_with_runs;
    QUORVEL_TRY_ASSIGN(const std::size_t n,
                       r.count(runs ? min_run_element_size : min_element_size, "elements"));
    std::vector<Element> elements;
    elements.reserve(n);
    while (elements.size() < n) {
        const std::size_t i = elements.size();
        if (runs && r.remaining() > 0 &&
            (r.peek() == spline_run_record || r.peek() == periodic_family_record)) {
            QUORVEL_TRY_ASSIGN(const std::uint8_t record, r.byte());
            QUORVEL_TRY(read_spline_run(r, record == periodic_family_record, i, n, elements, name));
            continue;
        }
        std::size_t depth = 0;
        QUORVEL_TRY_ASSIGN(
            Element e,
            read_element(r, parts, depth, std::string(name) + " element " + std::to_string(i)));
        elements.push_back(std::move(e));
    }
    return build_space(std::move(elements));
}

Result<SpacePtr> read_shared_space(Reader& r, const Parts& parts, std::uint8_t version,
                                   const char* name) {
    QUORVEL_TRY_ASSIGN(Space space, read_space(r, parts, version, name));
    return std::make_shared<const Space>(std::move(space));
}

Result<CosineWeight> read_weight(Reader& r) {
    QUORVEL_TRY_ASSIGN(const bool present, r.flag("the weight flag"));
    if (!present) return CosineWeight{};
    QUORVEL_TRY_ASSIGN(const double omega, r.real());
    auto w = check_weight(omega);
    if (!w) return corrupt_at("weight", w.error());
    return *w;
}

Result<ProjectionInputs> read_projection(Reader& r, const Parts& parts, std::uint8_t version) {
    ProjectionInputs p;
    QUORVEL_TRY_ASSIGN(p.src, read_shared_space(r, parts, version, "src"));
    QUORVEL_TRY_ASSIGN(p.dst, read_shared_space(r, parts, version, "dst"));
    QUORVEL_TRY_ASSIGN(p.weight, read_weight(r));
    return p;
}

Result<FitInputs> read_fit(Reader& r, const Parts& parts, std::uint8_t version) {
    FitInputs f;
    QUORVEL_TRY_ASSIGN(f.kernels, read_shared_space(r, parts, version, "kernels"));
    QUORVEL_TRY_ASSIGN(f.model, read_shared_space(r, parts, version, "model"));
    QUORVEL_TRY_ASSIGN(const std::uint8_t normalization, r.byte());
    if (normalization > static_cast<std::uint8_t>(Normalization::None))
        return corrupt("unknown normalization " + std::to_string(normalization));
    f.normalization = static_cast<Normalization>(normalization);
    QUORVEL_TRY_ASSIGN(f.smoothing, r.real());
    QUORVEL_TRY_ASSIGN(const std::uint8_t penalty, r.byte());
    if (penalty > static_cast<std::uint8_t>(Penalty::Kind::Difference))
        return corrupt("unknown penalty kind " + std::to_string(penalty));
    f.penalty.kind = static_cast<Penalty::Kind>(penalty);
    QUORVEL_TRY_ASSIGN(f.penalty.order, r.varint());
    QUORVEL_TRY_ASSIGN(f.weight, read_weight(r));
    return f;
}

} // namespace

Result<Bytes> serialize(const Space& space) {
    return write_object(Object::Space, {&space}, [](Writer&) {});
}

Result<Bytes> serialize(const ProjectionInputs& inputs) {
    internal_assert(inputs.src != nullptr && inputs.dst != nullptr, "projection without spaces");
    return write_object(Object::Projection, {inputs.src.get(), inputs.dst.get()},
                        [&](Writer& w) { w.weight(inputs.weight); });
}

Result<Bytes> serialize(const FitInputs& inputs) {
    internal_assert(inputs.kernels != nullptr && inputs.model != nullptr, "fit without spaces");
    return write_object(Object::Fit, {inputs.kernels.get(), inputs.model.get()}, [&](Writer& w) {
        w.byte(static_cast<std::uint8_t>(inputs.normalization));
        w.real(inputs.smoothing);
        w.byte(static_cast<std::uint8_t>(inputs.penalty.kind));
        w.count(inputs.penalty.order);
        w.weight(inputs.weight);
    });
}

Result<Deserialized> deserialize(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < magic.size() || bytes[0] != magic[0] || bytes[1] != magic[1])
        return invalid_input("not serialized quorvel data");
    Reader r(bytes.subspan(magic.size()));
    QUORVEL_TRY_ASSIGN(const std::uint8_t version, r.byte());
    if (version < oldest_serial_format_version || version > serial_format_version)
        return invalid_input("serialized quorvel data has format version " +
                             std::to_string(version) + "; this build reads versions " +
                             std::to_string(oldest_serial_format_version) + " to " +
                             std::to_string(serial_format_version));
    QUORVEL_TRY_ASSIGN(const std::uint8_t object, r.byte());
    if (object > static_cast<std::uint8_t>(Object::Fit))
        return corrupt("unknown object kind " + std::to_string(object));
    QUORVEL_TRY_ASSIGN(const Parts parts, read_parts(r));

    Deserialized out;
    switch (static_cast<Object>(object)) {
    case Object::Space: {
        QUORVEL_TRY_ASSIGN(out, read_space(r, parts, version, "space"));
        break;
    }
    case Object::Projection: {
        QUORVEL_TRY_ASSIGN(out, read_projection(r, parts, version));
        break;
    }
    case Object::Fit: {
        QUORVEL_TRY_ASSIGN(out, read_fit(r, parts, version));
        break;
    }
    }
    if (r.remaining() != 0)
        return corrupt(std::to_string(r.remaining()) + " bytes after the end of the data");
    return out;
}

} // namespace quorvel
