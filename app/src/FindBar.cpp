#include "app/FindBar.h"

#include "editor/TextSearch.h"
#include "widgets/CodeEditorControl.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QStatusBar>
#include <QToolButton>
#include <QVBoxLayout>

using editor::TSearchPattern;
using editor::TLineMatch;
using editor::TMatchStatus;
using editor::ForEachMatch;
using editor::CoordOfIndexes;
using editor::LineIndex;
using editor::TSearchOptions;
using editor::TFindRun;
using editor::TCountRun;
using editor::TSearchClock;
using editor::TBufferCoord;
using editor::ESearchError;
using editor::ReplaceSelection;
using editor::TEditorCore;
using editor::ChainEvent;

namespace {

// What a search may take before it goes on in steps, and each later step.
constexpr auto kFirstSlice = std::chrono::milliseconds(100);
constexpr auto kStepSlice = std::chrono::milliseconds(30);

const QString SNotFound = QStringLiteral(u"「%1」は見つかりません");
const QString SWrappedToTop = QStringLiteral(u"末尾まで検索したので先頭から続けました");
const QString SWrappedToBottom = QStringLiteral(u"先頭まで検索したので末尾から続けました");
const QString SSearching = QStringLiteral(u"検索しています…");

} // namespace

// Marks every match on the lines in view, over the editor's own painting.
class TFindBar::TMatchOverlay : public QWidget {
public:
    TMatchOverlay(TCodeEditor* editor, const TFindBar* bar)
        : QWidget(editor->viewport())
        , FEditor(editor)
        , FBar(bar)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setGeometry(editor->viewport()->rect());
        editor->viewport()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Resize)
            setGeometry(FEditor->viewport()->rect());
        return false;
    }

    void paintEvent(QPaintEvent*) override
    {
        const TSearchPattern& pattern = FBar->Pattern();
        if (!pattern.IsValid() || !FBar->isVisible() || FBar->Mode() == TMode::GotoLine)
            return;
        QPainter p(this);
        p.setClipRect(QRect(FEditor->TextLeft(), 0, width() - FEditor->TextLeft(), height()));
        const QColor fill(255, 200, 0, 90);
        const int lineHeight = FEditor->Grid().LineHeight();
        const int first = FEditor->PositionAt(QPoint(FEditor->TextLeft(), 0)).Line;
        const int last = FEditor->PositionAt(QPoint(FEditor->TextLeft(), height() - 1)).Line;
        const editor::TCustomCodeEditor& engine = FEditor->Engine();
        for (int line = first; line <= last && line <= engine.LineCount(); ++line) {
            const QString& text = engine.LineAt(line);
            const auto mark = [&](TLineMatch m) {
                const QPoint a = FEditor->PointOf(CoordOfIndexes(m.Start, LineIndex(line)));
                const QPoint b = FEditor->PointOf(CoordOfIndexes(m.End, LineIndex(line)));
                p.fillRect(QRect(a.x(), a.y(), std::max(2, b.x() - a.x()), lineHeight), fill);
            };
            if (ForEachMatch(pattern, text, mark) == TMatchStatus::Error)
                break;
        }
    }

private:
    TCodeEditor* FEditor;
    const TFindBar* FBar;
};

