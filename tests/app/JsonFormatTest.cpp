#include "app/JsonFormat.h"

#include <gtest/gtest.h>

#include <QStringList>

#include <random>

namespace {

// Built without QString::fromUtf16, which would drop a leading U+FEFF.
QString Q(const char16_t* s) { return QStringView(s).toString(); }
QString Q(const char16_t* s, qsizetype n) { return QStringView(s, n).toString(); }

QString Fmt(const QString& s) { return FormatJsonResult(s); }
QString Fmt(const char16_t* s) { return FormatJsonResult(Q(s)); }

// Lines joined by CR LF, no break after the last one.
QString Lines(std::initializer_list<const char16_t*> lines)
{
    QStringList list;
    for (const char16_t* l : lines)
        list << Q(l);
    return list.join(QStringLiteral("\r\n"));
}

void ExpectUnchanged(const QString& s)
{
    const QString out = FormatJsonResult(s);
    EXPECT_EQ(out, s);
    // Same length and content: nothing was re-laid out.
    EXPECT_EQ(out.size(), s.size());
}
void ExpectUnchanged(const char16_t* s) { ExpectUnchanged(Q(s)); }

TEST(FormatJsonResult, NestedLayoutMatchesTheElevenLines)
{
    EXPECT_EQ(Fmt(u"{\"a\":1,\"b\":[true,{\"c\":null}],\"d\":{}}"),
              Lines({u"{", u"    \"a\": 1,", u"    \"b\": [", u"        true,", u"        {",
                     u"            \"c\": null", u"        }", u"    ],", u"    \"d\": {", u"    }", u"}"}));
}

TEST(FormatJsonResult, EmptyContainersAtEveryIndent)
{
    EXPECT_EQ(Fmt(u"{}"), QStringLiteral("{\r\n}"));
    EXPECT_EQ(Fmt(u"[]"), QStringLiteral("[\r\n]"));
    EXPECT_EQ(Fmt(u"[ { } , [ ] ]"), Lines({u"[", u"    {", u"    },", u"    [", u"    ]", u"]"}));
    EXPECT_EQ(Fmt(u"{\"x\":{\"y\":[]}}"), Lines({u"{", u"    \"x\": {", u"        \"y\": [", u"        ]", u"    }", u"}"}));
}

TEST(FormatJsonResult, ScalarsAtTopLevel)
{
    EXPECT_EQ(Fmt(u"true"), QStringLiteral("true"));
    EXPECT_EQ(Fmt(u"false"), QStringLiteral("false"));
    EXPECT_EQ(Fmt(u"null"), QStringLiteral("null"));
    EXPECT_EQ(Fmt(u"\"x/y\""), QStringLiteral("\"x\\/y\""));
    EXPECT_EQ(Fmt(u"-0"), QStringLiteral("-0"));
    ExpectUnchanged(u"hello");
    ExpectUnchanged(u"True");
    ExpectUnchanged(u"nul");
    ExpectUnchanged(u"truefalse");
}

TEST(FormatJsonResult, NumbersKeepTheirExactText)
{
    EXPECT_EQ(Fmt(u"1.50E+3"), QStringLiteral("1.50E+3"));
    EXPECT_EQ(Fmt(u"[0,-0.0,12345678901234567890123,1e-7,2E5,0.000100]"),
              Lines({u"[", u"    0,", u"    -0.0,", u"    12345678901234567890123,", u"    1e-7,", u"    2E5,",
                     u"    0.000100", u"]"}));
    for (const char16_t* bad : {u"007", u"-", u"1.", u".5", u"1e", u"1e+", u"+1", u"-a", u"0x10", u"1.5.3",
                                u"01.5", u"-01", u"[1.]", u"[00]", u"[1e]", u"[-]", u"[1x]", u"Infinity", u"NaN"})
        ExpectUnchanged(bad);
}

TEST(FormatJsonResult, WhitespaceAfterContainersButNotAfterScalars)
{
    EXPECT_EQ(Fmt(u"{\"a\":1}\r\n"), Lines({u"{", u"    \"a\": 1", u"}"}));
    EXPECT_EQ(Fmt(u" \t\r\n[1] \t\r\n"), Lines({u"[", u"    1", u"]"}));
    ExpectUnchanged(u"42\r\n");
    ExpectUnchanged(u"\"s\"\n");
    ExpectUnchanged(u"true ");
    ExpectUnchanged(u"[1] x");
    ExpectUnchanged(u"{} {}");
    ExpectUnchanged(u"1 2");
    // Only tab, LF, CR and space count as whitespace.
    ExpectUnchanged(u"\f[1]");
    ExpectUnchanged(u"[1]\v");
    ExpectUnchanged(u"[\u00a01]");
    ExpectUnchanged(u"");
    ExpectUnchanged(QString());
    ExpectUnchanged(u" \r\n\t ");
}

TEST(FormatJsonResult, LeadingByteOrderMarkIsSkippedOnce)
{
    EXPECT_EQ(Fmt(u"\ufeff[1]"), Lines({u"[", u"    1", u"]"}));
    EXPECT_EQ(Fmt(u"\ufeff 7"), QStringLiteral("7"));
    ExpectUnchanged(u"\ufeff\ufeff[1]");
    ExpectUnchanged(u"[1]\ufeff");
    ExpectUnchanged(u"\ufeff");
}

TEST(FormatJsonResult, NonAsciiTextIsWrittenAsItIs)
{
    EXPECT_EQ(Fmt(u"{\"名前\":\"日本語のテキスト\"}"), Lines({u"{", u"    \"名前\": \"日本語のテキスト\"", u"}"}));
    EXPECT_EQ(Fmt(u"\"caf\\u00e9\""), QStringLiteral("\"café\""));
    EXPECT_EQ(Fmt(u"\"\\u00E9\\u65e5\""), QStringLiteral("\"é日\""));
    // A surrogate pair takes two escapes, one code unit each.
    EXPECT_EQ(Fmt(u"\"\\ud83d\\uDE00\""), Q(u"\"\U0001F600\""));
    EXPECT_EQ(Fmt(u"\"\U0001F600\""), Q(u"\"\U0001F600\""));
}

TEST(FormatJsonResult, LoneSurrogatesAreKeptNotReplaced)
{
    const char16_t raw[] = {u'[', u'"', 0xD800, u'"', u']'};
    const QString out = Fmt(QString(reinterpret_cast<const QChar*>(raw), 5));
    const char16_t expected[] = {u'[', u'\r', u'\n', u' ', u' ', u' ', u' ', u'"', 0xD800, u'"', u'\r', u'\n', u']'};
    EXPECT_EQ(out, QString(reinterpret_cast<const QChar*>(expected), 13));
    const QString escaped = Fmt(u"\"\\uDC00\"");
    ASSERT_EQ(escaped.size(), 3);
    EXPECT_EQ(escaped.at(1).unicode(), 0xDC00);
}

TEST(FormatJsonResult, DuplicateKeysStayInInputOrder)
{
    EXPECT_EQ(Fmt(u"{\"k\":1,\"j\":0,\"k\":2}"), Lines({u"{", u"    \"k\": 1,", u"    \"j\": 0,", u"    \"k\": 2", u"}"}));
}

TEST(FormatJsonResult, ExactlyEightEscapesOnOutput)
{
    // Every input escape, decoded and written back; \u forms of the eight
    // come out in their short form, other control characters raw.
    EXPECT_EQ(Fmt(u"\"\\\"\\\\\\/\\b\\f\\n\\r\\t\""), QStringLiteral("\"\\\"\\\\\\/\\b\\f\\n\\r\\t\""));
    EXPECT_EQ(Fmt(u"\"\\u0022\\u005C\\u002f\\u0008\\u000C\\u000a\\u000D\\u0009\""),
              QStringLiteral("\"\\\"\\\\\\/\\b\\f\\n\\r\\t\""));
    EXPECT_EQ(Fmt(u"\"\\u0000\\u0001\\u001f\\u007f\""), Q(u"\"\u0000\u0001\u001f\u007f\"", 6));
    // Raw control characters and line breaks are accepted inside strings.
    EXPECT_EQ(Fmt(u"\"a\tb\r\nc\u0001/\""), Q(u"\"a\\tb\\r\\nc\u0001\\/\""));
    // Escapes in keys follow the same rules.
    EXPECT_EQ(Fmt(u"{\"a/b\\n\":\"\"}"), Lines({u"{", u"    \"a\\/b\\n\": \"\"", u"}"}));
    // A NUL character is a character like any other.
    const char16_t withNul[] = {u'"', u'a', 0, u'b', u'"'};
    const QString nul(reinterpret_cast<const QChar*>(withNul), 5);
    EXPECT_EQ(Fmt(nul), nul);
}

TEST(FormatJsonResult, EscapesAtEveryPositionOfLongStrings)
{
    // Strings are scanned in blocks; put the characters that matter at every
    // offset, next to the closing quote and at the very end of the text.
    for (int length = 0; length < 27; ++length) {
        for (int at = 0; at <= length; ++at) {
            const QString before(at, u'a'), after(length - at, u'日');
            EXPECT_EQ(Fmt(u'"' + before + u'/' + after + u'"'), u'"' + before + QStringLiteral("\\/") + after + u'"');
            EXPECT_EQ(Fmt(u'"' + before + QStringLiteral("\\n") + after + QStringLiteral("\t\"")),
                      u'"' + before + QStringLiteral("\\n") + after + QStringLiteral("\\t\""));
            EXPECT_EQ(Fmt(u'"' + before + QChar(0x0B) + after + u'"'), u'"' + before + QChar(0x0B) + after + u'"');
            ExpectUnchanged(u'"' + before + u'/' + after);
            ExpectUnchanged(u'"' + before + QStringLiteral("\\") + after);
            ExpectUnchanged(u'"' + before + QStringLiteral("\\q") + after + u'"');
        }
    }
}

TEST(FormatJsonResult, InvalidEscapesAndTruncatedStrings)
{
    for (const char16_t* bad : {u"\"\\a\"", u"\"\\U0041\"", u"\"\\x41\"", u"\"\\'\"", u"\"\\u12\"", u"\"\\u12g4\"",
                                u"\"\\u\"", u"\"\\", u"\"\\u00", u"\"abc", u"\"", u"[\"a]", u"{\"a\":\"b}",
                                u"\"a\\\"", u"{\"a", u"\"\\ ", u"\"\\0\""})
        ExpectUnchanged(bad);
}

TEST(FormatJsonResult, StructuralErrorsLeaveTheTextAlone)
{
    for (const char16_t* bad :
         {u"[1,]", u"[,1]", u"[1 2]", u"[", u"]", u"[1", u"[1,", u"{\"a\":1,}", u"{,}", u"{\"a\":1 \"b\":2}",
          u"{\"a\" 1}", u"{\"a\":}", u"{a:1}", u"{1:1}", u"{\"a\"}", u"{\"a\":1", u"{\"a\":1]", u"[1}", u"{",
          u"}", u"[1]]", u"{}}", u"[true,]", u"{\"a\":1,,\"b\":2}", u"[1,,2]", u"'a'", u"[undefined]"})
        ExpectUnchanged(bad);
}

TEST(FormatJsonResult, DefaultScriptFunc1ResultIsNotJson)
{
    // What the default script's func1 builds from the sample records.
    QString s = QStringLiteral("{\"GroupName\":\"gn\",\"topic\":\"topic\",\"timestamp\":\"1733660000\",[");
    for (int i = 1; i <= 5; ++i)
        s += QStringLiteral("\"item\":\"Item%1\"").arg(i);
    s += QStringLiteral("]}");
    ExpectUnchanged(s);
}

QString Nested(int depth, const QString& open, const QString& close)
{
    return open.repeated(depth) + close.repeated(depth);
}

TEST(FormatJsonResult, NestingLimitIs512Containers)
{
    const QString deepest = Nested(512, QStringLiteral("["), QStringLiteral("]"));
    const QString out = Fmt(deepest);
    ASSERT_NE(out, deepest);
    // The innermost empty array closes at 511 indent units.
    EXPECT_TRUE(out.contains(QStringLiteral("[\r\n") + QString(511 * 4, u' ') + QStringLiteral("]")));
    EXPECT_TRUE(out.startsWith(QStringLiteral("[\r\n    [\r\n        [")));
    EXPECT_TRUE(out.endsWith(QStringLiteral("    ]\r\n]")));

    ExpectUnchanged(Nested(513, QStringLiteral("["), QStringLiteral("]")));
    ExpectUnchanged(QStringLiteral("{\"a\":").repeated(512) + QStringLiteral("[]") + QStringLiteral("}").repeated(512));
    const QString objects =
        QStringLiteral("{\"a\":").repeated(511) + QStringLiteral("[]") + QStringLiteral("}").repeated(511);
    EXPECT_NE(Fmt(objects), objects);
}

TEST(FormatJsonResult, VeryDeepInputDoesNotExhaustTheStack)
{
    ExpectUnchanged(QStringLiteral("[").repeated(2000000));
    ExpectUnchanged(Nested(100000, QStringLiteral("{\"k\":["), QStringLiteral("]}")));
}

// Generates random, mostly valid JSON to check that formatting is stable:
// formatting the formatted text again gives the same text, and the output
// is sized exactly (a size mismatch would show under the sanitizers).
QString RandomValue(std::mt19937& rng, int depth)
{
    static const char16_t* const kScalars[] = {u"true", u"false", u"null", u"0", u"-12.5e+3", u"\"\"",
                                               u"\"a/b\\n\\u00e9\\\\\"", u"\"日本\\t\"", u"\"\\ud83d\\ude00\"",
                                               u"\"x\u0001\\\"\""};
    const int pick = std::uniform_int_distribution<int>(0, depth > 6 ? 9 : 13)(rng);
    if (pick < 10)
        return Q(kScalars[pick]);
    const bool object = pick >= 12;
    const int count = std::uniform_int_distribution<int>(0, 4)(rng);
    QString s = object ? QStringLiteral("{") : QStringLiteral("[");
    for (int i = 0; i < count; ++i) {
        if (i)
            s += QStringLiteral(" , ");
        if (object)
            s += QStringLiteral("\"k%1\\/\" :\t").arg(i);
        s += RandomValue(rng, depth + 1);
    }
    s += object ? QStringLiteral("}\n") : QStringLiteral("]\r\n");
    return s;
}

TEST(FormatJsonResult, FormattingIsStableOnGeneratedDocuments)
{
    std::mt19937 rng(12345);
    for (int i = 0; i < 300; ++i) {
        const QString input = QStringLiteral("[") + RandomValue(rng, 0) + QStringLiteral("]");
        const QString once = Fmt(input);
        ASSERT_NE(once, input) << input.toStdString();
        EXPECT_EQ(Fmt(once), once) << input.toStdString();
        EXPECT_FALSE(once.endsWith(u'\n'));
        // Cutting a valid document short always makes it invalid.
        const QString cut = input.left(std::uniform_int_distribution<int>(0, int(input.size()) - 2)(rng));
        ExpectUnchanged(cut);
    }
}

}  // namespace
