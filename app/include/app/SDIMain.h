#pragma once
// The workbench's main window and its one script document.
#include <QLabel>
#include <QMainWindow>
#include <QSpinBox>
#include <QString>
#include <memory>

#include "app/PythonEnvironment.h"
#include "platform/Dialogs.h"
#include "platform/Registry.h"
#include "pybridge/DynamicDll.h"

#include <optional>

class QAction;
class QActionGroup;

class QListWidget;
class QMenu;
class QPlainTextEdit;
class QSplitter;
class QToolBar;
class QToolButton;
class TOpenFileHistories;
namespace pybridge {
class TComponent;
class TPythonEngine;
class TPythonGUIInputOutput;
class TPythonModule;
class TScriptSession;
}
namespace platform {
class TOutputCapture;
}
class TCodeEditor;
class TFindBar;
class TLiveSchedule;
class TRecoveryJournal;
namespace editor {
class TPythonHighlighter;
class TPythonEditBehaviour;
}

// Number field whose value changes only through its arrows, the arrow keys and
// the mouse wheel: the text cannot be typed into.
class TSpinEdit : public QSpinBox {
    Q_OBJECT
public:
    explicit TSpinEdit(QWidget* parent = nullptr);
};

// A one-section header strip above a pane.
class THeaderControl : public QLabel {
    Q_OBJECT
public:
    THeaderControl(const QString& section, QWidget* parent);
};

// The toolbar and menu pictures by their list index (0, 1, 2, 6, 7, 8, 15, 16, 17, 18).
QIcon ImageListIcon(int index);

class TSDIAppForm : public QMainWindow {
    Q_OBJECT
public:
    explicit TSDIAppForm(QWidget* parent = nullptr);
    ~TSDIAppForm() override;

    // Command handlers; errors they do not handle reach the caller (the
    // actions run them through the application's error box).
    void FormCreate();
    void FileNew1Execute();
    void FileOpen1Execute();
    void FileSave1Execute();
    // Writes the script in the editor's colours and font as a web page; the
    // document keeps its name and saved state.
    void FileExport1Execute();
    void FileExit1Execute();
    void HelpAbout1Execute();
    // Runs the script, or stops the run in progress.
    virtual void ToolButton5Click();
    void UpdateTitle();
    // Puts the editor's caret on the script line that the last frame of a
    // traceback in text names; false when it names none.
    bool GotoTracebackLine(const QString& text);

    // A run is in progress (the window stays live while it is).
    bool IsRunning() const;
    // Asks the running script to stop (KeyboardInterrupt); nothing between runs.
    void StopRun();

    // The same steps as Open after its dialog: used for the recent-file items.
    void OpenScript(const QString& fileName);

    // At start: offers the text a program that ended without saving left in
    // its recovery journal (restore, discard, or ask again next time).
    void OfferRecovery();
    // SIGTERM or SIGHUP: a run in progress is stopped first; then the window
    // closes without questions, keeping unsaved work in the journal.
    void TerminateBySignal();
    TRecoveryJournal& Journal() { return *FJournal; }
    // Shows what the process writes to its standard output and error (child
    // processes, descriptor writes) in "Python Output". The program turns it
    // on at start. Whether it is on: false when the system refused.
    bool SetProcessOutputCapture(bool on);
    // Wraps long lines in the editor at the window's edge; the choice is stored
    // with the settings and comes back at the next start.
    void SetWordWrap(bool on);
    // The window closed for a signal (possibly before the event loop ran).
    bool EndedBySignal() const { return fEndingBySignal; }

    // Live mode: the chosen function runs a pause after every edit, and the
    // panes show its outcome; errors mark their line instead of opening a
    // box. The first time it is turned on a note explains that the script
    // really runs (Cancel leaves it off); the choice is stored with the settings.
    void SetLiveMode(bool on);
    bool LiveMode() const;
    TLiveSchedule& Live() { return *FLive; }
    // What the end of the pause does: a live run of the editor's text now.
    void RunLive();

    // The editor's whole text: lines joined by CR LF, no break after the last.
    QString EditorText() const;
    void SetEditorText(const QString& text);
    bool IsModified() const;

    const QString& FilePath() const { return fFilePath; }
    const QString& SysScript() const { return fSysScript; }
    const QString& OrigScript() const { return fOrigScript; }

    // Components.
    QToolBar* ToolBar1;
    QToolButton* ToolButton9;
    QToolButton* ToolButton1;
    QToolButton* ToolButton2;
    QAction* ToolButton3;
    QToolButton* ToolButton5;
    TSpinEdit* SpinEdit1;
    QSplitter* Splitter1;
    THeaderControl* HeaderControl1;
    QToolBar* ToolBar2;
    QAction* BtnPlay;
    TCodeEditor* sePythonCode;
    QSplitter* Splitter2;
    THeaderControl* HeaderControl3;
    QPlainTextEdit* Memo1;
    THeaderControl* HeaderControl2;
    QPlainTextEdit* mePythonOutput;
    QListWidget* ListBox;
    TFindBar* FindBar1;