TFindBar::TFindBar(TCodeEditor* editor, QStatusBar* status, QWidget* parent)
    : QWidget(parent)
    , FEditor(editor)
    , FStatus(status)
    , FPattern(std::make_unique<TSearchPattern>())
    , FAlive(std::make_shared<bool>(true))
{
    setObjectName(QStringLiteral("FindBar1"));
    auto* rows = new QVBoxLayout(this);
    rows->setContentsMargins(4, 2, 4, 2);
    rows->setSpacing(2);

    FFindRow = new QWidget(this);
    auto* find = new QHBoxLayout(FFindRow);
    find->setContentsMargins(0, 0, 0, 0);
    FindField = new QLineEdit(FFindRow);
    FindField->setObjectName(QStringLiteral("FindField"));
    FindField->setPlaceholderText(QStringLiteral(u"検索"));
    MatchCase = new QCheckBox(QStringLiteral(u"大文字と小文字を区別(&C)"), FFindRow);
    WholeWord = new QCheckBox(QStringLiteral(u"単語単位(&W)"), FFindRow);
    RegExp = new QCheckBox(QStringLiteral(u"正規表現(&E)"), FFindRow);
    auto* prev = new QPushButton(QStringLiteral(u"前へ"), FFindRow);
    auto* next = new QPushButton(QStringLiteral(u"次へ"), FFindRow);
    CountLabel = new QLabel(FFindRow);
    CountLabel->setObjectName(QStringLiteral("CountLabel"));
    ErrorLabel = new QLabel(FFindRow);
    ErrorLabel->setObjectName(QStringLiteral("ErrorLabel"));
    ErrorLabel->setStyleSheet(QStringLiteral("color: #c00000;"));
    auto* close = new QToolButton(FFindRow);
    close->setText(QStringLiteral(u"×"));
    close->setAutoRaise(true);
    find->addWidget(FindField, 1);
    for (QWidget* w : std::initializer_list<QWidget*>{MatchCase, WholeWord, RegExp, prev, next, CountLabel, ErrorLabel})
        find->addWidget(w);
    find->addStretch();
    find->addWidget(close);
    rows->addWidget(FFindRow);

    FReplaceRow = new QWidget(this);
    auto* replace = new QHBoxLayout(FReplaceRow);
    replace->setContentsMargins(0, 0, 0, 0);
    ReplaceField = new QLineEdit(FReplaceRow);
    ReplaceField->setObjectName(QStringLiteral("ReplaceField"));
    ReplaceField->setPlaceholderText(QStringLiteral(u"置換後の文字列 ($1 でグループ)"));
    ReplaceButton = new QPushButton(QStringLiteral(u"置換"), FReplaceRow);
    ReplaceAllButton = new QPushButton(QStringLiteral(u"すべて置換"), FReplaceRow);
    replace->addWidget(ReplaceField, 1);
    replace->addWidget(ReplaceButton);
    replace->addWidget(ReplaceAllButton);
    replace->addStretch();
    rows->addWidget(FReplaceRow);

    FLineRow = new QWidget(this);
    auto* lineRow = new QHBoxLayout(FLineRow);
    lineRow->setContentsMargins(0, 0, 0, 0);
    lineRow->addWidget(new QLabel(QStringLiteral(u"行番号:"), FLineRow));
    LineField = new QLineEdit(FLineRow);
    LineField->setObjectName(QStringLiteral("LineField"));
    LineField->setValidator(new QIntValidator(1, 1 << 30, LineField));
    LineField->setMaximumWidth(120);
    auto* go = new QPushButton(QStringLiteral(u"移動"), FLineRow);
    auto* closeLine = new QToolButton(FLineRow);
    closeLine->setText(QStringLiteral(u"×"));
    closeLine->setAutoRaise(true);
    lineRow->addWidget(LineField);
    lineRow->addWidget(go);
    lineRow->addStretch();
    lineRow->addWidget(closeLine);
    rows->addWidget(FLineRow);

    for (QLineEdit* field : {FindField, ReplaceField, LineField})
        field->installEventFilter(this);
    connect(FindField, &QLineEdit::textEdited, this, &TFindBar::PatternChanged);
    for (QCheckBox* box : {MatchCase, WholeWord, RegExp})
        connect(box, &QCheckBox::toggled, this, &TFindBar::PatternChanged);
    connect(prev, &QPushButton::clicked, this, &TFindBar::FindPrevious);
    connect(next, &QPushButton::clicked, this, &TFindBar::FindNext);
    connect(ReplaceButton, &QPushButton::clicked, this, &TFindBar::ReplaceOne);
    connect(ReplaceAllButton, &QPushButton::clicked, this, &TFindBar::ReplaceAll);
    connect(go, &QPushButton::clicked, this, &TFindBar::GotoLine);
    connect(close, &QToolButton::clicked, this, &TFindBar::Close);
    connect(closeLine, &QToolButton::clicked, this, &TFindBar::Close);
    FFindTimer.setSingleShot(true);
    FCountTimer.setSingleShot(true);
    connect(&FFindTimer, &QTimer::timeout, this, &TFindBar::ContinueFind);
    connect(&FCountTimer, &QTimer::timeout, this, &TFindBar::ContinueCount);

    FOverlay = new TMatchOverlay(editor, this);
    // Edits, New and Open change the text under the count and the marks.
    std::weak_ptr<bool> alive = FAlive;
    ChainEvent(editor->Engine().OnLinesInvalidated, [this, alive](TEditorCore*, int, int) {
        if (!alive.expired())
            TextChanged();
    });
    hide();
}

