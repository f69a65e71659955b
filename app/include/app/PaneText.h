#pragma once
// Text helpers of the window's result panes.
#include <QString>
#include <QStringView>

class QPlainTextEdit;

// Replaces a pane's whole text. Every CR LF, lone CR, lone LF or U+2028 is one
// break; a break at the end leaves an empty last line, so that reading the
// lines back joined by CR LF restores the text. The same text as the pane's
// leaves the pane alone (scroll position included).
void SetMemoText(QPlainTextEdit* pane, const QString& text);

// The line number of the last frame in a traceback (or syntax error report)
// that names the given file: `File "<string>", line 12` gives 12. 0 when no
// frame names it.
int TracebackLine(QStringView text, QStringView fileName);
