#include "editor/PythonHighlighter.h"

#include <QStringList>
#include <gtest/gtest.h>

#include <random>

using namespace editor;

namespace {

struct Tok {
    int kind;
    QString text;
    bool operator==(const Tok&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Tok& t)
{
    return os << "{" << t.kind << ", \"" << t.text.toStdString() << "\"}";
}

// Tokens of one line, the final tkNull left out.
std::vector<Tok> Lex(TPythonHighlighter& h, const QString& line, std::intptr_t range = rsUnKnown)
{
    h.SetRange(range);
    h.SetLine(line, 0);
    std::vector<Tok> out;
    while (!h.GetEol()) {
        if (!(h.GetTokenKind() == tkNull && h.GetTokenPos() == line.size()))
            out.push_back({h.GetTokenKind(), h.GetToken()});
        h.Next();
    }
    return out;
}

std::vector<int> Kinds(TPythonHighlighter& h, const QString& line, std::intptr_t range = rsUnKnown)
{
    std::vector<int> kinds;
    for (const Tok& t : Lex(h, line, range))
        kinds.push_back(t.kind);
    return kinds;
}

int Single(TPythonHighlighter& h, const QString& text)
{
    auto toks = Lex(h, text);
    EXPECT_EQ(toks.size(), 1u) << text.toStdString();
    return toks.empty() ? -1 : toks[0].kind;
}

std::intptr_t EndRange(TPythonHighlighter& h, const QString& line, std::intptr_t range)
{
    h.SetRange(range);
    h.SetLine(line, 0);
    h.NextToEol();
    return h.GetRange();
}

// Walks a line with Next and checks the tokens tile it exactly.
void CheckCoverage(TPythonHighlighter& h, const QString& line, std::intptr_t range)
{
    h.SetRange(range);
    h.SetLine(line, 0);
    int expectedPos = 0;
    int steps = 0;
    while (!h.GetEol()) {
        ASSERT_EQ(h.GetTokenPos(), expectedPos) << line.toStdString();
        const bool final = h.GetTokenKind() == tkNull && h.GetTokenPos() == line.size();
        if (!final) {
            ASSERT_GT(h.GetTokenLength(), 0) << line.toStdString();
        }
        expectedPos += h.GetTokenLength();
        ASSERT_LE(expectedPos, line.size());
        ASSERT_LT(++steps, line.size() + 3) << "no progress";
        h.Next();
    }
    ASSERT_EQ(expectedPos, line.size()) << line.toStdString();
    // NextToEol reaches the same range as stepping.
    const std::intptr_t stepped = h.GetRange();
    ASSERT_EQ(EndRange(h, line, range), stepped);
}

} // namespace

TEST(PythonHighlighter, StatementsAndSymbols)
{
    TPythonHighlighter h;
    EXPECT_EQ(Kinds(h, "print \"x\""), (std::vector<int>{tkKey, tkSpace, tkString}));
    EXPECT_EQ(Kinds(h, "print(\"x\")"), (std::vector<int>{tkKey, tkSymbol, tkString, tkSymbol}));
    // The final token of every line is tkNull of length 0; it ends the line.
    h.SetLine(QString("x"), 0);
    EXPECT_FALSE(h.GetEol());
    h.Next();
    EXPECT_EQ(h.GetTokenKind(), tkNull);
    EXPECT_EQ(h.GetTokenLength(), 0);
    EXPECT_EQ(h.GetTokenAttribute(), nullptr);
    EXPECT_TRUE(h.GetEol());
    h.SetLine(QString(), 0);
    EXPECT_EQ(h.GetTokenKind(), tkNull);
    EXPECT_TRUE(h.GetEol());

    EXPECT_EQ(Lex(h, "a<>b")[1], (Tok{tkSymbol, "<>"}));
    EXPECT_EQ(Lex(h, "a<=b")[1], (Tok{tkSymbol, "<="}));
    EXPECT_EQ(Lex(h, "a>=b")[1], (Tok{tkSymbol, ">="}));
    EXPECT_EQ(Kinds(h, "a>>b"), (std::vector<int>{tkIdentifier, tkSymbol, tkSymbol, tkIdentifier}));
    EXPECT_EQ(Kinds(h, "a==b"), (std::vector<int>{tkIdentifier, tkSymbol, tkSymbol, tkIdentifier}));
    EXPECT_EQ(Lex(h, "@decorator")[0], (Tok{tkUnknown, "@"}));
    EXPECT_EQ(Kinds(h, "$?"), (std::vector<int>{tkUnknown, tkUnknown}));
    EXPECT_EQ(Lex(h, "# c\u00e9 x"), (std::vector<Tok>{{tkComment, "# c\u00e9 x"}}));
    EXPECT_EQ(Kinds(h, "\t  x"), (std::vector<int>{tkSpace, tkIdentifier}));
}

TEST(PythonHighlighter, WordClassification)
{
    TPythonHighlighter h;
    EXPECT_EQ(Single(h, "__init__"), tkSystemDefined);
    EXPECT_EQ(Single(h, "__future__"), tkNonKeyword);
    EXPECT_EQ(Single(h, "___x__"), tkIdentifier);
    EXPECT_EQ(Single(h, "__x___"), tkIdentifier);
    EXPECT_EQ(Single(h, "__a__"), tkSystemDefined);
    EXPECT_EQ(Single(h, "____"), tkIdentifier);
    EXPECT_EQ(Single(h, "True"), tkNonKeyword);
    EXPECT_EQ(Single(h, "true"), tkIdentifier);
    EXPECT_EQ(Single(h, "None"), tkNonKeyword);
    EXPECT_EQ(Single(h, "none"), tkIdentifier);
    for (const char* w : {"async", "await", "nonlocal"})
        EXPECT_EQ(Single(h, w), tkIdentifier) << w;
    for (const char* w : {"and", "yield", "print", "exec", "lambda"})
        EXPECT_EQ(Single(h, w), tkKey) << w;
    for (const char* w : {"zip", "abs", "NotImplemented", "self", "raw_input"})
        EXPECT_EQ(Single(h, w), tkNonKeyword) << w;
    EXPECT_EQ(TPythonHighlighter::Keywords().size(), 95u);
    // Non-ASCII letters are one-character unknown tokens outside strings.
    EXPECT_EQ(Kinds(h, QString::fromUtf16(u"\u5909\u6570 = '\u5024'")),
        (std::vector<int>{tkUnknown, tkUnknown, tkSpace, tkSymbol, tkSpace, tkString}));
}

TEST(PythonHighlighter, Numbers)
{
    TPythonHighlighter h;
    EXPECT_EQ(Single(h, "0x1fL"), tkHex);
    EXPECT_EQ(Single(h, "0x1g"), tkUnknown);
    EXPECT_EQ(Single(h, "017"), tkOct);
    EXPECT_EQ(Single(h, "018"), tkUnknown);
    EXPECT_EQ(Single(h, "09"), tkUnknown);
    EXPECT_EQ(Single(h, "09.5"), tkFloat);
    EXPECT_EQ(Single(h, "08e1"), tkFloat);
    EXPECT_EQ(Single(h, "0"), tkNumber);
    EXPECT_EQ(Single(h, "42"), tkNumber);
    for (const char* n : {"1_000", "0b101", "0o17", "10L", "1e", "1e+", "1..2", "1.5.2", "1e5e"})
        EXPECT_EQ(Single(h, n), tkUnknown) << n;
    for (const char* n : {"1e5", "1.5j", "3j", "1E-3", "0.5", "1.", "017j", "1.5e+10J"})
        EXPECT_EQ(Single(h, n), tkFloat) << n;
    EXPECT_EQ(Single(h, ".5"), tkFloat);
    EXPECT_EQ(Lex(h, "1..."), (std::vector<Tok>{{tkNumber, "1"}, {tkSymbol, "..."}}));
    EXPECT_EQ(Lex(h, "x..y"), (std::vector<Tok>{{tkIdentifier, "x"}, {tkSymbol, "."}, {tkSymbol, "."}, {tkIdentifier, "y"}}));
    EXPECT_EQ(Lex(h, "a.b")[1], (Tok{tkSymbol, "."}));
    EXPECT_EQ(Lex(h, "x = 1+2")[4], (Tok{tkNumber, "1"}));
}

TEST(PythonHighlighter, Strings)
{
    TPythonHighlighter h;
    EXPECT_EQ(Single(h, "'it\\'s'"), tkString);
    EXPECT_EQ(Lex(h, "'a\\\\'b"), (std::vector<Tok>{{tkString, "'a\\\\'"}, {tkIdentifier, "b"}}));
    EXPECT_EQ(Single(h, "\"a\\\\\\\"b\""), tkString);
    EXPECT_EQ(Lex(h, "r'\\d'"), (std::vector<Tok>{{tkString, "r'\\d'"}}));
    EXPECT_EQ(Lex(h, "u\"x\""), (std::vector<Tok>{{tkString, "u\"x\""}}));
    EXPECT_EQ(Lex(h, "ur'x'"), (std::vector<Tok>{{tkString, "ur'x'"}}));
    EXPECT_EQ(Lex(h, "ru'x'"), (std::vector<Tok>{{tkIdentifier, "ru"}, {tkString, "'x'"}}));
    EXPECT_EQ(Lex(h, "b'x'"), (std::vector<Tok>{{tkIdentifier, "b"}, {tkString, "'x'"}}));
    // An unterminated one-quote string ends with the line.
    EXPECT_EQ(EndRange(h, "s = 'abc", rsUnKnown), rsUnKnown);
    EXPECT_EQ(Lex(h, "'''doc''' x")[0], (Tok{tkTrippleQuotedString, "'''doc'''"}));
}

TEST(PythonHighlighter, TripleQuotedStringsAcrossLines)
{
    TPythonHighlighter h;
    EXPECT_EQ(EndRange(h, "s = '''abc", rsUnKnown), rsMultilineString);
    EXPECT_EQ(EndRange(h, "s = \"\"\"abc", rsUnKnown), rsMultilineString2);
    EXPECT_EQ(Lex(h, "def'''x", rsMultilineString),
        (std::vector<Tok>{{tkTrippleQuotedString, "def'''"}, {tkIdentifier, "x"}}));
    EXPECT_EQ(EndRange(h, "def'''x", rsMultilineString), rsUnKnown);
    // Empty and blank lines inside keep the range.
    EXPECT_TRUE(Lex(h, "", rsMultilineString).empty());
    EXPECT_EQ(EndRange(h, "", rsMultilineString), rsMultilineString);
    EXPECT_EQ(EndRange(h, "   ", rsMultilineString2), rsMultilineString2);
    // The other quote kind does not close, an escaped quote does not close.
    EXPECT_EQ(EndRange(h, "x\"\"\"", rsMultilineString), rsMultilineString);
    EXPECT_EQ(EndRange(h, "x\\'''", rsMultilineString), rsMultilineString);
    EXPECT_EQ(EndRange(h, "x\\\\'''", rsMultilineString), rsUnKnown);
    // An escaped quote at the very start of a continuation line is escaped too.
    EXPECT_EQ(EndRange(h, "\\'''", rsMultilineString), rsMultilineString);
    // An escaped quote at the end must not swallow the line terminator.
    CheckCoverage(h, "abc\\'", rsMultilineString);
}

TEST(PythonHighlighter, BackslashContinuedStrings)
{
    TPythonHighlighter h;
    EXPECT_EQ(EndRange(h, "s = 'abc\\", rsUnKnown), rsMultilineString3);
    EXPECT_EQ(Lex(h, "de'f", rsMultilineString3), (std::vector<Tok>{{tkString, "de'"}, {tkIdentifier, "f"}}));
    EXPECT_EQ(EndRange(h, "de'f", rsMultilineString3), rsUnKnown);
    EXPECT_EQ(Lex(h, "de", rsMultilineString3), (std::vector<Tok>{{tkString, "de"}}));
    EXPECT_EQ(EndRange(h, "de", rsMultilineString3), rsUnKnown);
    EXPECT_EQ(EndRange(h, "de\\", rsMultilineString3), rsMultilineString3);
    // The closing quote survives a restart from the stored range alone.
    const std::intptr_t dq = EndRange(h, "s = \"abc\\", rsUnKnown);
    EXPECT_EQ(dq, rsMultilineString3DoubleQuote);
    EXPECT_EQ(TPythonHighlighter::RangeKind(dq), rsMultilineString3);
    TPythonHighlighter fresh;
    EXPECT_EQ(Lex(fresh, "x'y\"z", dq), (std::vector<Tok>{{tkString, "x'y\""}, {tkIdentifier, "z"}}));
}

TEST(PythonHighlighter, AttributesAndFixedValues)
{
    TPythonHighlighter h;
    ASSERT_EQ(h.AttrCount(), 14);
    for (int i = 1; i < h.AttrCount(); ++i)
        EXPECT_LT(h.Attribute(i - 1)->Name(), h.Attribute(i)->Name());
    EXPECT_EQ(h.CommentAttri->Foreground(), MakeColor(128, 128, 128));
    EXPECT_EQ(h.CommentAttri->Style(), fsItalic);
    EXPECT_EQ(h.KeyAttri->FriendlyName(), "Reserved Word");
    EXPECT_FALSE(ColorIsSet(h.KeyAttri->Foreground()));
    EXPECT_EQ(h.NonKeyAttri->Foreground(), MakeColor(0, 0, 128));
    EXPECT_EQ(h.DocStringAttri->Foreground(), MakeColor(0, 128, 128));
    EXPECT_EQ(h.ErrorAttri->Name(), "SyntaxError");
    EXPECT_EQ(h.AttributeByName("SystemFunctionsAndVariables"), h.SystemAttri);
    EXPECT_EQ(h.GetDefaultAttribute(0), h.CommentAttri);
    EXPECT_EQ(h.GetDefaultAttribute(1), nullptr);
    EXPECT_EQ(h.GetDefaultAttribute(2), h.KeyAttri);
    EXPECT_EQ(h.GetDefaultAttribute(3), nullptr);
    EXPECT_EQ(h.GetDefaultAttribute(4), h.SpaceAttri);
    EXPECT_EQ(h.GetDefaultAttribute(5), h.SymbolAttri);
    EXPECT_EQ(h.GetDefaultAttribute(6), nullptr);
    EXPECT_EQ(h.GetLanguageName(), "Python");
    EXPECT_EQ(h.DefaultFilter(), "Python Files (*.py)|*.py");
    EXPECT_EQ(h.GetSampleSource().split("\r\n").size(), 6);

    int changes = 0;
    h.OnChange = [&](TCustomHighlighter*) { ++changes; };
    h.StringAttri->SetForeground(MakeColor(1, 2, 3));
    EXPECT_EQ(changes, 1);
    h.BeginUpdate();
    h.StringAttri->SetStyle(fsBold);
    h.ResetDefaults();
    EXPECT_EQ(changes, 1);
    h.EndUpdate();
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(h.StringAttri->Foreground(), MakeColor(0, 0, 255));
    EXPECT_TRUE(h.StringAttri->IsDefault());

    h.SetLine(QString("x = 1"), 0);
    EXPECT_EQ(h.GetTokenAttribute(), h.IdentifierAttri);
}

namespace {
// Adds a second attribute under an existing storage name.
class DuplicateAttributeHighlighter : public TPythonHighlighter {
public:
    void AddDuplicate() { AddAttribute(std::make_unique<THighlighterAttributes>("Comment", "Again")); }
};
} // namespace

TEST(PythonHighlighter, DuplicateAttributeNamesAreRejected)
{
    DuplicateAttributeHighlighter h;
    EXPECT_THROW(h.AddDuplicate(), EHighlighterError);
    EXPECT_EQ(h.AttrCount(), 14);
}

TEST(PythonHighlighter, CharacterClasses)
{
    TPythonHighlighter h;
    EXPECT_TRUE(h.IsIdentChar(u'_'));
    EXPECT_TRUE(h.IsIdentChar(u'9'));
    EXPECT_FALSE(h.IsIdentChar(u'$'));
    EXPECT_FALSE(h.IsIdentChar(u'\u00e9'));
    EXPECT_TRUE(h.IsWordBreakChar(u'`'));
    EXPECT_TRUE(h.IsWordBreakChar(char16_t(167)));
    EXPECT_FALSE(h.IsWordBreakChar(u'\u00e9'));
    EXPECT_TRUE(h.IsWhiteChar(u' '));
    EXPECT_TRUE(h.IsWhiteChar(u'\u00e9')); // neither identifier nor break character
    EXPECT_FALSE(h.IsWhiteChar(u'a'));
    std::bitset<256> extra;
    extra[u'$'] = true;
    h.SetAdditionalIdentChars(extra);
    EXPECT_TRUE(h.IsIdentChar(u'$'));
    EXPECT_FALSE(h.IsWordBreakChar(u'$'));
    EXPECT_EQ(Lex(h, "a$b")[0], (Tok{tkIdentifier, "a$b"}));
    // A letter declared a word break still makes progress as a word.
    std::bitset<256> breaks;
    breaks[u'x'] = true;
    h.SetAdditionalWordBreakChars(breaks);
    EXPECT_FALSE(h.IsIdentChar(u'x'));
    CheckCoverage(h, "xx = x", rsUnKnown);
}

TEST(PythonHighlighter, HostileLinesAreCoveredExactly)
{
    TPythonHighlighter h;
    const QString lone1 = QString(QChar(0xD800));
    const QString lone2 = QString(QChar(0xDC00));
    const QString nul = QString(QChar(0));
    const std::vector<QString> lines = {
        "", nul, "a" + nul + "b", "'" + nul + "'", "'''" + nul + "x", "\"ab\\" + nul, "#" + nul + "x",
        lone1 + lone2 + "x" + lone1, "'" + lone1 + "'", "a\rb\nc\r\n", "'abc\r", "'''x\n'''", "\\", "'\\",
        "'''\\", "0x", "0e", "0.", "...", "..", ".", "u", "ur", "ur'", "r\"", "U", "\x7f\x01\x02",
        QString(100000, QChar('\'')), QString(100000, QChar('\\')) + "'", QString(10000, QChar('"')),
    };
    for (const QString& line : lines)
        for (std::intptr_t range : {std::intptr_t(rsUnKnown), std::intptr_t(rsMultilineString),
                 std::intptr_t(rsMultilineString2), std::intptr_t(rsMultilineString3), rsMultilineString3DoubleQuote,
                 std::intptr_t(rsANil), std::intptr_t(-1)})
            CheckCoverage(h, line, range);

    QString big;
    for (int i = 0; big.size() < 1000000; ++i)
        big += "x = '''a\\''' + \"b\" # ";
    CheckCoverage(h, big, rsUnKnown);
    CheckCoverage(h, QString(1000000, QChar(' ')), rsUnKnown);
}

TEST(PythonHighlighter, RandomLinesProperty)
{
    const std::vector<QString> pieces = {"def", "class", " ", "\t", "x", "_y_", "__init__", "'", "\"", "'''", "\"\"\"",
        "\\", "\\'", "\\\"", "#", "0x1f", "017", "08", "1e5", "1.", ".", "...", "j", "L", "r", "u", "ur", "(", ")",
        ":", "<>", ">=", "@", "$", QString(QChar(0)), QString(QChar(0xD800)), QString(QChar(0xDFFF)), "\u00e9", "\r",
        "\n", "print", "None", "e", "+", "-"};
    std::mt19937 rng(12345);
    TPythonHighlighter h;
    for (int n = 0; n < 20000; ++n) {
        QString line;
        const int parts = int(rng() % 12);
        for (int i = 0; i < parts; ++i)
            line += pieces[rng() % pieces.size()];
        const std::intptr_t ranges[] = {rsUnKnown, rsMultilineString, rsMultilineString2, rsMultilineString3,
            rsMultilineString3DoubleQuote};
        CheckCoverage(h, line, ranges[rng() % 5]);
        if (HasFailure())
            break;
    }
}
