#pragma once
// The script as HTML in the highlighter's colours and the editor's font: a
// whole page for a file, and a part of it for the clipboard.
#include <QByteArray>
#include <QString>
#include <QStringList>

#include "editor/BufferCoord.h"
#include "editor/Highlighter.h"

namespace editor {

class TLineBuffer;

struct THtmlStyle {
    QString Title;             // the page's <title>; unused by fragments
    QString FontFamily;        // the editor font's family; a generic monospace follows it
    double FontPixels = 13;    // CSS pixels
    int TabWidth = 8;          // tabs stay tabs, shown this wide (tab-size)
    TColor Foreground = clNone; // where no attribute sets one; clNone: the reader's own
    TColor Background = clNone;
};

// A self-contained UTF-8 page: <!DOCTYPE html>, <meta charset="utf-8">, a
// <style> block with one class per attribute that styles a token of the text
// (named after the attribute's storage name), and the lines joined by "\n" in
// one <pre>. Tokens whose attribute sets nothing stay bare text; neighbouring
// tokens of one attribute share a span; spans end with their line. &, <, >,
// " and ' are escaped, lone surrogates become U+FFFD. The <pre> tag is
// followed by a line break that HTML readers drop, so a first empty line
// survives. The highlighter (may be null: plain text) is scanned from the
// first line on; its range state is changed.
QByteArray HtmlDocument(const QStringList& lines, TCustomHighlighter* highlighter, const THtmlStyle& style);
QByteArray HtmlDocument(const TLineBuffer& lines, TCustomHighlighter* highlighter, const THtmlStyle& style);

// The text from `from` up to `to` (1-based buffer coordinates, in either
// order, clamped into the text as TEditorCore::TextRange does) as an HTML
// fragment for QMimeData::setHtml: <meta charset="utf-8"> and one <pre>
// whose spans carry their styles inline, line breaks as "\n". The first
// line is scanned from its start so its tokens are those the editor shows;
// the range state before it comes from the buffer's stored ranges where they
// are known, else from scanning the lines above.
QString HtmlFragment(const TLineBuffer& lines, TCustomHighlighter* highlighter, const THtmlStyle& style,
    TBufferCoord from, TBufferCoord to);
QString HtmlFragment(const QStringList& lines, TCustomHighlighter* highlighter, const THtmlStyle& style,
    TBufferCoord from, TBufferCoord to);

} // namespace editor
