#include "app/JsonFormat.h"

#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

// The parsed value is kept as a flat tape in document order rather than as a
// pointer tree: one vector allocation for all nodes, and no recursion in either
// the parser or the printer, so nesting can never exhaust the stack. The parser
// also works out the printed length, so the output is allocated once.

namespace {

constexpr int kMaxDepth = 512;
constexpr int kIndentUnit = 4;

enum class Kind : std::uint8_t { Object, Array, Close, Key, String, Number, True, False, Null };

// One tape entry. Containers are an Object or Array entry, their children in
// order (for objects: a Key entry followed by its value), then a Close entry.
struct Node
{
    std::uint32_t offset = 0;   // Key/String/Number: first character; Close: the bracket
    std::uint32_t length = 0;   // Key/String/Number: characters
    std::uint32_t escapes = 0;  // Key/String: characters that print as a two-character escape
    Kind kind = Kind::Null;
    bool decoded = false;       // Key/String: text lives in the decoded store, not the input
};

// ASCII classes used both while scanning input strings and while printing:
// 0 plain, 1 printed escaped, 2 double quote (also printed escaped),
// 3 backslash (also printed escaped).
enum : std::uint8_t { kPlain = 0, kEscaped = 1, kQuote = 2, kBackslash = 3 };

struct Tables
{
    std::uint8_t cls[128] = {};
    char16_t letter[128] = {};
    constexpr Tables()
    {
        const char16_t from[] = {u'"', u'\\', u'/', 0x08, 0x09, 0x0A, 0x0C, 0x0D};
        const char16_t to[] = {u'"', u'\\', u'/', u'b', u't', u'n', u'f', u'r'};
        for (int i = 0; i < 8; ++i) {
            cls[from[i]] = kEscaped;
            letter[from[i]] = to[i];
        }
        cls[u'"'] = kQuote;
        cls[u'\\'] = kBackslash;
    }
};
constexpr Tables kTables;

inline bool PrintsEscaped(char16_t c) { return c < 128 && kTables.cls[c] != kPlain; }

inline bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

inline int HexValue(char16_t c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

#ifdef __SSE2__
inline __m128i QuoteOrBackslashLanes(__m128i v)
{
    return _mm_or_si128(_mm_cmpeq_epi16(v, _mm_set1_epi16(u'"')), _mm_cmpeq_epi16(v, _mm_set1_epi16(u'\\')));
}

// The slash and 8, 9, 10, 12, 13 (8 to 13 without 11).
inline __m128i OtherEscapedLanes(__m128i v)
{
    const __m128i from8 = _mm_sub_epi16(v, _mm_set1_epi16(8));
    const __m128i upTo13 = _mm_cmpeq_epi16(_mm_subs_epu16(from8, _mm_set1_epi16(5)), _mm_setzero_si128());
    const __m128i control = _mm_andnot_si128(_mm_cmpeq_epi16(v, _mm_set1_epi16(11)), upTo13);
    return _mm_or_si128(control, _mm_cmpeq_epi16(v, _mm_set1_epi16(u'/')));
}

// Lanes set in a 16-bit compare mask (each lane sets two adjacent bits).
inline unsigned PairCount(unsigned mask)
{
    unsigned x = mask & 0x5555u;
    x = (x & 0x3333u) + ((x >> 2) & 0x3333u);
    x = (x + (x >> 4)) & 0x0F0Fu;
    return (x + (x >> 8)) & 0x1Fu;
}
#endif

// An upper bound of the tape entries the text can produce: every entry but the
// first follows an opening bracket, a comma or a colon, or is a closing entry.
std::size_t TapeBound(const char16_t* p, const char16_t* e)
{
    std::size_t opens = 0, separators = 0;
#ifdef __SSE2__
    const __m128i brace = _mm_set1_epi16(u'{');
    const __m128i bracket = _mm_set1_epi16(u'[');
    const __m128i comma = _mm_set1_epi16(u',');
    const __m128i colon = _mm_set1_epi16(u':');
    for (; e - p >= 8; p += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        opens += PairCount(unsigned(
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi16(v, brace), _mm_cmpeq_epi16(v, bracket)))));
        separators += PairCount(unsigned(
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi16(v, comma), _mm_cmpeq_epi16(v, colon)))));
    }
