#include "editor/TextSearch.h"

#include "EditorTestSupport.h"

#include <QRegularExpression>

#include <random>
#include <vector>

using namespace editor;
using editor::testing::TestEditor;

namespace {

std::vector<TLineMatch> AllMatches(const TSearchPattern& p, const QString& line)
{
    std::vector<TLineMatch> out;
    EXPECT_EQ(ForEachMatch(p, line, [&](TLineMatch m) { out.push_back(m); }), TMatchStatus::Found);
    return out;
}

std::optional<TSearchMatch> FindOnce(const TLineBuffer& lines, const TSearchPattern& p, TBufferCoord from,
    bool backward, bool* wrapped = nullptr)
{
    TFindRun run(lines, p, from, backward);
    EXPECT_TRUE(run.Step());
    EXPECT_TRUE(run.Error().isEmpty());
    if (wrapped)
        *wrapped = run.Wrapped();
    return run.Match();
}

TSearchMatch At(int line, int start, int end) { return {{start, line}, {end, line}}; }

} // namespace

TEST(TextSearch, NextAndPreviousWithEachOption)
{
    TestEditor t(QStringLiteral("Foo foo\nfood FOO\nx = foo_1"), false);
    const TLineBuffer& lines = t.e.Lines();

    const TSearchPattern any(QStringLiteral("foo"), {});
    EXPECT_EQ(FindOnce(lines, any, {1, 1}, false), At(1, 1, 4));
    EXPECT_EQ(FindOnce(lines, any, {4, 1}, false), At(1, 5, 8));
    EXPECT_EQ(FindOnce(lines, any, {8, 1}, false), At(2, 1, 4));
    EXPECT_EQ(FindOnce(lines, any, {1, 3}, true), At(2, 6, 9));
    EXPECT_EQ(FindOnce(lines, any, {5, 1}, true), At(1, 1, 4));

    const TSearchPattern exact(QStringLiteral("FOO"), {.MatchCase = true});
    EXPECT_EQ(FindOnce(lines, exact, {1, 1}, false), At(2, 6, 9));
    EXPECT_EQ(FindOnce(lines, exact, {1, 3}, true), At(2, 6, 9));

    const TSearchPattern word(QStringLiteral("foo"), {.WholeWord = true});
    EXPECT_EQ(FindOnce(lines, word, {2, 1}, false), At(1, 5, 8));
    EXPECT_EQ(FindOnce(lines, word, {8, 1}, false), At(2, 6, 9)); // not "food", not "foo_1"
    EXPECT_EQ(FindOnce(lines, word, {1, 3}, true), At(2, 6, 9));

    const TSearchPattern re(QStringLiteral("fo+d?\\b"), {.RegExp = true});
    EXPECT_EQ(FindOnce(lines, re, {1, 2}, false), At(2, 1, 5));
    const TSearchPattern reCase(QStringLiteral("^F\\w+"), {.MatchCase = true, .RegExp = true});
    EXPECT_EQ(FindOnce(lines, reCase, {2, 1}, false), At(1, 1, 4)); // wraps to the only one
    const TSearchPattern reWord(QStringLiteral("fo+"), {.WholeWord = true, .RegExp = true});
    EXPECT_EQ(FindOnce(lines, reWord, {1, 3}, true), At(2, 6, 9));
}

