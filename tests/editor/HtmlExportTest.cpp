// The HTML export: whatever the script holds, an HTML reader gets its text
// back; the highlighter's colours reach the reader; the control's copy puts
// HTML beside the plain text unless plain text is asked for.
#include "editor/HtmlExport.h"
#include "editor/PythonHighlighter.h"
#include "widgets/CodeEditorControl.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QStringDecoder>
#include <QTextBlock>
#include <QTextDocument>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <random>

using namespace editor;

// Failures show the text, not its bytes.
void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

// The text as an HTML reader shows it: lone surrogates as U+FFFD.
QString Readable(QStringView text)
{
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            out += c;
            out += text[++i];
        } else {
            out += c.isSurrogate() ? QChar(QChar::ReplacementCharacter) : c;
        }
    }
    return out;
}

// The characters of the <pre> element, read as XML (exact: no white space
// folded), less the line break HTML drops right after <pre>.
QString PreText(const QString& html)
{
    const qsizetype from = html.indexOf(QLatin1String("<pre"));
    const qsizetype to = html.lastIndexOf(QLatin1String("</pre>"));
    if (from < 0 || to < from)
        return QStringLiteral("(no pre)");
    QXmlStreamReader xml(html.mid(from, to + 6 - from));
    QString text;
    while (!xml.atEnd()) {
        if (xml.readNext() == QXmlStreamReader::Characters)
            text += xml.text();
    }
    if (xml.hasError())
        return QStringLiteral("(XML error: ") + xml.errorString() + u')';
    return text.startsWith(u'\n') ? text.mid(1) : text;
}

QString FromUtf8Strict(const QByteArray& bytes, bool& ok)
{
    QStringDecoder decode(QStringDecoder::Utf8);
    const QString text = decode(bytes);
    ok = !decode.hasError();
    return text;
}

// The format of the first character of the first occurrence of word.
QTextCharFormat FormatOf(QTextDocument& doc, const QString& word)
{
    const QTextCursor at = doc.find(word);
    if (at.isNull())
        return {};
    QTextCursor c(&doc);
    c.setPosition(at.selectionStart() + 1);
    return c.charFormat();
}

const QStringList kScripts = {
    QStringLiteral("import sys\nprint(sys.argv)"),
    QStringLiteral("# 日本語のコメント\ns = '変換' + \"テキスト\"  # 全角　空白"),
    QStringLiteral("x = '😀'  # 🎉 and 😀😀\n😀 = 1"),
    QStringLiteral("def f():\n\tif a:\n\t\treturn '\\t'\t# tab"),
    QStringLiteral("a = b < c && d > e & f\nq = \"<&>\\\"'\" + '\"' + \"'\"\n# <&>\"'"),
    QStringLiteral("def g():\n    \"\"\"Doc <b>\n    more & more\n\n    end\"\"\"\n    return '''x\ny'''"),
    QStringLiteral("a = 1\n"),
    QStringLiteral("\n\nfirst = 3\n\n"),
    QStringLiteral(""),
    QStringLiteral("s = 'lone ") + QChar(0xD800) + QStringLiteral(" high'\nt = ") + QChar(0xDC00) + QStringLiteral("\n# ")
        + QChar(0xD83D) + QChar(0xDE00) + QChar(0xD83D),
};

TEST(HtmlExport, PagesAndFragmentsGiveEveryScriptBack)
{
    TPythonHighlighter python;
    THtmlStyle style;
    style.Title = QStringLiteral("<script> & \"name\"");
    style.FontFamily = QStringLiteral("Mono \"X\" </style>");
    style.TabWidth = 4;
    std::mt19937 rng(20240611);
    for (const QString& script : kScripts) {
        SCOPED_TRACE(script.toStdString());
        const QStringList lines = script.split(u'\n');
        const QString readable = Readable(script);
        for (TCustomHighlighter* h : {static_cast<TCustomHighlighter*>(&python), static_cast<TCustomHighlighter*>(nullptr)}) {
            const QByteArray page = HtmlDocument(lines, h, style);
            ASSERT_TRUE(page.startsWith("<!DOCTYPE html>\n"));
            EXPECT_TRUE(page.contains("<meta charset=\"utf-8\">"));
            bool utf8 = false;
            const QString html = FromUtf8Strict(page, utf8);
            EXPECT_TRUE(utf8);
            EXPECT_EQ(PreText(html), readable);
            // A real HTML reader, with the page's <style> block and entities;
            // it drops a line break that ends the <pre>.
            QTextDocument doc;
            doc.setHtml(html);
            EXPECT_EQ(doc.toPlainText(), readable.endsWith(u'\n') ? readable.chopped(1) : readable);

            const int last = int(lines.size());
            const QString whole = HtmlFragment(lines, h, style, {1, 1}, {int(lines.last().size()) + 1, last});
            EXPECT_EQ(PreText(whole), readable);
            // Any part of it, in either order.
            for (int round = 0; round < 20; ++round) {
                auto pick = [&] {
                    const int line = std::uniform_int_distribution<int>(1, last)(rng);
                    const int size = int(lines[line - 1].size());
                    return TBufferCoord{std::uniform_int_distribution<int>(1, size + 1)(rng), line};
                };
                TBufferCoord a = pick(), b = pick();
                const QString part = HtmlFragment(lines, h, style, a, b);
                if (b < a)
                    std::swap(a, b);
                QString expected = lines[a.Line - 1].mid(a.Char - 1);
                if (a.Line == b.Line)
                    expected.truncate(b.Char - a.Char);
                else {
                    for (int i = a.Line; i < b.Line - 1; ++i)
                        expected += u'\n' + lines[i];
                    expected += u'\n' + lines[b.Line - 1].left(b.Char - 1);
                }
                EXPECT_EQ(PreText(part), Readable(expected)) << a.Line << ':' << a.Char << '-' << b.Line << ':' << b.Char;
            }
        }
    }
}

