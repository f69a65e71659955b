// Live mode of the main window: the chosen function runs a pause after every
// edit, its outcome replaces the panes' in place, and an error marks its line
// in the editor rather than opening a box.
#include "app/SDIMain.h"

#include "SDIShared.h"
#include "app/ErrorBox.h"
#include "app/LiveRun.h"
#include "app/PaneText.h"
#include "editor/ErrorMark.h"
#include "editor/LineBuffer.h"
#include "platform/Registry.h"
#include "platform/ScopeExit.h"
#include "pybridge/PythonEngine.h"
#include "pybridge/PythonErrors.h"
#include "pybridge/PythonIO.h"
#include "pybridge/ScriptSession.h"
#include "widgets/CodeEditorControl.h"

#include <QAction>
#include <QEvent>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStatusBar>
#include <QTimer>

#include <utility>

namespace {

const QString kLiveKey = QStringLiteral("\\Software\\Quorbel\\Live");
const QString kEnabledValue = QStringLiteral("Enabled");
const QString kNoteShownValue = QStringLiteral("NoteShown");
const QString kDelayValue = QStringLiteral("Delay");
const QString kTimeLimitValue = QStringLiteral("TimeLimit");

const QString SLiveCaption = QStringLiteral("ライブ実行");
const QString SLiveNote = QStringLiteral(
    "ライブ実行では、入力が止まるたびにスクリプトが実際に実行されます。"
    "スクリプトがファイルを書き込むなら、そのファイルは入力のたびに本当に書き込まれます。\n\n"
    "ライブ実行をオンにしますか？");
const QString SLivePaused =
    QStringLiteral("ライブ実行: スクリプトが %1 秒以内に終わらないため中止しました。次の編集まで一時停止します。");
const QString SLiveStopped = QStringLiteral("ライブ実行を中止しました。次の編集まで一時停止します。");
const QString SLiveSyntaxError = QStringLiteral("%1 行 %2 桁: %3");
const QString SLiveRunError = QStringLiteral("%1 行: %2");
const QString SLiveNoRuntime = QStringLiteral("Python を読み込めないため、ライブ実行をオフにしました。");

// A live run's ticks come this often, so that a key pressed while it runs
// is handled (and stops it) well within a frame.
constexpr auto kLiveTick = std::chrono::milliseconds(8);

int ReadSetting(platform::Registry& reg, const QString& name, int fallback)
{
    return reg.ValueExists(name) ? reg.ReadInteger(name) : fallback;
}

// A result pane during a live run: not repainted until the run is over, so
// it never shows half an outcome; it keeps its scroll position when the new
// text has as many lines as the old.
class TPaneKeeper {
public:
    explicit TPaneKeeper(QPlainTextEdit* pane)
        : FPane(pane), FLines(pane->blockCount()),
          FTop(pane->verticalScrollBar()->value()), FLeft(pane->horizontalScrollBar()->value())
    {
        FPane->setUpdatesEnabled(false);
    }
    ~TPaneKeeper()
    {
        if (FPane->blockCount() == FLines) {
            FPane->verticalScrollBar()->setValue(FTop);
            FPane->horizontalScrollBar()->setValue(FLeft);
        }
        FPane->setUpdatesEnabled(true);
    }
    TPaneKeeper(const TPaneKeeper&) = delete;
    TPaneKeeper& operator=(const TPaneKeeper&) = delete;

private:
    QPlainTextEdit* FPane;
    int FLines;
    int FTop;
    int FLeft;
};

// The mark, with its text as the editor's description: a screen reader does
// not see the underline.
void ShowMark(TCustomCodeEditorControl* editor, const editor::TErrorMark& mark, const QString& text)
{
    editor->SetErrorMark(mark);
    editor->setAccessibleDescription(text);
}

void ClearMark(TCustomCodeEditorControl* editor)
{
    editor->ClearErrorMark();
    editor->setAccessibleDescription(QString());
}

} // namespace