TFindBar::~TFindBar()
{
    FAlive.reset();
    StopRuns();
}

void TFindBar::ShowMode(TMode mode)
{
    FMode = mode;
    FFindRow->setVisible(mode != TMode::GotoLine);
    FReplaceRow->setVisible(mode == TMode::Replace);
    FLineRow->setVisible(mode == TMode::GotoLine);
    show();
    FOverlay->update();
}

void TFindBar::TakeSelectionAsPattern()
{
    editor::TCustomCodeEditor& engine = FEditor->Engine();
    QString text;
    if (engine.SelAvail() && engine.BlockBegin().Line == engine.BlockEnd().Line) {
        text = engine.SelText();
    } else if (!engine.SelAvail()) {
        // The word around the caret is selected, so the search keeps it.
        const QString& line = engine.LineText();
        int start = std::min(int(line.size()), editor::CharIndexOf(engine.CaretXY()));
        while (start > 0 && editor::IsSearchWordChar(line[start - 1].unicode()))
            --start;
        int end = start;
        while (end < line.size() && editor::IsSearchWordChar(line[end].unicode()))
            ++end;
        if (end > start) {
            text = line.mid(start, end - start);
            const int y = engine.CaretY();
            engine.SetSelection({editor::CharOfIndex(start), y}, {editor::CharOfIndex(end), y});
        }
    }
    if (!text.isEmpty()) {
        // A selected word is searched as written, also with expressions on.
        FindField->setText(RegExp->isChecked() ? QRegularExpression::escape(text) : text);
    }
}

void TFindBar::OpenFind()
{
    TakeSelectionAsPattern();
    ShowMode(TMode::Find);
    FindField->setFocus();
    FindField->selectAll();
    PatternChanged();
}

void TFindBar::OpenReplace()
{
    TakeSelectionAsPattern();
    ShowMode(TMode::Replace);
    FindField->setFocus();
    FindField->selectAll();
    PatternChanged();
}

void TFindBar::OpenGotoLine()
{
    ShowMode(TMode::GotoLine);
    LineField->setText(QString::number(FEditor->Engine().CaretY()));
    LineField->setFocus();
    LineField->selectAll();
}

void TFindBar::Close()
{
    StopRuns();
    hide();
    FOverlay->update();
    FEditor->setFocus();
}

void TFindBar::Note(const QString& text)
{
    if (FStatus)
        FStatus->showMessage(text);
}

void TFindBar::PatternChanged()
{
    StopRuns();
    FPattern = std::make_unique<TSearchPattern>(FindField->text(),
        TSearchOptions{MatchCase->isChecked(), WholeWord->isChecked(), RegExp->isChecked()});
    ErrorLabel->setText(FPattern->ErrorText());
    CountLabel->clear();
    FOverlay->update();
    if (!FPattern->IsValid())
        return;
    // Typing extends the match at the selection rather than moving on.
    StartFind(false, FEditor->Engine().BlockBegin(), true);
    if (!FFind && !FCount)
        StartCount();
}

void TFindBar::TextChanged()
{
    if (!isVisible() || !FPattern->IsValid())
        return;
    FOverlay->update();
    // Counted again once the edits of this event-loop turn are done.
    FCount.reset();
    FCountTimer.start(0);
}

void TFindBar::FindNext()
{
    if (!isVisible() || FMode == TMode::GotoLine || FindField->text().isEmpty()) {
        OpenFind();
        return;
    }
    StartFind(false, FEditor->Engine().BlockEnd(), false);
}

void TFindBar::FindPrevious()
{
    if (!isVisible() || FMode == TMode::GotoLine || FindField->text().isEmpty()) {
        OpenFind();
        return;
    }
    StartFind(true, FEditor->Engine().BlockBegin(), false);
}