#endif
    for (; p != e; ++p) {
        opens += *p == u'{' || *p == u'[';
        separators += *p == u',' || *p == u':';
    }
    return 1 + 2 * opens + separators;
}

class Parser
{
public:
    Parser(const char16_t* begin, const char16_t* end) : b_(begin), p_(begin), e_(end) {}

    bool Parse();

    std::vector<Node> tape;
    // Decoded texts of strings that contained escapes. Decoding never
    // lengthens a text, so the input's length bounds it; it is allocated at
    // the first such string and its pages are only touched as it fills.
    std::unique_ptr<char16_t[]> store;
    std::size_t storeSize = 0;
    std::uint64_t printedSize = 0;  // characters of the printed text

private:
    void SkipWhitespace()
    {
        while (p_ != e_ && (*p_ == u' ' || *p_ == u'\n' || *p_ == u'\r' || *p_ == u'\t'))
            ++p_;
    }
    bool ParseString(Kind kind);
    bool ParseStringWithEscapes(Kind kind, const char16_t* start, std::uint32_t escapes);
    bool ParseNumber();
    bool ParseWord(const char16_t* word, std::size_t length, Kind kind);
    std::uint32_t Offset(const char16_t* at) const { return static_cast<std::uint32_t>(at - b_); }

    const char16_t* b_;
    const char16_t* p_;
    const char16_t* e_;
};

bool Parser::Parse()
{
    if (p_ != e_ && *p_ == 0xFEFF)
        ++p_;
    SkipWhitespace();

    bool isObject[kMaxDepth];
    int depth = 0;
    enum class Expect { Value, Member, AfterValue, Closed } expect = Expect::Value;
    // An array element starts a line of its own; a member's value follows its key.
    bool elementLine = false;
    const auto lineBreak = [&] { printedSize += 2 + std::uint64_t(kIndentUnit) * depth; };

    for (;;) {
        switch (expect) {
        case Expect::Value: {
            if (elementLine)
                lineBreak();
            elementLine = false;
            if (p_ == e_)
                return false;
            const char16_t c = *p_;
            if (c == u'{' || c == u'[') {
                if (depth == kMaxDepth)
                    return false;
                const bool object = c == u'{';
                tape.push_back(Node{0, 0, 0, object ? Kind::Object : Kind::Array, false});
                isObject[depth++] = object;
                ++printedSize;
                ++p_;
                SkipWhitespace();
                const char16_t close = object ? u'}' : u']';
                if (p_ != e_ && *p_ == close) {
                    ++p_;
                    expect = Expect::Closed;
                } else {
                    expect = object ? Expect::Member : Expect::Value;
                    elementLine = !object;
                }
                continue;
            }
            bool ok;
            if (c == u'"')
                ok = ParseString(Kind::String);
            else if (c == u'-' || IsDigit(c))
                ok = ParseNumber();
            else if (c == u't')
                ok = ParseWord(u"true", 4, Kind::True);
            else if (c == u'f')
                ok = ParseWord(u"false", 5, Kind::False);
            else if (c == u'n')
                ok = ParseWord(u"null", 4, Kind::Null);
            else
                ok = false;
            if (!ok)
                return false;
            expect = Expect::AfterValue;
            continue;
        }
        case Expect::Member:
            lineBreak();
            printedSize += 2;  // ": "
            if (p_ == e_ || *p_ != u'"' || !ParseString(Kind::Key))
                return false;
            SkipWhitespace();
            if (p_ == e_ || *p_ != u':')
                return false;
            ++p_;
            SkipWhitespace();
            expect = Expect::Value;
            continue;
        case Expect::Closed:
            // The bracket was consumed just before; it takes the whitespace after it.
            --depth;
            lineBreak();
            ++printedSize;
            tape.push_back(Node{isObject[depth] ? std::uint32_t(u'}') : std::uint32_t(u']'), 0, 0,
                                Kind::Close, false});
            SkipWhitespace();
            expect = Expect::AfterValue;
            continue;
        case Expect::AfterValue: {
            // A top-level scalar must end the text right where it ends.
            if (depth == 0)
                return p_ == e_;
            SkipWhitespace();
            if (p_ == e_)
                return false;
            const bool object = isObject[depth - 1];
            if (*p_ == u',') {
                ++p_;
                ++printedSize;
                SkipWhitespace();
                expect = object ? Expect::Member : Expect::Value;
                elementLine = !object;
            } else if (*p_ == (object ? u'}' : u']')) {
                ++p_;
                expect = Expect::Closed;
            } else {
                return false;
            }
            continue;
        }
        }
    }
}

