#include "widgets/TextPainter.h"

#include "editor/CodeEditor.h"
#include "editor/ErrorMark.h"
#include "editor/TextColumns.h"
#include "editor/WrapRows.h"
#include "widgets/TextGrid.h"

#include <QPainter>
#include <QPolygon>

#include <array>
#include <climits>
#include <cmath>
#include <vector>

namespace widgets {

namespace {

struct TToken {
    int Pos;
    int End;
    editor::THighlighterAttributes* Attr;
};

// Tokens of a line from the range the line above ended in; tokens beyond
// maxIndex are not needed for painting.
void LineTokens(const editor::TCustomCodeEditor& e, editor::TCustomHighlighter* h, int lineIndex, int maxIndex,
    std::vector<TToken>& out)
{
    out.clear();
    if (!h)
        return;
    const editor::TLineBuffer& lines = e.Lines();
    if (lineIndex == 0)
        h->ResetRange();
    else {
        const std::intptr_t range = lines.GetRange(lineIndex - 1);
        if (range == editor::kRangeNotScanned)
            h->ResetRange();
        else
            h->SetRange(range);
    }
    h->SetLine(lines.GetRef(lineIndex), lineIndex);
    while (!h->GetEol()) {
        const int pos = h->GetTokenPos();
        if (pos > maxIndex)
            break;
        out.push_back({pos, pos + h->GetTokenLength(), h->GetTokenAttribute()});
        h->Next();
    }
}

QColor ToQColor(editor::TColor c, const QColor& fallback)
{
    return editor::ColorIsSet(c) ? QColor::fromRgba(c) : fallback;
}

class TFontSet {
public:
    explicit TFontSet(const QFont& base) : FBase(base) {}
    const QFont& Get(editor::TFontStyles style)
    {
        style &= 15;
        if (!FMade[style]) {
            QFont f = FBase;
            f.setBold(style & editor::fsBold);
            f.setItalic(style & editor::fsItalic);
            f.setUnderline(style & editor::fsUnderline);
            f.setStrikeOut(style & editor::fsStrikeOut);
            FFonts[style] = f;
            FMade[style] = true;
        }
        return FFonts[style];
    }

private:
    QFont FBase;
    std::array<QFont, 16> FFonts;
    std::array<bool, 16> FMade = {};
};

} // namespace

// Selected cells of a row, as columns of the row (to < 0: to the right edge).
bool SelectedColumns(const editor::TCustomCodeEditor& e, const TRowSpan& span, QStringView piece, int& from, int& to)
{
    if (!e.SelAvail())
        return false;
    const int line = span.Line;
    const editor::TBufferCoord b = e.BlockBegin(), en = e.BlockEnd();
    if (line < b.Line || line > en.Line)
        return false;
    const int tab = e.TabWidth();
    switch (e.SelectionMode()) {
    case editor::smLine:
        from = 0;
        to = -1;
        return true;
    case editor::smColumn: {
        const int c1 = e.BufferToDisplayPos(e.SelectionAnchor()).Column - 1;
        const int c2 = e.BufferToDisplayPos(e.SelectionEnd()).Column - 1;
        from = std::min(c1, c2);
        to = std::max(c1, c2);
        return to > from;
    }
    case editor::smNormal:
        break;
    }
    // Indexes of the selection on this line, cut to the row's piece; past
    // the line's end (its last row) each position is one cell.
    const int pieceEnd = span.LastOfLine ? INT_MAX : span.End;
    const int first = line == b.Line ? b.Char - 1 : 0;
    if (first >= pieceEnd)
        return false;
    from = editor::text::DisplayColumn(piece, std::max(0, first - span.Start), tab);
    if (line == en.Line) {
        const int last = en.Char - 1;
        if (last < span.Start)
            return false;
        to = editor::text::DisplayColumn(piece, std::min(last, pieceEnd) - span.Start, tab);
    } else {
        // The line break is one selected cell, after the line's last row.
        to = editor::text::DisplayColumn(piece, int(piece.size()), tab) + (span.LastOfLine ? 1 : 0);
    }
    return to > from;
}

namespace {

// A blank, a tab or a line end shown as a faint mark in its cell; the pen
// goes back to the text's colour.
void DrawSpecialMark(QPainter& p, const QString& mark, const QRectF& cell, int baseline, const QColor& color,
                     const QColor& pen)
{
    p.setPen(color);
    const qreal adv = QFontMetricsF(p.font()).horizontalAdvance(mark);
    p.drawText(QPointF(cell.left() + std::max<qreal>(0, (std::min(cell.width(), adv * 2) - adv) / 2), baseline), mark);
    p.setPen(pen);
}

} // namespace

TRowSpan RowSpanAt(const editor::TCustomCodeEditor& e, int row)
{
    TRowSpan span;
    const editor::TLineBuffer& lines = e.Lines();
    if (const editor::TWrapRows* wrap = e.WrapRows()) {
        if (row < 1 || row > wrap->RowCount())
            return span;
        const editor::TWrapRows::TRowOfLine at = wrap->LineOfRow(row - 1);
        span.Line = at.Line + 1;
        span.RowInLine = at.RowInLine;
        span.Start = wrap->RowStart(at.Line, at.RowInLine);
        span.End = wrap->RowEnd(at.Line, at.RowInLine);
        span.LastOfLine = at.RowInLine + 1 >= wrap->RowsOfLine(at.Line);
        return span;
    }
    const int line = e.CodeFoldingActive() ? e.AllFoldRanges().FoldRowToLine(row) : row;
    if (line < 1 || line > lines.Count())
        return span;
    span.Line = line;
    span.End = int(lines.GetRef(line - 1).size());
    return span;
}

void PaintTextRows(QPainter& p, const editor::TCustomCodeEditor& e, editor::TCustomHighlighter* h, const TFontGrid& grid, const TTextColors& colors,
    int left, int width, int firstRow, int lastRow)
{
    const qreal cw = grid.CellWidth();
    const int lh = grid.LineHeight();
    // Wrapped rows start at their own column 0 and never scroll sideways.
    const int leftCol = e.WrapRows() ? 0 : e.LeftChar() - 1;
    const int cols = int(width / cw) + 2;
    const int tab = e.TabWidth();
    const bool special = e.HasOption(editor::eoShowSpecialChars);
    // Runs drawn together let the font join characters (-> or != as one
    // sign); without the option every character is drawn in its own cell.
    const bool ligatures = e.HasOption(editor::eoShowLigatures);
    QColor specialColor = colors.Foreground;
    specialColor.setAlphaF(0.35f);
    const editor::TLineBuffer& lines = e.Lines();
    const int count = lines.Count();
    TFontSet fonts(grid.Font());
    std::vector<TToken> tokens;
    QColor selection = colors.Selection;
    selection.setAlphaF(float(colors.SelectionAlpha));
    p.setLayoutDirection(Qt::LeftToRight);

    QString run;
    QColor pen = colors.Foreground;
    p.setPen(pen);
    int fontStyle = 0;
    p.setFont(fonts.Get(0));
    for (int row = firstRow; row <= lastRow; ++row) {
        const TRowSpan span = RowSpanAt(e, row);
        const int line = span.Line;
        if (line < 1)
            break;
        const int y = (row - firstRow) * lh;
        const QString& text = lines.GetRef(line - 1);
        const QStringView piece = QStringView(text).mid(span.Start, span.End - span.Start);
        // Only the clusters on screen are laid out; the highlighter stops
        // after the last one. Indexes are the line's, columns the row's.
        std::vector<TGridCell> cells;
        ForEachCell(piece, tab, leftCol, leftCol + cols, [&](TGridCell c) {
            c.Index += span.Start;
            cells.push_back(c);
            return true;
        });
        const int maxIndex = cells.empty() ? 0 : cells.back().Index + cells.back().Length;
        LineTokens(e, h, line - 1, maxIndex, tokens);

        auto xOf = [&](int column) { return left + (column - leftCol) * cw; };
        size_t t = 0;
        auto attrAt = [&](int index) -> editor::THighlighterAttributes* {
            while (t < tokens.size() && tokens[t].End <= index)
                ++t;
            return t < tokens.size() && tokens[t].Pos <= index ? tokens[t].Attr : nullptr;
        };
        // Backgrounds of tokens that set one.
        for (const TGridCell& c : cells) {
            editor::THighlighterAttributes* a = attrAt(c.Index);
            if (a && editor::ColorIsSet(a->Background()) && c.Width > 0)
                p.fillRect(QRectF(xOf(c.Column), y, c.Width * cw, lh), QColor::fromRgba(a->Background()));
        }
        int s1, s2;
        if (SelectedColumns(e, span, piece, s1, s2)) {
            const qreal x1 = std::max<qreal>(left, xOf(s1));
            const qreal x2 = s2 < 0 ? left + width : xOf(s2);
            if (x2 > x1)
                p.fillRect(QRectF(x1, y, x2 - x1, lh), selection);
        }
        // Text: runs of plain narrow characters with one format are drawn
        // together; everything else one cluster at its cell.
        t = 0;
        const int baseline = y + grid.Ascent();
        size_t i = 0;
        while (i < cells.size()) {
            const TGridCell& c = cells[i];
            editor::THighlighterAttributes* a = attrAt(c.Index);
            const QColor fg = a ? ToQColor(a->Foreground(), colors.Foreground) : colors.Foreground;
            const editor::TFontStyles style = a ? a->Style() : 0;
            const char16_t ch = text[c.Index].unicode();
            if (ch == u'\t' || ch == u' ') {
                if (special && c.Column >= leftCol)
                    DrawSpecialMark(p, ch == u'\t' ? QStringLiteral("\u2192") : QStringLiteral("\u00B7"),
                                    QRectF(xOf(c.Column), y, ch == u'\t' ? cw : c.Width * cw, lh), baseline,
                                    specialColor, pen);
                ++i;
                continue;
            }
            if (fg != pen) {
                pen = fg;
                p.setPen(fg);
            }
            if (style != fontStyle) {
                fontStyle = style;
                p.setFont(fonts.Get(style));
            }
            if (ligatures && ch > 0x20 && ch < 0x7F && c.Length == 1 && c.Column >= leftCol) {
                run.clear();
                size_t j = i;
                while (j < cells.size()) {
                    const TGridCell& d = cells[j];
                    const char16_t dc = text[d.Index].unicode();
                    if (dc <= 0x20 || dc >= 0x7F || d.Length != 1 || attrAt(d.Index) != a)
                        break;
                    run += QChar(dc);
                    ++j;
                }
                p.drawText(QPointF(xOf(c.Column), baseline), run);
                i = j;
                continue;
            }
            const QString glyph = VisibleGlyph(QStringView(text).mid(c.Index, c.Length));
            // A wide character is centred on its cells; a glyph the fallback
            // font draws wider than its cells is cut at their edges, so it
            // never covers a neighbour.
            const qreal room = std::max(1, c.Width) * cw;
            const qreal adv = QFontMetricsF(p.font()).horizontalAdvance(glyph);
            if (adv > room + 0.5) {
                p.save();
                p.setClipRect(QRectF(xOf(c.Column), y, room, lh), Qt::IntersectClip);
                p.drawText(QPointF(xOf(c.Column), baseline), glyph);
                p.restore();
            } else {
                p.drawText(QPointF(xOf(c.Column) + (c.Width >= 2 ? (room - adv) / 2 : 0), baseline), glyph);
            }
            ++i;
        }
        // The line's end, after its last cluster.
        if (special && line < count && span.LastOfLine) {
            const int end = cells.empty() || maxIndex >= text.size()
                                ? editor::text::DisplayColumn(piece, int(piece.size()), tab)
                                : -1;
            if (end >= leftCol)
                DrawSpecialMark(p, QStringLiteral("\u00B6"), QRectF(xOf(end), y, cw, lh), baseline, specialColor, pen);
        }
    }
}

std::vector<QRectF> ErrorMarkCells(const editor::TCustomCodeEditor& e, const TFontGrid& grid,
    const editor::TErrorMark& mark, int left, int firstRow, int lastRow)
{
    std::vector<QRectF> out;
    const editor::TLineBuffer& lines = e.Lines();
    if (mark.Line < 1 || mark.Line > lines.Count())
        return out;
    const QString& text = lines.GetRef(mark.Line - 1);
    const editor::TMarkSpan marked = editor::MarkSpan(mark, text);
    const qreal cw = grid.CellWidth();
    const int lh = grid.LineHeight();
    const int leftCol = e.WrapRows() ? 0 : e.LeftChar() - 1;
    const int tab = e.TabWidth();
    // The line's rows from its first; a line hidden in a fold has none.
    for (int row = std::max(firstRow, e.BufferToDisplayPos({1, mark.Line}).Row); row <= lastRow; ++row) {
        const TRowSpan span = RowSpanAt(e, row);
        if (span.Line != mark.Line)
            break;
        // The cell past the text belongs to the line's last row.
        const int rowEnd = span.LastOfLine ? INT_MAX : span.End;
        const int from = std::max(marked.From, span.Start);
        const int to = std::min(marked.To, rowEnd);
        if (to <= from)
            continue;
        const QStringView piece = QStringView(text).mid(span.Start, span.End - span.Start);
        const int c1 = editor::text::DisplayColumn(piece, from - span.Start, tab);
        const int c2 = editor::text::DisplayColumn(piece, to - span.Start, tab);
        out.emplace_back(left + (c1 - leftCol) * cw, (row - firstRow) * lh, (c2 - c1) * cw, lh);
    }
    return out;
}

void PaintErrorUnderline(QPainter& p, const std::vector<QRectF>& cells, const QColor& color)
{
    if (cells.empty())
        return;
    // Up and down two pixels every two across, on the row's last three
    // pixel rows; drawn aliased so it stays inside its cells.
    constexpr int kStep = 2;
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QPen(color, 0));
    QPolygon wave;
    for (const QRectF& r : cells) {
        const int left = int(std::lround(r.left()));
        const int right = int(std::lround(r.right())) - 1;
        const int low = int(std::lround(r.bottom())) - 1;
        wave.clear();
        for (int x = left, i = 0; x < right + kStep; x += kStep, ++i)
            wave << QPoint(std::min(x, right), i % 2 ? low - kStep : low);
        p.drawPolyline(wave);
    }
    p.restore();
}

} // namespace widgets
