#include "common/Text.h"

namespace oup {

std::string Trim(const std::string& text) {
    size_t b = 0, e = text.size();
    while (b < e && static_cast<unsigned char>(text[b]) <= 32) ++b;
    while (e > b && static_cast<unsigned char>(text[e - 1]) <= 32) --e;
    return text.substr(b, e - b);
}

std::string AsciiUpperCase(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

std::string UpperCase1252(const std::string& text) {
    std::string out = text;
    for (char& ch : out) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 'a' && c <= 'z') ch = static_cast<char>(c - 32);
        else if (c >= 0xE0 && c <= 0xFE && c != 0xF7) ch = static_cast<char>(c - 32);
        else if (c == 0x9A || c == 0x9C || c == 0x9E) ch = static_cast<char>(c - 16);
        else if (c == 0xFF) ch = static_cast<char>(0x9F);
    }
    return out;
}

namespace {

// What 1252 puts at 0x80..0x9F, where Latin-1 has control characters.
constexpr char16_t k1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

}  // namespace

std::string Utf8From1252(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        const unsigned code = c >= 0x80 && c < 0xA0 ? k1252High[c - 0x80] : c;
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return out;
}

namespace {
char Fold(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool Match(const char* n, const char* ne, const char* m, const char* me) {
    // Iterative wildcard match with one backtrack point: linear in practice.
    const char *starM = nullptr, *starN = nullptr;
    while (n < ne) {
        if (m < me && (*m == '?' || Fold(*m) == Fold(*n))) {
            ++n;
            ++m;
        } else if (m < me && *m == '*') {
            starM = m++;
            starN = n;
        } else if (starM) {
            m = starM + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (m < me && *m == '*') ++m;
    return m == me;
}
}  // namespace

bool MatchesMask(const std::string& name, const std::string& mask) {
    if (mask == "*.*" || mask == "*") return true;
    if (Match(name.data(), name.data() + name.size(), mask.data(), mask.data() + mask.size()))
        return true;
    // As on Windows, "name.*" also matches a name without any extension.
    if (mask.size() >= 2 && mask.compare(mask.size() - 2, 2, ".*") == 0 &&
        name.find('.') == std::string::npos) {
        return Match(name.data(), name.data() + name.size(), mask.data(),
                     mask.data() + mask.size() - 2);
    }
    return false;
}

}  // namespace oup
