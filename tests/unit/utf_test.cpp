// Names go from UTF-16 to UTF-8 and back without loss, lone surrogates too,
// and only strict UTF-8 is taken for a name a ZIP reader can decode.
#include "common/utf.h"

#include <gtest/gtest.h>

#include <string>

namespace kelzar {
namespace {

struct RoundTrip {
    const char* what;
    std::u16string utf16;
    std::string utf8;
    bool valid; // what IsValidUtf8 says of the UTF-8 form
};

class UtfRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(UtfRoundTrip, ConvertsBothWaysExactly) {
    const RoundTrip& c = GetParam();
    EXPECT_EQ(Utf16ToUtf8(c.utf16), c.utf8) << c.what;
    EXPECT_EQ(Utf8ToUtf16(c.utf8), c.utf16) << c.what << ": the name would not open again";
    EXPECT_EQ(IsValidUtf8(c.utf8), c.valid) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Names, UtfRoundTrip,
    ::testing::Values(RoundTrip{"ASCII", u"a.txt", "a.txt", true},
                      RoundTrip{"Latin-1", u"caf\u00e9.txt", "caf\xC3\xA9.txt", true},
                      RoundTrip{"fullwidth a", u"\uFF41.txt", "\xEF\xBD\x81.txt", true},
                      RoundTrip{"Cyrillic", u"\u043E\u0442\u0447\u0451\u0442",
                                "\xD0\xBE\xD1\x82\xD1\x87\xD1\x91\xD1\x82", true},
                      RoundTrip{"CJK with a 0x5C trail byte in Shift-JIS", u"\u8868\u30BD",
                                "\xE8\xA1\xA8\xE3\x82\xBD", true},
                      RoundTrip{"surrogate pair", u"\U0001F600", "\xF0\x9F\x98\x80", true},
                      RoundTrip{"highest code point", u"\U0010FFFF", "\xF4\x8F\xBF\xBF", true},
                      RoundTrip{"lone high surrogate", std::u16string(1, u'\xD83D') + u"x",
                                "\xED\xA0\xBDx", false},
                      RoundTrip{"lone low surrogate", std::u16string(1, u'\xDE00'), "\xED\xB8\x80",
                                false},
                      RoundTrip{"pair in the wrong order", std::u16string{u'\xDE00', u'\xD83D'},
                                "\xED\xB8\x80\xED\xA0\xBD", false},
                      RoundTrip{"empty", u"", "", true}));

struct Invalid {
    const char* what;
    std::string bytes;
};

class NotUtf8 : public ::testing::TestWithParam<Invalid> {};

TEST_P(NotUtf8, IsRefusedAndDecodedAsReplacement) {
    const Invalid& c = GetParam();
    EXPECT_FALSE(IsValidUtf8(c.bytes)) << c.what;
    std::u16string decoded = Utf8ToUtf16(c.bytes);
    EXPECT_NE(decoded.find(u'\uFFFD'), std::u16string::npos) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Bytes, NotUtf8,
                         ::testing::Values(Invalid{"overlong slash", "\xC0\xAF"},
                                           Invalid{"overlong three bytes", "\xE0\x80\xAF"},
                                           Invalid{"above U+10FFFF", "\xF4\x90\x80\x80"},
                                           Invalid{"lead byte F8", "\xF8\x88\x80\x80\x80"},
                                           Invalid{"cut short", "a\xE8\xA1"},
                                           Invalid{"stray continuation", "\x80z"},
                                           Invalid{"ANSI byte", "caf\xE9"}));

} // namespace
} // namespace kelzar
