// The editor core under a sequence of line-buffer operations decoded from the
// input: after every operation outside a batch, the stored range states, the
// fold markers and the fold ranges equal what a full rescan of the same text
// gives, and the fold row mapping is consistent. Operations are a table of
// small handlers, so editing commands can join them as rows.
#include "FuzzInput.h"

#include "editor/EditorCore.h"
#include "editor/PythonHighlighter.h"

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

QStringList Lines(FuzzInput& in, int most)
{
    QStringList lines;
    for (int n = 1 + in.Below(most); n > 0; --n)
        lines << Line(in);
    return lines;
}

// A text with every kind of line break between its lines.
QString Text(FuzzInput& in)
{
    static const char16_t* const kBreaks[] = {u"\r\n", u"\n", u"\r"};
    QString text;
    for (const QString& line : Lines(in, 8)) {
        text += line;
        if (in.Below(4) != 0)
            text += QString::fromUtf16(kBreaks[in.Below(3)]);
    }
    return text;
}

struct Session {
    TPythonHighlighter highlighter;
    TEditorCore core;
    int openBatches = 0;

    TLineBuffer& Buffer() { return core.Lines(); }
    // Any index a caller could pass, a little past either end included.
    int Index(FuzzInput& in) { return in.Below(Buffer().Count() + 3) - 1; }
    int FoldIndex(FuzzInput& in) { return in.Below(core.AllFoldRanges().Count() + 2) - 1; }
};

struct Op {
    const char* name;
    void (*run)(Session&, FuzzInput&);
};

const Op kOps[] = {
    {"Insert", [](Session& s, FuzzInput& in) { s.Buffer().Insert(s.Index(in), Line(in)); }},
    {"Add", [](Session& s, FuzzInput& in) { s.Buffer().Add(Line(in)); }},
    {"InsertStrings",
        [](Session& s, FuzzInput& in) {
            const int at = s.Index(in);
            const QStringList lines = Lines(in, 6);
            s.Buffer().InsertStrings(at, lines, in.Below(3));
        }},
    {"InsertText",
        [](Session& s, FuzzInput& in) {
            const int at = s.Index(in);
            s.Buffer().InsertText(at, Text(in));
        }},
    {"Put",
        [](Session& s, FuzzInput& in) {
            const int at = s.Index(in);
            s.Buffer().Put(at, Line(in));
        }},
    {"Delete", [](Session& s, FuzzInput& in) { s.Buffer().Delete(s.Index(in)); }},
    {"DeleteLines",
        [](Session& s, FuzzInput& in) {
            const int at = s.Index(in);
            s.Buffer().DeleteLines(at, in.Below(6));
        }},
    {"Clear", [](Session& s, FuzzInput&) { s.Buffer().Clear(); }},
    {"SetText", [](Session& s, FuzzInput& in) { s.core.SetText(Text(in)); }},
    {"BeginUpdate",
        [](Session& s, FuzzInput&) {
            s.Buffer().BeginUpdate();
            ++s.openBatches;
        }},
    {"EndUpdate",
        [](Session& s, FuzzInput&) {
            if (s.openBatches > 0) {
                s.Buffer().EndUpdate();
                --s.openBatches;
            }
        }},
    {"Collapse", [](Session& s, FuzzInput& in) { s.core.Collapse(s.FoldIndex(in)); }},
    {"Uncollapse", [](Session& s, FuzzInput& in) { s.core.Uncollapse(s.FoldIndex(in)); }},
    {"SetTabWidth", [](Session& s, FuzzInput& in) { s.core.SetTabWidth(in.Below(10)); }},
    {"ToggleFolding", [](Session& s, FuzzInput&) { s.core.SetUseCodeFolding(!s.core.UseCodeFolding()); }},
};
constexpr int kOpCount = int(std::size(kOps));

// Checks run after every step: the text for a report is only made on failure.
void Expect(bool ok, const char* what, const Session& s, const char* op)
{
    if (!ok)
        fuzz::Fail(what, QStringLiteral("after %1 on:\n").arg(QLatin1String(op)) + s.core.Text());
}

void CheckRanges(const Session& s, const char* op)
{
    static TPythonHighlighter full;
    const TLineBuffer& b = s.core.Lines();
    full.ResetRange();
    for (int i = 0; i < b.Count(); ++i) {
        full.SetLine(b.GetRef(i), i);
        full.NextToEol();
        Expect(b.GetRange(i) == full.GetRange(), "a stored range differs from a full rescan", s, op);
    }
}

void CheckFolds(const Session& s, const char* op)
{
    if (!s.core.CodeFoldingActive())
        return;
    // What the editor's full scan does, into a model of its own; the stored
    // range states it reads were just checked against a full rescan.
    static TPythonHighlighter scanner;
    const TLineBuffer& lines = s.core.Lines();
    TFoldRanges full;
    scanner.InitFoldRanges(full);
    full.StartScanning();
    if (lines.Count() > 0)
        scanner.ScanForFoldRanges(full, lines, 0, lines.Count() - 1);
    if (full.StopScanning(lines))
        scanner.AdjustFoldRanges(full, lines);
    const TFoldRanges& mine = s.core.AllFoldRanges();
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzInput in(data, size);
    Session s;
    s.core.SetHighlighter(&s.highlighter);
    s.core.SetTabWidth(1 + in.Below(8));
    s.core.SetUseCodeFolding(in.Below(4) != 0);
    s.core.SetText(Text(in));
    CheckRanges(s, "SetText");
    CheckFolds(s, "SetText");
    for (int steps = 0; !in.Empty() && steps < 200; ++steps) {
        const Op& op = kOps[in.Below(kOpCount)];
        try {
            op.run(s, in);
        } catch (const ELineBuffer&) {
            // An index outside the list: refused, and the state must stay sound.
        } catch (const EArgumentOutOfRange&) {
        }
        if (s.openBatches == 0) {
            CheckRanges(s, op.name);
            CheckFolds(s, op.name);
        }
    }
    while (s.openBatches > 0) {
        s.Buffer().EndUpdate();
        --s.openBatches;
    }
    CheckRanges(s, "the last EndUpdate");
    CheckFolds(s, "the last EndUpdate");
    return 0;
}
