#include "app/PaneText.h"

#include "platform/TextLines.h"

#include <QPlainTextEdit>

void SetMemoText(QPlainTextEdit* pane, const QString& text)
{
    using namespace platform;
    const QString shown = JoinLines(SplitLines(text, lbCR | lbLF | lbLS, TFinalBreak::StartsEmptyLine), u"\n");
    // The same text again leaves the pane as it is, scroll position included.
    if (pane->toPlainText() != shown)
        pane->setPlainText(shown);
}

int TracebackLine(QStringView text, QStringView fileName)
{
    const QString frame = QStringLiteral("File \"") + fileName.toString() + QStringLiteral("\", line ");
    int found = 0;
    for (qsizetype at = text.indexOf(frame); at >= 0; at = text.indexOf(frame, at + 1)) {
        qsizetype i = at + frame.size();
        qint64 n = 0;
        qsizetype digits = 0;
        while (i < text.size() && text[i].unicode() >= u'0' && text[i].unicode() <= u'9') {
            if (++digits <= 9)
                n = n * 10 + (text[i].unicode() - u'0');
            ++i;
        }
        // A number no script has as many lines names no line of it.
        if (digits > 0 && digits <= 9 && n > 0)
            found = int(n);
    }
    return found;
}
