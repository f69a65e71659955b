#include "widgets/TextGrid.h"

#include "editor/TextColumns.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>

#include <cmath>

namespace widgets {

int NextCluster(QStringView line, int index)
{
    const char16_t c = line[index].unicode();
    // The common case without a boundary search.
    if (c < 0x300 && (index + 1 >= line.size() || line[index + 1].unicode() < 0x300))
        return index + 1;
    return std::min(int(line.size()), editor::text::NextCharBoundary(line, index));
}

int CellWidth(QStringView line, int index, int length, int column, int tabWidth)
{
    const char16_t c = line[index].unicode();
    if (c == u'\t')
        return std::max(1, tabWidth) - column % std::max(1, tabWidth);
    if (c < 0x300 && length == 1)
        return 1;
    return editor::text::DisplayColumn(line.mid(index, length), length, tabWidth);
}

QString VisibleGlyph(QStringView cluster)
{
    QString out;
    out.reserve(cluster.size());
    for (qsizetype i = 0; i < cluster.size(); ++i) {
        const char16_t c = cluster[i].unicode();
        if (c < 0x20)
            out += QChar(0x2400 + c); // the control pictures block
        else if (c == 0x7F)
            out += QChar(0x2421);
        else if (QChar::isHighSurrogate(c) && i + 1 < cluster.size() && QChar::isLowSurrogate(cluster[i + 1].unicode())) {
            out += cluster[i];
            out += cluster[++i];
        } else if (QChar::isSurrogate(c))
            out += QChar(0xFFFD);
        else if (c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069))
            out += QChar(0xB7); // direction marks would reorder what follows
        else
            out += cluster[i];
    }
    return out;
}

TFontGrid::TFontGrid(const QFont& font) { SetFont(font); }

void TFontGrid::SetFont(const QFont& font)
{
    FFont = font;
    // Ligatures would merge cells ("!=", "->" in some fixed fonts).
    FFont.setStyleStrategy(QFont::StyleStrategy(FFont.styleStrategy() | QFont::PreferNoShaping));
    FFont.setKerning(false);
    const QFontMetricsF metrics(FFont);
    FCellWidth = std::max<qreal>(1, metrics.horizontalAdvance(QLatin1Char('M')));
    FAscent = int(std::ceil(metrics.ascent()));
    FLineHeight = std::max(1, int(std::ceil(metrics.ascent() + metrics.descent())) + 1);
}


QFont TFontGrid::EditorFont(int pixels)
{
    QFont font(QStringLiteral("Consolas"));
    font.setPixelSize(pixels);
    if (!QFontInfo(font).fixedPitch()) {
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        font.setPixelSize(pixels);
    }
    font.setStyleHint(QFont::TypeWriter);
    return font;
}

} // namespace widgets
