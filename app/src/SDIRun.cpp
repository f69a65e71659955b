// The main window's test run: the bridge it builds, the run button, the
// state shown while a script runs, and the runtime's shutdown.
#include "app/SDIMain.h"

#include "SDIShared.h"
#include "app/CallNote.h"
#include "app/ErrorBox.h"
#include "app/JsonFormat.h"
#include "app/LiveRun.h"
#include "app/PaneText.h"
#include "app/RecoveryJournal.h"
#include "app/TestRun.h"
#include "platform/OutputCapture.h"
#include "platform/Process.h"
#include "platform/ScopeExit.h"
#include "pybridge/PyRef.h"
#include "pybridge/PythonEngine.h"
#include "pybridge/PythonErrors.h"
#include "pybridge/PythonIO.h"
#include "pybridge/PythonModule.h"
#include "pybridge/ScriptSession.h"
#include "widgets/CodeEditorControl.h"

#include <QAction>
#include <QCoreApplication>
#include <QEventLoop>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QStringDecoder>
#include <QTimer>
#include <QToolButton>

#include <chrono>
#include <optional>
#include <utility>

namespace {

const QString SRunning = QStringLiteral("スクリプトを実行しています。Esc キーで中止できます。");
const QString SStopped = QStringLiteral("実行を中止しました。");
const QString SForcedStop = QStringLiteral("スクリプトが中止を受け付けないため、強制的に中止しました。");

// The two generated lines get file names of their own, so that a traceback
// never shows a script line for them.
const QString SDataFile = QStringLiteral("<datas>");
const QString SCallFile = QStringLiteral("<call>");
// The unfinished line of the captured descriptors is kept under this writer,
// apart from every thread's.
constexpr quintptr DescriptorWriter = ~quintptr(0);
// A live run shows the running state (stop button, status text) only once it
// has taken this long: typing starts short runs all the time.
constexpr qint64 kLiveRunShownAfterMs = 250;

} // namespace

bool TSDIAppForm::SetProcessOutputCapture(bool on)
{
    if (!on) {
        if (FOutputCapture) {
            PythonGUIInputOutput->OnCatchUp = nullptr;
            FOutputCapture.reset();
        }
        return false;
    }
    if (FOutputCapture)
        return true;
    // Only the capture's lock holder decodes, so one decoder keeps a
    // character split between two reads whole.
    auto decoder = std::make_shared<QStringDecoder>(QStringDecoder::Utf8);
    pybridge::TPythonGUIInputOutput* io = PythonGUIInputOutput;
    FOutputCapture = std::make_unique<platform::TOutputCapture>([io, decoder](const char* data, std::size_t size) {
        io->WriteFrom(decoder->decode(QByteArrayView(data, qsizetype(size))), DescriptorWriter);
    });
    if (!FOutputCapture->Start()) {
        FOutputCapture.reset();
        return false;
    }
    io->OnCatchUp = [capture = FOutputCapture.get()] { capture->CatchUp(); };
    return true;
}

void TSDIAppForm::ShowRunOutput()
{
    pybridge::TPythonGUIInputOutput* io = PythonGUIInputOutput;
    if (FOutputCapture) {
        FOutputCapture->Pump();
        io->FlushUnfinishedLine(DescriptorWriter);
    }
    io->FlushPendingWrites();
    io->FlushUnfinishedLine();
    io->FlushDisplay();
}

void TSDIAppForm::ShutdownRuntime()
{
    if (!FSession)
        return;
    // The script's threads get a moment to end; one that does not would make
    // the finalisation wait for ever.
    const bool clean = FSession->Shutdown(std::chrono::seconds(2));
    if (PythonEngine->Initialized()) {
        if (!clean)
            PythonEngine->SetAutoFinalize(false);
        // The streams are restored first, so exit handlers print to the
        // process's own output rather than into a closing window.
        try {
            PythonEngine->Finalize();
        } catch (const std::exception&) {
            // The program is ending; nothing is left to tell.
        }
        if (!clean)
            FSession->RunExitHandlers();
    }
}

