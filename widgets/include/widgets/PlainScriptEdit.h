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

