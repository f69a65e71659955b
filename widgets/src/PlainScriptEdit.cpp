#include "widgets/PlainScriptEdit.h"

#include <QFontDatabase>
#include <QTextBlock>

TPlainScriptEdit::TPlainScriptEdit(QWidget* parent) : QPlainTextEdit(parent)
{
    QFont font(QStringLiteral("Consolas"));
    font.setPixelSize(13);
    if (!font.exactMatch()) {
        QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        fixed.setPixelSize(13);
        font = fixed;
    }
    setFont(font);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setTabStopDistance(QFontMetricsF(font).horizontalAdvance(QLatin1Char(' ')) * 4);
}

QStringList TPlainScriptEdit::Lines() const
{
    QStringList lines;
    // The document always holds one block; an empty document is no lines.
    if (document()->isEmpty())
        return lines;
    for (QTextBlock b = document()->begin(); b.isValid(); b = b.next())
        lines << b.text();
    return lines;
}

QString TPlainScriptEdit::Text() const { return Lines().join(QStringLiteral("\r\n")); }

void TPlainScriptEdit::SetLines(const QStringList& lines) { setPlainText(lines.join(u'\n')); }

void TPlainScriptEdit::SetText(const QString& text) { SetMemoText(this, text); }

void SetMemoText(QPlainTextEdit* pane, const QString& text)
{
    QString plain;
    plain.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        QChar c = text.at(i);
        if (c == u'\r') {
            if (i + 1 < text.size() && text.at(i + 1) == u'\n')
                ++i;
            plain += u'\n';
        } else if (c == QChar(0x2028)) {
            plain += u'\n';
        } else {
            plain += c;
        }
    }
    pane->setPlainText(plain);
}
