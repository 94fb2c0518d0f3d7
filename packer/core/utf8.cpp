#include "utf8.h"

#include <cstdio>

namespace vintrix {

std::size_t utf8Length(std::string_view s)
{
    if (s.empty())
        return 0;
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char c = b(0);
    if (c < 0x80)
        return 1;
    std::size_t n = 0;
    unsigned lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF)
        n = 2;
    else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        if (c == 0xE0)
            lo = 0xA0;
        if (c == 0xED)
            hi = 0x9F;  // no surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        if (c == 0xF0)
            lo = 0x90;
        if (c == 0xF4)
            hi = 0x8F;
    } else
        return 0;
    if (s.size() < n || b(1) < lo || b(1) > hi)
        return 0;
    for (std::size_t i = 2; i < n; ++i)
        if (b(i) < 0x80 || b(i) > 0xBF)
            return 0;
    return n;
}

bool isUtf8(std::string_view text)
{
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = utf8Length(text.substr(i));
        if (n == 0)
            return false;
        i += n;
    }
    return true;
}

std::string oneLine(std::string_view text)
{
    std::string out;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
            if (out.empty() || out.back() != ' ')
                out += ' ';
        } else
            out += c < 0x20 || c == 0x7F ? '?' : ch;
    }
    return out;
}

std::string quoted(const std::string& text)
{
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const auto u = static_cast<unsigned char>(c);
        if (const std::size_t n = utf8Length(std::string_view(text).substr(i)); u >= 0x80 && n > 0) {
            out.append(text, i, n);
            i += n - 1;
        } else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\r')
            out += "\\r";
        else if (u < 0x20 || u >= 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", u);
            out += buf;
        } else
            out += c;
    }
    return out + "\"";
}

}  // namespace vintrix
