#include "editor/HtmlExport.h"

#include "editor/LineBuffer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

namespace editor {

namespace {

struct TEntity {
    const char* Text;
    int Length;
};

// The entity of each ASCII character the page escapes; Length 0 for the rest.
constexpr std::array<TEntity, 128> kEntities = [] {
    std::array<TEntity, 128> t{};
    t[u'&'] = {"&amp;", 5};
    t[u'<'] = {"&lt;", 4};
    t[u'>'] = {"&gt;", 4};
    t[u'"'] = {"&quot;", 6};
    t[u'\''] = {"&#39;", 5};
    return t;
}();

// Most bytes one UTF-16 unit can become ("&quot;").
constexpr qsizetype kMaxBytesPerUnit = 6;

constexpr bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c < 0xDC00; }
constexpr bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c < 0xE000; }

// UTF-8 written through a raw pointer into a buffer that grows by doubling:
// one capacity check per token instead of one per character.
class TOut {
public:
    explicit TOut(qsizetype reserve)
    {
        FBuf.resize(std::max<qsizetype>(reserve, 256));
        FP = FBuf.data();
        FEnd = FP + FBuf.size();
    }

    void Reserve(qsizetype n)
    {
        if (FEnd - FP < n)
            Grow(n);
    }

    void Put(const char* s, qsizetype n)
    {
        Reserve(n);
        std::memcpy(FP, s, std::size_t(n));
        FP += n;
    }
    void Put(const QByteArray& s) { Put(s.constData(), s.size()); }
    template <std::size_t N>
    void PutLiteral(const char (&s)[N]) { Put(s, qsizetype(N - 1)); }

    // Escaped UTF-8 of whole characters; a lone surrogate becomes U+FFFD.
    void PutText(const char16_t* s, qsizetype n)
    {
        Reserve(n * kMaxBytesPerUnit);
        char* p = FP;
        for (qsizetype i = 0; i < n; ++i) {
            const char16_t c = s[i];
            if (c < 0x80) {
                const TEntity& e = kEntities[c];
                if (e.Length == 0) {
                    *p++ = char(c);
                } else {
                    std::memcpy(p, e.Text, std::size_t(e.Length));
                    p += e.Length;
                }
            } else if (c < 0x800) {
                *p++ = char(0xC0 | (c >> 6));
                *p++ = char(0x80 | (c & 0x3F));
            } else if (IsHighSurrogate(c) && i + 1 < n && IsLowSurrogate(s[i + 1])) {
                const char32_t u = 0x10000 + ((char32_t(c) - 0xD800) << 10) + (char32_t(s[i + 1]) - 0xDC00);
                ++i;
                *p++ = char(0xF0 | (u >> 18));
                *p++ = char(0x80 | ((u >> 12) & 0x3F));
                *p++ = char(0x80 | ((u >> 6) & 0x3F));
                *p++ = char(0x80 | (u & 0x3F));
            } else {
                const char16_t v = IsHighSurrogate(c) || IsLowSurrogate(c) ? char16_t(0xFFFD) : c;
                *p++ = char(0xE0 | (v >> 12));
                *p++ = char(0x80 | ((v >> 6) & 0x3F));
                *p++ = char(0x80 | (v & 0x3F));
            }
        }
        FP = p;
    }

    qsizetype Size() const { return FP - FBuf.constData(); }

    QByteArray Take()
    {
        FBuf.resize(Size()); // shrinking keeps the allocation: no copy
        FP = FEnd = nullptr;
        return std::move(FBuf);
    }

private:
    void Grow(qsizetype n)
    {
        const qsizetype used = Size();
        FBuf.resize(std::max(FBuf.size() * 2, used + n));
        FP = FBuf.data() + used;
        FEnd = FBuf.data() + FBuf.size();
    }

    QByteArray FBuf;
    char* FP;
    char* FEnd;
};

QByteArray Escaped(QStringView text)
{
    TOut out(text.size() * 2);
    out.PutText(reinterpret_cast<const char16_t*>(text.utf16()), text.size());
    return out.Take();
}

// ASCII markup made safe for an attribute value.
QByteArray EscapedAttribute(const QByteArray& text)
{
    QByteArray s;
    for (const char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x80 && kEntities[u].Length > 0)
            s.append(kEntities[u].Text, kEntities[u].Length);
        else
            s += c;
    }
    return s;
}

