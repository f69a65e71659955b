#include "app/SDIMain.h"

#include "app/About.h"
#include "app/CallNote.h"
#include "app/DefaultScript.h"
#include "app/ErrorBox.h"
#include "app/FileDrop.h"
#include "app/FindBar.h"
#include "app/JsonFormat.h"
#include "app/LiveRun.h"
#include "app/ScriptFile.h"
#include "SDIShared.h"
#include "app/TestRun.h"
#include "history/OpnFilHs.h"
#include "platform/Dialogs.h"
#include "platform/OutputCapture.h"
#include "platform/Process.h"
#include "platform/Registry.h"
#include "pybridge/PythonEngine.h"
#include "pybridge/PythonErrors.h"
#include "pybridge/PythonIO.h"
#include "pybridge/PythonModule.h"
#include "pybridge/PyRef.h"
#include "pybridge/ScriptSession.h"
#include "app/PaneText.h"
#include "app/RecoveryJournal.h"
#include "editor/HtmlExport.h"
#include "editor/PythonEditBehaviour.h"
#include "editor/PythonHighlighter.h"
#include "widgets/CodeEditorControl.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTextBlock>
#include <QListWidget>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <chrono>
#include <functional>
#include <optional>
#include <utility>

namespace {

const QString SModifiedSave = QStringLiteral("ファイルが変更されています。保存しますか？");
const QString SModified = QStringLiteral("ファイルが変更されています");
const QString SWarning = QStringLiteral("警告");
const QString SStopBeforeClose = QStringLiteral("スクリプトを実行しています。中止して閉じますか？");
const QString SJournalFailed = QStringLiteral("復元用の記録を保存できません。編集は続けられます: %1");

QFont PixelFont(const QString& family, int pixels, bool bold = false)
{
    QFont f(family);
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

// Lays the output pane at its designed width on the left and gives the list
// box what is left, however narrow the pane gets.
class TOutputPane : public QWidget {
public:
    TOutputPane(QWidget* output, QWidget* list, QWidget* parent)
        : QWidget(parent), FOutput(output), FList(list)
    {
        output->setParent(this);
        list->setParent(this);
    }

protected:
    void resizeEvent(QResizeEvent*) override
    {
        int w = std::min(width(), 832);
        FOutput->setGeometry(0, 0, w, height());
        FList->setGeometry(w, 0, width() - w, height());
    }

private:
    QWidget* FOutput;
    QWidget* FList;
};

// Calls back with the text of the line double-clicked in a text pane.
class TLineDoubleClick : public QObject {
public:
    TLineDoubleClick(QPlainTextEdit* pane, std::function<bool(const QString&)> onLine)
        : QObject(pane), FPane(pane), FOnLine(std::move(onLine))
    {
        pane->viewport()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::MouseButtonDblClick) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            const QString line = FPane->cursorForPosition(mouse->position().toPoint()).block().text();
            if (FOnLine(line))
                return true;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QPlainTextEdit* FPane;
    std::function<bool(const QString&)> FOnLine;
};

QWidget* Stack(QWidget* parent, std::initializer_list<QWidget*> children, QWidget* fill)
{
    auto* pane = new QWidget(parent);
    auto* layout = new QVBoxLayout(pane);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (QWidget* child : children)
        layout->addWidget(child, child == fill ? 1 : 0);
    return pane;
}

} // namespace

TSpinEdit::TSpinEdit(QWidget* parent) : QSpinBox(parent)
{
    // A read-only line edit refuses typing, pasting and deleting, while the
    // spin box still steps through arrows, keys and the wheel.
    lineEdit()->setReadOnly(true);
}

THeaderControl::THeaderControl(const QString& section, QWidget* parent) : QLabel(section, parent)
{
    setAlignment(Qt::AlignCenter);
    setFixedHeight(17);
    setFont(PixelFont(QStringLiteral("Tahoma"), 11, true));
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setAutoFillBackground(true);
}

QIcon ImageListIcon(int index)
{
    struct Entry { int index; const char* theme; QStyle::StandardPixmap fallback; };
    static const Entry entries[] = {
        {0, "edit-cut", QStyle::SP_DialogResetButton},
        {1, "edit-copy", QStyle::SP_FileDialogContentsView},
        {2, "edit-paste", QStyle::SP_DialogApplyButton},
        {6, "document-new", QStyle::SP_FileIcon},
        {7, "document-open", QStyle::SP_DialogOpenButton},
        {8, "document-save", QStyle::SP_DialogSaveButton},
        {15, "media-playback-start", QStyle::SP_MediaPlay},
        {16, "media-playback-start", QStyle::SP_MediaPlay},
        {17, "media-playback-stop", QStyle::SP_MediaStop},
        {18, "view-refresh", QStyle::SP_BrowserReload},
    };
    for (const Entry& e : entries) {
        if (e.index != index)
            continue;
        QIcon icon = QIcon::fromTheme(QString::fromLatin1(e.theme));
        if (icon.isNull())
            icon = QApplication::style()->standardIcon(e.fallback);
        if (index == 16) // the disabled picture of the play button
            return QIcon(icon.pixmap(16, 16, QIcon::Disabled));
        return icon;
    }
    return {};
}

const QString TSDIAppForm::OpenDialogFilter = QStringLiteral("Python(*.py)|*.py|すべてのファイル (*.*)|*.*");

TSDIAppForm::TSDIAppForm(QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("SDIAppForm"));
    setWindowTitle(QStringLiteral("Quorbel"));
    setFont(PixelFont(QStringLiteral("System"), 13));
    move(197, 111);