bool Parser::ParseString(Kind kind)
{
    ++p_;  // opening quote
    const char16_t* start = p_;
    std::uint32_t escapes = 0;
#ifdef __SSE2__
    // Eight characters at a time until a quote or backslash shows up; the
    // scalar loop below then handles that character.
    while (e_ - p_ >= 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p_));
        const unsigned stop = unsigned(_mm_movemask_epi8(QuoteOrBackslashLanes(v)));
        unsigned escaped = unsigned(_mm_movemask_epi8(OtherEscapedLanes(v)));
        if (stop != 0) {
            const unsigned at = unsigned(__builtin_ctz(stop));  // byte index of the first stop
            escaped &= (1u << at) - 1;
            escapes += PairCount(escaped);
            p_ += at / 2;
            break;
        }
        escapes += PairCount(escaped);
        p_ += 8;
    }
#endif
    for (;;) {
        if (p_ == e_)
            return false;
        const char16_t c = *p_;
        if (c < 128) {
            const std::uint8_t k = kTables.cls[c];
            if (k == kQuote)
                break;
            if (k == kBackslash)
                return ParseStringWithEscapes(kind, start, escapes);
            escapes += k;  // kPlain is 0, kEscaped is 1
        }
        ++p_;
    }
    tape.push_back(Node{Offset(start), static_cast<std::uint32_t>(p_ - start), escapes, kind, false});
    printedSize += 2 + std::uint64_t(p_ - start) + escapes;
    ++p_;  // closing quote
    return true;
}

bool Parser::ParseStringWithEscapes(Kind kind, const char16_t* start, std::uint32_t escapes)
{
    if (!store)
        store = std::make_unique_for_overwrite<char16_t[]>(static_cast<std::size_t>(e_ - b_));
    const std::size_t first = storeSize;
    char16_t* out = store.get() + storeSize;
    std::memcpy(out, start, static_cast<std::size_t>(p_ - start) * sizeof(char16_t));
    out += p_ - start;
    for (;;) {
        if (p_ == e_)
            return false;
        char16_t c = *p_++;
        if (c == u'"')
            break;
        if (c == u'\\') {
            if (p_ == e_)
                return false;
            switch (*p_++) {
            case u'"': c = u'"'; break;
            case u'\\': c = u'\\'; break;
            case u'/': c = u'/'; break;
            case u'b': c = 0x08; break;
            case u'f': c = 0x0C; break;
            case u'n': c = 0x0A; break;
            case u'r': c = 0x0D; break;
            case u't': c = 0x09; break;
            case u'u': {
                if (e_ - p_ < 4)
                    return false;
                int value = 0;
                for (int i = 0; i < 4; ++i) {
                    const int h = HexValue(*p_++);
                    if (h < 0)
                        return false;
                    value = value * 16 + h;
                }
                c = static_cast<char16_t>(value);
                break;
            }
            default:
                return false;
            }
        }
        if (PrintsEscaped(c))
            ++escapes;
        *out++ = c;
    }
    storeSize = static_cast<std::size_t>(out - store.get());
    tape.push_back(Node{static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(storeSize - first),
                        escapes, kind, true});
    printedSize += 2 + std::uint64_t(storeSize - first) + escapes;
    return true;
}

