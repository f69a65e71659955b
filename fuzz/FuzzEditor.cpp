// The script editor under a sequence of commands decoded from the input -
// typing, line breaks, deletes, tabs, block indent and unindent, case
// changes, line moves, paste, undo and redo, caret moves and selections in
// every mode, keys through the binding table - set up like the main window's
// editor. After every command: caret and selection lie inside the text on
// character boundaries, the stored range states, fold markers and fold ranges
// equal a full rescan of the same text, and the fold rows map to lines and
// back. At the end, with everything redone, undoing everything gives the
// starting text and redoing everything again the same final text. Commands
// are rows of a table, each with the kind of data it reads.
#include "FuzzInput.h"

#include "editor/CodeEditor.h"
#include "editor/PythonEditBehaviour.h"
#include "editor/PythonHighlighter.h"

#include <QHash>
#include <QStringList>

#include <vector>

namespace {

using namespace editor;
using fuzz::FuzzInput;

// Pieces that reach the highlighter's and the fold scan's states quickly;
// bytes past the table are characters of their own.
const char16_t* const kPieces[] = {u"def f(x):", u"class A:", u"if a:", u"else:", u"try:", u"except E:",
    u"for i in x:", u"while 1:", u"with f:", u"return x", u"pass", u"    ", u"\t", u" ", u"'''", u"\"\"\"", u"'",
    u"\"", u"\\", u"#", u"#region r", u"#EndRegion", u"u'", u"r\"", u"0x1f", u"1e5", u".", u"(", u")", u":", u"=",
    u"x"};
constexpr int kPieceCount = int(std::size(kPieces));

QString Line(FuzzInput& in)
{
    QString line;
    for (int n = in.Below(8); n > 0; --n) {
        const int b = in.Byte();
        if (b < kPieceCount) {
            line += QString::fromUtf16(kPieces[b]);
        } else if (b == 0xFF) {
            const char16_t hi = in.Byte();
            const char16_t u = char16_t((hi << 8) | in.Byte());
            line += QChar(u == u'\r' || u == u'\n' ? u' ' : u);
        } else {
            line += QChar(char16_t(b));
        }
    }
    return line;
}

// A text with every kind of line break between its lines.
QString Text(FuzzInput& in)
{
    static const char16_t* const kBreaks[] = {u"\r\n", u"\n", u"\r"};
    QString text;
    for (int n = 1 + in.Below(8); n > 0; --n) {
        text += Line(in);
        if (in.Below(4) != 0)
            text += QString::fromUtf16(kBreaks[in.Below(3)]);
    }
    return text;
}

struct Session {
    TPythonHighlighter highlighter;
    THeadlessView view;
    TCodeEditor e;
    TPythonEditBehaviour behaviour;

    Session() { e.SetView(&view); }
    ~Session() { behaviour.SetEditor(nullptr); }

