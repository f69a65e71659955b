// The error mark: which characters it underlines, and how it stays on its
// text line while the text around it is edited.
#include "editor/EditorCore.h"
#include "editor/ErrorMark.h"

#include <QStringList>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <random>

using namespace editor;

namespace {

struct MarkCase {
    const char* name;
    QString text;
    TErrorMark mark;
    std::function<void(TEditorCore&)> edit;
    int line;                      // where the mark is after the edit, 0: gone
    std::optional<TMarkSpan> span; // resolved against that line's text
};

TEST(ErrorMark, ColumnsResolveAndTheMarkFollowsItsLine)
{
    auto none = [](TEditorCore&) {};
    const QString abc = QStringLiteral("a\nb\nc\nd");
    const std::vector<MarkCase> cases = {
        {"column 0 is the first non-blank", "    x = (1", {1, 0, 0, "m"}, none, 1, TMarkSpan{4, 10}},
        {"explicit columns", "x = foo(1, 2)", {1, 5, 8, "m"}, none, 1, TMarkSpan{4, 7}},
        {"end at or before start runs to the end", "x = foo(1, 2)", {1, 5, 5, "m"}, none, 1, TMarkSpan{4, 13}},
        {"end past the text is cut at it", "abc", {1, 2, 40, "m"}, none, 1, TMarkSpan{1, 3}},
        {"at the line's end: one cell there", "x = (1", {1, 7, 0, "m"}, none, 1, TMarkSpan{6, 7}},
        {"past the line's end: one cell there", "x = (1", {1, 10, 12, "m"}, none, 1, TMarkSpan{9, 10}},
        {"blank line: the cell after the blanks", "\t  ", {1, 0, 0, "m"}, none, 1, TMarkSpan{3, 4}},
        {"end before the first non-blank: one cell", "    x", {1, 0, 2, "m"}, none, 1, TMarkSpan{4, 5}},
        {"whole clusters", QStringLiteral("a\U0001F600b"), {1, 3, 3, "m"}, none, 1, TMarkSpan{1, 4}},
        {"end inside a cluster", QStringLiteral("a\U0001F600b"), {1, 1, 3, "m"}, none, 1, TMarkSpan{0, 3}},
        {"a line past the last marks the last", abc, {9, 1, 0, "m"}, none, 4, TMarkSpan{0, 1}},
        {"negative line marks the first", abc, {-3, 1, 0, "m"}, none, 1, TMarkSpan{0, 1}},
        {"empty text has no line to mark", "", {1, 1, 0, "m"}, none, 0, std::nullopt},
        // Edits as the editor makes them.
        {"line break typed above", abc, {3, 1, 0, "m"}, [](TEditorCore& e) { e.InsertTextAt({1, 1}, u"new\n"); }, 4,
         TMarkSpan{0, 1}},
        {"lines pasted below", abc, {2, 1, 0, "m"}, [](TEditorCore& e) { e.InsertTextAt({2, 3}, u"\nx\ny"); }, 2,
         TMarkSpan{0, 1}},
        {"line break typed in the line keeps its first part", "a\nbcd\nc", {2, 2, 0, "m"},
         [](TEditorCore& e) { e.InsertTextAt({2, 2}, u"\n"); }, 2, TMarkSpan{1, 2}},
        {"a line inserted at the marked one pushes it down", abc, {2, 1, 0, "m"},
         [](TEditorCore& e) { e.Lines().Insert(1, "q"); }, 3, TMarkSpan{0, 1}},
        {"lines joined above", abc, {3, 1, 0, "m"}, [](TEditorCore& e) { e.DeleteTextRange({2, 1}, {1, 2}); }, 2,
         TMarkSpan{0, 1}},
        {"lines deleted above", abc, {4, 1, 0, "m"}, [](TEditorCore& e) { e.Lines().DeleteLines(0, 2); }, 2,
         TMarkSpan{0, 1}},
        {"the line below joined to it", abc, {2, 0, 0, "m"}, [](TEditorCore& e) { e.DeleteTextRange({2, 2}, {1, 3}); },
         2, TMarkSpan{0, 2}},
        {"the marked line deleted", abc, {2, 1, 0, "m"}, [](TEditorCore& e) { e.DeleteTextRange({2, 1}, {2, 2}); }, 0,
         std::nullopt},
        {"the marked line deleted with others", abc, {3, 1, 0, "m"},
         [](TEditorCore& e) { e.Lines().DeleteLines(1, 5); }, 0, std::nullopt},
        {"the text replaced", abc, {1, 1, 0, "m"}, [](TEditorCore& e) { e.SetText("a\nb\nc\nd"); }, 0, std::nullopt},
        {"the text cleared", abc, {4, 1, 0, "m"}, [](TEditorCore& e) { e.Lines().Clear(); }, 0, std::nullopt},
        {"typing in the line leaves the mark", "x = (1", {1, 5, 0, "m"},
         [](TEditorCore& e) { e.InsertTextAt({7, 1}, u")"); }, 1, TMarkSpan{4, 7}},
    };
    for (const MarkCase& c : cases) {
        SCOPED_TRACE(c.name);
        TEditorCore core;
        core.SetText(c.text);
        TErrorMarker marker(core.Lines());
        std::vector<std::pair<int, int>> reports;
        marker.OnChanged = [&](int oldLine, int newLine) { reports.emplace_back(oldLine, newLine); };
        marker.Set(c.mark);
        const int before = marker.Mark() ? marker.Mark()->Line : 0;
        reports.clear();
        c.edit(core);
        ASSERT_EQ(marker.Mark().has_value(), c.line != 0);
        // A move is reported once, with where the mark was and is; no move, no report.
        using Reports = std::vector<std::pair<int, int>>;
        const Reports expected = before == c.line ? Reports{} : Reports{{before, c.line}};
        EXPECT_EQ(reports, expected);
        if (!marker.Mark())
            continue;
        EXPECT_EQ(marker.Mark()->Line, c.line);
        EXPECT_EQ(marker.Mark()->Message, "m");
        EXPECT_EQ(MarkSpan(*marker.Mark(), core.Lines().GetRef(c.line - 1)), *c.span);
    }
}

// Random edits through the editor; a parallel list of line identities says
// where the marked line must be: a line break keeps the split line's identity
// on its first part, a join keeps the first line's.
TEST(ErrorMark, TheMarkStaysOnTheLineItWasSetOn)
{
    std::mt19937 rng(4711);
    auto pick = [&](int n) { return n > 0 ? int(rng() % unsigned(n)) : 0; };
    int nextId = 0;
    for (int run = 0; run < 40; ++run) {
        TEditorCore core;
        std::vector<int> ids;
        QStringList start;
        for (int i = 0, n = 1 + pick(12); i < n; ++i) {
            start << QString(pick(6), u'x');
            ids.push_back(nextId++);
        }
        core.SetText(start.join("\n"));
        auto marker = std::make_unique<TErrorMarker>(core.Lines());
        int markedId = -1;
        TLineBuffer& b = core.Lines();
        auto coord = [&](int line) { return TBufferCoord{1 + pick(int(b.GetRef(line).size()) + 2), line + 1}; };
        for (int step = 0; step < 120; ++step) {
            if ((markedId < 0 || rng() % 10 == 0) && b.Count() > 0) {
                const int line = pick(b.Count());
                marker->Set({line + 1, 1 + pick(3), 0, "err"});
                markedId = ids[size_t(line)];
            }
            const bool batch = rng() % 5 == 0;
            if (batch)
                b.BeginUpdate();
            for (int k = 0, ops = batch ? 1 + pick(3) : 1; k < ops; ++k) {
                switch (rng() % 6) {
                case 0: { // typed or pasted text with line breaks
                    if (b.Count() == 0)
                        ids.push_back(nextId++);
                    const int line = pick(b.Count());
                    const int breaks = pick(4);
                    QString text = "y";
                    for (int i = 0; i < breaks; ++i)
                        text += "\nz";
                    core.InsertTextAt(coord(line), text);
                    for (int i = 0; i < breaks; ++i)
                        ids.insert(ids.begin() + line + 1, nextId++);
                    break;
                }
                case 1: { // a selection deleted, joining its lines
                    if (b.Count() == 0)
                        break;
                    const int first = pick(b.Count());
                    const int last = std::min(b.Count() - 1, first + pick(4));
                    core.DeleteTextRange(coord(first), coord(last));
                    if (last > first)
                        ids.erase(ids.begin() + first + 1, ids.begin() + last + 1);
                    break;
                }
                case 2: { // lines straight into the buffer
                    const int at = pick(b.Count() + 1);
                    const int n = 1 + pick(3);
                    b.InsertStrings(at, QStringList(n, "w"));
                    ids.insert(ids.begin() + at, size_t(n), 0);
                    for (int i = 0; i < n; ++i)
                        ids[size_t(at + i)] = nextId++;
                    break;
                }
                case 3: {
                    if (b.Count() == 0)
                        break;
                    const int at = pick(b.Count());
                    const int n = std::min(b.Count() - at, 1 + pick(3));
                    b.DeleteLines(at, n);
                    ids.erase(ids.begin() + at, ids.begin() + at + n);
                    break;
                }
                case 4:
                    if (b.Count() > 0)
                        b.Put(pick(b.Count()), "p");
                    break;
                case 5:
                    if (rng() % 6 == 0) {
                        core.SetText("s\nt");
                        ids = {nextId, nextId + 1};
                        nextId += 2;
                    }
                    break;
                }
            }
            if (batch)
                b.EndUpdate();
            ASSERT_EQ(int(ids.size()), b.Count()) << "run " << run << " step " << step;
            const auto at = std::find(ids.begin(), ids.end(), markedId);
            if (at == ids.end()) {
                ASSERT_FALSE(marker->Mark().has_value()) << "run " << run << " step " << step;
                markedId = -1;
            } else {
                ASSERT_TRUE(marker->Mark().has_value()) << "run " << run << " step " << step;
                ASSERT_EQ(marker->Mark()->Line, int(at - ids.begin()) + 1) << "run " << run << " step " << step;
            }
        }
        // The buffer may outlive its marker.
        marker.reset();
        b.Insert(0, "after");
        b.DeleteLines(0, 2);
    }
}

} // namespace
