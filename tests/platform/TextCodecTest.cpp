#include "platform/TextCodec.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace platform;

namespace {

QString ErrorOf(QByteArrayView bytes, const TDecodeOptions& options = {})
{
    try {
        DecodeText(bytes, options);
    } catch (const EEncodingError& e) {
        return e.Message();
    }
    return QString();
}

} // namespace

TEST(DecodeText, EveryPreambleIsRecognisedAndCutOff)
{
    const QString text = QString::fromUtf16(u"a\u00e9\U0001F600\r\n");
    for (TEncoding enc : {TEncoding::UTF8, TEncoding::Unicode, TEncoding::BigEndianUnicode}) {
        const QByteArray bytes = EncodeText(text, enc, true);
        EXPECT_TRUE(bytes.startsWith(Preamble(enc)));
        const TDecodedText decoded = DecodeText(bytes);
        EXPECT_EQ(decoded.text, text);
        EXPECT_EQ(decoded.encoding, enc);
        EXPECT_TRUE(decoded.hadPreamble);
        // Asked for explicitly, the same encoding reads it with or without its mark.
        EXPECT_EQ(DecodeText(EncodeText(text, enc, false), {enc}).text, text);
        EXPECT_FALSE(DecodeText(EncodeText(text, enc, false), {enc}).hadPreamble);
    }
    EXPECT_TRUE(Preamble(TEncoding::ANSI).isEmpty());
    EXPECT_EQ(EncodeText(u"x", TEncoding::ANSI, true), "x");
}

TEST(DecodeText, MarkAfterThePreambleIsText)
{
    const TDecodedText decoded = DecodeText("\xEF\xBB\xBF\xEF\xBB\xBFx");
    EXPECT_EQ(decoded.text, QString(QChar(0xFEFF)) + "x");
    EXPECT_EQ(DecodeText("\xFF\xFE\xFF\xFE", {}).text, QString(QChar(0xFEFF)));
    // An explicit 8-bit encoding has no preamble, so the mark is text.
    EXPECT_EQ(DecodeText("\xEF\xBB\xBFx", {TEncoding::ANSI}).text, QString(QChar(0xFEFF)) + "x");
}

TEST(DecodeText, Utf8CheckLooksAtTheFirstBytesOnly)
{
    TDecodeOptions options;
    options.utf8CheckLen = 4;
    // Valid UTF-8 in the first four bytes, a cut sequence at the limit still counts.
    EXPECT_EQ(DecodeText("abc\xC3\xA9", options).encoding, TEncoding::UTF8);
    options.detectUtf8 = false;
    EXPECT_EQ(DecodeText("abc", options).encoding, TEncoding::ANSI);
    options.defaultEncoding = TEncoding::Unicode;
    EXPECT_EQ(DecodeText(QByteArray("a\0", 2), options).text, "a");
}

TEST(DecodeText, InvalidBytesAreRefused)
{
    EXPECT_EQ(ErrorOf("caf\xE9"), "The text is not valid UTF-8: invalid byte sequence at byte 3");
    EXPECT_EQ(ErrorOf("\xEF\xBB\xBF" "ab\xC0\x80"), "The text is not valid UTF-8: invalid byte sequence at byte 5");
    for (QByteArrayView bad : {"\xED\xA0\x80", "\xF4\x90\x80\x80", "\xC0\xAF", "abc\xE6\x97"})
        EXPECT_FALSE(ErrorOf(bad).isEmpty()) << bad.toByteArray().toHex().constData();
    EXPECT_EQ(ErrorOf(QByteArrayView("\xFF\xFE" "a", 3)),
        "The text is not valid UTF-16LE: its length is an odd number of bytes");
    EXPECT_EQ(ValidUtf8Prefix("ab\xE3\x81", 4, true), 4);
    EXPECT_EQ(ValidUtf8Prefix("ab\xE3\x81", 4, false), 2);
}

TEST(EncodeText, LoneSurrogateCannotBeWrittenAsUtf8)
{
    const QString lone = QString("x") + QChar(0xDC00);
    EXPECT_TRUE(HasLoneSurrogate(lone));
    EXPECT_FALSE(HasLoneSurrogate(QString::fromUtf16(u"\U0001F600")));
    EXPECT_TRUE(HasLoneSurrogate(QString(QChar(0xD800))));
    for (TEncoding enc : {TEncoding::ANSI, TEncoding::UTF8})
        EXPECT_THROW(EncodeText(lone, enc, true), EEncodingError);
    EXPECT_EQ(EncodeText(lone, TEncoding::BigEndianUnicode, false), QByteArray("\0x\xDC\0", 4));
}

TEST(TLineBreakStyle, NamesTheStyleOfTheBreaksSeen)
{
    auto styleOf = [](std::initializer_list<const char16_t*> breaks) {
        TLineBreakStyle style;
        for (const char16_t* b : breaks)
            style.Note(QStringView(b));
        return style.Format();
    };
    EXPECT_EQ(styleOf({}), sffDos);
    EXPECT_EQ(styleOf({u"", u"\r\n"}), sffDos);
    EXPECT_EQ(styleOf({u"\n", u"\n"}), sffUnix);
    EXPECT_EQ(styleOf({u"\r"}), sffMac);
    EXPECT_EQ(styleOf({u"\r", u"\n"}), sffDos);
    EXPECT_EQ(styleOf({u"\n", u"\u2028"}), sffUnicode);
    for (TTextFileFormat f : {sffDos, sffUnix, sffMac, sffUnicode}) {
        TLineBreakStyle style;
        style.Note(LineBreakOf(f));
        EXPECT_EQ(style.Format(), f);
    }
}

TEST(WriteFileAtomically, ReplacesWholeOrLeavesTheOldFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("f.txt");
    WriteFileAtomically(path, "first");
    WriteFileAtomically(path, "second");
    EXPECT_EQ(ReadWholeFile(path), "second");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"f.txt"}); // no temporary left
    EXPECT_THROW(WriteFileAtomically(dir.filePath("missing/f.txt"), "x"), Exception);
    EXPECT_THROW(ReadWholeFile(dir.filePath("missing.txt")), Exception);
    EXPECT_EQ(ReadWholeFile(path), "second");
}