TEST(TextSearch, WrapsAroundOnceInBothDirections)
{
    TestEditor t(QStringLiteral("alpha\nbeta\nalpha beta"), false);
    const TSearchPattern p(QStringLiteral("beta"), {});
    bool wrapped = true;
    EXPECT_EQ(FindOnce(t.e.Lines(), p, {1, 2}, false, &wrapped), At(2, 1, 5));
    EXPECT_FALSE(wrapped);
    EXPECT_EQ(FindOnce(t.e.Lines(), p, {11, 3}, false, &wrapped), At(2, 1, 5));
    EXPECT_TRUE(wrapped);
    EXPECT_EQ(FindOnce(t.e.Lines(), p, {1, 1}, true, &wrapped), At(3, 7, 11));
    EXPECT_TRUE(wrapped);
    // The only match, searched from just after it, is found again on the
    // other side of the start.
    const TSearchPattern single(QStringLiteral("alpha b"), {});
    EXPECT_EQ(FindOnce(t.e.Lines(), single, {8, 3}, false, &wrapped), At(3, 1, 8));
    EXPECT_TRUE(wrapped);
    const TSearchPattern none(QStringLiteral("gamma"), {});
    EXPECT_EQ(FindOnce(t.e.Lines(), none, {1, 2}, false), std::nullopt);
}

TEST(TextSearch, WholeWordBesideJapaneseAndUnderscores)
{
    const TSearchPattern lit(QStringLiteral("val"), {.WholeWord = true});
    const TSearchPattern re(QStringLiteral("val"), {.WholeWord = true, .RegExp = true});
    for (const TSearchPattern* p : {&lit, &re}) {
        EXPECT_TRUE(AllMatches(*p, QStringLiteral("値val")).empty()) << "a Japanese letter joins the word";
        EXPECT_TRUE(AllMatches(*p, QStringLiteral("val値")).empty());
        EXPECT_TRUE(AllMatches(*p, QStringLiteral("_val val_ val2")).empty());
        EXPECT_EQ(AllMatches(*p, QStringLiteral("「val」")), (std::vector<TLineMatch>{{1, 4}}));
        EXPECT_EQ(AllMatches(*p, QStringLiteral("値は val です")), (std::vector<TLineMatch>{{3, 6}}));
        EXPECT_EQ(AllMatches(*p, QStringLiteral("val、val。")), (std::vector<TLineMatch>{{0, 3}, {4, 7}}));
        // A letter beyond the basic plane, written as a surrogate pair.
        EXPECT_TRUE(AllMatches(*p, QStringLiteral("𠮷val")).empty());
    }
}

TEST(TextSearch, InvalidExpressionReportsAndMatchesNothing)
{
    const TSearchPattern p(QStringLiteral("(ab"), {.RegExp = true});
    EXPECT_FALSE(p.IsValid());
    EXPECT_TRUE(p.ErrorText().contains(QStringLiteral("4"))) << p.ErrorText().toStdString();
    const TSearchPattern wordToo(QStringLiteral("a)"), {.WholeWord = true, .RegExp = true});
    EXPECT_FALSE(wordToo.IsValid());
    EXPECT_TRUE(wordToo.ErrorText().contains(QStringLiteral("2 "))) << "the offset is in the user's text";
    TestEditor t(QStringLiteral("(ab"), false);
    EXPECT_EQ(FindOnce(t.e.Lines(), p, {1, 1}, false), std::nullopt);
    TCountRun count(t.e.Lines(), p);
    EXPECT_TRUE(count.Step());
    EXPECT_EQ(count.Count(), 0);
    EXPECT_EQ(ReplaceAll(t.e, p, QStringLiteral("x")), 0);
    EXPECT_FALSE(TSearchPattern().IsValid());
}

