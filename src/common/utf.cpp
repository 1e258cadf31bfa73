#include "common/utf.h"

namespace kelzar {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsHighSurrogate(char32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(char32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

void AppendUtf8(std::string& out, char32_t code) {
    auto byte = [&out](char32_t value) { out.push_back(static_cast<char>(value)); };
    if (code < 0x80) {
        byte(code);
    } else if (code < 0x800) {
        byte(0xC0 | (code >> 6));
        byte(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        byte(0xE0 | (code >> 12));
        byte(0x80 | ((code >> 6) & 0x3F));
        byte(0x80 | (code & 0x3F));
    } else {
        byte(0xF0 | (code >> 18));
        byte(0x80 | ((code >> 12) & 0x3F));
        byte(0x80 | ((code >> 6) & 0x3F));
        byte(0x80 | (code & 0x3F));
    }
}

struct Decoded {
    char32_t code = kReplacement;
    std::size_t length = 1; // bytes consumed
    bool valid = false;     // strict UTF-8
};

// Decodes the sequence at the start of text (not empty). Surrogates encoded
// in three bytes are decoded (they are what Utf16ToUtf8 writes for lone
// units) but reported as not valid.
Decoded DecodeOne(std::string_view text) {
    auto lead = static_cast<unsigned char>(text[0]);
    if (lead < 0x80) {
        return {lead, 1, true};
    }
    std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (length == 0 || lead > 0xF4 || text.size() < length) {
        return {};
    }
    char32_t code = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        auto next = static_cast<unsigned char>(text[i]);
        if ((next & 0xC0) != 0x80) {
            return {};
        }
        code = (code << 6) | (next & 0x3F);
    }
    static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[length] || code > 0x10FFFF) {
        return {};
    }
    return {code, length, !IsHighSurrogate(code) && !IsLowSurrogate(code)};
}

} // namespace

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t unit = text[i];
        if (IsHighSurrogate(unit) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
            unit = 0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        AppendUtf8(out, unit);
    }
    return out;
}

std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    while (!text.empty()) {
        Decoded one = DecodeOne(text);
        if (one.code >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((one.code - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((one.code - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(one.code));
        }
        text.remove_prefix(one.length);
    }
    return out;
}

bool IsValidUtf8(std::string_view text) {
    while (!text.empty()) {
        Decoded one = DecodeOne(text);
        if (!one.valid) {
            return false;
        }
        text.remove_prefix(one.length);
    }
    return true;
}

} // namespace kelzar
