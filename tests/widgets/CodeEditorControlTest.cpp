// The script editor control driven through real Qt events: keys, input
// method, clipboard, mouse, drops and painting.
#include "editor/PythonEditBehaviour.h"
#include "editor/PythonHighlighter.h"
#include "widgets/CodeEditorControl.h"
#include "widgets/TextPainter.h"
#include "editor/WrapRows.h"

#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QInputMethodEvent>
#include <QMenu>
#include <QMimeData>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTest>
#include <QToolTip>

#include <functional>
#include <gtest/gtest.h>

using editor::TBufferCoord;

namespace {

// The editor as the main window sets it up.
class Control : public ::testing::Test {
protected:
    editor::TPythonHighlighter highlighter;
    editor::TPythonEditBehaviour behaviour;
    TCodeEditor w;

    Control()
    {
        w.SetHighlighter(&highlighter);
        w.SetTabWidth(4);
        w.SetWantTabs(true);
        behaviour.SetEditor(&w.Engine());
        w.resize(600, 300);
    }
    ~Control() override
    {
        behaviour.SetEditor(nullptr);
        w.SetHighlighter(nullptr);
    }
    void Key(Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier) { QTest::keyClick(&w, key, mods); }
    // A key pressed while Ctrl is already down: no Ctrl key event of its own.
    void HeldCtrl(Qt::Key key)
    {
        const QString text = key >= Qt::Key_A && key <= Qt::Key_Z ? QString(QChar(key - Qt::Key_A + 1)) : QString();
        QKeyEvent press(QEvent::KeyPress, key, Qt::ControlModifier, text);
        QApplication::sendEvent(&w, &press);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::ControlModifier, text);
        QApplication::sendEvent(&w, &release);
    }
    void Type(const QString& text) { QTest::keyClicks(&w, text); }
    TBufferCoord Caret() const { return w.Engine().CaretXY(); }
    void Click(TBufferCoord at, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        QTest::mouseClick(w.viewport(), Qt::LeftButton, mods, Center(at));
    }
    // Centre of the cell where a position's character is drawn.
    QPoint Center(TBufferCoord at) const
    {
        const QPoint p = w.PointOf(at);
        return p + QPoint(int(w.Grid().CellWidth() / 2), w.Grid().LineHeight() / 2);
    }
    QImage Render()
    {
        QImage image(w.viewport()->size(), QImage::Format_RGB32);
        image.fill(Qt::magenta);
        w.viewport()->render(&image);
        return image;
    }
};