TEST(TextSearch, EmptyMatchesAdvanceAndNeverLoop)
{
    const TSearchPattern star(QStringLiteral("x*"), {.RegExp = true});
    EXPECT_EQ(AllMatches(star, QStringLiteral("axxb")), (std::vector<TLineMatch>{{0, 0}, {1, 3}, {3, 3}, {4, 4}}));

    TestEditor t(QStringLiteral("ab\n\ncd"), false);
    const TSearchPattern start(QStringLiteral("^"), {.RegExp = true});
    // Find next from each found match visits every line start, then wraps.
    TBufferCoord from{1, 1};
    std::vector<int> visited;
    for (int i = 0; i < 4; ++i) {
        const auto m = FindOnce(t.e.Lines(), start, from, false);
        ASSERT_TRUE(m);
        EXPECT_EQ(m->Start, m->End);
        visited.push_back(m->Start.Line);
        from = m->End;
    }
    EXPECT_EQ(visited, (std::vector<int>{2, 3, 1, 2}));
    // Backwards too.
    from = {1, 3};
    visited.clear();
    for (int i = 0; i < 3; ++i) {
        const auto m = FindOnce(t.e.Lines(), start, from, true);
        ASSERT_TRUE(m);
        visited.push_back(m->Start.Line);
        from = m->Start;
    }
    EXPECT_EQ(visited, (std::vector<int>{2, 1, 3}));
    // An empty match at the start is taken when asked for (typing in the field).
    TFindRun here(t.e.Lines(), start, {1, 1}, false, true);
    here.Step();
    EXPECT_EQ(here.Match(), At(1, 1, 1));
    TCountRun count(t.e.Lines(), start);
    count.Step();
    EXPECT_EQ(count.Count(), 3);
}

TEST(TextSearch, MatchLimitStopsCatastrophicPattern)
{
    TestEditor t(QStringLiteral("ok\n") + QString(4000, u'a') + QStringLiteral("!\nend"), false);
    const TSearchPattern p(QStringLiteral("(a+)+$"), {.RegExp = true});
    ASSERT_TRUE(p.IsValid());
    TFindRun run(t.e.Lines(), p, {1, 1}, false);
    EXPECT_TRUE(run.Step());
    EXPECT_FALSE(run.Match());
    EXPECT_TRUE(run.Error().contains(QStringLiteral("2 行目"))) << run.Error().toStdString();
    TCountRun count(t.e.Lines(), p);
    count.Step();
    EXPECT_FALSE(count.Error().isEmpty());
    const QString before = t.e.Text();
    const int items = t.e.UndoManager().UndoList().Count();
    EXPECT_THROW(ReplaceAll(t.e, p, QStringLiteral("b")), ESearchError);
    EXPECT_EQ(t.e.Text(), before);
    EXPECT_EQ(t.e.UndoManager().UndoList().Count(), items);
}

TEST(TextSearch, RunsInStepsToTheSameResult)
{
    QStringList text;
    for (int i = 0; i < 5000; ++i)
        text << QStringLiteral("line %1 plain").arg(i);
    text[4321] = QStringLiteral("needle here");
    TestEditor t(text.join(u'\n'), false);
    const TSearchPattern p(QStringLiteral("needle"), {});
    TFindRun run(t.e.Lines(), p, {1, 10}, false);
    int steps = 0;
    while (!run.Step(TSearchClock::now()))
        ++steps;
    EXPECT_GT(steps, 10);
    EXPECT_EQ(run.Match(), At(4322, 1, 7));
    const TSearchPattern re(QStringLiteral("\\d+ plain"), {.RegExp = true});
    TCountRun count(t.e.Lines(), re);
    steps = 0;
    while (!count.Step(TSearchClock::now()))
        ++steps;
    EXPECT_GT(steps, 10);
    EXPECT_EQ(count.Count(), 4999);
}