    OpenFileHistories1 = new TOpenFileHistories(this);
    OpenFileHistories1->setObjectName(QStringLiteral("OpenFileHistories1"));

    BuildActions();
    BuildMenus();
    BuildToolBar();
    BuildPanes();
    // The working area is 1118 by 525 below the menu bar, whatever height
    // the menu bar takes in the current style.
    resize(1118, 525 + menuBar()->sizeHint().height());

    OpenFileHistories1->SetSubFileItem(idR->menuAction());
    OpenFileHistories1->SetMaxHistory(10);
    OpenFileHistories1->OnOpenFile = [this](QObject*, const QString& fileName) {
        RunGuarded([&] { OpenScript(fileName); }, this);
    };
    // A file dropped from a file manager opens as a recent-file item does.
    auto* drops = new TFileDropFilter(this, [this](const QStringList& files) {
        RunGuarded([&] { OpenScript(files.constFirst()); }, this);
    });
    drops->Watch({this, Memo1, mePythonOutput});
    // The editor takes file drops while its option says so; else they reach the window.
    drops->Watch({sePythonCode}, [this] { return sePythonCode->Engine().HasOption(editor::eoDropFiles); });

    BuildBridge();

    // A damaged settings store is set aside and starts afresh; the user hears
    // of it once, over the window rather than before it.
    FPreviousDamageHandler = platform::Registry::SetDamageHandler([this](const platform::TRegistryDamage& damage) {
        QTimer::singleShot(0, this, [this, message = platform::DamageMessage(damage)] { ShowErrorBox(message, this); });
    });

    sePythonCode->SetLines(DefaultScriptLines());
    // The editor's file shortcuts give way to the window's menu commands.
    sePythonCode->SetWindowShortcuts({FileNew1->shortcut(), FileOpen1->shortcut(), FileSave1->shortcut()});
    // A settings store that cannot be read leaves the editor as it starts.
    RunGuarded([this] { LoadViewSettings(); }, this);
    RunGuarded([this] { LoadPythonSettings(); }, this);
    RunGuarded([this] { LoadLiveSettings(); }, this);
    FormCreate();
    BuildJournal();
    FollowEditsForLive();
}

TSDIAppForm::~TSDIAppForm()
{
    // A normal end: the journal goes (one kept by a signal's end stays).
    FJournal.reset();
    platform::Registry::SetDamageHandler(std::move(FPreviousDamageHandler));
    // What the interpreter's exit handlers print goes to the process's own output.
    SetProcessOutputCapture(false);
    // The interpreter stops before the modules it refers to and the panes it
    // writes to go away.
    ShutdownRuntime();
    FSession.reset();
    PythonEditBehaviour->SetEditor(nullptr);
    sePythonCode->SetHighlighter(nullptr);
    FBridgeOwner.reset();
}

namespace {

// The editor's view settings, kept with the program's other settings.
const QString kViewKey = QStringLiteral("\\Software\\Quorbel\\View");
const QString kWordWrapValue = QStringLiteral("WordWrap");

} // namespace

void TSDIAppForm::SetWordWrap(bool on)
{
    ShowWordWrap(on);
    platform::Registry reg(platform::HKEY_CURRENT_USER);
    if (reg.OpenKey(kViewKey, true))
        reg.WriteInteger(kWordWrapValue, on ? 1 : 0);
}

void TSDIAppForm::ShowWordWrap(bool on)
{
    sePythonCode->SetWordWrap(on);
    ShowChecked(ViewWordWrap1, on);
}

