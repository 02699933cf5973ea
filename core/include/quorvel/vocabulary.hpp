// Option strings: each parser owns one table of the names it accepts, with the value each stands
// for, in the order its messages list them; the binding's notes and listings read the same
// tables.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

template <class T> struct Named {
    std::string_view name;
    T value;
};

// The value of the entry named exactly `text`.
template <class Entry, std::size_t N>
constexpr auto find_named(const std::array<Entry, N>& table, std::string_view text)
    -> std::optional<decltype(Entry::value)> {
    for (const Entry& e : table)
        if (e.name == text) return e.value;
    return std::nullopt;
}

// "'integral', 'rowsum' or 'none'": the names as a message lists the choices.
template <class Entry, std::size_t N>
std::string quoted_alternatives(const std::array<Entry, N>& table) {
    std::string text;
    for (std::size_t i = 0; i < N; ++i)
        text.append(i == 0 ? "'" : i + 1 == N ? " or '" : ", '").append(table[i].name).append("'");
    return text;
}

} // namespace quorvel