void TSDIAppForm::BuildLive()
{
    FLive = new TLiveSchedule(this);
    FLive->OnRunDue = [this] { RunGuarded([this] { RunLive(); }, this); };
    FLive->OnLimit = [this] { StopRun(); };
    TestLive1 = MakeAction(QStringLiteral("TestLive1"), QStringLiteral("ライブ実行(&L)"),
                           QStringLiteral("ライブ実行|入力が止まるたびにスクリプトを実行して結果を表示"),
                           QKeySequence(Qt::Key_F6), 18, QStringLiteral("テスト"));
    TestLive1->setCheckable(true);
    connect(TestLive1, &QAction::toggled, this, [this](bool on) { RunGuarded([&] { SetLiveMode(on); }, this); });
}

void TSDIAppForm::FollowEditsForLive()
{
    // Every change of the text, by any command, restarts the pause.
    editor::TLineBuffer& lines = sePythonCode->Engine().Lines();
    auto edited = [this] {
        if (FLive)
            FLive->Edited();
    };
    editor::ChainEvent(lines.OnPut, [edited](editor::TLineBuffer*, int, const QString&) { edited(); });
    editor::ChainEvent(lines.OnInserted, [edited](editor::TLineBuffer*, int, int) { edited(); });
    editor::ChainEvent(lines.OnDeleted, [edited](editor::TLineBuffer*, int, int) { edited(); });
    // Keys that change nothing (the caret's) also count: typing wins over a run.
    sePythonCode->installEventFilter(this);
}

bool TSDIAppForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == sePythonCode && FLive && FLive->Enabled()
        && (event->type() == QEvent::KeyPress || event->type() == QEvent::InputMethod)) {
        AbandonLiveRun();
        FLive->Edited();
    }
    return QMainWindow::eventFilter(watched, event);
}

void TSDIAppForm::AbandonLiveRun()
{
    if (!FLive->Running())
        return;
    fLiveAbandoned = true;
    StopRun();
}

void TSDIAppForm::ShowLiveChoice() { ShowChecked(TestLive1, FLive->Enabled()); }

void TSDIAppForm::LoadLiveSettings()
{
    platform::Registry reg(platform::HKEY_CURRENT_USER);
    TLiveSettings settings;
    bool on = false;
    if (reg.OpenKeyReadOnly(kLiveKey)) {
        settings.DelayMs = ReadSetting(reg, kDelayValue, settings.DelayMs);
        settings.TimeLimitMs = ReadSetting(reg, kTimeLimitValue, settings.TimeLimitMs);
        on = ReadSetting(reg, kEnabledValue, 0) != 0;
    }
    FLive->SetSettings(settings);
    FLive->SetEnabled(on);
    ShowLiveChoice();
}

bool TSDIAppForm::LiveMode() const { return FLive && FLive->Enabled(); }

void TSDIAppForm::SetLiveMode(bool on)
{
    const platform::TScopeExit showChoice([this] { ShowLiveChoice(); });
    if (on == FLive->Enabled())
        return;
    platform::Registry reg(platform::HKEY_CURRENT_USER);
    const bool stored = reg.OpenKey(kLiveKey, true);
    if (on && !(stored && ReadSetting(reg, kNoteShownValue, 0) != 0)) {
        platform::MessageRequest ask;
        ask.owner = this;
        ask.text = SLiveNote;
        ask.caption = SLiveCaption;
        ask.type = platform::MsgDlgType::mtConfirmation;
        ask.buttons = platform::mbOK | platform::mbCancel;
        ask.closeCancels = true;
        if (platform::CurrentDialogs().MessageBox(ask) != platform::ModalResult::mrOk)
            return;
        if (stored)
            reg.WriteInteger(kNoteShownValue, 1);
    }
    FLive->SetEnabled(on);
    if (stored)
        reg.WriteInteger(kEnabledValue, on ? 1 : 0);
    if (on) {
        // The text as it stands gets its outcome after the pause.
        FLive->Edited();
        return;
    }
    // Off: no live run goes on, and its marks go.
    AbandonLiveRun();
    ClearMark(sePythonCode);
}