void TSDIAppForm::LoadViewSettings()
{
    platform::Registry reg(platform::HKEY_CURRENT_USER);
    ShowWordWrap(reg.OpenKeyReadOnly(kViewKey) && reg.ValueExists(kWordWrapValue) && reg.ReadInteger(kWordWrapValue) != 0);
}

void TSDIAppForm::BuildJournal()
{
    FJournal = std::make_unique<TRecoveryJournal>(RecoveryFolder());
    // The journal copies the lines itself, a slice at a time; edits between
    // the slices reach its copy through the buffer's events.
    FollowEditor(sePythonCode->Engine(), [this] { return FJournal.get(); });
    FJournal->MetaSource = [this](TJournalSnapshot& snapshot) {
        // The writer compares the text with the baseline on its own thread.
        const editor::TCustomCodeEditor& engine = std::as_const(*sePythonCode).Engine();
        snapshot.meta.fileName = fFilePath;
        snapshot.meta.modified = fRestored;
        snapshot.meta.caretLine = engine.CaretY();
        snapshot.meta.caretChar = engine.CaretX();
        snapshot.baseline = fOrigScript;
    };
    FJournal->OnWriteFailed = [this](const QString& reason) {
        statusBar()->showMessage(SJournalFailed.arg(reason));
    };
}

void TSDIAppForm::DocumentReset()
{
    fRestored = false;
    if (FJournal)
        FJournal->Discard();
}

QAction* TSDIAppForm::MakeAction(const QString& name, const QString& caption, const QString& hint,
                                 const QKeySequence& shortcut, int image, const QString& category)
{
    auto* action = new QAction(caption, this);
    action->setObjectName(name);
    const qsizetype bar = hint.indexOf(u'|');
    action->setToolTip(bar < 0 ? hint : hint.left(bar));
    action->setStatusTip(bar < 0 ? hint : hint.mid(bar + 1));
    if (!shortcut.isEmpty()) {
        action->setShortcut(shortcut);
        action->setShortcutContext(Qt::WindowShortcut);
    }
    if (image >= 0)
        action->setIcon(ImageListIcon(image));
    action->setProperty("category", category);
    addAction(action);
    return action;
}