void TFindBar::StartFind(bool backward, TBufferCoord from, bool acceptEmptyAtFrom)
{
    FFindTimer.stop();
    FFind.reset();
    if (!FPattern->IsValid())
        return;
    FFind = std::make_unique<TFindRun>(FEditor->Engine().Lines(), *FPattern, from, backward, acceptEmptyAtFrom);
    FFindBackward = backward;
    if (FFind->Step(TSearchClock::now() + kFirstSlice)) {
        FinishFind();
        return;
    }
    Note(SSearching);
    FFindTimer.start(0);
}

void TFindBar::ContinueFind()
{
    if (!FFind)
        return;
    if (FFind->Step(TSearchClock::now() + kStepSlice))
        FinishFind();
    else
        FFindTimer.start(0);
}

void TFindBar::FinishFind()
{
    const std::unique_ptr<TFindRun> run = std::move(FFind);
    if (!run->Error().isEmpty()) {
        ErrorLabel->setText(run->Error());
        Note(run->Error());
    } else if (const auto& m = run->Match()) {
        FEditor->Engine().SetSelection(m->Start, m->End);
        if (run->Wrapped())
            Note(FFindBackward ? SWrappedToBottom : SWrappedToTop);
        else if (FStatus && FStatus->currentMessage() == SSearching)
            FStatus->clearMessage();
    } else {
        Note(SNotFound.arg(FPattern->Pattern()));
    }
    emit SearchDone();
    if (!FCount)
        StartCount();
}

void TFindBar::StartCount()
{
    FCountTimer.stop();
    FCount = std::make_unique<TCountRun>(FEditor->Engine().Lines(), *FPattern);
    ContinueCount();
}

void TFindBar::ContinueCount()
{
    if (!FCount) {
        // Started by a text change.
        if (!FPattern->IsValid())
            return;
        FCount = std::make_unique<TCountRun>(FEditor->Engine().Lines(), *FPattern);
    }
    if (!FCount->Step(TSearchClock::now() + kStepSlice)) {
        CountLabel->setText(QStringLiteral(u"%1 件以上").arg(FCount->Count()));
        FCountTimer.start(0);
        return;
    }
    if (!FCount->Error().isEmpty()) {
        ErrorLabel->setText(FCount->Error());
        CountLabel->clear();
    } else {
        CountLabel->setText(QStringLiteral(u"%1 件").arg(FCount->Count()));
    }
    emit SearchDone();
}

bool TFindBar::Busy() const
{
    return FFind || FCountTimer.isActive() || FFindTimer.isActive();
}

void TFindBar::StopRuns()
{
    FFindTimer.stop();
    FCountTimer.stop();
    FFind.reset();
    FCount.reset();
}

void TFindBar::ReplaceOne()
{
    if (!FPattern->IsValid())
        return;
    try {
        ReplaceSelection(FEditor->Engine(), *FPattern, ReplaceField->text());
    } catch (const ESearchError& error) {
        ErrorLabel->setText(error.Message());
        return;
    }
    FindNext();
}

void TFindBar::ReplaceAll()
{
    if (!FPattern->IsValid())
        return;
    StopRuns();
    try {
        const long long n = editor::ReplaceAll(FEditor->Engine(), *FPattern, ReplaceField->text());
        Note(QStringLiteral(u"%1 件置換しました").arg(n));
    } catch (const ESearchError& error) {
        ErrorLabel->setText(error.Message());
        Note(error.Message());
    }
    StartCount();
}

void TFindBar::GotoLine()
{
    bool ok = false;
    const int line = LineField->text().toInt(&ok);
    if (!ok)
        return;
    FEditor->GotoLine(line);
    Close();
}

bool TFindBar::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride)
        return QWidget::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    if (key->key() != Qt::Key_Escape && !enter)
        return QWidget::eventFilter(watched, event);
    // The field keeps Esc and Enter from the window's shortcuts.
    if (event->type() == QEvent::ShortcutOverride) {
        event->accept();
        return true;
    }
    if (key->key() == Qt::Key_Escape)
        Close();
    else if (watched == LineField)
        GotoLine();
    else if (watched == ReplaceField)
        ReplaceOne();
    else if (key->modifiers() & Qt::ShiftModifier)
        FindPrevious();
    else
        FindNext();
    return true;
}