QByteArray HexColor(TColor c)
{
    static const char kHex[] = "0123456789abcdef";
    QByteArray s("#000000");
    for (int i = 0; i < 6; ++i)
        s[1 + i] = kHex[(c >> (20 - 4 * i)) & 0xF];
    return s;
}

// The CSS declarations of an attribute; empty when it sets nothing.
QByteArray Declarations(const THighlighterAttributes& a)
{
    QByteArray d;
    if (ColorIsSet(a.Foreground()))
        d += "color:" + HexColor(a.Foreground()) + ';';
    if (ColorIsSet(a.Background()))
        d += "background-color:" + HexColor(a.Background()) + ';';
    const TFontStyles style = a.Style();
    if (style & fsBold)
        d += "font-weight:bold;";
    if (style & fsItalic)
        d += "font-style:italic;";
    if (style & (fsUnderline | fsStrikeOut)) {
        d += "text-decoration:";
        if (style & fsUnderline)
            d += " underline";
        if (style & fsStrikeOut)
            d += " line-through";
        d += ';';
    }
    return d;
}

// A CSS string of a font family, safe inside <style> (no "</style>") and,
// once HTML-escaped, inside a style attribute.
QByteArray CssString(const QString& text)
{
    QByteArray s = "\"";
    for (const char c : text.toUtf8()) {
        if (c == '"' || c == '\\')
            s += QByteArray("\\") + c;
        else if (c == '<')
            s += "\\3c ";
        else if (c == '>')
            s += "\\3e ";
        else if (static_cast<unsigned char>(c) >= 0x20)
            s += c;
    }
    return s + '"';
}

QByteArray PreDeclarations(const THtmlStyle& style)
{
    QByteArray d;
    if (!style.FontFamily.isEmpty())
        d += "font-family:" + CssString(style.FontFamily) + ",monospace;";
    else
        d += "font-family:monospace;";
    d += "font-size:" + QByteArray::number(style.FontPixels, 'g', 6) + "px;";
    const QByteArray tab = QByteArray::number(std::max(1, style.TabWidth));
    d += "tab-size:" + tab + ";-moz-tab-size:" + tab + ';';
    if (ColorIsSet(style.Foreground))
        d += "color:" + HexColor(style.Foreground) + ';';
    if (ColorIsSet(style.Background))
        d += "background-color:" + HexColor(style.Background) + ';';
    return d;
}