void TSDIAppForm::BuildActions()
{
    const QString file = QStringLiteral("ファイル");
    const QString edit = QStringLiteral("編集");
    FileNew1 = MakeAction(QStringLiteral("FileNew1"), QStringLiteral("新規作成(&N)"),
                          QStringLiteral("新規|新規ファイルの作成"), QKeySequence(QStringLiteral("Ctrl+N")), 6, file);
    FileOpen1 = MakeAction(QStringLiteral("FileOpen1"), QStringLiteral("開く(&O)"),
                           QStringLiteral("開く|ファイルを開く"), QKeySequence(QStringLiteral("Ctrl+O")), 7, file);
    FileSave1 = MakeAction(QStringLiteral("FileSave1"), QStringLiteral("保存(&S)"),
                           QStringLiteral("保存|現在のファイルを保存"), QKeySequence(QStringLiteral("Ctrl+S")), 8, file);
    FileSaveAs1 = MakeAction(QStringLiteral("FileSaveAs1"), QStringLiteral("名前を付けて保存(&A)..."),
                             QStringLiteral("名前を付けて保存|現在のファイルをほかの名前で保存"), {}, -1, file);
    FileExport1 = MakeAction(QStringLiteral("FileExport1"), QStringLiteral("エクスポート(&E)..."),
                             QStringLiteral("エクスポート|スクリプトを色付きの HTML ファイルに書き出す"), {}, -1, file);
    FileExit1 = MakeAction(QStringLiteral("FileExit1"), QStringLiteral("終了(&X)"),
                           QStringLiteral("終了|アプリケーションの終了"), {}, -1, file);
    EditCut1 = MakeAction(QStringLiteral("EditCut1"), QStringLiteral("切り取り(&T)"),
                          QStringLiteral("切り取り|選択部分を切り取り，クリップボードに送る"),
                          QKeySequence(QStringLiteral("Ctrl+X")), 0, edit);
    EditCopy1 = MakeAction(QStringLiteral("EditCopy1"), QStringLiteral("コピー(&C)"),
                           QStringLiteral("コピー|選択範囲をクリップボードにコピー"),
                           QKeySequence(QStringLiteral("Ctrl+C")), 1, edit);
    EditPaste1 = MakeAction(QStringLiteral("EditPaste1"), QStringLiteral("貼り付け(&P)"),
                            QStringLiteral("貼り付け|クリップボードの内容を貼り付ける"),
                            QKeySequence(QStringLiteral("Ctrl+V")), 2, edit);
    HelpAbout1 = MakeAction(QStringLiteral("HelpAbout1"), QStringLiteral("バージョン情報(&A)..."),
                            QStringLiteral("バージョン情報|プログラム情報，バージョン番号，著作権の表示"), {}, -1,
                            QStringLiteral("ヘルプ"));
    const QString test = QStringLiteral("テスト");
    TestRun1 = MakeAction(QStringLiteral("TestRun1"), QStringLiteral("実行(&R)"), SRunHint, QKeySequence(Qt::Key_F5),
                          15, test);
    TestStop1 = MakeAction(QStringLiteral("TestStop1"), QStringLiteral("中止(&S)"), SStopHint,
                           QKeySequence(Qt::Key_Escape), 17, test);
    TestStop1->setEnabled(false);
    ViewWordWrap1 = MakeAction(QStringLiteral("ViewWordWrap1"), QStringLiteral("ワードラップ(&W)"),
                               QStringLiteral("ワードラップ|長い行をウィンドウの端で折り返して表示"), {}, -1,
                               QStringLiteral("表示"));
    ViewWordWrap1->setCheckable(true);
    FilePython1 = MakeAction(QStringLiteral("FilePython1"), QStringLiteral("Python 環境(&P)..."),
                             QStringLiteral("Python 環境|スクリプトを実行する仮想環境を選ぶ"), {}, -1, file);

    auto guard = [this](void (TSDIAppForm::*handler)()) {
        return [this, handler] { RunGuarded([&] { (this->*handler)(); }, this); };
    };
    connect(FileNew1, &QAction::triggered, this, guard(&TSDIAppForm::FileNew1Execute));
    connect(FileOpen1, &QAction::triggered, this, guard(&TSDIAppForm::FileOpen1Execute));
    connect(FileSave1, &QAction::triggered, this, guard(&TSDIAppForm::FileSave1Execute));
    connect(FileSaveAs1, &QAction::triggered, this, guard(&TSDIAppForm::FileSave1Execute));
    connect(FileExport1, &QAction::triggered, this, guard(&TSDIAppForm::FileExport1Execute));
    connect(FileExit1, &QAction::triggered, this, guard(&TSDIAppForm::FileExit1Execute));
    connect(FilePython1, &QAction::triggered, this, guard(&TSDIAppForm::FilePython1Execute));
    connect(HelpAbout1, &QAction::triggered, this, guard(&TSDIAppForm::HelpAbout1Execute));
    connect(TestRun1, &QAction::triggered, this, guard(&TSDIAppForm::ToolButton5Click));
    connect(TestStop1, &QAction::triggered, this, &TSDIAppForm::StopRun);
    connect(ViewWordWrap1, &QAction::toggled, this, [this](bool on) { RunGuarded([&] { SetWordWrap(on); }, this); });
    connect(EditCut1, &QAction::triggered, this, [this] { EditAction(&QPlainTextEdit::cut); });
    connect(EditCopy1, &QAction::triggered, this, [this] { EditAction(&QPlainTextEdit::copy); });
    connect(EditPaste1, &QAction::triggered, this, [this] { EditAction(&QPlainTextEdit::paste); });
    BuildSearchActions();
    BuildLive();
}

void TSDIAppForm::BuildSearchActions()
{
    const QString search = QStringLiteral("検索");
    SearchFind1 = MakeAction(QStringLiteral("SearchFind1"), QStringLiteral("検索(&F)..."),
                             QStringLiteral("検索|スクリプトの中の文字列を検索"), QKeySequence(QStringLiteral("Ctrl+F")),
                             -1, search);
    SearchReplace1 = MakeAction(QStringLiteral("SearchReplace1"), QStringLiteral("置換(&R)..."),
                                QStringLiteral("置換|スクリプトの中の文字列を置き換える"),
                                QKeySequence(QStringLiteral("Ctrl+H")), -1, search);
    SearchFindNext1 = MakeAction(QStringLiteral("SearchFindNext1"), QStringLiteral("次を検索(&N)"),
                                 QStringLiteral("次を検索|次の一致箇所へ移動"), QKeySequence(Qt::Key_F3), -1, search);
    SearchFindPrev1 = MakeAction(QStringLiteral("SearchFindPrev1"), QStringLiteral("前を検索(&P)"),
                                 QStringLiteral("前を検索|前の一致箇所へ移動"), QKeySequence(Qt::SHIFT | Qt::Key_F3),
                                 -1, search);
    SearchGotoLine1 = MakeAction(QStringLiteral("SearchGotoLine1"), QStringLiteral("行へ移動(&G)..."),
                                 QStringLiteral("行へ移動|指定した行番号へ移動"), QKeySequence(QStringLiteral("Ctrl+G")),
                                 -1, search);
}

