#include "editor/SearchPattern.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <QChar>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace editor {

namespace {

// Enough for any sensible expression on a long line; a pattern that
// backtracks without end is stopped within milliseconds instead.
constexpr std::uint32_t kMatchLimit = 2'000'000;
constexpr PCRE2_SIZE kJitStackMax = 1024 * 1024;

struct TCodeFree {
    void operator()(pcre2_code* p) const { pcre2_code_free(p); }
};
struct TMatchDataFree {
    void operator()(pcre2_match_data* p) const { pcre2_match_data_free(p); }
};
struct TMatchContextFree {
    void operator()(pcre2_match_context* p) const { pcre2_match_context_free(p); }
};
struct TJitStackFree {
    void operator()(pcre2_jit_stack* p) const { pcre2_jit_stack_free(p); }
};

QString Pcre2Message(int code)
{
    PCRE2_UCHAR buffer[256];
    const int n = pcre2_get_error_message(code, buffer, sizeof buffer / sizeof buffer[0]);
    return n < 0 ? QStringLiteral("error %1").arg(code) : QString::fromUtf16(reinterpret_cast<const char16_t*>(buffer), n);
}

// Index of the first unit equal to a or b at or after from, or -1.
int FindEither(const char16_t* s, int from, int len, char16_t a, char16_t b)
{
    int i = from;
#ifdef __SSE2__
    const __m128i va = _mm_set1_epi16(short(a));
    const __m128i vb = _mm_set1_epi16(short(b));
    for (; i + 16 <= len; i += 16) {
        const __m128i x0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        const __m128i x1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i + 8));
        const __m128i m0 = _mm_or_si128(_mm_cmpeq_epi16(x0, va), _mm_cmpeq_epi16(x0, vb));
        const __m128i m1 = _mm_or_si128(_mm_cmpeq_epi16(x1, va), _mm_cmpeq_epi16(x1, vb));
        const unsigned mask = unsigned(_mm_movemask_epi8(m0)) | (unsigned(_mm_movemask_epi8(m1)) << 16);
        if (mask)
            return i + (__builtin_ctz(mask) >> 1);
    }
#endif
    for (; i < len; ++i)
        if (s[i] == a || s[i] == b)
            return i;
    return -1;
}

char32_t CodePointBefore(QStringView line, int index)
{
    const char16_t lo = line[index - 1].unicode();
    if (QChar::isLowSurrogate(lo) && index >= 2 && QChar::isHighSurrogate(line[index - 2].unicode()))
        return QChar::surrogateToUcs4(line[index - 2].unicode(), lo);
    return lo;
}

char32_t CodePointAt(QStringView line, int index)
{
    const char16_t hi = line[index].unicode();
    if (QChar::isHighSurrogate(hi) && index + 1 < line.size() && QChar::isLowSurrogate(line[index + 1].unicode()))
        return QChar::surrogateToUcs4(hi, line[index + 1].unicode());
    return hi;
}

} // namespace

bool IsSearchWordChar(char32_t c)
{
    return c == U'_' || QChar::isLetterOrNumber(c);
}

class TSearchPattern::TRegex {
public:
    std::unique_ptr<pcre2_code, TCodeFree> Code;
    std::unique_ptr<pcre2_match_data, TMatchDataFree> Data;
    std::unique_ptr<pcre2_match_context, TMatchContextFree> Context;
    std::unique_ptr<pcre2_jit_stack, TJitStackFree> JitStack;
    QString LastError;

    // The first match from the index given; a matching error (such as the
    // match limit) is kept for LastError().
    TMatchResult Find(QStringView line, int from, std::uint32_t options)
    {
        const int rc = pcre2_match(Code.get(), reinterpret_cast<PCRE2_SPTR>(line.utf16()), PCRE2_SIZE(line.size()),
            PCRE2_SIZE(from), options | PCRE2_NO_UTF_CHECK, Data.get(), Context.get());
        if (rc >= 0) {
            const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(Data.get());
            return {TMatchStatus::Found, {int(ov[0]), int(ov[1])}};
        }
        if (rc == PCRE2_ERROR_NOMATCH)
            return {};
        LastError = Pcre2Message(rc);
        return {TMatchStatus::Error, {}};
    }
};