void TSDIAppForm::ShowLiveSyntaxError(const QString& message, int line, int column, int endLine, int endColumn)
{
    // Turned off while the run ended: its outcome marks nothing.
    if (!FLive->Enabled())
        return;
    editor::TErrorMark mark;
    mark.Line = line;
    mark.Column = std::max(column, 1);
    mark.EndColumn = endLine == line ? endColumn : 0;
    mark.Message = message;
    const QString text = SLiveSyntaxError.arg(line).arg(mark.Column).arg(message);
    ShowMark(sePythonCode, mark, text);
    statusBar()->showMessage(text);
}

void TSDIAppForm::ShowLiveRunError(const QString& message)
{
    if (!FLive->Enabled())
        return;
    // The innermost frame of the script in the traceback the pane shows.
    int line = TracebackLine(mePythonOutput->toPlainText(), SScriptFile);
    if (line <= 0)
        line = TracebackLine(message, SScriptFile);
    if (line <= 0) {
        ClearMark(sePythonCode);
        statusBar()->showMessage(message);
        return;
    }
    editor::TErrorMark mark;
    mark.Line = line;
    mark.Message = message;
    const QString text = SLiveRunError.arg(line).arg(message);
    ShowMark(sePythonCode, mark, text);
    statusBar()->showMessage(text);
}

void TSDIAppForm::RunLive()
{
    if (!FLive->Enabled() || FLive->Paused())
        return;
    // One run at a time: with another in progress (the button's), the live
    // run waits for the next pause.
    if (IsRunning()) {
        FLive->Retry();
        return;
    }
    fLiveAbandoned = false;
    fLiveCompiled = false;
    // Only the output pane changes before the run's outcome is known (the
    // result pane is set at its end): its text is kept to be put back.
    const QString lastOutput = mePythonOutput->toPlainText();
    TPaneKeeper result(Memo1);
    TPaneKeeper output(mePythonOutput);
    FLive->RunStarted();
    // Nobody is asked for input while typing: input() meets the end of the file.
    PythonGUIInputOutput->SetInputClosed(true);
    FSession->SetTickInterval(kLiveTick);
    const platform::TScopeExit ended([this] {
        FLive->RunEnded();
        PythonGUIInputOutput->SetInputClosed(false);
        FSession->SetTickInterval(pybridge::TScriptSession::DefaultTickInterval());
        if (std::exchange(fRunAfterLive, false) && fAfterRun == TAfterRun::arNothing)
            QTimer::singleShot(0, this, [this] { RunGuarded([this] { ToolButton5Click(); }, this); });
        FinishAfterRun();
    });
    try {
        RunScript(TRunKind::rkLive);
        if (!PythonEngine->IsHandleValid()) {
            // The loader has said why; it would say so again at every pause.
            FLive->SetEnabled(false);
            ShowLiveChoice();
            statusBar()->showMessage(SLiveNoRuntime);
            return;
        }
        ClearMark(sePythonCode);
        statusBar()->clearMessage();
    } catch (const pybridge::EPyKeyboardInterrupt&) {
        if (fLiveAbandoned && !FLive->LimitReached()) {
            // Typing went on: the run is abandoned and the panes keep the last outcome.
            SetMemoText(mePythonOutput, lastOutput);
            return;
        }
        FLive->Pause();
        statusBar()->showMessage(FLive->LimitReached()
                                     ? SLivePaused.arg(FLive->Settings().TimeLimitMs / 1000.0)
                                     : SLiveStopped);
    } catch (const pybridge::EPySyntaxError& error) {
        if (!fLiveCompiled && error.EFileName == SScriptFile && error.ELineNumber > 0) {
            // Nothing ran: the panes keep the last outcome.
            SetMemoText(mePythonOutput, lastOutput);
            ShowLiveSyntaxError(error.EName + QStringLiteral(": ") + error.EValue, error.ELineNumber, error.EOffset,
                                error.EEndLineNumber, error.EEndOffset);
            return;
        }
        Memo1->clear();
        ShowLiveRunError(error.Message());
    } catch (const pybridge::EPythonError& error) {
        Memo1->clear();
        ShowLiveRunError(error.Message());
    }
}