TEST_F(Control, TabGoesToTheNextStopAndShiftTabUnindents)
{
    w.SetText(QStringLiteral("ab"));
    w.Engine().SetCaretXY({3, 1});
    Key(Qt::Key_Tab);
    EXPECT_EQ(w.Text(), QStringLiteral("ab  "));
    Key(Qt::Key_Tab); // column 5: a whole stop
    EXPECT_EQ(w.Text(), QStringLiteral("ab      "));

    w.SetText(QStringLiteral("      x"));
    w.Engine().SetCaretXY({8, 1});
    Key(Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(w.Text(), QStringLiteral("  x"));
    EXPECT_TRUE(w.hasFocus() || !w.isVisible()); // the key stayed in the editor
}

TEST_F(Control, EnterIndentsAfterColonAndAutoIndents)
{
    w.SetText(QString());
    Type(QStringLiteral("def f(x):"));
    Key(Qt::Key_Return);
    Type(QStringLiteral("return x"));
    Key(Qt::Key_Return);
    EXPECT_EQ(w.Text(), QStringLiteral("def f(x):\r\n    return x\r\n    "));
    EXPECT_EQ(Caret(), (TBufferCoord{5, 3}));
}

TEST_F(Control, EnterAndCtrlMEachInsertOneLineBreak)
{
    w.SetText(QStringLiteral("ab"));
    w.Engine().SetCaretXY({2, 1});
    Key(Qt::Key_Return);
    EXPECT_EQ(w.Text(), QStringLiteral("a\r\nb"));
    Key(Qt::Key_M, Qt::ControlModifier);
    EXPECT_EQ(w.Text(), QStringLiteral("a\r\n\r\nb"));
    Key(Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(w.Text(), QStringLiteral("a\r\n\r\n\r\nb"));
}

TEST_F(Control, SmartBackspaceGoesBackToTheOuterIndent)
{
    w.SetText(QStringLiteral("    if a:\r\n        if b:"));
    w.Engine().SetCaretXY({9, 2});
    Key(Qt::Key_Backspace);
    EXPECT_EQ(w.Engine().Lines().Get(1), QStringLiteral("    if b:"));
    w.SetText(QStringLiteral("        if a:"));
    w.Engine().SetCaretXY({9, 1});
    Key(Qt::Key_Backspace);
    EXPECT_EQ(w.Text(), QStringLiteral("if a:"));
}

TEST_F(Control, HomeTwiceAndChords)
{
    w.SetText(QStringLiteral("    pass"));
    w.Engine().SetCaretXY({7, 1});
    Key(Qt::Key_Home);
    EXPECT_EQ(Caret().Char, 5);
    Key(Qt::Key_Home);
    EXPECT_EQ(Caret().Char, 1);
    Key(Qt::Key_Home);
    EXPECT_EQ(Caret().Char, 1);

    w.SetText(QStringLiteral("ABC def"));
    Key(Qt::Key_End, Qt::ShiftModifier);
    // Ctrl is held through both strokes (a modifier key of its own resets
    // a pending chord).
    HeldCtrl(Qt::Key_K);
    HeldCtrl(Qt::Key_L);
    EXPECT_EQ(w.Text(), QStringLiteral("abc def"));
    HeldCtrl(Qt::Key_K);
    HeldCtrl(Qt::Key_U);
    EXPECT_EQ(w.Text(), QStringLiteral("ABC DEF"));
    // Ctrl+K then a key that completes no chord runs that key alone.
    HeldCtrl(Qt::Key_K);
    HeldCtrl(Qt::Key_Home);
    EXPECT_EQ(Caret(), (TBufferCoord{1, 1}));
    EXPECT_EQ(w.Text(), QStringLiteral("ABC DEF"));
}

TEST_F(Control, KeypadKeysMoveAndType)
{
    w.SetText(QStringLiteral("ab\r\ncd"));
    Key(Qt::Key_End, Qt::KeypadModifier);
    EXPECT_EQ(Caret(), (TBufferCoord{3, 1}));
    Key(Qt::Key_Down, Qt::KeypadModifier);
    EXPECT_EQ(Caret(), (TBufferCoord{3, 2}));
    QTest::keyClick(&w, Qt::Key_5, Qt::KeypadModifier);
    QTest::keyClick(&w, Qt::Key_Plus, Qt::KeypadModifier);
    EXPECT_EQ(w.Engine().Lines().Get(1), QStringLiteral("cd5+"));
    Key(Qt::Key_Home, Qt::KeypadModifier);
    Key(Qt::Key_Delete, Qt::KeypadModifier);
    EXPECT_EQ(w.Engine().Lines().Get(1), QStringLiteral("d5+"));
}

TEST_F(Control, TypedCharactersOutsideTheBasicPlaneAreOneStep)
{
    w.SetText(QString());
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString::fromUcs4(U"\U0001F600"));
    QApplication::sendEvent(&w, &press);
    EXPECT_EQ(w.Text(), QString::fromUcs4(U"\U0001F600"));
    EXPECT_EQ(Caret().Char, 3);
    w.Engine().Undo();
    EXPECT_EQ(w.Text(), QString());
}

// Every command key before a character whose key has no code of its own
// (a layout's letters, a dead key's result, an emoji): the character is
// inserted exactly once, and a pending chord does not swallow it.
TEST_F(Control, CharactersWithoutKeyCodesAfterCommandKeysInsertOnce)
{
    struct TPrefix {
        const char* name;
        std::function<void()> press;
    };
    const TPrefix prefixes[] = {
        {"Left", [this] { Key(Qt::Key_Left); }},
        {"End", [this] { Key(Qt::Key_End); }},
        {"Home", [this] { Key(Qt::Key_Home); }},
        {"PgDown", [this] { Key(Qt::Key_PageDown); }},
        {"Ctrl+Right", [this] { HeldCtrl(Qt::Key_Right); }},
        {"Ctrl+K (a chord's first stroke)", [this] { HeldCtrl(Qt::Key_K); }},
        {"dead key", [this] {
             QKeyEvent dead(QEvent::KeyPress, Qt::Key_Dead_Acute, Qt::NoModifier, QString());
             QApplication::sendEvent(&w, &dead);
         }},
    };
    const struct {
        int key;
        QString text;
    } characters[] = {
        {Qt::Key_Eacute, QStringLiteral("é")},     {Qt::Key_Udiaeresis, QStringLiteral("ü")},
        {Qt::Key_ssharp, QStringLiteral("ß")},     {Qt::Key_Ntilde, QStringLiteral("ñ")},
        {0x416, QStringLiteral("ж")},              {0x3bb, QStringLiteral("λ")},
        {0, QString::fromUcs4(U"\U0001F600")},
    };
    for (const TPrefix& prefix : prefixes)
        for (const auto& ch : characters) {
            w.SetText(QStringLiteral("ab"));
            w.Engine().SetCaretXY({2, 1});
            prefix.press();
            const TBufferCoord at = Caret();
            QKeyEvent press(QEvent::KeyPress, ch.key, Qt::NoModifier, ch.text);
            QApplication::sendEvent(&w, &press);
            QString expected = QStringLiteral("ab");
            expected.insert(at.Char - 1, ch.text);
            EXPECT_EQ(w.Text(), expected) << prefix.name << " then " << ch.text.toStdString();
        }
}

// Wide characters take two cells in every measure: the scroll range, the
// caret's place, the hit test of either half, and after an emoji.
TEST_F(Control, WideCharactersTakeTwoCellsEverywhere)
{
    QString line;
    for (int i = 0; i < 300; ++i)
        line += QChar(0x3042 + i % 80);
    w.SetText(line + QStringLiteral("\r\na") + QString::fromUcs4(U"\U0001F680") + QStringLiteral("b"));
    w.show();
    const qreal cw = w.Grid().CellWidth();
    QScrollBar* h = w.horizontalScrollBar();
    EXPECT_EQ(h->maximum(), 601 - h->pageStep());
    for (int k : {0, 1, 7, 20}) {
        EXPECT_NEAR(w.PointOf({k + 1, 1}).x(), w.TextLeft() + 2 * k * cw, 1) << k;
        const int y = w.Grid().LineHeight() / 2;
        EXPECT_EQ(w.PositionAt(QPoint(int(w.TextLeft() + (2 * k + 0.4) * cw), y)), (TBufferCoord{k + 1, 1})) << k;
        EXPECT_EQ(w.PositionAt(QPoint(int(w.TextLeft() + (2 * k + 1.6) * cw), y)), (TBufferCoord{k + 2, 1})) << k;
    }
    Key(Qt::Key_End);
    EXPECT_EQ(w.Engine().DisplayXY().Column, 601);
    const int caretX = w.PointOf(w.Engine().CaretXY()).x();
    EXPECT_GE(caretX, w.TextLeft());
    EXPECT_LT(caretX, w.viewport()->width());
    // The rocket (outside the basic plane) is two cells: b starts at the fourth.
    EXPECT_NEAR(w.PointOf({4, 2}).x() - w.PointOf({1, 2}).x(), 3 * cw, 1);
    w.hide();
}

TEST_F(Control, InputMethodShowsCompositionAndCommitsOnce)
{
    w.SetText(QStringLiteral("ab"));
    w.Engine().SetCaretXY({2, 1});
    QInputMethodEvent compose(QStringLiteral("にほん"), {});
    QApplication::sendEvent(&w, &compose);
    EXPECT_EQ(w.Preedit(), QStringLiteral("にほん"));
    EXPECT_EQ(w.Text(), QStringLiteral("ab")); // not in the text yet
    QInputMethodEvent commit;
    commit.setCommitString(QStringLiteral("日本"));
    QApplication::sendEvent(&w, &commit);
    EXPECT_TRUE(w.Preedit().isEmpty());
    EXPECT_EQ(w.Text(), QStringLiteral("a日本b"));
    EXPECT_EQ(Caret().Char, 4);
    w.Engine().Undo();
    EXPECT_EQ(w.Text(), QStringLiteral("ab"));
    EXPECT_EQ(w.inputMethodQuery(Qt::ImCursorPosition).toInt(), 1);
}

TEST_F(Control, PasteOfCrLfTextWithJapaneseIsOneStep)
{
    w.SetText(QStringLiteral("xy"));
    w.Engine().SetCaretXY({2, 1});
    QApplication::clipboard()->setText(QStringLiteral("日本語\r\n二行目\r\n"));
    Key(Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(w.Text(), QStringLiteral("x日本語\r\n二行目\r\ny"));
    EXPECT_EQ(Caret(), (TBufferCoord{1, 3}));
    Key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(w.Text(), QStringLiteral("xy"));
    // Copy goes back to the platform clipboard in CR LF form.
    w.SetText(QStringLiteral("a\r\nb"));
    Key(Qt::Key_A, Qt::ControlModifier);
    Key(Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("a\r\nb"));
}

TEST_F(Control, ClicksLandOnTheColumnDrawnThere)
{
    w.SetText(QStringLiteral("\tx\r\n日本x\r\nab"));
    const qreal cw = w.Grid().CellWidth();
    const int lh = w.Grid().LineHeight();
    const int left = w.TextLeft();
    auto at = [&](qreal cells, int row) { return QPoint(int(left + cells * cw), row * lh + lh / 2); };
    // The tab fills cells 0-3: its left half before it, its right half after.
    EXPECT_EQ(w.PositionAt(at(1.2, 0)), (TBufferCoord{1, 1}));
    EXPECT_EQ(w.PositionAt(at(2.8, 0)), (TBufferCoord{2, 1}));
    EXPECT_EQ(w.PositionAt(at(4.3, 0)), (TBufferCoord{2, 1}));
    // 日 takes cells 0-1, 本 cells 2-3, x cell 4.
    EXPECT_EQ(w.PositionAt(at(0.6, 1)), (TBufferCoord{1, 2}));
    EXPECT_EQ(w.PositionAt(at(1.4, 1)), (TBufferCoord{2, 2}));
    EXPECT_EQ(w.PositionAt(at(3.7, 1)), (TBufferCoord{3, 2}));
    EXPECT_EQ(w.PositionAt(at(4.2, 1)), (TBufferCoord{3, 2}));
    EXPECT_EQ(w.PositionAt(at(4.7, 1)), (TBufferCoord{4, 2}));
    // Drawn positions and hit tests agree.
    EXPECT_EQ(w.PointOf({3, 2}).x(), int(std::lround(left + 4 * cw)));
    // Past the line end the caret goes to the end.
    QTest::mouseClick(w.viewport(), Qt::LeftButton, Qt::NoModifier, at(20, 2));
    EXPECT_EQ(Caret(), (TBufferCoord{3, 3}));
    QTest::mouseClick(w.viewport(), Qt::LeftButton, Qt::NoModifier, at(2.6, 1));
    EXPECT_EQ(Caret(), (TBufferCoord{2, 2}));
}

TEST_F(Control, MouseSelectsByDragWordLineShiftAndColumn)
{
    w.SetText(QStringLiteral("alpha beta\r\ngamma delta\r\nx"));
    QTest::mousePress(w.viewport(), Qt::LeftButton, Qt::NoModifier, Center({1, 1}));
    QTest::mouseMove(w.viewport(), Center({4, 2}));
    QTest::mouseRelease(w.viewport(), Qt::LeftButton, Qt::NoModifier, Center({4, 2}));
    EXPECT_EQ(w.Engine().SelText(), QStringLiteral("alpha beta\r\ngam"));

    Click({2, 1});
    Click({4, 2}, Qt::ShiftModifier);
    EXPECT_EQ(w.Engine().SelText(), QStringLiteral("lpha beta\r\ngam"));

    QTest::mouseDClick(w.viewport(), Qt::LeftButton, Qt::NoModifier, Center({8, 1}));
    EXPECT_EQ(w.Engine().SelText(), QStringLiteral("beta"));
    QTest::mousePress(w.viewport(), Qt::LeftButton, Qt::NoModifier, Center({8, 1}));
    QTest::mouseRelease(w.viewport(), Qt::LeftButton, Qt::NoModifier, Center({8, 1}));
    EXPECT_EQ(w.Engine().SelText(), QStringLiteral("alpha beta\r\n")); // triple click

    QTest::mouseClick(w.viewport(), Qt::LeftButton, Qt::NoModifier, Center({1, 3}));
    QTest::mousePress(w.viewport(), Qt::LeftButton, Qt::AltModifier, Center({2, 1}));
    QTest::mouseMove(w.viewport(), Center({4, 2}));
    QTest::mouseRelease(w.viewport(), Qt::LeftButton, Qt::AltModifier, Center({4, 2}));
    EXPECT_EQ(w.Engine().SelectionMode(), editor::smColumn);
    EXPECT_EQ(w.Engine().SelText(), QStringLiteral("lp\r\nam"));
    Click({1, 3});
    EXPECT_EQ(w.Engine().SelectionMode(), editor::smNormal);
}

TEST_F(Control, DroppedTextIsInsertedAsOneStep)
{
    w.SetText(QStringLiteral("ab"));
    QMimeData data;
    data.setText(QStringLiteral("X\r\nY"));
    const QPoint at = Center({2, 1});
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w.viewport(), &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w.viewport(), &drop);
    EXPECT_EQ(w.Text(), QStringLiteral("aX\r\nYb"));
    w.Engine().Undo();
    EXPECT_EQ(w.Text(), QStringLiteral("ab"));
}

TEST_F(Control, ScrollBarsFollowTheCaretAndMoveTheView)
{
    QStringList lines;
    for (int i = 1; i <= 200; ++i)
        lines << QStringLiteral("line %1").arg(i);
    w.SetLines(lines);
    Key(Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(Caret().Line, 200);
    EXPECT_EQ(w.verticalScrollBar()->value(), w.Engine().TopLine() - 1);
    EXPECT_GT(w.Engine().TopLine(), 150);
    w.verticalScrollBar()->setValue(9);
    EXPECT_EQ(w.Engine().TopLine(), 10);
    w.GotoLine(120);
    EXPECT_EQ(Caret(), (TBufferCoord{1, 120}));
    EXPECT_LE(w.Engine().TopLine(), 120);
    EXPECT_GT(w.Engine().TopLine() + w.viewport()->height() / w.Grid().LineHeight(), 120);
}

// --- painting

// Whether some pixel in the rectangle has exactly the colour.
bool HasColor(const QImage& image, QRect r, QColor c)
{
    r &= image.rect();
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if (QColor(image.pixel(x, y)).rgb() == c.rgb())
                return true;
    return false;
}

TEST_F(Control, TokensShowTheirAttributesColours)
{
    highlighter.KeyAttri->SetForeground(editor::MakeColor(0, 0, 200));
    highlighter.CommentAttri->SetForeground(editor::MakeColor(0, 150, 0));
    w.SetText(QStringLiteral("import os\r\n# note\r\nx = 1"));
    const QImage image = Render();
    const int lh = w.Grid().LineHeight();
    const int cw = int(w.Grid().CellWidth());
    const QRect keyword(w.TextLeft(), 0, 6 * cw, lh);
    const QRect comment(w.TextLeft(), lh, 6 * cw, lh);
    const QRect plain(w.TextLeft(), 2 * lh, 5 * cw, lh);
    EXPECT_TRUE(HasColor(image, keyword, QColor(0, 0, 200)));
    EXPECT_FALSE(HasColor(image, keyword, QColor(0, 150, 0)));
    EXPECT_TRUE(HasColor(image, comment, QColor(0, 150, 0)));
    EXPECT_FALSE(HasColor(image, plain, QColor(0, 0, 200)));
}

TEST_F(Control, SelectionIsBlendedAtFortyPercent)
{
    w.SetText(QStringLiteral("a     b"));
    w.Engine().SetSelection({1, 1}, {8, 1});
    const QImage image = Render();
    const QColor sel = w.palette().color(QPalette::Highlight);
    const QColor base = w.palette().color(QPalette::Base);
    const QPoint blank = Center({4, 1});
    const QColor got(image.pixel(blank));
    auto mix = [](int s, int b) { return int(std::lround(s * 0.4 + b * 0.6)); };
    EXPECT_NEAR(got.red(), mix(sel.red(), base.red()), 2);
    EXPECT_NEAR(got.green(), mix(sel.green(), base.green()), 2);
    EXPECT_NEAR(got.blue(), mix(sel.blue(), base.blue()), 2);
    // Outside the selection the background stays.
    EXPECT_EQ(QColor(image.pixel(Center({12, 1}))).rgb(), base.rgb());
}

TEST_F(Control, GutterNumbersFollowTheScrollPosition)
{
    QStringList lines;
    for (int i = 1; i <= 300; ++i)
        lines << QStringLiteral("x");
    w.SetLines(lines);
    w.Engine().SetTopLine(50);
    const QImage image = Render();
    // The first row's number drawn the way the gutter draws it.
    const int lh = w.Grid().LineHeight();
    widgets::TEditorGutter& g = w.Gutter();
    const QRect numbers(g.BandLeft(g.gbNumbers), 0, g.BandWidth(g.gbNumbers), lh);
    QImage expected(image.size(), QImage::Format_RGB32);
    expected.fill(g.Background);
    {
        QPainter p(&expected);
        p.setFont(g.Font());
        p.setPen(g.NumberColor);
        p.drawText(QRect(numbers.left(), 0, numbers.width() - 4, lh), Qt::AlignRight | Qt::AlignVCenter,
            QStringLiteral("50"));
    }
    EXPECT_EQ(image.copy(numbers), expected.copy(numbers));
    // Three digits of line count widen the band past two.
    EXPECT_GT(g.BandWidth(g.gbNumbers), 3 * QFontMetrics(g.Font()).horizontalAdvance(u'0'));
}

TEST_F(Control, ChangedLinesAreMarkedInTheGutter)
{
    w.SetText(QStringLiteral("a\r\nb"));
    w.Engine().SetCaretXY({2, 2});
    Type(QStringLiteral("c"));
    const QImage image = Render();
    widgets::TEditorGutter& g = w.Gutter();
    const int lh = w.Grid().LineHeight();
    const QColor modified = widgets::TEditorGutter::ChangeColor(editor::sfModified);
    EXPECT_FALSE(HasColor(image, QRect(g.BandLeft(g.gbChanges), 0, g.BandWidth(g.gbChanges), lh), modified));
    EXPECT_TRUE(HasColor(image, QRect(g.BandLeft(g.gbChanges), lh, g.BandWidth(g.gbChanges), lh), modified));
}

TEST_F(Control, BookmarksArePaintedInTheMarksBand)
{
    w.SetText(QStringLiteral("a\r\nb\r\nc"));
    w.Engine().SetBookmark(3, {1, 2});
    const QImage image = Render();
    widgets::TEditorGutter& g = w.Gutter();
    const int lh = w.Grid().LineHeight();
    const QColor mark(30, 100, 200);
    auto marks = [&](int row) { return QRect(g.BandLeft(g.gbMarks), row * lh, g.BandWidth(g.gbMarks), lh); };
    EXPECT_FALSE(HasColor(image, marks(0), mark));
    EXPECT_TRUE(HasColor(image, marks(1), mark));
    EXPECT_FALSE(HasColor(image, marks(2), mark));
    w.Engine().ClearBookmark(3);
    EXPECT_FALSE(HasColor(Render(), marks(1), mark));
}

// Strong red, as the error marker and its underline are drawn.
int RedPixels(const QImage& image, QRect r)
{
    r &= image.rect();
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x) {
            const QColor c(image.pixel(x, y));
            n += c.red() >= 150 && c.green() <= 90 && c.blue() <= 90;
        }
    return n;
}

// The error mark: a red marker on its line's first row in the marks band, a
// red wave under the marked characters only (across wrapped rows too), the
// message as their tool tip; setting and clearing it move nothing.
TEST_F(Control, ErrorMarkIsPaintedUnderItsCharactersAndMovesNothing)
{
    w.show();
    QStringList lines;
    for (int i = 1; i <= 200; ++i)
        lines << QStringLiteral("value_%1 = f(x").arg(i, 3, 10, QChar(u'0'));
    w.SetLines(lines);
    w.Engine().SetTopLine(40);
    w.Engine().SetLeftChar(3);
    w.Engine().SetSelection({2, 41}, {5, 43});
    auto state = [&] {
        const editor::TCustomCodeEditor& e = w.Engine();
        return std::vector<int>{e.CaretX(), e.CaretY(), e.BlockBegin().Char, e.BlockBegin().Line, e.BlockEnd().Char,
            e.BlockEnd().Line, e.TopLine(), e.LeftChar(), w.verticalScrollBar()->value(),
            w.horizontalScrollBar()->value()};
    };
    const std::vector<int> before = state();
    ASSERT_EQ(w.Engine().LeftChar(), 3);
    // What is painted after a change: only the marked line's row.
    struct PaintSpy : QObject {
        QRegion painted;
        bool eventFilter(QObject*, QEvent* e) override
        {
            if (e->type() == QEvent::Paint)
                painted += static_cast<QPaintEvent*>(e)->region();
            return false;
        }
    } spy;
    QApplication::processEvents();
    w.viewport()->installEventFilter(&spy);
    const int lh = w.Grid().LineHeight();
    const QRect row2(0, 2 * lh, w.viewport()->width(), lh);
    // "f(" of line 42, the third row shown.
    const QString message = QStringLiteral("'(' was never closed");
    w.SetErrorMark({42, 13, 15, message});
    EXPECT_EQ(state(), before);
    QApplication::processEvents();
    EXPECT_EQ(spy.painted, QRegion(row2));
    ASSERT_TRUE(w.ErrorMark().has_value());
    EXPECT_EQ(w.ErrorMark()->Line, 42);

    QImage image = Render();
    widgets::TEditorGutter& g = w.Gutter();
    const qreal cw = w.Grid().CellWidth();
    const int textWidth = w.viewport()->width() - w.TextLeft();
    auto marks = [&](int row) { return QRect(g.BandLeft(g.gbMarks), row * lh, g.BandWidth(g.gbMarks), lh); };
    // Cells [c1, c2) of a screen row, from the row's first cell shown.
    auto cells = [&](int row, qreal c1, qreal c2) {
        return QRect(int(w.TextLeft() + c1 * cw) + 1, row * lh, int((c2 - c1) * cw) - 2, lh);
    };
    EXPECT_GT(RedPixels(image, marks(2)), 0);
    EXPECT_EQ(RedPixels(image, marks(1)) + RedPixels(image, marks(3)), 0);
    EXPECT_GT(RedPixels(image, cells(2, 10, 11)), 0);
    EXPECT_GT(RedPixels(image, cells(2, 11, 12)), 0);
    EXPECT_EQ(RedPixels(image, cells(2, 0, 10)), 0);
    EXPECT_EQ(RedPixels(image, cells(2, 12, 30)), 0);
    EXPECT_EQ(RedPixels(image, QRect(w.TextLeft(), 0, textWidth, 2 * lh)), 0);
    EXPECT_EQ(RedPixels(image, QRect(w.TextLeft(), 3 * lh, textWidth, w.viewport()->height())), 0);

    // The tool tip over the marker and the characters, none elsewhere.
    auto tip = [&](QPoint viewportPoint) {
        const QPoint at = w.viewport()->mapTo(&w, viewportPoint);
        QHelpEvent help(QEvent::ToolTip, at, w.mapToGlobal(at));
        QApplication::sendEvent(&w, &help);
        return help.isAccepted() && QToolTip::isVisible() ? QToolTip::text() : QString();
    };
    EXPECT_EQ(tip(marks(2).center()), message);
    EXPECT_EQ(tip(cells(2, 11, 12).center()), message);
    EXPECT_EQ(tip(cells(2, 5, 6).center()), QString());
    EXPECT_EQ(tip(marks(3).center()), QString());
    QToolTip::hideText();

    spy.painted = QRegion();
    w.ClearErrorMark();
    EXPECT_EQ(state(), before);
    QApplication::processEvents();
    EXPECT_EQ(spy.painted, QRegion(row2));
    w.viewport()->removeEventFilter(&spy);
    EXPECT_FALSE(w.ErrorMark().has_value());
    EXPECT_EQ(RedPixels(Render(), w.viewport()->rect()), 0);

    // Wrapped: the wave follows the marked characters onto the next row;
    // the marker stands on the line's first row.
    QString longLine;
    for (int i = 0; i < 40; ++i)
        longLine += QStringLiteral("word%1 ").arg(i % 10);
    w.SetLines({longLine, QStringLiteral("short")});
    w.SetWordWrap(true);
    const editor::TWrapRows* wrap = w.Engine().WrapRows();
    ASSERT_NE(wrap, nullptr);
    const int end = wrap->RowEnd(0, 0);
    ASSERT_EQ(wrap->RowStart(0, 1), end);
    // Two characters before the row's end, three after it.
    w.SetErrorMark({1, end - 1, end + 4, message});
    image = Render();
    EXPECT_GT(RedPixels(image, marks(0)), 0);
    EXPECT_EQ(RedPixels(image, marks(1)), 0);
    EXPECT_GT(RedPixels(image, cells(0, end - 2, end)), 0);
    EXPECT_EQ(RedPixels(image, cells(0, 0, end - 2)), 0);
    EXPECT_EQ(RedPixels(image, QRect(int(w.TextLeft() + end * cw) + 1, 0, textWidth, lh)), 0);
    EXPECT_GT(RedPixels(image, cells(1, 0, 3)), 0);
    EXPECT_EQ(RedPixels(image, cells(1, 3, end)), 0);
    // A whole new text takes the mark away.
    w.SetText(QStringLiteral("x"));
    EXPECT_FALSE(w.ErrorMark().has_value());
    w.hide();
}

TEST_F(Control, FoldBandClicksCollapseAndExpand)
{
    w.SetText(QStringLiteral("def f(x):\r\n    a = 1\r\n    return a\r\nprint(1)"));
    widgets::TEditorGutter& g = w.Gutter();
    const int lh = w.Grid().LineHeight();
    const QPoint fold(g.BandLeft(g.gbFold) + g.BandWidth(g.gbFold) / 2, lh / 2);
    // Folding off: a click in the band selects the line like a number click.
    QTest::mouseClick(w.viewport(), Qt::LeftButton, Qt::NoModifier, fold);
    EXPECT_TRUE(w.Engine().AllFoldRanges().Ranges().empty() || !w.Engine().AllFoldRanges().Ranges()[0].Collapsed);
    w.Engine().SetUseCodeFolding(true);
    ASSERT_FALSE(w.Engine().AllFoldRanges().Ranges().empty());
    QTest::mouseClick(w.viewport(), Qt::LeftButton, Qt::NoModifier, fold);
    EXPECT_TRUE(w.Engine().AllFoldRanges().Ranges()[0].Collapsed);
    EXPECT_EQ(w.Engine().AllFoldRanges().FoldRowToLine(2), 4); // the body is hidden
    // A click on a line without a fold start changes nothing.
    QTest::mouseClick(w.viewport(), Qt::LeftButton, Qt::NoModifier, fold + QPoint(0, lh));
    EXPECT_TRUE(w.Engine().AllFoldRanges().Ranges()[0].Collapsed);
    QTest::mouseClick(w.viewport(), Qt::LeftButton, Qt::NoModifier, fold);
    EXPECT_FALSE(w.Engine().AllFoldRanges().Ranges()[0].Collapsed);
    EXPECT_EQ(w.Engine().AllFoldRanges().FoldRowToLine(2), 2);
}

TEST_F(Control, ContextMenuRunsTheEditCommands)
{
    w.SetText(QStringLiteral("abc"));
    // The menu as a right click opens it; its actions in order.
    auto open = [&]() -> QMenu* {
        delete w.findChild<QMenu*>();
        QContextMenuEvent event(QContextMenuEvent::Mouse, Center({1, 1}), w.viewport()->mapToGlobal(Center({1, 1})));
        QApplication::sendEvent(w.viewport(), &event);
        return w.findChild<QMenu*>();
    };
    auto action = [](QMenu* menu, const char* text) -> QAction* {
        for (QAction* a : menu->actions())
            if (a->text() == QString::fromUtf8(text))
                return a;
        return nullptr;
    };
    QMenu* menu = open();
    ASSERT_NE(menu, nullptr);
    QStringList texts;
    for (QAction* a : menu->actions())
        texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
    EXPECT_EQ(texts, QString::fromUtf8("元に戻す(&U) やり直し(&R) - 切り取り(&T) コピー(&C) 貼り付け(&P) 削除(&D) - "
                                       "すべて選択(&A)").split(u' '));
    EXPECT_FALSE(action(menu, "元に戻す(&U)")->isEnabled());
    EXPECT_FALSE(action(menu, "切り取り(&T)")->isEnabled()); // nothing selected
    EXPECT_FALSE(action(menu, "コピー(&C)")->isEnabled());
    action(menu, "すべて選択(&A)")->trigger();
    EXPECT_EQ(w.Engine().SelText(), QStringLiteral("abc"));

    menu = open();
    ASSERT_TRUE(action(menu, "切り取り(&T)")->isEnabled());
    action(menu, "切り取り(&T)")->trigger();
    EXPECT_EQ(w.Engine().Text(), QString());
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("abc"));

    menu = open();
    ASSERT_TRUE(action(menu, "元に戻す(&U)")->isEnabled());
    ASSERT_TRUE(action(menu, "貼り付け(&P)")->isEnabled());
    action(menu, "元に戻す(&U)")->trigger();
    EXPECT_EQ(w.Engine().Text(), QStringLiteral("abc"));

    // Read-only: only what does not change the text.
    w.Engine().SetReadOnly(true);
    w.Engine().SetSelection({1, 1}, {2, 1});
    menu = open();
    EXPECT_FALSE(action(menu, "切り取り(&T)")->isEnabled());
    EXPECT_FALSE(action(menu, "貼り付け(&P)")->isEnabled());
    EXPECT_FALSE(action(menu, "削除(&D)")->isEnabled());
    EXPECT_TRUE(action(menu, "コピー(&C)")->isEnabled());
    delete menu;
}

