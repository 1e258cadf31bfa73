#include "select/wildcard.h"

#include "common/utf.h"

#include <string>
#include <vector>

namespace kelzar {

namespace {

// A pattern unit after the directory search's own translation of the DOS
// wildcards.
enum class Unit : char {
    Literal,
    Star,     // "*": any run of characters
    One,      // "?" (DOS_QM): one character other than a dot, or none at a dot or the end
    StarDot,  // "*" before "." (DOS_STAR): any run that stops short of the last dot
    DotOrEnd, // "." before a wildcard or at the end (DOS_DOT): a dot, or the end
};

struct Token {
    Unit unit = Unit::Literal;
    char16_t literal = 0;
};

std::vector<Token> Translate(const std::u16string& pattern) {
    std::vector<Token> tokens;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char16_t c = pattern[i];
        const char16_t next = i + 1 < pattern.size() ? pattern[i + 1] : u'\0';
        if (c == u'?') {
            tokens.push_back({Unit::One});
        } else if (c == u'*') {
            tokens.push_back({next == u'.' ? Unit::StarDot : Unit::Star});
        } else if (c == u'.' && (next == u'?' || next == u'*' || next == u'\0')) {
            tokens.push_back({Unit::DotOrEnd});
        } else {
            tokens.push_back({Unit::Literal, c});
        }
    }
    return tokens;
}

} // namespace

bool MatchesWildcard(std::string_view pattern, std::string_view name) {
    const std::vector<Token> tokens = Translate(Utf8ToUtf16(pattern));
    const std::u16string text = Utf8ToUtf16(name);
    const std::size_t n = text.size();
    const std::size_t lastDot = text.rfind(u'.');
    // reach[j]: the first k tokens can match the first j units. One row per
    // token, so the cost is the pattern's length times the name's, never
    // the exponential cost of backtracking.
    std::vector<char> reach(n + 1, 0);
    reach[0] = 1;
    for (const Token& token : tokens) {
        std::vector<char> next(n + 1, 0);
        for (std::size_t j = 0; j <= n; ++j) {
            const bool here = reach[j] != 0;
            const bool atDotOrEnd = j == n || text[j] == u'.';
            switch (token.unit) {
            case Unit::Literal:
                if (here && j < n && text[j] == token.literal) {
                    next[j + 1] = 1;
                }
                break;
            case Unit::Star:
                // Reached here or earlier: any run up to j.
                next[j] = here || (j > 0 && next[j - 1]);
                break;
            case Unit::StarDot:
                next[j] = here || (j > 0 && next[j - 1] && j - 1 != lastDot);
                break;
            case Unit::One:
                if (here && j < n && text[j] != u'.') {
                    next[j + 1] = 1;
                }
                if (here && atDotOrEnd) {
                    next[j] = 1;
                }
                break;
            case Unit::DotOrEnd:
                if (here && j < n && text[j] == u'.') {
                    next[j + 1] = 1;
                }
                if (here && j == n) {
                    next[j] = 1;
                }
                break;
            }
        }
        reach.swap(next);
    }
    return reach[n] != 0;
}

} // namespace kelzar