// The standard edit actions act on the focused memo pane only; the script
// editor has its own key bindings.
void TSDIAppForm::EditAction(void (QPlainTextEdit::*op)())
{
    QWidget* focus = QApplication::focusWidget();
    if (focus == Memo1 || focus == mePythonOutput)
        (static_cast<QPlainTextEdit*>(focus)->*op)();
}

void TSDIAppForm::BuildMenus()
{
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));
    File1 = bar->addMenu(QStringLiteral("ファイル(&F)"));
    File1->setObjectName(QStringLiteral("File1"));
    File1->menuAction()->setStatusTip(QStringLiteral("ファイル関連のコマンド"));
    File1->addAction(FileNew1);
    File1->addAction(FileOpen1);
    File1->addAction(FileSave1);
    File1->addAction(FileSaveAs1);
    File1->addAction(FileExport1);
    File1->addAction(FilePython1);
    File1->addSeparator()->setObjectName(QStringLiteral("N1"));
    idR = File1->addMenu(QStringLiteral("最近使ったファイル"));
    idR->setObjectName(QStringLiteral("idR"));
    File1->addSeparator()->setObjectName(QStringLiteral("FileRecent"));
    File1->addAction(FileExit1);

    S1 = bar->addMenu(QStringLiteral("検索(&S)"));
    S1->setObjectName(QStringLiteral("S1"));
    S1->menuAction()->setStatusTip(QStringLiteral("検索と移動のコマンド"));
    for (QAction* a : {SearchFind1, SearchReplace1, SearchFindNext1, SearchFindPrev1})
        S1->addAction(a);
    S1->addSeparator();
    S1->addAction(SearchGotoLine1);

    V1 = bar->addMenu(QStringLiteral("表示(&V)"));
    V1->setObjectName(QStringLiteral("V1"));
    V1->menuAction()->setStatusTip(QStringLiteral("表示の設定"));
    V1->addAction(ViewWordWrap1);

    T1 = bar->addMenu(QStringLiteral("テスト(&T)"));
    T1->setObjectName(QStringLiteral("T1"));
    T1->addAction(TestRun1);
    T1->addAction(TestStop1);
    T1->addAction(TestLive1);

    Help1 = bar->addMenu(QStringLiteral("ヘルプ(&H)"));
    Help1->setObjectName(QStringLiteral("Help1"));
    Help1->menuAction()->setStatusTip(QStringLiteral("ヘルプトピック"));
    Help1->addAction(HelpAbout1);
    Help1->menuAction()->setVisible(false);
}

void TSDIAppForm::BuildToolBar()
{
    ToolBar1 = addToolBar(QStringLiteral("ToolBar1"));
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setToolButtonStyle(Qt::ToolButtonIconOnly);

    auto button = [this](const char* name, QAction* action) {
        ToolBar1->addAction(action);
        auto* b = qobject_cast<QToolButton*>(ToolBar1->widgetForAction(action));
        b->setObjectName(QString::fromLatin1(name));
        b->setAccessibleName(action->toolTip()); // the hint's short text, as the run button's
        return b;
    };
    ToolButton9 = button("ToolButton9", FileNew1);
    ToolButton1 = button("ToolButton1", FileOpen1);
    ToolButton2 = button("ToolButton2", FileSave1);

    auto* spacer = new QWidget(ToolBar1);
    spacer->setFixedWidth(8);
    ToolButton3 = ToolBar1->addWidget(spacer);
    ToolButton3->setObjectName(QStringLiteral("ToolButton3"));

    ToolButton5 = new QToolButton(ToolBar1);
    ToolButton5->setObjectName(QStringLiteral("ToolButton5"));
    ToolButton5->setIcon(ImageListIcon(15));
    ToolButton5->setToolButtonStyle(Qt::ToolButtonIconOnly);
    SetHint(ToolButton5, SRunHint);
    ToolBar1->addWidget(ToolButton5);
    connect(ToolButton5, &QToolButton::clicked, this, [this] { RunGuarded([this] { ToolButton5Click(); }, this); });

    SpinEdit1 = new TSpinEdit(ToolBar1);
    SpinEdit1->setObjectName(QStringLiteral("SpinEdit1"));
    SpinEdit1->setAccessibleName(QStringLiteral("実行する関数の番号"));
    SpinEdit1->setRange(1, 8);
    SpinEdit1->setValue(1);
    SpinEdit1->setFixedWidth(47);
    ToolBar1->addWidget(SpinEdit1);
    ToolButton6 = button("ToolButton6", TestLive1);
}