TEST_F(Control, DragSelectingPastAnEdgeKeepsScrolling)
{
    QStringList lines;
    for (int i = 1; i <= 300; ++i)
        lines << QString::number(i);
    w.SetLines(lines);
    w.show();
    w.Engine().SetTopLine(100);
    QTest::mousePress(w.viewport(), Qt::LeftButton, Qt::NoModifier, Center({1, 105}));
    QTest::mouseMove(w.viewport(), QPoint(Center({1, 105}).x(), -5));
    const int top = w.Engine().TopLine();
    QTest::qWait(400);
    // The mouse stands still above the view; the selection goes on growing.
    EXPECT_LT(w.Engine().TopLine(), top - 2);
    EXPECT_EQ(w.Engine().CaretY(), w.Engine().TopLine());
    EXPECT_EQ(w.Engine().BlockEnd().Line, 105); // the anchor stays where the press was
    QTest::mouseRelease(w.viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(Center({1, 105}).x(), -5));
    const int released = w.Engine().TopLine();
    QTest::qWait(200);
    EXPECT_EQ(w.Engine().TopLine(), released);
}

TEST_F(Control, HostileTextPaintsAndTheCaretStaysOnBoundaries)
{
    QString nasty = QStringLiteral("a");
    nasty += QChar(0);
    nasty += QChar(0xD800); // lone high surrogate
    nasty += QStringLiteral("e\u0301\u0301 \u05e9\u05dc\u05d5\u05dd \u202e rtl");
    nasty += QString::fromUcs4(U"\U0001F600");
    w.SetText(nasty + QStringLiteral("\r\n") + QString(200000, u'w'));
    Render();
    // The caret steps over the combining marks and the pair as one.
    w.Engine().SetCaretXY({4, 1});
    Key(Qt::Key_Right);
    EXPECT_EQ(Caret().Char, 7);
    const QString line = w.Engine().Lines().Get(0);
    w.Engine().SetCaretXY({int(line.size()), 1}); // inside the pair
    EXPECT_EQ(Caret().Char, int(line.size()) - 1);
    Key(Qt::Key_End, Qt::ControlModifier);
    Render();
    EXPECT_EQ(Caret().Line, 2);
}

} // namespace