TSearchPattern::TSearchPattern() = default;
TSearchPattern::~TSearchPattern() = default;
TSearchPattern::TSearchPattern(TSearchPattern&&) noexcept = default;
TSearchPattern& TSearchPattern::operator=(TSearchPattern&&) noexcept = default;

TSearchPattern::TSearchPattern(const QString& pattern, TSearchOptions options)
    : FPattern(pattern)
    , FOptions(options)
{
    if (pattern.isEmpty())
        return;
    if (!options.RegExp) {
        FValid = true;
        const char16_t first = pattern[0].unicode();
        if (options.MatchCase) {
            FFirstA = FFirstB = first;
            FFastFirst = true;
        } else if (first < 128 && first != u's' && first != u'S' && first != u'k' && first != u'K') {
            // Only ASCII letters whose case partners are all ASCII: the long
            // s and the Kelvin sign fold onto s and k.
            FFirstA = QChar::toLower(first);
            FFirstB = QChar::toUpper(first);
            FFastFirst = true;
        }
        return;
    }
    const std::uint32_t flags =
        PCRE2_UTF | PCRE2_UCP | PCRE2_MATCH_INVALID_UTF | (options.MatchCase ? 0u : PCRE2_CASELESS);
    auto compile = [flags](const QString& text, int& errorCode, PCRE2_SIZE& errorOffset) {
        return std::unique_ptr<pcre2_code, TCodeFree>(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(text.utf16()),
            PCRE2_SIZE(text.size()), flags, &errorCode, &errorOffset, nullptr));
    };
    int errorCode = 0;
    PCRE2_SIZE errorOffset = 0;
    auto code = compile(pattern, errorCode, errorOffset);
    if (code && options.WholeWord) {
        // Compiled on its own first, so errors point into the user's text.
        code = compile(QStringLiteral(u"(?<!\\w)(?:") + pattern + QStringLiteral(u")(?!\\w)"), errorCode, errorOffset);
        errorOffset = 0;
    }
    if (!code) {
        FError = QStringLiteral(u"正規表現の誤り (%1 文字目): %2").arg(errorOffset + 1).arg(Pcre2Message(errorCode));
        return;
    }
    auto regex = std::make_unique<TRegex>();
    regex->Code = std::move(code);
    pcre2_jit_compile(regex->Code.get(), PCRE2_JIT_COMPLETE); // a speed-up only; the interpreter takes over without it
    regex->Data.reset(pcre2_match_data_create_from_pattern(regex->Code.get(), nullptr));
    regex->Context.reset(pcre2_match_context_create(nullptr));
    regex->JitStack.reset(pcre2_jit_stack_create(32 * 1024, kJitStackMax, nullptr));
    if (!regex->Data || !regex->Context || !regex->JitStack)
        throw std::bad_alloc();
    pcre2_set_match_limit(regex->Context.get(), kMatchLimit);
    pcre2_jit_stack_assign(regex->Context.get(), nullptr, regex->JitStack.get());
    FRegex = std::move(regex);
    FValid = true;
}

QString TSearchPattern::LastError() const
{
    return FRegex ? FRegex->LastError : QString();
}

bool TSearchPattern::WordBoundsOk(QStringView line, int start, int end) const
{
    if (start > 0 && IsSearchWordChar(CodePointBefore(line, start)))
        return false;
    return end >= line.size() || !IsSearchWordChar(CodePointAt(line, end));
}

TMatchResult TSearchPattern::NextLiteral(QStringView line, int from, bool notEmptyAtFrom) const
{
    (void)notEmptyAtFrom; // a literal is never empty
    const int n = int(FPattern.size());
    const int len = int(line.size());
    const QStringView needle(FPattern);
    const Qt::CaseSensitivity cs = FOptions.MatchCase ? Qt::CaseSensitive : Qt::CaseInsensitive;
    int pos = from;
    while (pos + n <= len) {
        int at;
        if (FFastFirst) {
            at = FindEither(reinterpret_cast<const char16_t*>(line.utf16()), pos, len - n + 1, FFirstA, FFirstB);
            if (at < 0)
                break;
            const QStringView candidate = line.mid(at, n);
            const bool equal = FOptions.MatchCase
                ? std::char_traits<char16_t>::compare(reinterpret_cast<const char16_t*>(candidate.utf16()),
                      reinterpret_cast<const char16_t*>(needle.utf16()), std::size_t(n)) == 0
                : candidate.compare(needle, Qt::CaseInsensitive) == 0;
            if (!equal) {
                pos = at + 1;
                continue;
            }
        } else {
            at = int(line.indexOf(needle, pos, cs));
            if (at < 0)
                break;
        }
        if (!FOptions.WholeWord || WordBoundsOk(line, at, at + n))
            return {TMatchStatus::Found, {at, at + n}};
        pos = at + 1;
    }
    return {};
}

