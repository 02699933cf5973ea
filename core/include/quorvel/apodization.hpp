// Apodization windows of Fourier-transform line shapes.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "quorvel/error.hpp"
#include "quorvel/vocabulary.hpp"

namespace quorvel {

struct Apodization {
    enum class Kind { CosineSum, Triangle, Polynomial };
    Kind kind = Kind::CosineSum;
    // CosineSum uses c[0..3], Polynomial c[0..4], Triangle none.
    std::array<double, 5> c{};
};

// The named windows, as Space.fts accepts them.
inline constexpr std::array<Named<Apodization>, 12> apodization_names{{
    {"none", {Apodization::Kind::CosineSum, {1.0, 0.0, 0.0, 0.0, 0.0}}},
    {"boxcar", {Apodization::Kind::CosineSum, {1.0, 0.0, 0.0, 0.0, 0.0}}},
    {"hann", {Apodization::Kind::CosineSum, {0.5, 0.5, 0.0, 0.0, 0.0}}},
    {"hanning", {Apodization::Kind::CosineSum, {0.5, 0.5, 0.0, 0.0, 0.0}}},
    {"hamming", {Apodization::Kind::CosineSum, {0.54, 0.46, 0.0, 0.0, 0.0}}},
    {"happ_genzel", {Apodization::Kind::CosineSum, {0.54, 0.46, 0.0, 0.0, 0.0}}},
    {"blackman", {Apodization::Kind::CosineSum, {0.42, 0.5, 0.08, 0.0, 0.0}}},
    {"blackman_harris", {Apodization::Kind::CosineSum, {0.35875, 0.48829, 0.14128, 0.01168, 0.0}}},
    {"triangle", {Apodization::Kind::Triangle, {}}},
    {"norton_beer_weak", {Apodization::Kind::Polynomial, {0.384093, -0.087577, 0.703484, 0.0, 0.0}}},
    {"norton_beer_medium",
     {Apodization::Kind::Polynomial, {0.152442, -0.136176, 0.983734, 0.0, 0.0}}},
    {"norton_beer_strong",
     {Apodization::Kind::Polynomial, {0.045335, 0.0, 0.554883, 0.0, 0.399782}}},
}};

// Chooses the window from a name, cosine-sum coefficients or polynomial coefficients (absent
// arguments are nullopt), with the messages of Space.fts.
Result<Apodization> choose_apodization(const std::optional<std::string>& name,
                                       const std::optional<std::vector<double>>& cosine_sum,
                                       const std::optional<std::vector<double>>& polynomial);

} // namespace quorvel