void TSDIAppForm::BuildPanes()
{
    Splitter1 = new QSplitter(Qt::Vertical, this);
    Splitter1->setObjectName(QStringLiteral("Splitter1"));
    Splitter1->setChildrenCollapsible(false);

    HeaderControl1 = new THeaderControl(QStringLiteral("Python Source code"), nullptr);
    HeaderControl1->setObjectName(QStringLiteral("HeaderControl1"));
    ToolBar2 = new QToolBar(QStringLiteral("ToolBar2"));
    ToolBar2->setObjectName(QStringLiteral("ToolBar2"));
    BtnPlay = ToolBar2->addAction(ImageListIcon(15), QStringLiteral("Play"));
    BtnPlay->setObjectName(QStringLiteral("BtnPlay"));
    BtnPlay->setToolTip(QStringLiteral("Play"));
    ToolBar2->setVisible(false);
    BuildEditor();
    FindBar1 = new TFindBar(sePythonCode, statusBar());
    connect(SearchFind1, &QAction::triggered, FindBar1, &TFindBar::OpenFind);
    connect(SearchReplace1, &QAction::triggered, FindBar1, &TFindBar::OpenReplace);
    connect(SearchFindNext1, &QAction::triggered, FindBar1, &TFindBar::FindNext);
    connect(SearchFindPrev1, &QAction::triggered, FindBar1, &TFindBar::FindPrevious);
    connect(SearchGotoLine1, &QAction::triggered, FindBar1, &TFindBar::OpenGotoLine);
    Splitter1->addWidget(Stack(Splitter1, {HeaderControl1, ToolBar2, sePythonCode, FindBar1}, sePythonCode));

    Splitter2 = new QSplitter(Qt::Horizontal, Splitter1);
    Splitter2->setObjectName(QStringLiteral("Splitter2"));
    Splitter2->setChildrenCollapsible(false);

    HeaderControl3 = new THeaderControl(QStringLiteral("json Output"), nullptr);
    HeaderControl3->setObjectName(QStringLiteral("HeaderControl3"));
    Memo1 = new QPlainTextEdit();
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setAccessibleName(HeaderControl3->text());
    Splitter2->addWidget(Stack(Splitter2, {HeaderControl3, Memo1}, Memo1));

    HeaderControl2 = new THeaderControl(QStringLiteral("Python Output"), nullptr);
    HeaderControl2->setObjectName(QStringLiteral("HeaderControl2"));
    mePythonOutput = new QPlainTextEdit();
    mePythonOutput->setObjectName(QStringLiteral("mePythonOutput"));
    mePythonOutput->setAccessibleName(HeaderControl2->text());
    mePythonOutput->setFont(sePythonCode->font());
    mePythonOutput->setLineWrapMode(QPlainTextEdit::NoWrap);
    ListBox = new QListWidget();
    ListBox->setObjectName(QStringLiteral("ListBox"));
    ListBox->setAccessibleName(QStringLiteral("履歴"));
    auto* outputPane = new TOutputPane(mePythonOutput, ListBox, nullptr);
    // A double click on a traceback frame of the script shows that line.
    new TLineDoubleClick(mePythonOutput, [this](const QString& line) { return GotoTracebackLine(line); });
    Splitter2->addWidget(Stack(Splitter2, {HeaderControl2, outputPane}, outputPane));
    Splitter1->addWidget(Splitter2);

    // The script pane takes what a resize gives; the result panes keep their size.
    Splitter1->setStretchFactor(0, 1);
    Splitter1->setStretchFactor(1, 0);
    Splitter1->setSizes({349, 525 - 349});
    Splitter2->setSizes({551, 1118 - 551});
    const QString handle = QStringLiteral("QSplitter::handle { background-color: rgb(243, 243, 243); }");
    Splitter1->setStyleSheet(handle);
    setCentralWidget(Splitter1);

    statusBar()->setObjectName(QStringLiteral("StatusBar"));
    statusBar()->setFixedHeight(19);
    lblPython = new QLabel(statusBar());
    lblPython->setObjectName(QStringLiteral("lblPython"));
    statusBar()->addPermanentWidget(lblPython);
}

