#pragma once
// The script pane as a plain text widget. Its whole-text form is the editor's:
// lines joined by CR LF, no break after the last line.
#include <QPlainTextEdit>

class TPlainScriptEdit : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit TPlainScriptEdit(QWidget* parent = nullptr);

    QString Text() const;
    void SetText(const QString& text);
    QStringList Lines() const;
    void SetLines(const QStringList& lines);
};


// Replaces a pane's whole text. Every CR LF, lone CR, lone LF or U+2028 is one
// break; a break at the end leaves an empty last line, so that reading the
// lines back joined by CR LF restores the text.
void SetMemoText(QPlainTextEdit* pane, const QString& text);
