#include "widgets/EditorGutter.h"
#include "widgets/TextPainter.h"

#include "editor/CodeEditor.h"

#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

namespace widgets {

namespace {

constexpr int kMarksWidth = 13;
constexpr int kFoldWidth = 12;
constexpr int kChangesWidth = 4;
constexpr int kMarginWidth = 3;
constexpr int kMinDigits = 2;

int Digits(int n)
{
    int d = 1;
    while (n >= 10) {
        n /= 10;
        ++d;
    }
    return d;
}

} // namespace

TEditorGutter::TEditorGutter() { Layout(); }

void TEditorGutter::SetFont(const QFont& font)
{
    FFont = font;
    FDigitWidth = QFontMetricsF(font).horizontalAdvance(QLatin1Char('0'));
    Layout();
}

bool TEditorGutter::SetLineCount(int lineCount)
{
    const int digits = std::max(kMinDigits, Digits(std::max(1, lineCount)));
    if (digits == FDigits)
        return false;
    FDigits = digits;
    const int old = Width();
    Layout();
    return Width() != old;
}

void TEditorGutter::Layout()
{
    const int numbers = int(std::ceil(FDigits * FDigitWidth)) + 8;
    const int widths[gbCount] = {kMarksWidth, numbers, kFoldWidth, kChangesWidth, kMarginWidth};
    FLeft[0] = 0;
    for (int i = 0; i < gbCount; ++i)
        FLeft[i + 1] = FLeft[i] + widths[i];
}

TEditorGutter::TBand TEditorGutter::BandAt(int x) const
{
    for (int i = 0; i < gbCount; ++i)
        if (x >= FLeft[i] && x < FLeft[i + 1])
            return TBand(i);
    return gbCount;
}

QColor TEditorGutter::ChangeColor(unsigned changeFlags)
{
    if (changeFlags & editor::sfModified)
        return QColor(250, 206, 0); // changed since the last save
    if (changeFlags & editor::sfAsSaved)
        return QColor(108, 170, 255); // changed back to the saved text
    if (changeFlags & editor::sfSaved)
        return QColor(80, 190, 80); // changed and saved
    return QColor();
}

QRect TEditorGutter::MarkRect(int y, int lineHeight) const
{
    return QRect(FLeft[gbMarks] + 1, y + 1, kMarksWidth - 2, std::min(lineHeight - 2, kMarksWidth - 2));
}

void TEditorGutter::Paint(QPainter& p, const editor::TCustomCodeEditor& e, int firstRow, int lastRow,
    int lineHeight, int height, int errorLine) const
{
    p.fillRect(0, 0, Width(), height, Background);
    p.setFont(FFont);
    const editor::TLineBuffer& lines = e.Lines();
    const bool folding = e.CodeFoldingActive();
    const editor::TFoldRanges& folds = e.AllFoldRanges();
    const int count = lines.Count();
    // Bookmarks by line, looked up once per paint.
    int marks[10];
    for (int i = 0; i < 10; ++i) {
        auto b = e.Bookmark(i);
        marks[i] = b ? b->Line : 0;
    }
    for (int row = firstRow; row <= lastRow; ++row) {
        const TRowSpan span = RowSpanAt(e, row);
        const int line = span.Line;
        if (line < 1 || line > count)
            break;
        const int y = (row - firstRow) * lineHeight;
        const QColor change = ChangeColor(lines.GetChangeFlags(line - 1));
        if (change.isValid())
            p.fillRect(FLeft[gbChanges], y, kChangesWidth, lineHeight, change);
        // A wrapped line's number and marks stand on its first row only.
        if (span.RowInLine > 0)
            continue;
        for (int i = 0; i < 10; ++i) {
            if (marks[i] != line)
                continue;
            const QRect r = MarkRect(y, lineHeight);
            p.fillRect(r, QColor(30, 100, 200));
            p.setPen(Qt::white);
            p.drawText(r, Qt::AlignCenter, QString::number(i));
            break;
        }
        if (line == errorLine) {
            const QRect r = MarkRect(y, lineHeight);
            p.save();
            p.setRenderHint(QPainter::Antialiasing);
            p.setPen(Qt::NoPen);
            p.setBrush(ErrorColor);
            p.drawEllipse(r);
            p.restore();
            p.setPen(Qt::white);
            p.drawText(r, Qt::AlignCenter, QStringLiteral("!"));
        }
        p.setPen(NumberColor);
        p.drawText(QRect(FLeft[gbNumbers], y, BandWidth(gbNumbers) - 4, lineHeight), Qt::AlignRight | Qt::AlignVCenter,
            QString::number(line));
        if (folding) {
            int index = -1;
            const int cx = FLeft[gbFold] + kFoldWidth / 2;
            const int cy = y + lineHeight / 2;
            p.setPen(QColor(120, 120, 120));
            if (folds.FoldStartAtLine(line, &index)) {
                const QRect box(cx - 4, cy - 4, 8, 8);
                p.fillRect(box, Qt::white);
                p.drawRect(box);
                p.drawLine(cx - 2, cy, cx + 2, cy);
                if (folds.Ranges()[size_t(index)].Collapsed)
                    p.drawLine(cx, cy - 2, cx, cy + 2);
            } else if (folds.FoldEndAtLine(line)) {
                p.drawLine(cx, y, cx, cy);
                p.drawLine(cx, cy, cx + 4, cy);
            } else if (folds.FoldAroundLine(line)) {
                p.drawLine(cx, y, cx, y + lineHeight);
            }
        }
    }
}

} // namespace widgets