namespace {

TEST_F(Control, CombiningMarkAfterPlainLetterDoesNotHangPainting)
{
    w.SetText(QStringLiteral("cafe\u0301 ok"));
    Render();
    EXPECT_EQ(w.Text(), QStringLiteral("cafe\u0301 ok"));
}

} // namespace

namespace {

TEST_F(Control, LargeTextScannedInTheBackgroundEqualsAFullScan)
{
    // Multi-line strings make every line's range depend on all above it.
    QString block = QStringLiteral("x = '''start\r\nmiddle # not a comment\r\nend''' # comment\r\ndef f(a):\r\n    return a\r\n");
    QString text;
    while (text.size() < 5 * 1024 * 1024)
        text += block;
    text += QStringLiteral("last = '''open");
    text += QStringLiteral("\r\n") + QString(300, u'w'); // the widest line, last
    w.SetText(text);
    Render(); // the screen's lines are scanned for the paint
    // Until the scan reaches it, the widest line is not known.
    EXPECT_LT(w.horizontalScrollBar()->maximum(), 100);
    editor::TEditorCore reference;
    editor::TPythonHighlighter other;
    reference.SetText(text);
    reference.SetHighlighter(&other);
    // Typing finishes the scan first; the engine then has the highlighter.
    Key(Qt::Key_End, Qt::ControlModifier);
    Type(QStringLiteral("x"));
    EXPECT_EQ(w.Engine().Highlighter(), &highlighter);
    EXPECT_GE(w.horizontalScrollBar()->maximum(), 300 - w.horizontalScrollBar()->pageStep());
    reference.Lines().Put(reference.Lines().Count() - 1, w.Engine().Lines().Get(w.Engine().Lines().Count() - 1));
    ASSERT_EQ(w.Engine().Lines().Count(), reference.Lines().Count());
    int mismatches = 0;
    for (int i = 0; i < reference.Lines().Count(); ++i)
        mismatches += w.Engine().Lines().GetRange(i) != reference.Lines().GetRange(i);
    EXPECT_EQ(mismatches, 0);
}

} // namespace