    QAction* FileNew1;
    QAction* FileOpen1;
    QAction* FileSave1;
    QAction* FileSaveAs1;
    QAction* FileExport1;
    QAction* FileExit1;
    QAction* EditCut1;
    QAction* EditCopy1;
    QAction* EditPaste1;
    QAction* HelpAbout1;
    QAction* TestRun1;
    QAction* TestStop1;
    QAction* SearchFind1;
    QAction* SearchReplace1;
    QAction* SearchFindNext1;
    QAction* SearchFindPrev1;
    QAction* SearchGotoLine1;
    QAction* ViewWordWrap1;
    QAction* FilePython1;
    QAction* TestLive1;
    QToolButton* ToolButton6;

    QMenu* File1;
    QMenu* idR;
    QMenu* S1;
    QMenu* V1;
    QMenu* T1;
    QMenu* Help1;

    TOpenFileHistories* OpenFileHistories1;
    std::unique_ptr<editor::TPythonHighlighter> PythonHighlighter1;
    std::unique_ptr<editor::TPythonEditBehaviour> PythonEditBehaviour;

    // The bridge components; they belong to FBridgeOwner, which the window owns.
    pybridge::TPythonEngine* PythonEngine;
    pybridge::TPythonGUIInputOutput* PythonGUIInputOutput;
    pybridge::TPythonModule* PythonModule;

    static const QString OpenDialogFilter;

    // Runs scripts in this virtual environment (its folder or its python;
    // empty: the system's Python) from the next start of the runtime. A
    // problem is reported in the error box and the previous choice stays;
    // false then. With store the choice outlives the program.
    bool UsePythonEnvironment(const QString& folderOrPython, bool store);
    const std::optional<TPythonEnvironment>& PythonEnvironment() const { return fEnvironment; }
    // The Python in use (version, library, environment), or the one a run will load.
    QString PythonInUseText() const;
    QLabel* lblPython;

protected:
    void closeEvent(QCloseEvent* event) override;
    // The libraries a run tries, in order, to load the runtime.
    virtual QList<pybridge::TLibraryCandidate> RuntimeSearch() const;

private:
    enum class SaveOutcome { Cancelled, Written };
    SaveOutcome SaveWithDialog();
    void AddToHistory(const QString& fileName);
    void UpdateRecentMenu();
    platform::ModalResult AskAboutChanges(const QString& question);
    // Asks about unsaved work before Open; false when the command must stop.
    bool ConfirmDiscardBeforeOpen();
    QAction* MakeAction(const QString& name, const QString& caption, const QString& hint,
                        const QKeySequence& shortcut, int image, const QString& category);
    void BuildActions();
    void BuildSearchActions();
    void BuildMenus();
    void BuildToolBar();
    void BuildPanes();
    void BuildEditor();
    void EditAction(void (QPlainTextEdit::*op)());

    void BuildBridge();
    enum class TRunKind { rkButton, rkLive };
    void RunScript(TRunKind kind);
    void BuildLive();
    void LoadLiveSettings();
    void FollowEditsForLive();
    // The menu item and the tool button show whether live mode is on.
    void ShowLiveChoice();
    // Stops the live run in progress, if any, and puts the panes' last
    // outcome back when it ends.
    void AbandonLiveRun();
    // What a close or a signal asked for during a run, once it is over.
    void FinishAfterRun();
    // A live run's errors: marked in the editor and told in the status bar.
    void ShowLiveSyntaxError(const QString& message, int line, int column, int endLine, int endColumn);
    void ShowLiveRunError(const QString& message);
    bool eventFilter(QObject* watched, QEvent* event) override;
    void ShowRunningState(bool running);
    // Finalises the interpreter while everything it refers to still exists.
    void ShutdownRuntime();
    void LoadViewSettings();
    void LoadPythonSettings();
    void FilePython1Execute();
    // The status bar's note of the Python in use.
    void ShowPythonInUse();
    // The editor and the menu item, without storing the choice.
    void ShowWordWrap(bool on);
    // Brings "Python Output" up to date with everything the run wrote.
    void ShowRunOutput();
    void BuildJournal();
    void EndBySignal();
    // The document is now as saved, opened or new: nothing to recover.
    void DocumentReset();

    std::unique_ptr<pybridge::TComponent> FBridgeOwner;
    std::unique_ptr<pybridge::TScriptSession> FSession;
    std::unique_ptr<TRecoveryJournal> FJournal;
    std::unique_ptr<platform::TOutputCapture> FOutputCapture;
    platform::Registry::TDamageHandler FPreviousDamageHandler;
    // What a close or a signal asked for during a run does once it is over.
    enum class TAfterRun { arNothing, arClose, arEndBySignal };
    TAfterRun fAfterRun = TAfterRun::arNothing;
    bool fEndingBySignal = false;
    // A restored text counts as modified until it is saved, whatever it holds.
    bool fRestored = false;
    bool fRunningShown = false;
    // Live mode's timing; a child of the window.
    TLiveSchedule* FLive = nullptr;
    // The live run in progress is abandoned (a key was pressed, the mode
    // was turned off, the window closes).
    bool fLiveAbandoned = false;
    // The run button was pressed during a live run: a full run follows it.
    bool fRunAfterLive = false;
    // The live run's script compiled: a syntax error after it is the run's own.
    bool fLiveCompiled = false;
    std::optional<TPythonEnvironment> fEnvironment;
    QString fFilePath;
    QString fSysScript;
    QString fOrigScript;
};
