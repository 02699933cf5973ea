// The binary form of spaces and of projection and fit inputs: a round trip gives elements equal
// bit for bit, shared parts stay shared, and the reader rejects truncated, bit-flipped, random
// and hostile data with an error, never a crash. With an argument N, also runs N random
// mutations of the valid payloads (a longer fuzzing run, best under a sanitizer).
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "check.hpp"
#include "quorvel/constructors.hpp"
#include "quorvel/overloaded.hpp"
#include "quorvel/serialize.hpp"

namespace {

using namespace quorvel;

bool same(double a, double b) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

// Every stored field equal bit for bit (shared parts compared by value).
bool identical(const Element& x, const Element& y) {
    if (x.index() != y.index()) return false;
    const Support sx = support(x), sy = support(y);
    if (!same(sx.lower, sy.lower) || !same(sx.upper, sy.upper)) return false;
    return std::visit(Overloaded{
                          [&](const Delta& a) { return same(a.x, std::get<Delta>(y).x); },
                          [&](const Box& a) {
                              const Box& b = std::get<Box>(y);
                              return same(a.a, b.a) && same(a.b, b.b);
                          },
                          [&](const Hat& a) {
                              const Hat& b = std::get<Hat>(y);
                              return same(a.a, b.a) && same(a.c, b.c) && same(a.b, b.b);
                          },
                          [&](const Shape& a) {
                              const Shape& b = std::get<Shape>(y);
                              return same(a.center, b.center) && same(a.stretch, b.stretch) &&
                                     a.segments->size() == b.segments->size() &&
                                     std::memcmp(a.segments->data(), b.segments->data(),
                                                 a.segments->size() * sizeof(Segment)) == 0;
                          },
                          [&](const Profile& a) {
                              const Profile& b = std::get<Profile>(y);
                              // Kind records are plain doubles and enumerations: compare their
                              // bytes, after the fields that a record of another kind would not
                              // have.
                              return a.kind.index() == b.kind.index() && same(a.center, b.center) &&
                                     same(a.cutoff, b.cutoff) &&
                                     std::visit(
                                         [&](const auto& k) {
                                             using K = std::decay_t<decltype(k)>;
                                             const K& l = std::get<K>(b.kind);
                                             if constexpr (std::is_same_v<K, Fts>)
                                                 return same(k.max_opd, l.max_opd) &&
                                                        same(k.inv_peak, l.inv_peak) &&
                                                        k.apodization.kind == l.apodization.kind &&
                                                        std::memcmp(k.apodization.c.data(),
                                                                    l.apodization.c.data(),
                                                                    sizeof(k.apodization.c)) == 0;
                                             else
                                                 return std::memcmp(&k, &l, sizeof(K)) == 0;
                                         },
                                         a.kind);
                          },
                          [&](const Mapped& a) {
                              const Mapped& b = std::get<Mapped>(y);
                              return a.map == b.map && same(a.a, b.a) && same(a.b, b.b) &&
                                     a.jacobian == b.jacobian && identical(*a.inner, *b.inner);
                          },
                      },
                      static_cast<const ElementVariant&>(x));
}

bool identical(const Space& a, const Space& b) {
    if (a.size() != b.size() || !same(a.max_width, b.max_width) || a.order != b.order) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (!identical(a.elements[i], b.elements[i])) return false;
    return true;
}

Space built(Result<Elements> elements) {
    if (!elements) std::fprintf(stderr, "%s\n", elements.error().message.c_str());
    CHECK(elements.has_value());
    return build_space(elements ? std::move(*elements) : Elements{});
}

std::vector<double> grid(double lo, double hi, std::size_t n) {
    std::vector<double> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = lo + (hi - lo) * static_cast<double>(i) / static_cast<double>(n - 1);
    return v;
}

// One small space of every element kind and line shape, with shared tables and inner elements.
std::vector<Space> sample_spaces() {
    const auto x = grid(0.5, 4.0, 6);
    const std::vector<double> w{0.3, 0.2, 0.25, 0.4, 0.1, 0.3};
    const std::vector<double> half{0.5, 0.5, 0.5, 0.5, 0.5, 0.5};
    std::vector<Space> out;
    out.push_back(built(deltas(x)));
    out.push_back(built(boxes(x)));
    out.push_back(built(hats(x)));
    out.push_back(built(bsplines_clamped(x, 3)));
    out.push_back(built(bsplines_periodic(x, 2)));
    out.push_back(built(gaussians(x, w, 4.0)));
    out.push_back(built(lorentzians(x, w, 6.0)));
    out.push_back(built(voigts(x, w, half, 5.0)));
    out.push_back(built(pseudo_voigts(x, w, half, 5.0)));
    out.push_back(built(super_gaussians(x, w, half, std::vector<double>(6, 2.5), 3.0)));
    out.push_back(built(smoothed_boxes(x, half, w, 4.0)));
    for (const char* window : {"hann", "triangle", "norton_beer_strong"}) {
        auto a = choose_apodization(std::string(window), std::nullopt, std::nullopt);
        CHECK(a.has_value());
        out.push_back(built(fts(x, std::vector<double>(6, 2.0), 3.0, *a)));
    }
    out.push_back(built(harmonics(3, 2.0, -1.0)));
    out.push_back(built(trapezoids(x, std::vector<double>{0.1}, std::vector<double>{0.4})));
    const std::vector<double> sx{-1.0, 0.0, 0.5, 1.0}, sy{0.0, 1.0, 0.3, 0.0};
    out.push_back(built(shifted(sx, sy, x, std::vector<double>{0.5}, Interpolation::Pchip)));
    // Mapped twice, and the same inner elements held by several mapped elements.
    const Space g = built(gaussians(grid(2.0, 5.0, 4), w, 3.0));
    const Space once = built(mapped(g.elements, MapKind::Reciprocal, 1e3, 0.0, true));
    const Space twice = built(mapped(once.elements, MapKind::Affine, 2.0, -0.5, false));
    auto repeated = take(twice, std::vector<std::uint64_t>{2, 0, 2, 2});
    CHECK(repeated.has_value());
    out.push_back(*repeated);
    out.push_back(built(mapped(out[3].elements, MapKind::Affine, 1.0, 3.0, true)));
    out.push_back(build_space({}));
    return out;
}

Bytes bytes_of(const Result<Bytes>& r) {
    CHECK(r.has_value());
    return r ? *r : Bytes{};
}

// A payload must either be read or be rejected with an InvalidInput error; what is read must
// write and read back to the same.
void read_any(const Bytes& data, std::size_t& accepted) {
    const auto r = deserialize(data);
    if (!r) {
        CHECK(r.error().kind == ErrorKind::InvalidInput);
        CHECK(!r.error().message.empty());
        return;
    }
    ++accepted;
    if (const Space* s = std::get_if<Space>(&*r)) {
        const auto again = deserialize(bytes_of(serialize(*s)));
        CHECK(again && identical(std::get<Space>(*again), *s));
    }
}

std::string message_of(const Bytes& data) {
    const auto r = deserialize(data);
    CHECK(!r.has_value());
    return r ? std::string() : r.error().message;
}

void round_trips(const std::vector<Space>& spaces) {
    for (const Space& s : spaces) {
        const Bytes data = bytes_of(serialize(s));
        const auto r = deserialize(data);
        CHECK(r.has_value() && std::holds_alternative<Space>(*r));
        if (r) CHECK(identical(std::get<Space>(*r), s));
    }
    // One table for all shifted copies; one inner element behind the repeated mapped ones.
    const auto shifted_back = deserialize(bytes_of(serialize(spaces[16])));
    const Space& sh = std::get<Space>(*shifted_back);
    CHECK(std::get<Shape>(sh.elements[0]).segments == std::get<Shape>(sh.elements[5]).segments);
    const auto mapped_back = deserialize(bytes_of(serialize(spaces[17])));
    const Space& mp = std::get<Space>(*mapped_back);
    CHECK(std::get<Mapped>(mp.elements[0]).inner == std::get<Mapped>(mp.elements[2]).inner);
    CHECK(std::get<Mapped>(mp.elements[0]).inner != std::get<Mapped>(mp.elements[1]).inner);

    // Projection and fit inputs keep their options bit for bit.
    const auto src = std::make_shared<const Space>(spaces[1]);
    const auto dst = std::make_shared<const Space>(spaces[3]);
    const auto p = deserialize(bytes_of(serialize(ProjectionInputs{src, dst, -2.5})));
    CHECK(p && std::holds_alternative<ProjectionInputs>(*p));
    if (p) {
        const auto& in = std::get<ProjectionInputs>(*p);
        CHECK(identical(*in.src, *src) && identical(*in.dst, *dst) && in.weight == -2.5);
    }
    const FitInputs fit{
        dst, src, Normalization::RowSum, -0.0, {Penalty::Kind::Difference, 7}, std::nullopt};
    const auto f = deserialize(bytes_of(serialize(fit)));
    CHECK(f && std::holds_alternative<FitInputs>(*f));
    if (f) {
        const auto& in = std::get<FitInputs>(*f);
        CHECK(identical(*in.kernels, *dst) && identical(*in.model, *src));
        CHECK(in.normalization == Normalization::RowSum && same(in.smoothing, -0.0));
        CHECK(in.penalty.kind == Penalty::Kind::Difference && in.penalty.order == 7);
        CHECK(!in.weight.has_value());
    }
}

void hostile(const std::vector<Space>& spaces) {
    const Bytes valid = bytes_of(serialize(spaces[2]));
    CHECK(message_of({}) == "not serialized quorvel data");
    CHECK(message_of({'Q', 'V'}) == "serialized quorvel data is truncated");
    Bytes v3 = valid;
    v3[2] = 3;
    CHECK(message_of(v3) ==
          "serialized quorvel data has format version 3; this build reads versions 1 to 2");
    Bytes trailing = valid;
    trailing.push_back(0);
    CHECK(message_of(trailing) == "corrupt serialized quorvel data: 1 bytes after the end of the "
                                  "data");
    // Counts far beyond the data, up to 2^64 - 1, and a count of more than ten bytes.
    Bytes huge{'Q', 'V', 1, 0, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x01};
    CHECK(message_of(huge) == "corrupt serialized quorvel data: 18446744073709551615 segment "
                              "tables cannot fit in the remaining 0 bytes");
    Bytes overlong{'Q', 'V', 1, 0, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x02};
    CHECK(message_of(overlong) == "corrupt serialized quorvel data: a count does not fit in 64 "
                                  "bits");
    Bytes elements{'Q', 'V', 1, 0, 0, 0, 0x80, 0x80, 0x80, 0x80, 0x10};
    CHECK(message_of(elements) == "corrupt serialized quorvel data: 4294967296 elements cannot "
                                  "fit in the remaining 0 bytes");
    // An element that no constructor makes.
    Bytes box{'Q', 'V', 1, 0, 0, 0, 1, 1};
    for (double v : {1.0, 0.0})
        for (int i = 0; i < 8; ++i)
            box.push_back(static_cast<std::uint8_t>(std::bit_cast<std::uint64_t>(v) >> (8 * i)));
    CHECK(message_of(box) ==
          "corrupt serialized quorvel data: space element 0: box needs finite a < b, got [1, 0]");

    // Nesting: as deep as allowed is written and read; one more level is refused where it would
    // be made and where it would be read.
    Space deep = spaces[1];
    for (std::size_t level = 0; level < max_mapped_depth; ++level)
        deep = built(mapped(deep.elements, MapKind::Affine, 0.0, 1.0, false));
    const Bytes deepest = bytes_of(serialize(deep));
    CHECK(deserialize(deepest).has_value());
    CHECK(!mapped(deep.elements, MapKind::Affine, 0.0, 1.0, false).has_value());
    // The same level by hand: the last inner element refers to the deepest one written.
    Bytes nested{'Q', 'V', 1, 0, 0};
    const std::size_t levels = max_mapped_depth + 2; // a box and one mapped level too many
    nested.push_back(static_cast<std::uint8_t>(levels));
    const auto real = [&nested](double v) {
        for (int i = 0; i < 8; ++i)
            nested.push_back(static_cast<std::uint8_t>(std::bit_cast<std::uint64_t>(v) >> (8 * i)));
    };
    nested.push_back(1);
    real(0.0);
    real(1.0);
    for (std::size_t level = 1; level < levels; ++level) {
        nested.push_back(5);
        nested.push_back(1);
        real(0.0);
        real(1.0);
        nested.push_back(0);
        nested.push_back(static_cast<std::uint8_t>(level - 1));
    }
    nested.push_back(0);
    CHECK(message_of(nested) == "corrupt serialized quorvel data: mapped elements nested more "
                                "than " + std::to_string(max_mapped_depth) + " deep");
}

std::vector<Bytes> corpus(const std::vector<Space>& spaces) {
    std::vector<Bytes> out;
    for (const Space& s : spaces)
        out.push_back(bytes_of(serialize(s)));
    const auto a = std::make_shared<const Space>(spaces[4]);
    const auto b = std::make_shared<const Space>(spaces[17]);
    out.push_back(bytes_of(serialize(ProjectionInputs{a, b, 0.5})));
    out.push_back(bytes_of(serialize(
        FitInputs{b, a, Normalization::None, 0.25, {Penalty::Kind::Derivative, 2}, std::nullopt})));
    return out;
}

// Every truncation fails; every single-bit flip is read or rejected; random tails after a valid
// header are rejected or read, never more.
void fuzz_corpus(const std::vector<Bytes>& payloads, std::mt19937_64& rng) {
    std::size_t accepted = 0, tried = 0;
    for (const Bytes& data : payloads) {
        for (std::size_t n = 0; n < data.size(); ++n) {
            const auto r = deserialize(std::span(data).first(n));
            CHECK(!r.has_value());
        }
        // Bits of every byte in the first part, then of a deterministic sample.
        for (std::size_t k = 0; k < data.size() * 8; ++k) {
            if (k >= 512 && rng() % 8 != 0) continue;
            Bytes flipped = data;
            flipped[k / 8] ^= static_cast<std::uint8_t>(1u << (k % 8));
            read_any(flipped, accepted);
            ++tried;
        }
    }
    for (int i = 0; i < 2000; ++i) {
        Bytes data{'Q', 'V', 1, static_cast<std::uint8_t>(rng() % 3)};
        const std::size_t n = rng() % 64;
        for (std::size_t j = 0; j < n; ++j)
            data.push_back(static_cast<std::uint8_t>(rng() % 4 == 0 ? rng() % 4 : rng()));
        read_any(data, accepted);
        ++tried;
    }
    CHECK(accepted > 0 && accepted < tried);
}

// Random mutations (flips, overwrites with boundary bytes, insertions, deletions, splices).
void fuzz_long(const std::vector<Bytes>& payloads, std::mt19937_64& rng, long iterations) {
    std::size_t accepted = 0;
    const std::uint8_t special[] = {0x00, 0x01, 0x7f, 0x80, 0xff, 0x3f, 0xf0, 0x40};
    for (long it = 0; it < iterations; ++it) {
        Bytes data = payloads[rng() % payloads.size()];
        const int edits = 1 + static_cast<int>(rng() % 4);
        for (int e = 0; e < edits && !data.empty(); ++e) {
            const std::size_t at = rng() % data.size();
            switch (rng() % 5) {
            case 0:
                data[at] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
                break;
            case 1:
                data[at] = special[rng() % std::size(special)];
                break;
            case 2:
                data.insert(data.begin() + static_cast<std::ptrdiff_t>(at),
                            static_cast<std::uint8_t>(rng()));
                break;
            case 3:
                data.erase(data.begin() + static_cast<std::ptrdiff_t>(at));
                break;
            default: {
                const Bytes& other = payloads[rng() % payloads.size()];
                const std::size_t from = rng() % other.size();
                data.resize(at);
                data.insert(data.end(), other.begin() + static_cast<std::ptrdiff_t>(from),
                            other.end());
            }
            }
        }
        read_any(data, accepted);
    }
    std::printf("%ld mutations, %zu read back as valid data\n", iterations, accepted);
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<Space> spaces = sample_spaces();
    round_trips(spaces);
    hostile(spaces);
    std::mt19937_64 rng(20240613);
    const std::vector<Bytes> payloads = corpus(spaces);
    fuzz_corpus(payloads, rng);
    if (argc > 1) fuzz_long(payloads, rng, std::atol(argv[1]));
    return quorvel::test::failures;
}