bool Parser::ParseNumber()
{
    const char16_t* start = p_;
    if (*p_ == u'-')
        ++p_;
    if (p_ == e_)
        return false;
    if (*p_ == u'0') {
        ++p_;
        if (p_ != e_ && IsDigit(*p_))
            return false;
    } else if (IsDigit(*p_)) {
        while (p_ != e_ && IsDigit(*p_))
            ++p_;
    } else {
        return false;
    }
    if (p_ != e_ && *p_ == u'.') {
        ++p_;
        if (p_ == e_ || !IsDigit(*p_))
            return false;
        while (p_ != e_ && IsDigit(*p_))
            ++p_;
    }
    if (p_ != e_ && (*p_ == u'e' || *p_ == u'E')) {
        ++p_;
        if (p_ != e_ && (*p_ == u'+' || *p_ == u'-'))
            ++p_;
        if (p_ == e_ || !IsDigit(*p_))
            return false;
        while (p_ != e_ && IsDigit(*p_))
            ++p_;
    }
    tape.push_back(Node{Offset(start), static_cast<std::uint32_t>(p_ - start), 0, Kind::Number, false});
    printedSize += std::uint64_t(p_ - start);
    return true;
}

bool Parser::ParseWord(const char16_t* word, std::size_t length, Kind kind)
{
    if (static_cast<std::size_t>(e_ - p_) < length
        || std::memcmp(p_, word, length * sizeof(char16_t)) != 0)
        return false;
    p_ += length;
    tape.push_back(Node{0, 0, 0, kind, false});
    printedSize += length;
    return true;
}

// Writes the printed text into a QString sized from the parser's count. The
// room check before each entry keeps writes inside the buffer whatever the
// count says; with a right count it never has to grow.
class Writer
{
public:
    // Covers the line break, indent and separators of any one entry.
    static constexpr qsizetype kSlack = 16 + kIndentUnit * kMaxDepth;

    Writer(QString& result, const char16_t* input, const char16_t* decoded)
        : result_(result), input_(input), decoded_(decoded)
    {
        Attach(0);
    }

    void Print(const std::vector<Node>& tape);
    qsizetype Used() const { return out - base_; }

private:
    void Attach(qsizetype used)
    {
        base_ = reinterpret_cast<char16_t*>(result_.data());
        out = base_ + used;
        end_ = base_ + result_.size();
    }
    void Reserve(std::uint64_t need)
    {
        if (static_cast<std::uint64_t>(end_ - out) >= need)
            return;
        const qsizetype used = Used();
        result_.resize(used + static_cast<qsizetype>(need) + kSlack);
        Attach(used);
    }

    void Char(char16_t c) { *out++ = c; }
    void LineBreak(int depth)
    {
        // CR LF, then the indent two units (sixteen bytes) at a time.
        static constexpr char16_t kBreak[2] = {u'\r', u'\n'};
        static constexpr char16_t kSpaces[2 * kIndentUnit] = {u' ', u' ', u' ', u' ', u' ', u' ', u' ', u' '};
        std::memcpy(out, kBreak, sizeof kBreak);
        out += 2;
        int units = depth;
        for (; units >= 2; units -= 2) {
            std::memcpy(out, kSpaces, sizeof kSpaces);
            out += 2 * kIndentUnit;
        }
        if (units != 0) {
            std::memcpy(out, kSpaces, sizeof kSpaces / 2);
            out += kIndentUnit;
        }
    }
    // Most copies are a few characters long: fixed-size moves beat a call to memcpy.
    void Copy(const char16_t* from, std::size_t n)
    {
        if (n > 64) {
            std::memcpy(out, from, n * sizeof(char16_t));
            out += n;
            return;
        }
        for (; n >= 4; n -= 4, from += 4, out += 4)
            std::memcpy(out, from, 4 * sizeof(char16_t));
        for (; n > 0; --n)
            *out++ = *from++;
    }
    void Put(char16_t c)
    {
        if (PrintsEscaped(c)) {
            *out++ = u'\\';
            *out++ = kTables.letter[c];
        } else {
            *out++ = c;
        }
    }
    void String(const Node& n)
    {
        const char16_t* s = (n.decoded ? decoded_ : input_) + n.offset;
        *out++ = u'"';
        if (n.escapes == 0) {
            Copy(s, n.length);
        } else {
            const char16_t* end = s + n.length;
#ifdef __SSE2__
            // Blocks of eight without any escape go out in one store.
            for (; end - s >= 8; s += 8) {
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
                if (_mm_movemask_epi8(_mm_or_si128(QuoteOrBackslashLanes(v), OtherEscapedLanes(v))) == 0) {
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
                    out += 8;
                } else {
                    for (int i = 0; i < 8; ++i)
                        Put(s[i]);
                }
            }
#endif
            for (; s != end; ++s)
                Put(*s);
        }
        *out++ = u'"';
    }
    void Number(const Node& n) { Copy(input_ + n.offset, n.length); }
    void Word(const char16_t* w, int length) { Copy(w, std::size_t(length)); }

