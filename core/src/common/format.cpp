#include "quorvel/format.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace quorvel {

namespace {

std::string special(double v) {
    if (std::isnan(v)) return "NaN";
    return v < 0 ? "-inf" : "inf";
}

// Shortest round-trip scientific digits split into mantissa text and decimal exponent.
void shortest_scientific(double v, std::string& mantissa, int& exponent) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
    std::string_view text(buf, static_cast<std::size_t>(r.ptr - buf));
    auto e = text.find('e');
    mantissa.assign(text.substr(0, e));
    exponent = 0;
    std::string_view exp_text = text.substr(e + 1);
    if (!exp_text.empty() && exp_text.front() == '+') exp_text.remove_prefix(1);
    std::from_chars(exp_text.data(), exp_text.data() + exp_text.size(), exponent);
}

} // namespace

std::string fmt_fixed(double v) {
    if (!std::isfinite(v)) return special(v);
    // The shortest round-trip digits placed positionally: 1e23 prints as a 1 and 23 zeros, not
    // as the exact binary value of the double.
    std::string mantissa;
    int exponent = 0;
    shortest_scientific(v, mantissa, exponent);
    std::string out;
    std::string digits;
    for (char ch : mantissa) {
        if (ch == '-') out += '-';
        else if (ch != '.') digits += ch;
    }
    const int n = static_cast<int>(digits.size());
    if (exponent >= 0) {
        if (n <= exponent + 1) {
            out += digits;
            out.append(static_cast<std::size_t>(exponent + 1 - n), '0');
        } else {
            out += digits.substr(0, static_cast<std::size_t>(exponent + 1));
            out += '.';
            out += digits.substr(static_cast<std::size_t>(exponent + 1));
        }
    } else {
        out += "0.";
        out.append(static_cast<std::size_t>(-exponent - 1), '0');
        out += digits;
    }
    return out;
}

std::string fmt_exp(double v) {
    if (!std::isfinite(v)) return special(v);
    std::string mantissa;
    int exponent = 0;
    shortest_scientific(v, mantissa, exponent);
    return mantissa + "e" + std::to_string(exponent);
}

std::string fmt_debug(double v) {
    if (!std::isfinite(v)) return special(v);
    double a = std::fabs(v);
    if (a != 0.0 && (a >= 1e16 || a < 1e-4)) return fmt_exp(v);
    std::string s = fmt_fixed(v);
    if (s.find('.') == std::string::npos) s += ".0";
    return s;
}

std::string fmt_quoted(std::string_view s) {
    std::string out;
    out.reserve(s.size() + 2);
    out += '"';
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto ch = static_cast<unsigned char>(s[i]);
        // The C1 control characters U+0080..U+009F are the UTF-8 pairs C2 80 .. C2 9F.
        if (ch == 0xc2 && i + 1 < s.size()) {
            const auto next = static_cast<unsigned char>(s[i + 1]);
            if (next >= 0x80 && next <= 0x9f) {
                char buf[16];
                std::snprintf(buf, sizeof buf, "\\u{%x}", static_cast<unsigned>(next));
                out += buf;
                ++i;
                continue;
            }
        }
        switch (ch) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\0': out += "\\0"; break;
        default:
            if (ch < 0x20 || ch == 0x7f) {
                char buf[16];
                std::snprintf(buf, sizeof buf, "\\u{%x}", static_cast<unsigned>(ch));
                out += buf;
            } else {
                out += static_cast<char>(ch);
            }
        }
    }
    out += '"';
    return out;
}

} // namespace quorvel