void TSDIAppForm::BuildBridge()
{
    // Python's standard streams go to the output pane through "pyio".
    pybridge::InstallPythonIORedirection();
    FBridgeOwner = std::make_unique<pybridge::TComponent>();
    PythonEngine = new pybridge::TPythonEngine(FBridgeOwner.get());
    PythonEngine->SetName(QStringLiteral("PythonEngine"));
    PythonEngine->SetAutoLoad(false);
    PythonEngine->SetDllName(QStringLiteral("libpython3.12.so.1.0"));
    PythonEngine->SetAPIVersion(1013);
    PythonEngine->SetRegVersion(QStringLiteral("3.12"));
    PythonEngine->SetUseLastKnownVersion(false);
    // A missing runtime is reported, but must not end the program and take
    // unsaved work with it; the next click tries again.
    PythonEngine->SetFatalAbort(false);

    PythonGUIInputOutput = new pybridge::TPythonGUIInputOutput(FBridgeOwner.get());
    PythonGUIInputOutput->SetName(QStringLiteral("PythonGUIInputOutput"));
    PythonGUIInputOutput->SetUnicodeIO(true);
    PythonGUIInputOutput->SetRawOutput(false);
    PythonGUIInputOutput->SetOutput(mePythonOutput);
    // Printed lines show within a tenth of a second while a script runs.
    PythonGUIInputOutput->SetDisplayInterval(80);
    PythonEngine->SetIO(PythonGUIInputOutput);

    PythonModule = new pybridge::TPythonModule(FBridgeOwner.get());
    PythonModule->SetName(QStringLiteral("PythonModule"));
    PythonModule->SetEngine(PythonEngine);
    PythonModule->SetModuleName(QByteArrayLiteral("host_module"));

    FSession = std::make_unique<pybridge::TScriptSession>(*PythonEngine);
    // The window stays live while a script runs: repaints, moves, output,
    // and the stop command all arrive here.
    FSession->OnTick = [this] {
        // A run short enough to end before its first tick never changes the
        // window; a longer one shows that it runs before any event is handled.
        // A live run shows it only once it has taken a while: typing starts
        // short runs all the time, and the toolbar must not blink with them.
        if (!fRunningShown && (!FLive->Running() || FLive->RunMilliseconds() >= kLiveRunShownAfterMs))
            ShowRunningState(true);
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    };
    FSession->OnStopRequested = [] { platform::CurrentDialogs().CancelInputBox(); };
}

bool TSDIAppForm::IsRunning() const { return FSession && FSession->Running(); }

void TSDIAppForm::StopRun()
{
    if (IsRunning())
        FSession->RequestStop();
}

void TSDIAppForm::ToolButton5Click()
{
    // While a run is in progress the run button is the stop button. A live
    // run that does not show as running gives way to a full run instead.
    if (IsRunning()) {
        if (FLive->Running() && !fRunningShown)
            fRunAfterLive = true;
        StopRun();
        return;
    }
    // A close asked for during the run goes ahead once it is over, however it ended.
    const platform::TScopeExit closeAfterRun([this] { FinishAfterRun(); });
    try {
        RunScript(TRunKind::rkButton);
    } catch (const pybridge::EPyKeyboardInterrupt&) {
        // A stop the user asked for is no error: its traceback is in the pane.
        if (!FSession->StopRequested())
            throw;
        statusBar()->showMessage(FSession->StopForced() ? SForcedStop : SStopped);
    } catch (const pybridge::EPySyntaxError& error) {
        // The caret goes to the script line at fault before the error shows.
        if (error.EFileName == SScriptFile && error.ELineNumber > 0)
            sePythonCode->GotoLine(error.ELineNumber);
        else
            GotoTracebackLine(mePythonOutput->toPlainText());
        throw;
    } catch (const pybridge::EPythonError& error) {
        if (!GotoTracebackLine(mePythonOutput->toPlainText()))
            GotoTracebackLine(error.Message());
        if (const QString note = CallConventionNote(error.EName, error.EValue); !note.isEmpty())
            statusBar()->showMessage(note);
        throw;
    }
}

void TSDIAppForm::FinishAfterRun()
{
    switch (std::exchange(fAfterRun, TAfterRun::arNothing)) {
    case TAfterRun::arEndBySignal:
        QTimer::singleShot(0, this, [this] { EndBySignal(); });
        break;
    case TAfterRun::arClose:
        QTimer::singleShot(0, this, &QWidget::close);
        break;
    case TAfterRun::arNothing:
        break;
    }
}

