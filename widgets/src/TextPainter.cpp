#include "widgets/TextPainter.h"

#include "editor/CodeEditor.h"
#include "editor/TextColumns.h"
#include "widgets/TextGrid.h"

#include <QPainter>

#include <array>
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

bool SelectedColumns(const editor::TCustomCodeEditor& e, int line, int& from, int& to)
{
    if (!e.SelAvail())
        return false;
    const editor::TBufferCoord b = e.BlockBegin(), en = e.BlockEnd();
    if (line < b.Line || line > en.Line)
        return false;
    const QString& text = e.Lines().GetRef(line - 1);
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
    from = line == b.Line ? editor::text::DisplayColumn(text, b.Char - 1, tab) : 0;
    if (line == en.Line)
        to = editor::text::DisplayColumn(text, en.Char - 1, tab);
    else // the line break is one selected cell
        to = editor::text::DisplayColumn(text, int(text.size()), tab) + 1;
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

void PaintTextRows(QPainter& p, const editor::TCustomCodeEditor& e, editor::TCustomHighlighter* h, const TFontGrid& grid, const TTextColors& colors,
    int left, int width, int firstRow, int lastRow)
{
    const qreal cw = grid.CellWidth();
    const int lh = grid.LineHeight();
    const int leftCol = e.LeftChar() - 1;
    const int cols = int(width / cw) + 2;
    const int tab = e.TabWidth();
    const bool folding = e.CodeFoldingActive();
    const bool special = e.HasOption(editor::eoShowSpecialChars);
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
        const int line = folding ? e.AllFoldRanges().FoldRowToLine(row) : row;
        if (line < 1 || line > count)
            break;
        const int y = (row - firstRow) * lh;
        const QString& text = lines.GetRef(line - 1);
        // Only the clusters on screen are laid out; the highlighter stops
        // after the last one.
        std::vector<TGridCell> cells;
        ForEachCell(text, tab, leftCol, leftCol + cols, [&](const TGridCell& c) {
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
        if (SelectedColumns(e, line, s1, s2)) {
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
            if (ch > 0x20 && ch < 0x7F && c.Length == 1 && c.Column >= leftCol) {
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
        if (special && line < count) {
            const int end = cells.empty() || maxIndex >= text.size()
                                ? editor::text::DisplayColumn(text, int(text.size()), tab)
                                : -1;
            if (end >= leftCol)
                DrawSpecialMark(p, QStringLiteral("\u00B6"), QRectF(xOf(end), y, cw, lh), baseline, specialColor, pen);
        }
    }
}

} // namespace widgets