namespace {

// Each option the view itself honours, switched on and off.
TEST_F(Control, ViewOptionsDoWhatTheirNamesSay)
{
    using namespace editor;
    auto with = [&](TEditorOptions option, bool on) {
        w.Engine().SetOptions(on ? w.Engine().Options() | option : w.Engine().Options() & ~option);
    };
    w.show();
    QStringList lines;
    for (int i = 0; i < 200; ++i)
        lines << QStringLiteral("x\t= %1  ").arg(i);
    w.SetLines(lines);

    // Special characters: a blank's cell is no longer empty.
    const QPoint blank = Center({4, 1});
    with(eoShowSpecialChars, false);
    const QRgb plain = Render().pixel(blank);
    bool marked = false;
    with(eoShowSpecialChars, true);
    const QImage shown = Render();
    for (int dy = -4; dy <= 4; ++dy)
        marked |= shown.pixel(blank + QPoint(0, dy)) != plain;
    EXPECT_TRUE(marked);
    with(eoShowSpecialChars, false);

    // The scroll hint names the top line while the thumb is dragged.
    QScrollBar* v = w.verticalScrollBar();
    v->setSliderDown(true);
    v->setSliderPosition(10);
    EXPECT_EQ(w.ScrollHint(), QStringLiteral("先頭行: 11"));
    v->setSliderDown(false);
    with(eoShowScrollHint, false);
    v->setSliderDown(true);
    v->setSliderPosition(20);
    v->setSliderDown(false);
    EXPECT_EQ(w.ScrollHint(), QStringLiteral("先頭行: 11"));

    // Past the line end: a page more of horizontal range.
    QScrollBar* h = w.horizontalScrollBar();
    EXPECT_EQ(h->maximum(), 0);
    with(eoScrollPastEol, true);
    EXPECT_EQ(h->maximum(), 11); // the longest line's end at the left edge
    with(eoScrollPastEol, false);

    // Bars always shown, greyed when there is nothing to scroll.
    w.SetText(QStringLiteral("short"));
    with(eoHideShowScrollbars, false);
    EXPECT_EQ(w.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_FALSE(v->isEnabled());
    with(eoDisableScrollArrows, false);
    EXPECT_TRUE(v->isEnabled());
    with(eoHideShowScrollbars | eoDisableScrollArrows, true);

    // Alt with a key selects columns; a key without Alt, text again.
    w.SetText(QStringLiteral("abc\r\ndef"));
    with(eoAltSetsColumnMode, true);
    Key(Qt::Key_Down, Qt::AltModifier | Qt::ShiftModifier);
    EXPECT_EQ(w.Engine().SelectionMode(), smColumn);
    Key(Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(w.Engine().SelectionMode(), smNormal);
    with(eoAltSetsColumnMode, false);
    Key(Qt::Key_Down, Qt::AltModifier | Qt::ShiftModifier);
    EXPECT_EQ(w.Engine().SelectionMode(), smNormal);

    // The mouse chains: down and up with the button, the cursor shape chosen by a handler.
    QStringList seen;
    TEditorKbdHandler& handlers = w.Engine().Keys().KbdHandler();
    handlers.AddMouseDownHandler([&](TMouseButton b, TShiftState, int, int) { seen << QStringLiteral("down %1").arg(b); });
    handlers.AddMouseUpHandler([&](TMouseButton b, TShiftState, int, int) { seen << QStringLiteral("up %1").arg(b); });
    handlers.AddMouseCursorHandler([&](int line, int column, int& cursor) {
        seen << QStringLiteral("cursor %1,%2").arg(line).arg(column);
        cursor = Qt::PointingHandCursor;
    });
    Click({2, 2});
    QTest::mouseMove(w.viewport(), Center({3, 1}));
    EXPECT_EQ(seen, (QStringList{QStringLiteral("down 0"), QStringLiteral("up 0"), QStringLiteral("cursor 1,3")}));
    EXPECT_EQ(w.viewport()->cursor().shape(), Qt::PointingHandCursor);
    w.hide();
}

} // namespace

namespace {

// With word wrap, rows are pieces of lines: the caret, clicks, Home/End,
// the scroll range and the painted text all follow them.
TEST_F(Control, WrappedRowsAreWalkedClickedAndPainted)
{
    w.show();
    QString longLine;
    for (int i = 0; i < 40; ++i)
        longLine += QStringLiteral("word%1 ").arg(i % 10);
    w.SetLines({longLine, QStringLiteral("short"), longLine});
    w.SetWordWrap(true);
    const int cols = w.Engine().View().CharsInWindow();
    ASSERT_LT(cols, longLine.size());
    const editor::TWrapRows* wrap = w.Engine().WrapRows();
    ASSERT_NE(wrap, nullptr);
    const int rowsOfLong = wrap->RowsOfLine(0);
    EXPECT_GE(rowsOfLong, longLine.size() / cols);
    EXPECT_EQ(w.Engine().DisplayRowCount(), 2 * rowsOfLong + 1);
    EXPECT_FALSE(w.horizontalScrollBar()->isVisible());

    // Down goes to the next row of the same line; End to the row's end, then the line's.
    w.Engine().SetCaretXY({1, 1});
    Key(Qt::Key_Down);
    EXPECT_EQ(Caret(), (TBufferCoord{wrap->RowStart(0, 1) + 1, 1}));
    Key(Qt::Key_End);
    EXPECT_EQ(Caret().Line, 1);
    EXPECT_LE(Caret().Char, wrap->RowEnd(0, 1) + 1);
    Key(Qt::Key_End);
    EXPECT_EQ(Caret(), (TBufferCoord{int(longLine.size()) + 1, 1}));

    // A click on the second row lands in that row's text; the caret is drawn there.
    const int lh = w.Grid().LineHeight();
    const qreal cw = w.Grid().CellWidth();
    const TBufferCoord clicked = w.PositionAt(QPoint(int(w.TextLeft() + 3.2 * cw), lh + lh / 2));
    EXPECT_EQ(clicked, (TBufferCoord{wrap->RowStart(0, 1) + 4, 1}));
    w.Engine().SetCaretXY(clicked);
    EXPECT_EQ(w.PointOf(clicked).y(), lh);
    EXPECT_NEAR(w.PointOf(clicked).x(), w.TextLeft() + 3 * cw, 1);

    // Typing at a row's end never scrolls sideways.
    w.Engine().SetCaretXY({int(longLine.size()) + 1, 1});
    Type(QStringLiteral("xyz"));
    EXPECT_EQ(w.Engine().LeftChar(), 1);

    // Line 2 ("short") is drawn on the row after line 1's last.
    const QImage image = Render();
    const int shortRow = rowsOfLong;
    bool ink = false;
    for (int x = w.TextLeft(); x < w.TextLeft() + int(5 * cw); ++x)
        ink |= image.pixel(x, shortRow * lh + lh / 2) != image.pixel(w.viewport()->width() - 2, shortRow * lh + lh / 2);
    EXPECT_TRUE(ink);

    // At the right edge column instead of the window's edge.
    w.Engine().SetOptions(w.Engine().Options() | editor::eoWrapWithRightEdge);
    w.SetRightEdge(20);
    EXPECT_EQ(w.Engine().WrapRows()->Width(), 20);
    EXPECT_GE(w.Engine().WrapRows()->RowsOfLine(0), int(longLine.size()) / 20);

    // Folding turns wrapping off.
    w.SetUseCodeFolding(true);
    EXPECT_FALSE(w.WordWrap());
    EXPECT_EQ(w.Engine().WrapRows(), nullptr);
    w.hide();
}

} // namespace