void TSDIAppForm::BuildEditor()
{
    sePythonCode = new TCodeEditor();
    sePythonCode->setObjectName(QStringLiteral("sePythonCode"));
    sePythonCode->setAccessibleName(HeaderControl1->text());
    PythonHighlighter1 = std::make_unique<editor::TPythonHighlighter>();
    sePythonCode->SetHighlighter(PythonHighlighter1.get());
    sePythonCode->SetTabWidth(4);
    sePythonCode->SetWantTabs(true);
    sePythonCode->SetUseCodeFolding(false);
    PythonEditBehaviour = std::make_unique<editor::TPythonEditBehaviour>();
    PythonEditBehaviour->SetEditor(&sePythonCode->Engine());
}

bool TSDIAppForm::GotoTracebackLine(const QString& text)
{
    const int line = TracebackLine(text, SScriptFile);
    if (line <= 0)
        return false;
    sePythonCode->GotoLine(line);
    sePythonCode->setFocus();
    return true;
}

void TSDIAppForm::FormCreate()
{
    OpenFileHistories1->SelfKeyName = QStringLiteral("Quorbel");
    // A damaged history store is reported but must not keep the window (and
    // its default script) from starting.
    RunGuarded([this] { OpenFileHistories1->UpDate(); }, this);
    UpdateRecentMenu();
    fSysScript = EditorText();
    fOrigScript = fSysScript;
}

QString TSDIAppForm::EditorText() const { return sePythonCode->Text(); }

void TSDIAppForm::SetEditorText(const QString& text) { sePythonCode->SetText(text); }

bool TSDIAppForm::IsModified() const { return fRestored || EditorText() != fOrigScript; }

platform::ModalResult TSDIAppForm::AskAboutChanges(const QString& question)
{
    platform::MessageRequest ask;
    ask.owner = this;
    ask.text = question;
    ask.caption = SWarning;
    ask.type = platform::MsgDlgType::mtWarning;
    ask.buttons = platform::mbYes | platform::mbNo | platform::mbCancel;
    return platform::CurrentDialogs().MessageBox(ask);
}

void TSDIAppForm::FileNew1Execute()
{
    if (IsModified()) {
        switch (AskAboutChanges(SModifiedSave)) {
        case platform::ModalResult::mrCancel:
            return;
        case platform::ModalResult::mrYes:
            FileSave1Execute();
            return;
        default:
            break;
        }
    }
    fFilePath.clear();
    SetEditorText(fSysScript);
    fOrigScript = fSysScript;
    DocumentReset();
    UpdateTitle();
}

bool TSDIAppForm::ConfirmDiscardBeforeOpen()
{
    if (!IsModified())
        return true;
    switch (AskAboutChanges(SModified)) {
    case platform::ModalResult::mrCancel:
        return false;
    case platform::ModalResult::mrYes:
        FileSave1Execute();
        return false;
    default:
        return true;
    }
}

void TSDIAppForm::FileOpen1Execute()
{
    platform::FileDialogRequest request;
    request.owner = this;
    request.save = false;
    request.filter = OpenDialogFilter;
    request.defaultExt = QStringLiteral(".py");
    request.folder = DialogStartFolder(fFilePath, OpenFileHistories1->List());
    auto chosen = platform::CurrentDialogs().FileDialog(request);
    if (!chosen)
        return;
    OpenScript(*chosen);
}

void TSDIAppForm::OpenScript(const QString& fileName)
{
    // The script cannot be replaced while a run is in progress.
    if (IsRunning())
        return;
    if (!ConfirmDiscardBeforeOpen())
        return;
    // Read first: a file that cannot be read changes nothing.
    const QString text = LoadScriptFile(fileName);
    AddToHistory(fileName);
    SetEditorText(text);
    fFilePath = fileName;
    fOrigScript = EditorText();
    DocumentReset();
    UpdateTitle();
}

void TSDIAppForm::AddToHistory(const QString& fileName)
{
    OpenFileHistories1->AddHistory(fileName);
    OpenFileHistories1->UpDate();
    UpdateRecentMenu();
}

void TSDIAppForm::UpdateRecentMenu()
{
    // An empty submenu is never opened: once shown empty, the File menu
    // would not open it again when files arrive later.
    idR->menuAction()->setEnabled(!idR->actions().isEmpty() && !IsRunning());
}