    QString& result_;
    const char16_t* input_;
    const char16_t* decoded_;
    char16_t* base_ = nullptr;
    char16_t* end_ = nullptr;
    char16_t* out = nullptr;  // next character to write
};

void Writer::Print(const std::vector<Node>& tape)
{
    bool first[kMaxDepth + 1];
    int depth = 0;
    bool afterKey = false;
    for (const Node& node : tape) {
        Reserve(kSlack + std::uint64_t(node.length) + node.escapes);
        if (node.kind == Kind::Close) {
            --depth;
            LineBreak(depth);
            Char(static_cast<char16_t>(node.offset));
            continue;
        }
        // Each element starts on its own line; the separator of the one
        // before goes at the end of that line.
        if (depth > 0 && !afterKey) {
            if (!first[depth])
                Char(u',');
            first[depth] = false;
            LineBreak(depth);
        }
        afterKey = false;
        switch (node.kind) {
        case Kind::Object:
        case Kind::Array:
            Char(node.kind == Kind::Object ? u'{' : u'[');
            first[++depth] = true;
            break;
        case Kind::Key:
            String(node);
            Char(u':');
            Char(u' ');
            afterKey = true;
            break;
        case Kind::String: String(node); break;
        case Kind::Number: Number(node); break;
        case Kind::True: Word(u"true", 4); break;
        case Kind::False: Word(u"false", 5); break;
        case Kind::Null: Word(u"null", 4); break;
        case Kind::Close: break;
        }
    }
}

QString Format(const QString& text)
{
    // Tape offsets are 32-bit; a text beyond that is shown as it is.
    if (static_cast<std::uint64_t>(text.size()) >= std::numeric_limits<std::uint32_t>::max())
        return text;
    const char16_t* begin = reinterpret_cast<const char16_t*>(text.utf16());
    Parser parser(begin, begin + text.size());
    // Reserving the bound up front spares the copies and fresh pages of
    // repeated growth; pages never written are never touched.
    try {
        parser.tape.reserve(TapeBound(begin, begin + text.size()));
    } catch (const std::bad_alloc&) {
        // Grow as needed instead.
    }
    if (!parser.Parse())
        return text;

    if (parser.printedSize > static_cast<std::uint64_t>(std::numeric_limits<qsizetype>::max() / 4))
        return text;
    QString result(static_cast<qsizetype>(parser.printedSize) + Writer::kSlack, Qt::Uninitialized);
    Writer writer(result, begin, parser.store.get());
    writer.Print(parser.tape);
    // The count and the layout are two descriptions of one format.
    Q_ASSERT(writer.Used() == static_cast<qsizetype>(parser.printedSize));
    result.truncate(writer.Used());
    return result;
}

}  // namespace

QString FormatJsonResult(const QString& text)
{
    try {
        return Format(text);
    } catch (...) {
        // Out of memory or anything else: show the result as the script returned it.
        return text;
    }
}
