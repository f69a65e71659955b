#pragma once
// The bar under the script editor for find, replace and go to line. Its
// fields and options stay as they are when the script is replaced, so a
// search goes on in a new or opened script. Searches that outlast 100 ms go
// on in short steps from the event loop, so the window stays live.
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <memory>

#include "editor/BufferCoord.h"
#include "editor/SearchPattern.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStatusBar;
class TCodeEditor;
namespace editor {
class TCountRun;
class TFindRun;
}

class TFindBar : public QWidget {
    Q_OBJECT
public:
    enum class TMode { Find, Replace, GotoLine };

    TFindBar(TCodeEditor* editor, QStatusBar* status, QWidget* parent = nullptr);
    ~TFindBar() override;

    // Ctrl+F and Ctrl+H: shows the bar with the selected text (or the word
    // at the caret) as the pattern. Ctrl+G: shows the line-number field.
    void OpenFind();
    void OpenReplace();
    void OpenGotoLine();
    void Close();
    TMode Mode() const { return FMode; }

    // F3 and Shift+F3 (Enter and Shift+Enter in the field).
    void FindNext();
    void FindPrevious();
    void ReplaceOne();
    void ReplaceAll();
    // Goes to the line in the line field (clamped into the text).
    void GotoLine();

    // A search or count still running in steps.
    bool Busy() const;
    const editor::TSearchPattern& Pattern() const { return *FPattern; }

    QLineEdit* FindField;
    QLineEdit* ReplaceField;
    QLineEdit* LineField;
    QCheckBox* MatchCase;
    QCheckBox* WholeWord;
    QCheckBox* RegExp;
    QLabel* CountLabel;
    QLabel* ErrorLabel;
    QPushButton* ReplaceButton;
    QPushButton* ReplaceAllButton;

signals:
    // A find or count has finished (tests wait on it).
    void SearchDone();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class TMatchOverlay;
    void ShowMode(TMode mode);
    void TakeSelectionAsPattern();
    void PatternChanged();
    void TextChanged();
    void StartFind(bool backward, editor::TBufferCoord from, bool acceptEmptyAtFrom);
    void ContinueFind();
    void FinishFind();
    void StartCount();
    void ContinueCount();
    void StopRuns();
    void Note(const QString& text);

    QPointer<TCodeEditor> FEditor;
    QPointer<QStatusBar> FStatus;
    TMode FMode = TMode::Find;
    std::unique_ptr<editor::TSearchPattern> FPattern;
    std::unique_ptr<editor::TFindRun> FFind;
    bool FFindBackward = false;
    bool FFindStarted = false;
    std::unique_ptr<editor::TCountRun> FCount;
    QTimer FFindTimer;
    QTimer FCountTimer;
    QWidget* FReplaceRow;
    QWidget* FFindRow;
    QWidget* FLineRow;
    TMatchOverlay* FOverlay;
    std::shared_ptr<bool> FAlive;
};