// A class name from an attribute's storage name: letters, digits, _ and -.
QByteArray ClassName(const QString& storageName)
{
    QByteArray name;
    for (const QChar c : storageName) {
        const char16_t u = c.unicode();
        const bool ok = (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') || u == u'_'
            || u == u'-';
        name += ok ? char(u) : '_';
    }
    if (name.isEmpty() || (name[0] >= '0' && name[0] <= '9') || name[0] == '-')
        name.prepend('a');
    return name;
}

enum class TStyling { Classes, Inline };

// How tokens of one attribute are marked.
struct TAttrTag {
    const THighlighterAttributes* Attr;
    QByteArray ClassName;
    QByteArray Declarations;
    QByteArray Open; // the span's start tag; empty when the attribute sets nothing
    bool Used = false;
};

// Writes lines, token by token, into one buffer; remembers which attributes
// it used for the page's style block.
class THtmlWriter {
public:
    THtmlWriter(TCustomHighlighter* highlighter, TStyling styling, qsizetype reserve)
        : FHighlighter(highlighter), FStyling(styling), FOut(reserve)
    {
        if (FHighlighter)
            for (int i = 0; i < FHighlighter->AttrCount(); ++i)
                AddTag(FHighlighter->Attribute(i));
    }

    // Characters [from, to) of a line, tokens as the highlighter gives them
    // from its current range; the highlighter ends at the line's end, so its
    // range is the one the next line starts in.
    void Line(QStringView line, int index, int from, int to)
    {
        const char16_t* s = reinterpret_cast<const char16_t*>(line.utf16());
        int written = from;
        const TAttrTag* open = nullptr;
        if (FHighlighter) {
            TCustomHighlighter& h = *FHighlighter;
            h.SetLine(line, index);
            while (!h.GetEol() && written < to) {
                const int pos = h.GetTokenPos();
                int end = std::min(pos + h.GetTokenLength(), to);
                if (end > written) {
                    if (pos > written) { // text no token covers
                        Close(open);
                        FOut.PutText(s + written, pos - written);
                        written = pos;
                    }
                    // A surrogate pair split between two tokens goes whole
                    // with the first.
                    if (end < to && IsHighSurrogate(s[end - 1]) && IsLowSurrogate(s[end]))
                        ++end;
                    const TAttrTag* tag = TagOf(h.GetTokenAttribute());
                    if (tag != open) {
                        Close(open);
                        if (tag) {
                            FOut.Put(tag->Open);
                            open = tag;
                        }
                    }
                    FOut.PutText(s + written, end - written);
                    written = end;
                }
                h.Next();
            }
            h.NextToEol();
        }
        Close(open);
        if (written < to)
            FOut.PutText(s + written, to - written);
    }

    void Break() { FOut.PutLiteral("\n"); }

    // ".Name{...}" for every attribute that marked some text.
    QByteArray StyleRules() const
    {
        QByteArray rules;
        for (const auto& tag : FTags)
            if (tag->Used)
                rules += '.' + tag->ClassName + '{' + tag->Declarations + "}\n";
        return rules;
    }

    QByteArray Take() { return FOut.Take(); }

private:
    void Close(const TAttrTag*& open)
    {
        if (open) {
            FOut.PutLiteral("</span>");
            open = nullptr;
        }
    }

    TAttrTag* AddTag(const THighlighterAttributes* attr)
    {
        auto tag = std::make_unique<TAttrTag>();
        tag->Attr = attr;
        tag->Declarations = Declarations(*attr);
        if (!tag->Declarations.isEmpty()) {
            tag->ClassName = ClassName(attr->Name());
            // Storage names differ but their class names may not.
            const QByteArray base = tag->ClassName;
            for (int n = 2; std::any_of(FTags.begin(), FTags.end(),
                     [&](const auto& t) { return t->ClassName == tag->ClassName; });
                 ++n)
                tag->ClassName = base + '-' + QByteArray::number(n);
            tag->Open = FStyling == TStyling::Classes ? "<span class=\"" + tag->ClassName + "\">"
                                                      : "<span style=\"" + tag->Declarations + "\">";
        }
        FTags.push_back(std::move(tag));
        return FTags.back().get();
    }

    // The tag of an attribute, null when it sets nothing. Tokens mostly
    // repeat the attribute of the one before, so that is looked at first.
    const TAttrTag* TagOf(const THighlighterAttributes* attr)
    {
        if (!attr)
            return nullptr;
        TAttrTag* tag = FLast && FLast->Attr == attr ? FLast : nullptr;
        for (std::size_t i = 0; !tag && i < FTags.size(); ++i)
            if (FTags[i]->Attr == attr)
                tag = FTags[i].get();
        if (!tag) // an attribute outside the highlighter's list
            tag = AddTag(attr);
        FLast = tag;
        if (tag->Open.isEmpty())
            return nullptr;
        tag->Used = true;
        return tag;
    }

    TCustomHighlighter* FHighlighter;
    TStyling FStyling;
    TOut FOut;
    std::vector<std::unique_ptr<TAttrTag>> FTags;
    TAttrTag* FLast = nullptr;
};

// Line access shared by the string list and the engine's buffer.
int LineCount(const QStringList& lines) { return int(lines.size()); }
int LineCount(const TLineBuffer& lines) { return lines.Count(); }
QStringView LineAt(const QStringList& lines, int index) { return lines[index]; }
QStringView LineAt(const TLineBuffer& lines, int index) { return lines.GetRef(index); }

template <class TLines>
void ScanLines(const TLines& lines, TCustomHighlighter& h, int from, int to)
{
    for (int i = from; i < to; ++i) {
        h.SetLine(LineAt(lines, i), i);
        h.NextToEol();
    }
}

// The range state the line at index starts in.
void StartRange(const QStringList& lines, TCustomHighlighter& h, int index)
{
    h.ResetRange();
    ScanLines(lines, h, 0, index);
}

void StartRange(const TLineBuffer& lines, TCustomHighlighter& h, int index)
{
    // From the nearest line above whose range is stored (a large text's
    // ranges may still be scanned in the background).
    int known = index - 1;
    while (known >= 0 && lines.GetRange(known) == kRangeNotScanned)
        --known;
    if (known < 0)
        h.ResetRange();
    else
        h.SetRange(lines.GetRange(known));
    ScanLines(lines, h, known + 1, index);
}

template <class TLines>
qsizetype CharCount(const TLines& lines, int first, int last)
{
    qsizetype n = 0;
    for (int i = first; i <= last; ++i)
        n += LineAt(lines, i).size();
    return n;
}

// Python pages come out at about three bytes per character; reserving that
// saves most regrowths.
qsizetype ReserveFor(qsizetype chars, int lines) { return chars * 3 + qsizetype(lines) * 8 + 1024; }

template <class TLines>
QByteArray Document(const TLines& lines, TCustomHighlighter* highlighter, const THtmlStyle& style)
{
    const int count = LineCount(lines);
    THtmlWriter writer(highlighter, TStyling::Classes, ReserveFor(CharCount(lines, 0, count - 1), count));
    if (highlighter)
        highlighter->ResetRange();
    for (int i = 0; i < count; ++i) {
        if (i > 0)
            writer.Break();
        const QStringView line = LineAt(lines, i);
        writer.Line(line, i, 0, int(line.size()));
    }
    const QByteArray body = writer.Take();

    QByteArray head = "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n";
    if (!style.Title.isEmpty())
        head += "<title>" + Escaped(style.Title) + "</title>\n";
    head += "<style>\npre{" + PreDeclarations(style) + "}\n" + writer.StyleRules() + "</style>\n</head>\n<body>\n";
    // HTML drops a line break right after <pre>: this one, not the text's.
    head += "<pre>\n";
    // Nothing after </pre>, not even a final line break: Qt's reader shows
    // any of it as a blank at the end of the text.
    static const char kTail[] = "</pre></body></html>";
    QByteArray page;
    page.reserve(head.size() + body.size() + qsizetype(sizeof kTail));
    page += head;
    page += body;
    page += kTail;
    return page;
}

template <class TLines>
QString Fragment(const TLines& lines, TCustomHighlighter* highlighter, const THtmlStyle& style, TBufferCoord from,
    TBufferCoord to)
{
    if (to < from)
        std::swap(from, to);
    const int count = LineCount(lines);
    QByteArray body;
    if (count > 0 && LineIndexOf(from) < count) {
        const int first = std::max(0, LineIndexOf(from));
        const int last = std::clamp(LineIndexOf(to), first, count - 1);
        THtmlWriter writer(highlighter, TStyling::Inline, ReserveFor(CharCount(lines, first, last), last - first + 1));
        if (highlighter)
            StartRange(lines, *highlighter, first);
        for (int i = first; i <= last; ++i) {
            if (i > first)
                writer.Break();
            const QStringView line = LineAt(lines, i);
            const int size = int(line.size());
            const int a = i == first ? std::clamp(CharIndexOf(from), 0, size) : 0;
            const int b = i == last ? std::clamp(CharIndexOf(to), a, size) : size;
            writer.Line(line, i, a, b);
        }
        body = writer.Take();
    }
    const QByteArray page = "<meta charset=\"utf-8\"><pre style=\""
        + EscapedAttribute(PreDeclarations(style)) + "\">\n" + body + "</pre>";
    return QString::fromUtf8(page);
}

} // namespace

QByteArray HtmlDocument(const QStringList& lines, TCustomHighlighter* highlighter, const THtmlStyle& style)
{
    return Document(lines, highlighter, style);
}

QByteArray HtmlDocument(const TLineBuffer& lines, TCustomHighlighter* highlighter, const THtmlStyle& style)
{
    return Document(lines, highlighter, style);
}

QString HtmlFragment(const TLineBuffer& lines, TCustomHighlighter* highlighter, const THtmlStyle& style,
    TBufferCoord from, TBufferCoord to)
{
    return Fragment(lines, highlighter, style, from, to);
}

QString HtmlFragment(const QStringList& lines, TCustomHighlighter* highlighter, const THtmlStyle& style,
    TBufferCoord from, TBufferCoord to)
{
    return Fragment(lines, highlighter, style, from, to);
}

} // namespace editor