void TSDIAppForm::RunScript(TRunKind kind)
{
    const bool live = kind == TRunKind::rkLive;
    // Whatever the run printed is in the pane when the click is over, also
    // when it ended with an error.
    const platform::TScopeExit showOutput([this] { ShowRunOutput(); });
    // The number is the one shown when the button was pressed.
    const qint64 n = SpinEdit1->text().trimmed().toLongLong();
    auto clearPanes = [this](bool result) {
        if (result)
            Memo1->clear();
        PythonGUIInputOutput->FlushDisplay();
        mePythonOutput->clear();
    };
    // A note about the last run does not outlive it. A live run keeps the
    // panes until its script has compiled: a half-typed line leaves the last
    // outcome in view.
    if (!live) {
        statusBar()->clearMessage();
        clearPanes(true);
    }
    if (!PythonEngine->IsHandleValid()) {
        PythonEngine->SetUseLastKnownVersion(false);
        PythonEngine->SetVenvPythonExe(fEnvironment ? fEnvironment->PythonExe : QString());
        PythonEngine->LoadFirstOf(RuntimeSearch());
        ShowPythonInUse();
        if (!PythonEngine->IsHandleValid())
            return; // the loader has shown why
        if (!PythonEngine->VersionNote().isEmpty())
            statusBar()->showMessage(PythonEngine->VersionNote());
    }
    if (PythonEngine->Initialized() && !FSession->Attached())
        FSession->Attach();
    // Code then runs in the module registered under the empty name, which
    // keeps its definitions from run to run.
    PythonEngine->ResetTextSettings();
    // The text the run starts with is on disk before its first line runs:
    // whatever the script does, the user gets it back.
    FJournal->BeginRun(QStringLiteral("func%1").arg(n));
    std::optional<pybridge::TScriptSession::TRun> run;
    if (FSession->Attached())
        run.emplace(*FSession);
    const platform::TScopeExit runningState([this] {
        FJournal->EndRun();
        if (fRunningShown)
            ShowRunningState(false);
    });

    // The run uses the text the editor held when it started.
    const QByteArray script = platform::ToAnsi(EditorText());
    // The sample data never changes.
    static const QByteArray data = platform::ToAnsi(SampleDataAssignment());
    const QByteArray call = platform::ToAnsi(CallExpression(n, platform::UniversalSecondsNow()));
    if (run) {
        FSession->RegisterSource(SScriptFile, script);
        FSession->RegisterSource(SCallFile, call);
    }
    // Compiled before anything runs: a script with a syntax error runs no
    // line. The session keeps the code of an unchanged text (the data's too).
    auto compile = [this](const QByteArray& text, const QString& file, int mode = pybridge::file_input) {
        return FSession->Attached() ? FSession->CompileScript(text, file, mode)
                                    : PythonEngine->CompileCode(text, mode, file);
    };
    const pybridge::TPyRef code = compile(script, SScriptFile);
    if (live) {
        fLiveCompiled = true;
        clearPanes(false);
    }
    PythonEngine->EvalCode(code.Get());
    PythonEngine->EvalCode(compile(data, SDataFile).Get());
    // The call's text changes with the time stamp, once a second.
    pybridge::TPyRef result = PythonEngine->EvalCode(compile(call, SCallFile, pybridge::eval_input).Get());
    const QString text = FormatJsonResult(PythonEngine->PyObjectAsString(result.Get()));
    result.Reset();
    SetMemoText(Memo1, text);
}

void TSDIAppForm::ShowRunningState(bool running)
{
    fRunningShown = running;
    // A second run, and commands that replace the script, wait for the end
    // of the run; the editor and saving stay usable (the run has its own copy).
    for (QAction* a : {FileNew1, FileOpen1, TestRun1})
        a->setEnabled(!running);
    UpdateRecentMenu();
    TestStop1->setEnabled(running);
    // Looked up once: a theme lookup per run would cost more than a small run.
    static const QIcon runIcon = ImageListIcon(15);
    static const QIcon stopIcon = ImageListIcon(17);
    ToolButton5->setIcon(running ? stopIcon : runIcon);
    SetHint(ToolButton5, running ? SStopHint : SRunHint);
    if (running)
        statusBar()->showMessage(SRunning);
    else
        statusBar()->clearMessage();
}