TEST(HtmlExport, TokensCarryTheirAttributesAcrossLines)
{
    TPythonHighlighter python;
    const QColor keyword(0x12, 0x34, 0x56);
    python.KeyAttri->SetForeground(keyword.rgba());
    python.KeyAttri->SetStyle(fsBold | fsUnderline);
    const QColor doc(python.DocStringAttri->Foreground());
    const QStringList lines = {
        QStringLiteral("def f():"),
        QStringLiteral("    \"\"\"Start"),
        QStringLiteral("    middle return"),
        QStringLiteral("    end\"\"\""),
        QStringLiteral("    return 1"),
    };
    THtmlStyle style;
    const QString page = QString::fromUtf8(HtmlDocument(lines, &python, style));
    // Both the page's classes and the fragment's inline styles; the
    // fragment starts inside the string, so its range comes from above.
    const QString fragment = HtmlFragment(lines, &python, style, {5, 3}, {13, 5});
    for (const QString& html : {page, fragment}) {
        SCOPED_TRACE(html.toStdString());
        QTextDocument d;
        d.setHtml(html);
        const QTextCharFormat ret = FormatOf(d, QStringLiteral("return 1"));
        EXPECT_EQ(ret.foreground().color(), keyword);
        EXPECT_EQ(ret.fontWeight(), QFont::Bold);
        EXPECT_TRUE(ret.fontUnderline());
        const QTextCharFormat middle = FormatOf(d, QStringLiteral("middle return"));
        EXPECT_EQ(middle.foreground().color(), doc);
        EXPECT_NE(middle.fontWeight(), QFont::Bold);
        EXPECT_EQ(FormatOf(d, QStringLiteral("end")).foreground().color(), doc);
    }
    QTextDocument d;
    d.setHtml(page);
    EXPECT_EQ(FormatOf(d, QStringLiteral("def")).foreground().color(), keyword);
}

TEST(HtmlExport, CopyPutsHtmlOnTheClipboardUnlessPlainTextIsAsked)
{
    TPythonHighlighter python;
    python.KeyAttri->SetForeground(MakeColor(200, 0, 0));
    ::TCodeEditor w;
    w.SetHighlighter(&python);
    w.SetText(QStringLiteral("x = 1\nif x < 2:\n    pass"));
    editor::TCustomCodeEditor& e = w.Engine();
    QClipboard* clipboard = QGuiApplication::clipboard();
    for (const bool plain : {false, true}) {
        SCOPED_TRACE(plain);
        e.SetOptions(plain ? e.Options() | eoCopyPlainText : e.Options() & ~TEditorOptions(eoCopyPlainText));
        clipboard->clear();
        e.SetSelection({4, 2}, {9, 3});
        e.CommandProcessor(ecCopy);
        const QMimeData* data = clipboard->mimeData();
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(data->text(), QStringLiteral("x < 2:\r\n    pass"));
        EXPECT_EQ(data->hasHtml(), !plain);
        if (!plain) {
            EXPECT_EQ(PreText(data->html()), QStringLiteral("x < 2:\n    pass"));
            QTextDocument d;
            d.setHtml(data->html());
            EXPECT_EQ(FormatOf(d, QStringLiteral("pass")).foreground().color(), QColor(200, 0, 0));
        }
    }
    w.SetHighlighter(nullptr);
}

} // namespace