TEST(TextSearch, ReplaceAllWithGroupsIsOneUndoStep)
{
    TestEditor t(QStringLiteral("a = f(1, 2)\nno call\nb = f(30, 4) + f(5, 6)"), false);
    const QString before = t.e.Text();
    const TSearchPattern p(QStringLiteral("f\\((?<x>\\d+), (\\d+)\\)"), {.RegExp = true});
    EXPECT_EQ(ReplaceAll(t.e, p, QStringLiteral("g($2, ${x}) $$$3")), 3);
    EXPECT_EQ(t.Lines(), (QStringList{"a = g(2, 1) $", "no call", "b = g(4, 30) $ + g(6, 5) $"}));
    t.e.Undo();
    EXPECT_EQ(t.e.Text(), before);
    t.e.Redo();
    EXPECT_EQ(t.Lines()[2], "b = g(4, 30) $ + g(6, 5) $");

    // A replacement that breaks lines, and a literal one that keeps "$1".
    TestEditor u(QStringLiteral("x;y\nz;w"), false);
    EXPECT_EQ(ReplaceAll(u.e, TSearchPattern(QStringLiteral(";"), {.RegExp = true}), QStringLiteral("\n")), 2);
    EXPECT_EQ(u.Lines(), (QStringList{"x", "y", "z", "w"}));
    EXPECT_EQ(ReplaceAll(u.e, TSearchPattern(QStringLiteral("y"), {}), QStringLiteral("$1")), 1);
    EXPECT_EQ(u.Lines()[1], "$1");
    u.e.Undo();
    u.e.Undo();
    EXPECT_EQ(u.e.Text(), QStringLiteral("x;y\r\nz;w"));
}

TEST(TextSearch, ReplaceSelectionOnlyWhenItIsAMatch)
{
    TestEditor t(QStringLiteral("key: value"), false);
    const TSearchPattern p(QStringLiteral("(\\w+): (\\w+)"), {.RegExp = true});
    t.e.SetSelection({1, 1}, {4, 1});
    EXPECT_FALSE(ReplaceSelection(t.e, p, QStringLiteral("$2")));
    EXPECT_EQ(t.e.Text(), QStringLiteral("key: value"));
    t.e.SetSelection({1, 1}, {11, 1});
    EXPECT_TRUE(ReplaceSelection(t.e, p, QStringLiteral("$2=$1")));
    EXPECT_EQ(t.e.Text(), QStringLiteral("value=key"));
    t.e.Undo();
    EXPECT_EQ(t.e.Text(), QStringLiteral("key: value"));
    // A lookbehind sees the text before the selection.
    const TSearchPattern behind(QStringLiteral("(?<=: )v\\w+"), {.RegExp = true});
    t.e.SetSelection({6, 1}, {11, 1});
    EXPECT_TRUE(ReplaceSelection(t.e, behind, QStringLiteral("V")));
    EXPECT_EQ(t.e.Text(), QStringLiteral("key: V"));
}

// The literal matcher and the expression matcher, given the same text
// quoted, find the same matches in random lines of mixed script and case.
TEST(TextSearch, LiteralAgreesWithQuotedExpressionOnRandomText)
{
    const QStringList pieces = {"a", "A", "b", "_", " ", "値", "ab", "AB", "s", "ſ", "K", "é", "É", "𠮷", ".", "*"};
    std::mt19937 rng(20240611);
    auto randomText = [&](int maxPieces) {
        QString s;
        const int n = int(rng() % unsigned(maxPieces + 1));
        for (int i = 0; i < n; ++i)
            s += pieces[int(rng() % unsigned(pieces.size()))];
        return s;
    };
    for (int round = 0; round < 3000; ++round) {
        QString needle = randomText(3);
        if (needle.isEmpty())
            needle = QStringLiteral("a");
        const QString line = randomText(20);
        TSearchOptions o{.MatchCase = bool(rng() & 1), .WholeWord = bool(rng() & 1)};
        const TSearchPattern lit(needle, o);
        o.RegExp = true;
        const TSearchPattern re(QRegularExpression::escape(needle), o);
        ASSERT_TRUE(re.IsValid()) << re.ErrorText().toStdString();
        const auto a = AllMatches(lit, line);
        const auto b = AllMatches(re, line);
        ASSERT_EQ(a, b) << "needle " << needle.toStdString() << " line " << line.toStdString() << " case "
                        << o.MatchCase << " word " << o.WholeWord;
        // And Previous agrees with the last of the successive matches.
        const TMatchResult last = lit.Previous(line, int(line.size()) + 1);
        EXPECT_EQ(bool(last), !a.empty());
        if (last) {
            EXPECT_EQ(last.Match, a.back());
        }
    }
}
