#include "editor/PythonHighlighter.h"

#include "editor/CodeFolding.h"
#include "editor/LineBuffer.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <string_view>

namespace editor {

namespace {

// The string range of a one-quote continuation does not say which quote
// closes it; the opaque range value carries that in a high bit so that a
// line can be rescanned from its stored state alone.
constexpr std::intptr_t kDoubleQuoteFlag = 0x100;

struct RawWord {
    const char16_t* text;
    TtkTokenKind kind;
};

const RawWord kRawWords[] = {
    {u"and", tkKey}, {u"assert", tkKey}, {u"break", tkKey}, {u"class", tkKey}, {u"continue", tkKey},
    {u"def", tkKey}, {u"del", tkKey}, {u"elif", tkKey}, {u"else", tkKey}, {u"except", tkKey},
    {u"exec", tkKey}, {u"finally", tkKey}, {u"for", tkKey}, {u"from", tkKey}, {u"global", tkKey},
    {u"if", tkKey}, {u"import", tkKey}, {u"in", tkKey}, {u"is", tkKey}, {u"lambda", tkKey},
    {u"not", tkKey}, {u"or", tkKey}, {u"pass", tkKey}, {u"print", tkKey}, {u"raise", tkKey},
    {u"return", tkKey}, {u"try", tkKey}, {u"while", tkKey}, {u"yield", tkKey},

    {u"__future__", tkNonKeyword}, {u"__import__", tkNonKeyword}, {u"abs", tkNonKeyword},
    {u"apply", tkNonKeyword}, {u"as", tkNonKeyword}, {u"buffer", tkNonKeyword}, {u"callable", tkNonKeyword},
    {u"chr", tkNonKeyword}, {u"cmp", tkNonKeyword}, {u"coerce", tkNonKeyword}, {u"compile", tkNonKeyword},
    {u"complex", tkNonKeyword}, {u"delattr", tkNonKeyword}, {u"dict", tkNonKeyword}, {u"dir", tkNonKeyword},
    {u"divmod", tkNonKeyword}, {u"eval", tkNonKeyword}, {u"execfile", tkNonKeyword}, {u"False", tkNonKeyword},
    {u"file", tkNonKeyword}, {u"filter", tkNonKeyword}, {u"float", tkNonKeyword}, {u"getattr", tkNonKeyword},
    {u"globals", tkNonKeyword}, {u"hasattr", tkNonKeyword}, {u"hash", tkNonKeyword}, {u"help", tkNonKeyword},
    {u"hex", tkNonKeyword}, {u"id", tkNonKeyword}, {u"input", tkNonKeyword}, {u"int", tkNonKeyword},
    {u"intern", tkNonKeyword}, {u"isinstance", tkNonKeyword}, {u"issubclass", tkNonKeyword},
    {u"iter", tkNonKeyword}, {u"len", tkNonKeyword}, {u"list", tkNonKeyword}, {u"locals", tkNonKeyword},
    {u"long", tkNonKeyword}, {u"None", tkNonKeyword}, {u"NotImplemented", tkNonKeyword}, {u"map", tkNonKeyword},
    {u"max", tkNonKeyword}, {u"min", tkNonKeyword}, {u"oct", tkNonKeyword}, {u"open", tkNonKeyword},
    {u"ord", tkNonKeyword}, {u"pow", tkNonKeyword}, {u"range", tkNonKeyword}, {u"raw_input", tkNonKeyword},
    {u"reduce", tkNonKeyword}, {u"reload", tkNonKeyword}, {u"repr", tkNonKeyword}, {u"round", tkNonKeyword},
    {u"self", tkNonKeyword}, {u"setattr", tkNonKeyword}, {u"slice", tkNonKeyword}, {u"str", tkNonKeyword},
    {u"True", tkNonKeyword}, {u"tuple", tkNonKeyword}, {u"type", tkNonKeyword}, {u"unichr", tkNonKeyword},
    {u"unicode", tkNonKeyword}, {u"vars", tkNonKeyword}, {u"xrange", tkNonKeyword}, {u"zip", tkNonKeyword},
};

std::u16string_view View(const TPythonWord& w) { return {w.Text, std::size_t(w.Length)}; }

std::vector<TPythonWord> BuildWordTable()
{
    std::vector<TPythonWord> words;
    words.reserve(std::size(kRawWords));
    for (const RawWord& raw : kRawWords)
        words.push_back({raw.text, int(std::char_traits<char16_t>::length(raw.text)), raw.kind});
    std::sort(words.begin(), words.end(), [](const TPythonWord& a, const TPythonWord& b) { return View(a) < View(b); });
    for (std::size_t i = 1; i < words.size(); ++i)
        if (View(words[i - 1]) == View(words[i]))
            throw EHighlighterError(platform::Format("Duplicate word \"%s\" in the word table",
                {QString::fromUtf16(words[i].Text, words[i].Length)}));
    return words;
}

inline bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
inline bool IsHexDigit(char16_t c)
{
    return IsDigit(c) || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

std::unique_ptr<THighlighterAttributes> Attr(const char16_t* name, const char16_t* friendly, TColor fg, TFontStyles style)
{
    auto a = std::make_unique<THighlighterAttributes>(QString::fromUtf16(name), QString::fromUtf16(friendly));
    a->SetForeground(fg);
    a->SetStyle(style);
    return a;
}

} // namespace

const std::vector<TPythonWord>& TPythonHighlighter::Keywords()
{
    static const std::vector<TPythonWord> table = BuildWordTable();
    return table;
}

TtkTokenKind TPythonHighlighter::ClassifyWord(const char16_t* text, int length)
{
    const std::vector<TPythonWord>& words = Keywords();
    const std::u16string_view word(text, std::size_t(length));
    auto it = std::lower_bound(words.begin(), words.end(), word,
        [](const TPythonWord& w, std::u16string_view key) { return View(w) < key; });
    if (it != words.end() && View(*it) == word)
        return it->Kind;
    if (length >= 5 && text[0] == u'_' && text[1] == u'_' && text[2] != u'_' && text[length - 1] == u'_'
        && text[length - 2] == u'_' && text[length - 3] != u'_')
        return tkSystemDefined;
    return tkIdentifier;
}

TPythonHighlighter::TPythonHighlighter()
{
    FCaseSensitive = true;
    FKeywords = &Keywords();

    CommentAttri = AddAttribute(Attr(u"Comment", u"Comment", MakeColor(128, 128, 128), fsItalic));
    IdentifierAttri = AddAttribute(Attr(u"Identifier", u"Identifier", clNone, 0));
    KeyAttri = AddAttribute(Attr(u"ReservedWord", u"Reserved Word", clNone, fsBold));
    NonKeyAttri = AddAttribute(Attr(u"NonreservedKeyword", u"Non-reserved Keyword", MakeColor(0, 0, 128), fsBold));
    SystemAttri = AddAttribute(Attr(u"SystemFunctionsAndVariables", u"System Functions and Variables", clNone, fsBold));
    NumberAttri = AddAttribute(Attr(u"Number", u"Number", MakeColor(0, 0, 255), 0));
    HexAttri = AddAttribute(Attr(u"Hexadecimal", u"Hexadecimal", MakeColor(0, 0, 255), 0));
    OctalAttri = AddAttribute(Attr(u"Octal", u"Octal", MakeColor(0, 0, 255), 0));
    FloatAttri = AddAttribute(Attr(u"Float", u"Float", MakeColor(0, 0, 255), 0));
    SpaceAttri = AddAttribute(Attr(u"Space", u"Space", clNone, 0));
    StringAttri = AddAttribute(Attr(u"String", u"String", MakeColor(0, 0, 255), 0));
    DocStringAttri = AddAttribute(Attr(u"Documentation", u"Documentation", MakeColor(0, 128, 128), 0));
    SymbolAttri = AddAttribute(Attr(u"Symbol", u"Symbol", clNone, 0));
    ErrorAttri = AddAttribute(Attr(u"SyntaxError", u"Syntax Error", MakeColor(255, 0, 0), 0));
    FinishAttributes();

    fTokenAttri[tkComment] = CommentAttri;
    fTokenAttri[tkIdentifier] = IdentifierAttri;
    fTokenAttri[tkKey] = KeyAttri;
    fTokenAttri[tkNull] = nullptr;
    fTokenAttri[tkNumber] = NumberAttri;
    fTokenAttri[tkSpace] = SpaceAttri;
    fTokenAttri[tkString] = StringAttri;
    fTokenAttri[tkSymbol] = SymbolAttri;
    fTokenAttri[tkNonKeyword] = NonKeyAttri;
    fTokenAttri[tkTrippleQuotedString] = DocStringAttri;
    fTokenAttri[tkSystemDefined] = SystemAttri;
    fTokenAttri[tkHex] = HexAttri;
    fTokenAttri[tkOct] = OctalAttri;
    fTokenAttri[tkFloat] = FloatAttri;
    fTokenAttri[tkUnknown] = ErrorAttri;

    IdentCharsChanged();
    fLineBuf.assign(8, 0);
    fLine = fLineBuf.data();

    static const char16_t kBlockOpener[] =
        u"^(def|class|while|for|if|else|elif|try|except|with|(async[ \\t]+def)|(async[ \\t]+with)|(async[ \\t]+for))\\b";
    int errorCode = 0;
    PCRE2_SIZE errorOffset = 0;
    BlockOpenerRE = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(kBlockOpener), PCRE2_ZERO_TERMINATED, 0, &errorCode,
        &errorOffset, nullptr);
    if (!BlockOpenerRE)
        throw EHighlighterError(QStringLiteral("The block-opener expression does not compile"));
    pcre2_jit_compile(BlockOpenerRE, PCRE2_JIT_COMPLETE); // optional speed-up; plain matching works without it
    fMatchData = pcre2_match_data_create_from_pattern(BlockOpenerRE, nullptr);
}

TPythonHighlighter::~TPythonHighlighter()
{
    pcre2_match_data_free(fMatchData);
    pcre2_code_free(BlockOpenerRE);
}

void TPythonHighlighter::IdentCharsChanged()
{
    for (int c = 0; c < 256; ++c)
        fIdentTable[c] = IsIdentChar(char16_t(c));
}

std::intptr_t TPythonHighlighter::GetRange() const
{
    if (fRange == rsMultilineString3 && fStringStarter == u'"')
        return rsMultilineString3 | kDoubleQuoteFlag;
    return fRange;
}

void TPythonHighlighter::SetRange(std::intptr_t value)
{
    if (value == (rsMultilineString3 | kDoubleQuoteFlag)) {
        fRange = rsMultilineString3;
        fStringStarter = u'"';
        return;
    }
    fRange = TRangeState(value);
    if (fRange == rsMultilineString3)
        fStringStarter = u'\'';
}

TRangeState TPythonHighlighter::RangeKind(std::intptr_t range)
{
    if (range == (rsMultilineString3 | kDoubleQuoteFlag))
        return rsMultilineString3;
    return TRangeState(range);
}

void TPythonHighlighter::SetLine(QStringView value, int lineNumber)
{
    const qsizetype len = std::min<qsizetype>(value.size(), INT_MAX - 16);
    if (fLineBuf.size() < std::size_t(len) + 4)
        fLineBuf.resize(std::size_t(len) + 4 + std::size_t(len / 4));
    if (len > 0)
        std::memcpy(fLineBuf.data(), value.utf16(), std::size_t(len) * sizeof(char16_t));
    std::memset(fLineBuf.data() + len, 0, 4 * sizeof(char16_t));
    fLine = fLineBuf.data();
    fLineLen = int(len);
    fLineNumber = lineNumber;
    Run = 0;
    FScanningToEOL = false;
    DoNext();
}

QString TPythonHighlighter::GetToken() const
{
    return GetTokenView().toString();
}

QStringView TPythonHighlighter::GetTokenView() const
{
    const int end = std::min(Run, fLineLen);
    return QStringView(fLine + fTokenPos, std::max(0, end - fTokenPos));
}

int TPythonHighlighter::GetTokenLength() const
{
    return std::max(0, std::min(Run, fLineLen) - fTokenPos);
}

THighlighterAttributes* TPythonHighlighter::GetTokenAttribute() const
{
    return fTokenAttri[FTokenID];
}

void TPythonHighlighter::Next() { DoNext(); }

void TPythonHighlighter::NextToEol()
{
    FScanningToEOL = true;
    while (Run <= fLineLen)
        DoNext();
    FScanningToEOL = false;
}

inline void TPythonHighlighter::DoNext()
{
    fTokenPos = Run;
    switch (fRange) {
    case rsMultilineString:
        StringEndProc(u'\'');
        break;
    case rsMultilineString2:
        StringEndProc(u'"');
        break;
    case rsMultilineString3:
        StringEndProc(fStringStarter);
        break;
    default:
        NextToken();
        break;
    }
}

void TPythonHighlighter::LineEndProc()
{
    const char16_t c = fLine[Run];
    if (c == 0) {
        FTokenID = tkNull;
        ++Run;
    } else {
        FTokenID = tkSpace;
        Run += (c == 13 && fLine[Run + 1] == 10) ? 2 : 1;
    }
}

void TPythonHighlighter::NextToken()
{
    const char16_t c = fLine[Run];
    switch (c) {
    case 0:
    case 10:
    case 13:
        LineEndProc();
        break;
    case u'#':
        FTokenID = tkComment;
        ++Run;
        while (!IsLineEnd(Run))
            ++Run;
        break;
    case u'"':
    case u'\'':
        StringProc(c);
        break;
    case u'r':
    case u'R':
        if (fLine[Run + 1] == u'\'' || fLine[Run + 1] == u'"') {
            ++Run;
            StringProc(fLine[Run]);
        } else {
            WordProc();
        }
        break;
    case u'u':
    case u'U':
        if ((fLine[Run + 1] == u'r' || fLine[Run + 1] == u'R') && (fLine[Run + 2] == u'\'' || fLine[Run + 2] == u'"'))
            ++Run;
        if (fLine[Run + 1] == u'\'' || fLine[Run + 1] == u'"') {
            ++Run;
            StringProc(fLine[Run]);
        } else {
            WordProc();
        }
        break;
    case u'0': case u'1': case u'2': case u'3': case u'4':
    case u'5': case u'6': case u'7': case u'8': case u'9':
    case u'.':
        NumberProc();
        break;
    case u'<':
        FTokenID = tkSymbol;
        Run += (fLine[Run + 1] == u'=' || fLine[Run + 1] == u'>') ? 2 : 1;
        break;
    case u'>':
        FTokenID = tkSymbol;
        Run += (fLine[Run + 1] == u'=') ? 2 : 1;
        break;
    case u'!': case u'%': case u'&': case u'(': case u')': case u'*': case u'+': case u',':
    case u'-': case u'/': case u':': case u';': case u'=': case u'[': case u'\\': case u']':
    case u'^': case u'`': case u'{': case u'|': case u'}': case u'~':
        FTokenID = tkSymbol;
        ++Run;
        break;
    case u'$':
    case u'?':
    case u'@':
        FTokenID = tkUnknown;
        ++Run;
        break;
    default:
        if (c <= 32) {
            FTokenID = tkSpace;
            ++Run;
            while (fLine[Run] <= 32 && !IsLineEnd(Run))
                ++Run;
        } else if (c > 126) {
            FTokenID = tkUnknown;
            ++Run;
        } else {
            WordProc();
        }
        break;
    }
}

void TPythonHighlighter::WordProc()
{
    fToIdent = Run;
    ++Run; // the first character always belongs to the word, so the scan always advances
    while (Ident(fLine[Run]))
        ++Run;
    fStringLen = Run - fToIdent;
    if (FScanningToEOL)
        FTokenID = tkIdentifier; // the kind is not looked at when only the range is wanted
    else
        FTokenID = ClassifyWord(fLine + fToIdent, fStringLen);
}

bool TPythonHighlighter::EscapeCountOdd(int pos) const
{
    int count = 0;
    while (pos >= 0 && fLine[pos] == u'\\') {
        ++count;
        --pos;
    }
    return (count & 1) != 0;
}

void TPythonHighlighter::ApplyEscape()
{
    if (EscapeCountOdd(Run))
        ++Run;
}

void TPythonHighlighter::StringProc(char16_t q)
{
    FTokenID = tkString;
    if (fLine[Run + 1] == q && fLine[Run + 2] == q) {
        FTokenID = tkTrippleQuotedString;
        Run += 3;
        fRange = (q == u'\'') ? rsMultilineString : rsMultilineString2;
        for (;;) {
            const char16_t c = fLine[Run];
            if (c == 0 || c == 10 || c == 13)
                break;
            if (c == q && fLine[Run + 1] == q && fLine[Run + 2] == q) {
                Run += 3;
                fRange = rsUnKnown;
                break;
            }
            if (c == u'\\' && fLine[Run + 1] == q)
                ApplyEscape();
            ++Run;
        }
        return;
    }
    do {
        const char16_t c = fLine[Run];
        if (c == 0 || c == 10 || c == 13) {
            if (fLine[Run - 1] == u'\\') {
                fStringStarter = q;
                fRange = rsMultilineString3;
            }
            break;
        }
        if (c == u'\\' && fLine[Run + 1] == q)
            ApplyEscape();
        ++Run;
    } while (fLine[Run] != q);
    if (fLine[Run] != 0)
        ++Run;
}

void TPythonHighlighter::StringEndProc(char16_t endChar)
{
    FTokenID = (fRange == rsMultilineString3) ? tkString : tkTrippleQuotedString;
    const char16_t first = fLine[Run];
    if (first == 0 || first == 10 || first == 13) {
        LineEndProc();
        return;
    }
    if (fRange == rsMultilineString3) {
        do {
            const char16_t c = fLine[Run];
            if (c == fStringStarter) {
                ++Run;
                fRange = rsUnKnown;
                return;
            }
            if (c == u'\\' && fLine[Run + 1] == fStringStarter)
                ApplyEscape();
            ++Run;
        } while (!IsLineEnd(Run));
        if (fLine[Run - 1] != u'\\')
            fRange = rsUnKnown;
        return;
    }
    do {
        if (fLine[Run] == u'\\' && fLine[Run + 1] == endChar && EscapeCountOdd(Run)) {
            Run += 2;
            if (IsLineEnd(Run))
                break; // an escaped quote at the end of the line must not swallow the terminator
        }
        if (fLine[Run] == endChar && fLine[Run + 1] == endChar && fLine[Run + 2] == endChar) {
            Run += 3;
            fRange = rsUnKnown;
            return;
        }
        ++Run;
    } while (!IsLineEnd(Run));
}

void TPythonHighlighter::NumberProc()
{
    enum State { nsStart, nsFraction, nsFloatNeeded, nsHex, nsOctal, nsExponent };
    FTokenID = tkNumber;
    const char16_t first = fLine[Run];
    ++Run;
    State state = nsStart;
    if (first == u'.') {
        if (IsDigit(fLine[Run])) {
            ++Run;
            FTokenID = tkFloat;
            state = nsFraction;
        } else {
            if (fLine[Run] == u'.' && fLine[Run + 1] == u'.')
                Run += 2;
            FTokenID = tkSymbol;
            return;
        }
    } else if (first == u'0') {
        const char16_t d = fLine[Run];
        if (d == u'x' || d == u'X') {
            ++Run;
            FTokenID = tkHex;
            state = nsHex;
        } else if (d == u'.') {
            ++Run;
            FTokenID = tkFloat;
            state = nsFraction;
        } else if (IsDigit(d)) {
            ++Run;
            if (d <= u'7') {
                FTokenID = tkOct;
                state = nsOctal;
            } else {
                FTokenID = tkFloat;
                state = nsFloatNeeded;
            }
        }
    }

    auto bad = [this] {
        FTokenID = tkUnknown;
        while (Ident(fLine[Run]) || fLine[Run] == u'.')
            ++Run;
    };
    // Returns true when scanning goes on.
    auto exponent = [&]() -> bool {
        state = nsExponent;
        FTokenID = tkFloat;
        if (fLine[Run + 1] == u'+' || fLine[Run + 1] == u'-')
            ++Run;
        ++Run;
        if (IsDigit(fLine[Run]))
            return true;
        bad();
        return false;
    };
    auto ellipsisFollows = [this] { return fLine[Run + 1] == u'.' && fLine[Run + 2] == u'.'; };
    auto dot = [&]() -> bool {
        if (ellipsisFollows())
            return false;
        state = nsFraction;
        FTokenID = tkFloat;
        ++Run;
        return true;
    };

    for (;;) {
        const char16_t d = fLine[Run];
        const bool digit = IsDigit(d);
        const bool isE = d == u'e' || d == u'E';
        const bool isJ = d == u'j' || d == u'J';
        const bool isL = d == u'l' || d == u'L';
        switch (state) {
        case nsStart:
            if (digit) { ++Run; continue; }
            if (isE) { if (exponent()) continue; return; }
            if (isJ) { ++Run; FTokenID = tkFloat; return; }
            if (isL) { bad(); return; }
            if (d == u'.') { if (dot()) continue; return; }
            if (Ident(d)) { bad(); return; }
            return;
        case nsFraction:
        case nsExponent:
            if (digit) { ++Run; continue; }
            if (isE) {
                if (state == nsExponent) { bad(); return; }
                if (exponent()) continue;
                return;
            }
            if (isJ) { ++Run; return; }
            if (isL) { bad(); return; }
            if (d == u'.') { if (!ellipsisFollows()) bad(); return; }
            if (Ident(d)) { bad(); return; }
            return;
        case nsFloatNeeded:
            if (digit) { ++Run; continue; }
            if (isE) { if (exponent()) continue; return; }
            if (isJ) { ++Run; return; }
            if (isL) { bad(); return; }
            if (d == u'.') { if (dot()) continue; bad(); return; }
            bad();
            return;
        case nsHex:
            if (IsHexDigit(d)) { ++Run; continue; }
            if (isJ) { bad(); return; }
            if (isL) { ++Run; return; }
            if (d == u'.') { if (!ellipsisFollows()) bad(); return; }
            if (Ident(d)) { bad(); return; }
            return;
        case nsOctal:
            if (d >= u'0' && d <= u'7') { ++Run; continue; }
            if (d == u'8' || d == u'9') { FTokenID = tkFloat; state = nsFloatNeeded; ++Run; continue; }
            if (isE) { if (exponent()) continue; return; }
            if (isJ) { ++Run; FTokenID = tkFloat; return; }
            if (isL) { ++Run; return; }
            if (d == u'.') { if (dot()) continue; return; }
            if (Ident(d)) { bad(); return; }
            return;
        }
    }
}

QString TPythonHighlighter::GetLanguageName() const { return QStringLiteral("Python"); }
QString TPythonHighlighter::GetFriendlyLanguageName() const { return QStringLiteral("Python"); }
QString TPythonHighlighter::DefaultFilter() const { return QStringLiteral("Python Files (*.py)|*.py"); }

QString TPythonHighlighter::GetSampleSource() const
{
    return QStringLiteral("#!/usr/local/bin/python\r\n"
                          "import string, sys\r\n"
                          "\"\"\" If no arguments were given, print a helpful message \"\"\"\r\n"
                          "if len(sys.argv)==1:\r\n"
                          "    print 'Usage: celsius temp1 temp2 ...'\r\n"
                          "    sys.exit(0)");
}

THighlighterAttributes* TPythonHighlighter::GetDefaultAttribute(int index) const
{
    switch (index) {
    case SYN_ATTR_COMMENT:
        return CommentAttri;
    case SYN_ATTR_KEYWORD:
        return KeyAttri;
    case SYN_ATTR_WHITESPACE:
        return SpaceAttri;
    case SYN_ATTR_SYMBOL:
        return SymbolAttri;
    default:
        return nullptr;
    }
}

void TPythonHighlighter::InitFoldRanges(TFoldRanges& foldRanges)
{
    foldRanges.SetCodeFoldingMode(cfmIndentation);
}

void TPythonHighlighter::ScanForFoldRanges(TFoldRanges& foldRanges, const TLineBuffer& linesToScan, int fromLine, int toLine)
{
    struct StringCheck {
        TRangeState state;
        bool fold;
    };
    static constexpr StringCheck kChecks[] = {
        {rsMultilineString, true}, {rsMultilineString2, true}, {rsMultilineString3, false}};
    const int tabWidth = linesToScan.TabWidth();

    for (int line = fromLine; line <= toLine; ++line) {
        const TRangeState cur = RangeKind(linesToScan.GetRange(line));
        const TRangeState prev = RangeKind(linesToScan.GetRange(line - 1));
        bool decided = false;
        for (const StringCheck& check : kChecks) {
            if (cur == check.state) {
                if (prev != check.state && check.fold)
                    foldRanges.StartFoldRange(line + 1, FoldTypeString, -1);
                else
                    foldRanges.NoFoldInfo(line + 1);
                decided = true;
                break;
            }
            if (prev == check.state && check.fold) {
                foldRanges.StopFoldRange(line + 1, FoldTypeString, -1);
                decided = true;
                break;
            }
        }
        if (decided)
            continue;

        const QString& text = linesToScan.GetRef(line);
        const char16_t* s = reinterpret_cast<const char16_t*>(text.constData());
        const int len = int(text.size());
        int start = 0;
        int indent = 0;
        while (start < len && s[start] <= 32) {
            indent += (s[start] == u'\t') ? tabWidth : 1;
            ++start;
        }
        if (start == len) {
            foldRanges.NoFoldInfo(line + 1);
            continue;
        }
        auto prefixIs = [&](std::u16string_view prefix) {
            if (len - start < int(prefix.size()))
                return false;
            for (std::size_t i = 0; i < prefix.size(); ++i) {
                char16_t c = s[start + int(i)];
                if (c >= u'a' && c <= u'z')
                    c = char16_t(c - 32);
                if (c != prefix[i])
                    return false;
            }
            return true;
        };
        if (prefixIs(u"#REGION")) {
            foldRanges.StartFoldRange(line + 1, FoldTypeRegion, -1);
            continue;
        }
        if (prefixIs(u"#ENDREGION")) {
            foldRanges.StopFoldRange(line + 1, FoldTypeRegion, -1);
            continue;
        }
        const int rc = pcre2_match(BlockOpenerRE, reinterpret_cast<PCRE2_SPTR>(s + start), PCRE2_SIZE(len - start), 0,
            PCRE2_NOTEMPTY, fMatchData, nullptr);
        if (rc > 0) {
            const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(fMatchData);
            const std::u16string_view keyword(s + start + ov[2], ov[3] - ov[2]);
            int foldType = FoldTypeBlock;
            if (keyword == u"class")
                foldType = FoldTypeClass;
            else if (keyword.find(u"def") != std::u16string_view::npos)
                foldType = FoldTypeDef;
            foldRanges.StartFoldRange(line + 1, foldType, indent);
        } else {
            foldRanges.StopFoldRange(line + 1, FoldTypeBlock, indent);
        }
    }
}

} // namespace editor
