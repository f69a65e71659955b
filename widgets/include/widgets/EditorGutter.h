#pragma once
// The editor's gutter, left to right: marks band (bookmarks 0-9), line
// numbers, fold band, change-tracking band and a margin.
#include <QColor>
#include <QFont>

class QPainter;
namespace editor {
class TCustomCodeEditor;
}

namespace widgets {

class TEditorGutter {
public:
    enum TBand { gbMarks, gbNumbers, gbFold, gbChanges, gbMargin, gbCount };

    TEditorGutter();
    void SetFont(const QFont& font);
    const QFont& Font() const { return FFont; }
    // Widens the numbers band to the digits of lineCount; true when the
    // gutter's width changed.
    bool SetLineCount(int lineCount);
    int Width() const { return FLeft[gbCount]; }
    int BandLeft(TBand band) const { return FLeft[band]; }
    int BandWidth(TBand band) const { return FLeft[band + 1] - FLeft[band]; }
    // The band under x, gbCount right of the gutter.
    TBand BandAt(int x) const;

    static QColor ChangeColor(unsigned changeFlags);
    QColor Background = QColor(240, 240, 240);
    QColor NumberColor = QColor(128, 128, 128);

    // Paints the rows firstRow..lastRow (1-based display rows) of the editor,
    // row r at y = (r - firstRow) * lineHeight.
    void Paint(QPainter& p, const editor::TCustomCodeEditor& e, int firstRow, int lastRow, int lineHeight,
        int height) const;

private:
    void Layout();

    QFont FFont;
    qreal FDigitWidth = 7;
    int FDigits = 0;
    int FLeft[gbCount + 1] = {};
};

} // namespace widgets