TMatchResult TSearchPattern::Next(QStringView line, int from, bool notEmptyAtFrom) const
{
    if (!FValid || from > line.size())
        return {};
    if (!FRegex)
        return NextLiteral(line, from, notEmptyAtFrom);
    return FRegex->Find(line, from, notEmptyAtFrom ? PCRE2_NOTEMPTY_ATSTART : 0);
}

TMatchResult TSearchPattern::At(QStringView line, int start) const
{
    if (!FValid || start > line.size())
        return {};
    if (!FRegex) {
        const TMatchResult r = NextLiteral(line.left(std::min<qsizetype>(line.size(), start + FPattern.size())), start, false);
        // The cut line must not make a word boundary of its own.
        if (r && FOptions.WholeWord && !WordBoundsOk(line, r.Match.Start, r.Match.End))
            return {};
        return r.Match.Start == start ? r : TMatchResult{};
    }
    return FRegex->Find(line, start, PCRE2_ANCHORED);
}

TMatchResult TSearchPattern::Previous(QStringView line, int before) const
{
    TMatchResult best;
    int pos = 0;
    bool notEmpty = false;
    while (pos <= line.size()) {
        const TMatchResult r = Next(line, pos, notEmpty);
        if (r.Status == TMatchStatus::Error)
            return r;
        if (!r || r.Match.Start >= before)
            break;
        best = r;
        // Successive matches: after an empty one, not the same empty one.
        pos = r.Match.End;
        notEmpty = r.Match.Empty();
    }
    return best;
}

QString TSearchPattern::Expand(QStringView line, const QString& replacement) const
{
    if (!FRegex)
        return replacement;
    pcre2_match_data* data = FRegex->Data.get();
    const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(data);
    std::uint32_t captures = 0;
    pcre2_pattern_info(FRegex->Code.get(), PCRE2_INFO_CAPTURECOUNT, &captures);
    auto group = [&](std::uint32_t n) {
        if (n > captures || ov[2 * n] == PCRE2_UNSET)
            return QStringView();
        return line.mid(qsizetype(ov[2 * n]), qsizetype(ov[2 * n + 1] - ov[2 * n]));
    };
    QString out;
    out.reserve(replacement.size());
    const int len = int(replacement.size());
    for (int i = 0; i < len; ++i) {
        const QChar c = replacement[i];
        if (c != u'$' || i + 1 >= len) {
            out += c;
            continue;
        }
        const QChar d = replacement[i + 1];
        if (d == u'$') {
            out += u'$';
            ++i;
        } else if (d.isDigit() && d.unicode() < 128) {
            std::uint32_t n = d.unicode() - u'0';
            int j = i + 2;
            // A second digit belongs to the number only if such a group exists.
            if (j < len && replacement[j].unicode() >= u'0' && replacement[j].unicode() <= u'9'
                && n * 10 + (replacement[j].unicode() - u'0') <= captures) {
                n = n * 10 + (replacement[j].unicode() - u'0');
                ++j;
            }
            out += group(n);
            i = j - 1;
        } else if (d == u'{') {
            const int close = int(replacement.indexOf(u'}', i + 2));
            if (close < 0) {
                out += c;
                continue;
            }
            const QString name = replacement.mid(i + 2, close - i - 2);
            bool isNumber = false;
            int n = name.toInt(&isNumber);
            if (!isNumber)
                n = pcre2_substring_number_from_name(FRegex->Code.get(), reinterpret_cast<PCRE2_SPTR>(name.utf16()));
            if (n < 0) {
                out += QStringView(replacement).mid(i, close - i + 1);
            } else {
                out += group(std::uint32_t(n));
            }
            i = close;
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace editor