    // Any position a caller could pass, a little outside the text included.
    TBufferCoord Coord(FuzzInput& in)
    {
        const int line = in.Below(e.Lines().Count() + 4) - 1;
        const int length = e.Lines().LineCharLength(line - 1);
        return {in.Below(length + 5) - 1, line};
    }
};

// How a command row finds its data in the input.
enum class Data { None, Char, Text, Coord };

struct Command {
    const char* name;
    TEditorCommand command;
    Data data;
};

const Command kCommands[] = {
    {"Char", ecChar, Data::Char}, {"Char", ecChar, Data::Char}, {"Char", ecChar, Data::Char},
    {"String", ecString, Data::Text}, {"ImeStr", ecImeStr, Data::Text},
    {"LineBreak", ecLineBreak, Data::None}, {"LineBreak", ecLineBreak, Data::None},
    {"InsertLine", ecInsertLine, Data::None},
    {"DeleteLastChar", ecDeleteLastChar, Data::None}, {"DeleteChar", ecDeleteChar, Data::None},
    {"DeleteWord", ecDeleteWord, Data::None}, {"DeleteLastWord", ecDeleteLastWord, Data::None},
    {"DeleteBOL", ecDeleteBOL, Data::None}, {"DeleteEOL", ecDeleteEOL, Data::None},
    {"DeleteLine", ecDeleteLine, Data::None}, {"ClearAll", ecClearAll, Data::None},
    {"Tab", ecTab, Data::None}, {"ShiftTab", ecShiftTab, Data::None},
    {"BlockIndent", ecBlockIndent, Data::None}, {"BlockUnindent", ecBlockUnindent, Data::None},
    {"UpperCase", ecUpperCase, Data::None}, {"LowerCase", ecLowerCase, Data::None},
    {"ToggleCase", ecToggleCase, Data::None}, {"TitleCase", ecTitleCase, Data::None},
    {"CopyLineUp", ecCopyLineUp, Data::None}, {"CopyLineDown", ecCopyLineDown, Data::None},
    {"MoveLineUp", ecMoveLineUp, Data::None}, {"MoveLineDown", ecMoveLineDown, Data::None},
    {"Cut", ecCut, Data::None}, {"Copy", ecCopy, Data::None}, {"Paste", ecPaste, Data::Text},
    {"Undo", ecUndo, Data::None}, {"Undo", ecUndo, Data::None}, {"Redo", ecRedo, Data::None},
    {"Left", ecLeft, Data::None}, {"Right", ecRight, Data::None}, {"Up", ecUp, Data::None},
    {"Down", ecDown, Data::None}, {"WordLeft", ecWordLeft, Data::None}, {"WordRight", ecWordRight, Data::None},
    {"LineStart", ecLineStart, Data::None}, {"LineEnd", ecLineEnd, Data::None},
    {"PageUp", ecPageUp, Data::None}, {"PageDown", ecPageDown, Data::None},
    {"EditorTop", ecEditorTop, Data::None}, {"EditorBottom", ecEditorBottom, Data::None},
    {"GotoXY", ecGotoXY, Data::Coord}, {"GotoXY", ecGotoXY, Data::Coord},
    {"SelLeft", ecSelLeft, Data::None}, {"SelRight", ecSelRight, Data::None}, {"SelUp", ecSelUp, Data::None},
    {"SelDown", ecSelDown, Data::None}, {"SelWordLeft", ecSelWordLeft, Data::None},
    {"SelWordRight", ecSelWordRight, Data::None}, {"SelLineStart", ecSelLineStart, Data::None},
    {"SelLineEnd", ecSelLineEnd, Data::None}, {"SelPageDown", ecSelPageDown, Data::None},
    {"SelEditorTop", ecSelEditorTop, Data::None}, {"SelEditorBottom", ecSelEditorBottom, Data::None},
    {"SelGotoXY", ecSelGotoXY, Data::Coord}, {"SelGotoXY", ecSelGotoXY, Data::Coord},
    {"SelWord", ecSelWord, Data::None}, {"SelectAll", ecSelectAll, Data::None},
    {"NormalSelect", ecNormalSelect, Data::None}, {"ColumnSelect", ecColumnSelect, Data::None},
    {"LineSelect", ecLineSelect, Data::None}, {"ToggleMode", ecToggleMode, Data::None},
    {"MatchBracket", ecMatchBracket, Data::None}, {"SetMarker1", ecSetMarker1, Data::None},
    {"GotoMarker1", ecGotoMarker1, Data::None}, {"ScrollDown", ecScrollDown, Data::None},
    {"FoldAll", ecFoldAll, Data::None}, {"UnfoldAll", ecUnfoldAll, Data::None},
    {"FoldNearest", ecFoldNearest, Data::None}, {"UnfoldNearest", ecUnfoldNearest, Data::None},
    {"FoldLevel1", ecFoldLevel1, Data::None}, {"FoldRanges", ecFoldRanges, Data::None},
};

// Keys through the binding table as the control delivers them: key-down,
// then the character unless the key ran a command.
struct Key {
    quint16 key;
    TShiftState shift;
    char16_t ch;
};

const Key kKeys[] = {{VK_TAB, ssNone, u'\t'}, {VK_TAB, ssShift, 0}, {VK_RETURN, ssNone, u'\r'},
    {VK_RETURN, ssShift, u'\r'}, {VK_BACK, ssNone, 8}, {VK_BACK, ssCtrl, 0}, {VK_DELETE, ssNone, 0},
    {VK_HOME, ssShift, 0}, {VK_END, ssCtrl | ssShift, 0}, {VK_UP, ssAlt | ssShift, 0}, {VK_DOWN, ssCtrl, 0},
    {'I', ssCtrl | ssShift, 0}, {'U', ssCtrl | ssShift, 0}, {'Y', ssCtrl, 0}, {'Z', ssCtrl, 0},
    {'Z', ssCtrl | ssShift, 0}, {'K', ssCtrl, 0}, {'N', ssCtrl, 0}, {'C', ssCtrl, 0}, {'V', ssCtrl, 0},
    {'X', ssCtrl, 0}, {VK_INSERT, ssNone, 0}, {'A', ssNone, u'a'}, {VK_SPACE, ssNone, u' '}};

// Settings that change how commands behave, not the text.
struct Setting {
    const char* name;
    void (*run)(Session&, FuzzInput&);
};

const TEditorOption kToggledOptions[] = {eoTabsToSpaces, eoAutoIndent, eoScrollPastEol, eoTrimTrailingSpaces,
    eoSmartTabs, eoSmartTabDelete, eoEnhanceHomeKey, eoEnhanceEndKey, eoGroupUndo, eoKeepCaretX, eoTabIndent,
    eoNoSelection};

const Setting kSettings[] = {
    {"SetTabWidth", [](Session& s, FuzzInput& in) { s.e.SetTabWidth(in.Below(10)); }},
    {"ToggleFolding", [](Session& s, FuzzInput&) { s.e.SetUseCodeFolding(!s.e.UseCodeFolding()); }},
    {"ToggleOption",
        [](Session& s, FuzzInput& in) {
            s.e.SetOptions(s.e.Options() ^ kToggledOptions[in.Below(int(std::size(kToggledOptions)))]);
        }},
    {"SetSelection",
        [](Session& s, FuzzInput& in) {
            const TBufferCoord anchor = s.Coord(in);
            s.e.SetSelection(anchor, s.Coord(in));
        }},
    {"Key",
        [](Session& s, FuzzInput& in) {
            const Key& k = kKeys[in.Below(int(std::size(kKeys)))];
            if (!s.e.KeyDown(k.key, k.shift) && k.ch != 0)
                s.e.KeyPress(QChar(k.ch));
        }},
    {"Collapse",
        [](Session& s, FuzzInput& in) {
            const int index = in.Below(s.e.AllFoldRanges().Count() + 1);
            if (index < s.e.AllFoldRanges().Count())
                s.e.Collapse(index);
        }},
};

// One step: a command with its data, or a setting.
const char* Step(Session& s, FuzzInput& in)
{
    constexpr int commands = int(std::size(kCommands));
    const int pick = in.Below(commands + int(std::size(kSettings)));
    if (pick >= commands) {
        const Setting& setting = kSettings[pick - commands];
        setting.run(s, in);
        return setting.name;
    }
    const Command& c = kCommands[pick];
    switch (c.data) {
    case Data::None: s.e.CommandProcessor(c.command); break;
    case Data::Char: s.e.CommandProcessor(c.command, QChar(in.Unit())); break;
    case Data::Text:
        if (c.command == ecPaste) {
            s.view.Clipboard = Text(in);
            s.e.CommandProcessor(c.command);
        } else {
            s.e.CommandProcessor(c.command, QChar(), Text(in));
        }
        break;
    case Data::Coord: s.e.CommandProcessor(c.command, QChar(), s.Coord(in)); break;
    }
    return c.name;
}

// Checks run after every step: the text for a report is only made on failure.
void Expect(bool ok, const char* what, const Session& s, const char* op)
{
    if (!ok)
        fuzz::Fail(what, QStringLiteral("after %1, caret %2:%3, on:\n")
                             .arg(QLatin1String(op))
                             .arg(s.e.CaretY())
                             .arg(s.e.CaretX())
            + s.e.Text());
}

// A line's end range depends only on its text and the range it starts in
// (the highlighter's own target checks that), so the full rescan after each
// step remembers what it scanned: most lines are the same as a step ago.
struct LineScan {
    std::intptr_t start;
    QString text;
    bool operator==(const LineScan&) const = default;
};
size_t qHash(const LineScan& l, size_t seed = 0) { return qHashMulti(seed, l.start, l.text); }
QHash<LineScan, std::intptr_t>& ScannedLines()
{
    static QHash<LineScan, std::intptr_t> scanned;
    return scanned;
}

void CheckRanges(const Session& s, const char* op)
{
    static TPythonHighlighter full;
    QHash<LineScan, std::intptr_t>& scanned = ScannedLines();
    const TLineBuffer& b = s.e.Lines();
    full.ResetRange();
    std::intptr_t range = full.GetRange();
    for (int i = 0; i < b.Count(); ++i) {
        const LineScan key{range, b.GetRef(i)};
        const auto known = scanned.constFind(key);
        if (known != scanned.cend()) {
            range = *known;
        } else {
            full.SetRange(range);
            full.SetLine(key.text, i);
            full.NextToEol();
            range = full.GetRange();
            scanned.insert(key, range);
        }
        Expect(b.GetRange(i) == range, "a stored range differs from a full rescan", s, op);
    }
}

void CheckFolds(const Session& s, const char* op)
{
    if (!s.e.CodeFoldingActive())
        return;
    // What the editor's full scan does, into a model of its own; the stored
    // range states it reads were just checked against a full rescan.
    static TPythonHighlighter scanner;
    const TLineBuffer& lines = s.e.Lines();
    TFoldRanges full;
    scanner.InitFoldRanges(full);
    full.StartScanning();
    if (lines.Count() > 0)
        scanner.ScanForFoldRanges(full, lines, 0, lines.Count() - 1);
    if (full.StopScanning(lines))
        scanner.AdjustFoldRanges(full, lines);
    const TFoldRanges& mine = s.e.AllFoldRanges();
    Expect(mine.FoldInfoList() == full.FoldInfoList(), "fold markers differ from a full scan", s, op);
    std::vector<TFoldRange> ranges = mine.Ranges();
    for (TFoldRange& r : ranges)
        r.Collapsed = false;
    Expect(ranges == full.Ranges(), "fold ranges differ from a full scan", s, op);

    // Every visible row maps to a line that maps back to it.
    const int count = lines.Count();
    const int rows = count == 0 ? 0 : mine.FoldLineToRow(count);
    for (int row = 1; row <= rows; ++row) {
        const int line = mine.FoldRowToLine(row);
        Expect(line >= 1 && line <= count && mine.FoldLineToRow(line) == row && !mine.FoldHidesLine(line),
               "fold rows and lines do not map to each other", s, op);
    }
}

// Inside the text (past a line's end only where the mode allows it) and
// never between the two halves of a surrogate pair.
void CheckPosition(const Session& s, TBufferCoord p, const char* what, const char* op)
{
    const TLineBuffer& lines = s.e.Lines();
    Expect(p.Line >= 1 && p.Line <= std::max(1, lines.Count()) && p.Char >= 1, what, s, op);
    const QString& line = lines.GetRef(p.Line - 1);
    const int index = p.Char - 1;
    const bool pastEol = s.e.HasOption(eoScrollPastEol) || s.e.SelectionMode() == smColumn;
    Expect(pastEol || index <= line.size(), what, s, op);
    Expect(!(index > 0 && index < line.size() && line.at(index - 1).isHighSurrogate() && line.at(index).isLowSurrogate()),
           what, s, op);
}

int TextSize(const Session& s)
{
    int size = 0;
    for (int i = 0; i < s.e.Lines().Count(); ++i)
        size += s.e.Lines().LineCharLength(i) + 2;
    return size;
}

void CheckCaret(const Session& s, const char* op)
{
    CheckPosition(s, s.e.CaretXY(), "the caret lies outside the text", op);
    CheckPosition(s, s.e.SelectionAnchor(), "the selection anchor lies outside the text", op);
    CheckPosition(s, s.e.SelectionEnd(), "the selection end lies outside the text", op);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzInput in(data, size);
    Session s;
    s.e.SetTabWidth(1 + in.Below(8));
    s.e.SetWantTabs(true);
    s.e.SetHighlighter(&s.highlighter);
    s.e.SetText(Text(in));
    s.e.ClearUndo();
    s.e.MarkSaved();
    s.e.SetUseCodeFolding(in.Below(4) == 0);
    s.behaviour.SetEditor(&s.e);
    s.view.Lines = 1 + in.Below(12);
    const QString start = s.e.Text();

    // QUORBEL_FUZZ_TRACE=1 prints every step of a replayed input.
    static const bool trace = qEnvironmentVariableIsSet("QUORBEL_FUZZ_TRACE");
    const char* op = "SetText";
    for (int steps = 0;; ++steps) {
        if (trace) {
            std::fprintf(stderr, "%s -> caret %d:%d sel %d:%d-%d:%d mode %d folds", op, s.e.CaretY(), s.e.CaretX(),
                         s.e.SelectionAnchor().Line, s.e.SelectionAnchor().Char, s.e.SelectionEnd().Line,
                         s.e.SelectionEnd().Char, int(s.e.SelectionMode()));
            for (const TFoldRange& r : s.e.AllFoldRanges().Ranges())
                std::fprintf(stderr, " %d-%d%s", r.FromLine, r.ToLine, r.Collapsed ? "c" : "");
            std::fprintf(stderr, "\n%s\n--\n", qUtf8Printable(s.e.Text()));
        }
        CheckCaret(s, op);
        CheckRanges(s, op);
        CheckFolds(s, op);
        // Copying all lines doubles the text: a few dozen steps would
        // otherwise make it larger than any script. Every check rescans the
        // whole text, so the limits set the speed of the run; what goes
        // wrong in a long text goes wrong in a short one.
        if (in.Empty() || steps == 100 || TextSize(s) > 2000)
            break;
        op = Step(s, in);
    }

    // Steps undone by the input are redone first, so undo and redo cover
    // the whole history.
    while (s.e.CanRedo())
        s.e.Redo();
    CheckCaret(s, "redoing what was undone");
    CheckRanges(s, "redoing what was undone");
    const QString end = s.e.Text();
    while (s.e.CanUndo())
        s.e.Undo();
    Expect(s.e.Text() == start, "undoing everything does not give the starting text", s, "undoing everything");
    Expect(!s.e.Modified(), "the text is modified after undoing everything", s, "undoing everything");
    CheckCaret(s, "undoing everything");
    CheckRanges(s, "undoing everything");
    while (s.e.CanRedo())
        s.e.Redo();
    Expect(s.e.Text() == end, "redoing everything does not give the final text", s, "redoing everything");
    CheckRanges(s, "redoing everything");
    // Released here, not at the next start: memory kept after a run makes
    // libFuzzer run the input again to look for a leak.
    ScannedLines().clear();
    return 0;
}