TSDIAppForm::SaveOutcome TSDIAppForm::SaveWithDialog()
{
    platform::FileDialogRequest request;
    request.owner = this;
    request.save = true;
    request.filter = OpenDialogFilter;
    request.defaultExt = QStringLiteral("py");
    request.fileName = fFilePath;
    request.folder = DialogStartFolder(fFilePath, OpenFileHistories1->List());
    auto chosen = platform::CurrentDialogs().FileDialog(request);
    if (!chosen)
        return SaveOutcome::Cancelled;
    fFilePath = *chosen;
    // A damaged recent-file store must not keep the user from saving: its
    // error is shown once the file is written.
    std::optional<QString> historyError;
    try {
        AddToHistory(fFilePath);
    } catch (const platform::Exception& error) {
        historyError = error.Message();
    }
    const QString text = EditorText();
    SaveScriptFile(fFilePath, text);
    // The baseline is the text as the editor held it, so a just-saved
    // document is not modified.
    fOrigScript = text;
    DocumentReset();
    UpdateTitle();
    if (historyError)
        ShowErrorBox(*historyError, this);
    return SaveOutcome::Written;
}

void TSDIAppForm::FileSave1Execute() { SaveWithDialog(); }

void TSDIAppForm::FileExport1Execute()
{
    const QFileInfo script(fFilePath.isEmpty() ? QStringLiteral("無題.py") : fFilePath);
    platform::FileDialogRequest request;
    request.owner = this;
    request.save = true;
    request.filter = QStringLiteral("HTML (*.html)|*.html");
    request.defaultExt = QStringLiteral("html");
    const QString pageName = script.completeBaseName() + QStringLiteral(".html");
    request.fileName = fFilePath.isEmpty() ? pageName : script.absolutePath() + u'/' + pageName;
    request.folder = DialogStartFolder(fFilePath, OpenFileHistories1->List());
    const auto chosen = platform::CurrentDialogs().FileDialog(request);
    if (!chosen)
        return;
    editor::THtmlStyle style = sePythonCode->HtmlStyle();
    style.Title = script.fileName();
    // Written, and a failure reported, as a save is.
    SaveDocumentFile(*chosen, editor::HtmlDocument(sePythonCode->Engine().Lines(), PythonHighlighter1.get(), style));
}

void TSDIAppForm::FileExit1Execute() { close(); }

void TSDIAppForm::HelpAbout1Execute()
{
    if (!AboutBox)
        return;
    // The box names the Python in use, with its library once one is loaded.
    const QString library = PythonEngine->LoadedLibraryFile();
    AboutBox->Comments->setText(library.isEmpty() ? PythonInUseText() : PythonInUseText() + u'\n' + library);
    if (QScreen* screen = AboutBox->screen())
        AboutBox->move(screen->geometry().center() - AboutBox->rect().center());
    AboutBox->exec();
}


void TSDIAppForm::UpdateTitle()
{
    QString caption = fFilePath.isEmpty() ? QStringLiteral("無題") : fFilePath.mid(fFilePath.lastIndexOf(u'/') + 1);
    setWindowTitle(caption + QStringLiteral("  Quorbel"));
}

void TSDIAppForm::closeEvent(QCloseEvent* event)
{
    if (fEndingBySignal) {
        event->accept();
        return;
    }
    if (IsRunning()) {
        // The run ends first; then the window closes as usual, asking about
        // unsaved changes.
        event->ignore();
        // A live run is only a preview: it is abandoned without a question.
        if (FLive->Running() && !fRunningShown) {
            if (fAfterRun == TAfterRun::arNothing)
                fAfterRun = TAfterRun::arClose;
            AbandonLiveRun();
            return;
        }
        platform::MessageRequest ask;
        ask.owner = this;
        ask.text = SStopBeforeClose;
        ask.caption = SWarning;
        ask.type = platform::MsgDlgType::mtConfirmation;
        ask.buttons = platform::mbYes | platform::mbNo;
        if (platform::CurrentDialogs().MessageBox(ask) == platform::ModalResult::mrYes && IsRunning()) {
            if (fAfterRun == TAfterRun::arNothing)
                fAfterRun = TAfterRun::arClose;
            StopRun();
        }
        return;
    }
    if (!IsModified()) {
        event->accept();
        return;
    }
    switch (AskAboutChanges(SModifiedSave)) {
    case platform::ModalResult::mrYes: {
        bool written = false;
        RunGuarded([&] { written = SaveWithDialog() == SaveOutcome::Written; }, this);
        if (written)
            event->accept();
        else
            event->ignore();
        return;
    }
    case platform::ModalResult::mrNo:
        event->accept();
        return;
    default:
        event->ignore();
        return;
    }
}
