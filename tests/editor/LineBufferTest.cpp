#include "editor/LineBuffer.h"
#include "editor/TextLoader.h"

#include <QBuffer>
#include <QStringList>
#include <gtest/gtest.h>

#include <random>

using namespace editor;

namespace {

QStringList LinesOf(const TLineBuffer& b)
{
    QStringList out;
    for (int i = 0; i < b.Count(); ++i)
        out << b.Get(i);
    return out;
}

// Records every event as text, in order.
struct EventLog {
    QStringList log;
    void Attach(TLineBuffer& b)
    {
        b.OnChanging = [this](TLineBuffer*) { log << "changing"; };
        b.OnChange = [this](TLineBuffer*) { log << "change"; };
        b.OnBeforeDeleted = [this](TLineBuffer*, int i, int n) { log << QString("before %1 %2").arg(i).arg(n); };
        b.OnDeleted = [this](TLineBuffer*, int i, int n) { log << QString("deleted %1 %2").arg(i).arg(n); };
        b.OnInserted = [this](TLineBuffer*, int i, int n) { log << QString("inserted %1 %2").arg(i).arg(n); };
        b.OnPut = [this](TLineBuffer*, int i, const QString& old) { log << QString("put %1 %2").arg(i).arg(old); };
        b.OnCleared = [this](TLineBuffer*) { log << "cleared"; };
    }
};

template <typename F>
QString ErrorOf(F f)
{
    try {
        f();
    } catch (const platform::Exception& e) {
        return e.Message();
    }
    return QString();
}

QByteArray Save(TTextLoader& loader, const TLineBuffer& b)
{
    QByteArray bytes;
    QBuffer dev(&bytes);
    dev.open(QIODevice::WriteOnly);
    loader.SaveToStream(b, dev);
    return bytes;
}

void Load(TTextLoader& loader, TLineBuffer& b, const QByteArray& bytes)
{
    QByteArray copy = bytes;
    QBuffer dev(&copy);
    dev.open(QIODevice::ReadOnly);
    loader.LoadFromStream(b, dev);
}

} // namespace

TEST(LineBuffer, SplittingAndFileFormat)
{
    TLineBuffer b;
    EXPECT_EQ(b.SetText("a\r\nb"), sffDos);
    EXPECT_EQ(LinesOf(b), (QStringList{"a", "b"}));
    EXPECT_EQ(b.SetText("a\nb"), sffUnix);
    EXPECT_EQ(b.SetText("a\rb"), sffMac);
    EXPECT_EQ(b.SetText("a\r\nb\nc"), sffDos);
    EXPECT_EQ(LinesOf(b), (QStringList{"a", "b", "c"}));
    b.SetText("a\n\rb");
    EXPECT_EQ(LinesOf(b), (QStringList{"a", "", "b"}));
    EXPECT_EQ(b.SetText(QString("a") + QChar(0x2028) + "b"), sffUnicode);
    EXPECT_EQ(LinesOf(b), (QStringList{"a", "b"}));
    b.SetText("x\n");
    EXPECT_EQ(LinesOf(b), (QStringList{"x", ""}));
    EXPECT_EQ(b.GetText(), "x\r\n");
    EXPECT_EQ(b.SetText("no break"), sffDos);
    EXPECT_EQ(b.GetSeparatedText("|"), "no break");

    EventLog log;
    log.Attach(b);
    b.SetText("");
    EXPECT_EQ(b.Count(), 0);
    EXPECT_FALSE(log.log.join(",").contains("inserted"));
    log.log.clear();
    b.SetText("p\nq");
    EXPECT_EQ(log.log, (QStringList{"changing", "inserted 0 2", "change"}));
}

TEST(LineBuffer, IndexRulesAndErrors)
{
    TLineBuffer b;
    EventLog log;
    log.Attach(b);
    b.Put(0, "x"); // appends on an empty buffer
    EXPECT_EQ(LinesOf(b), (QStringList{"x"}));
    EXPECT_EQ(log.log, (QStringList{"changing", "inserted 0 1", "put 0 ", "change"}));
    EXPECT_EQ(b.Get(1), "");
    EXPECT_EQ(b.Get(-1), "");
    EXPECT_EQ(b.GetRange(5), 0);
    EXPECT_EQ(ErrorOf([&] { b.Delete(1); }), "Invalid stringlist index 1");
    EXPECT_EQ(ErrorOf([&] { b.Put(5, "y"); }), "Invalid stringlist index 5");
    EXPECT_EQ(ErrorOf([&] { b.Insert(-1, "y"); }), "Invalid stringlist index -1");
    EXPECT_EQ(ErrorOf([&] { b.DeleteLines(3, 1); }), "Invalid stringlist index 3");
    EXPECT_EQ(ErrorOf([&] { b.PutRange(2, 1); }), "Invalid stringlist index 2");
    EXPECT_EQ(ErrorOf([&] { b.InsertStrings(9, {"a"}); }), "Invalid stringlist index 9");
    EXPECT_EQ(ErrorOf([&] { b.SetCapacity(0); }), "Stringlist capacity cannot be smaller than count");
    EXPECT_EQ(LinesOf(b), (QStringList{"x"}));
    b.DeleteLines(0, 0); // nothing to do, no error
    b.InsertStrings(1, {"a", "b", "c"}, 3); // nothing left to insert
    EXPECT_EQ(b.Count(), 1);
}

TEST(LineBuffer, CapacityGrowsThroughTheFixedSequence)
{
    TLineBuffer b;
    std::vector<int> seen;
    for (int i = 0; i < 171; ++i) {
        b.Add(QString::number(i));
        if (seen.empty() || seen.back() != b.Capacity())
            seen.push_back(b.Capacity());
    }
    EXPECT_EQ(seen, (std::vector<int>{4, 8, 12, 28, 44, 60, 76, 114, 171}));
    b.Clear();
    EXPECT_EQ(b.Capacity(), 0);
}

TEST(LineBuffer, EventsOfInsertDeleteAndClear)
{
    TLineBuffer b;
    b.SetText("a\nb\nc\nd");
    EventLog log;
    log.Attach(b);
    b.DeleteLines(2, 10);
    EXPECT_EQ(log.log, (QStringList{"changing", "before 2 2", "deleted 2 2", "change"}));
    EXPECT_EQ(LinesOf(b), (QStringList{"a", "b"}));
    log.log.clear();
    b.InsertText(1, "x\r\ny\r\n");
    EXPECT_EQ(LinesOf(b), (QStringList{"a", "x", "y", "b"}));
    EXPECT_EQ(log.log, (QStringList{"changing", "inserted 1 2", "change"}));
    EXPECT_EQ(b.GetRange(1), kRangeNotScanned);
    log.log.clear();
    b.Delete(0);
    EXPECT_EQ(log.log, (QStringList{"changing", "before 0 1", "deleted 0 1", "change"}));
    log.log.clear();
    b.BeginUpdate();
    b.Insert(0, "q");
    b.Put(0, "r");
    b.EndUpdate();
    EXPECT_EQ(log.log, (QStringList{"changing", "inserted 0 1", "put 0 q", "change"}));
    log.log.clear();
    b.Clear();
    EXPECT_EQ(log.log, (QStringList{"changing", "before 0 4", "deleted 0 4", "cleared", "change"}));
    log.log.clear();
    b.Clear();
    EXPECT_FALSE(log.log.contains("cleared"));
}

TEST(LineBuffer, RecordsKeepRangeFlagsAndCharIndexes)
{
    TLineBuffer b;
    b.SetText("ab\ncde\n\nf");
    b.PutRange(1, 7);
    b.SetChangeFlags(1, sfModified | sfSaved);
    b.Put(1, "CDE");
    EXPECT_EQ(b.GetRange(1), 7);
    EXPECT_EQ(b.GetChangeFlags(1), sfModified | sfSaved);
    b.SetChangeFlags(1, 0xFF);
    EXPECT_EQ(b.GetChangeFlags(1), kLineChangeFlagsMask);
    b.SetChangeFlags(99, sfModified); // ignored
    EXPECT_EQ(b.LineCharIndex(0), 0);
    EXPECT_EQ(b.LineCharIndex(1), 2);
    EXPECT_EQ(b.LineCharIndex(3), 5);
    b.Insert(0, "0123");
    EXPECT_EQ(b.LineCharIndex(4), 9);
    EXPECT_EQ(b.LineCharLength(1), 2);
    EXPECT_EQ(b.LineCharIndex(10), 0);
    int obj = 0;
    b.PutObject(2, &obj);
    EXPECT_EQ(b.GetObject(2), &obj);
    EXPECT_EQ(b.GetObject(9), nullptr);
}

TEST(LineBuffer, LoadedTextTakesExactlyItsLines)
{
    // A million-line file must not carry a third of its records unused.
    TLineBuffer b;
    b.SetText(QString("x\n").repeated(1000) + "y");
    EXPECT_EQ(b.Count(), 1001);
    EXPECT_EQ(b.Capacity(), 1001);
    b.Add("z"); // growth goes on from there
    EXPECT_EQ(b.Capacity(), 1501);
    EXPECT_EQ(b.GetObject(1001), nullptr);
}

TEST(LineBuffer, WidthsAndParallelMaximum)
{
    TLineBuffer b([](const QString& s) { return int(s.size()) * 10; });
    QStringList lines;
    for (int i = 0; i < 20000; ++i)
        lines << QString(i % 97, 'x');
    lines[12345] = QString(300, 'y');
    b.InsertStrings(0, lines);
    EXPECT_EQ(b.GetMaxWidth(), 3000);
    EXPECT_EQ(b.GetTextWidth(3), 30);
    EXPECT_EQ(b.GetTextWidth(-3), 0);
    b.Put(12345, "short"); // the widest line shrank: maximum unknown again
    EXPECT_EQ(b.GetMaxWidth(), 960);
    b.Put(0, QString(500, 'z'));
    EXPECT_EQ(b.GetMaxWidth(), 5000);
    b.SetTabWidth(4);
    EXPECT_EQ(b.GetMaxWidth(), 5000);
    TLineBuffer empty;
    EXPECT_EQ(empty.GetMaxWidth(), 0);
}

TEST(LineBuffer, ChainedHandlersRunPreviousFirst)
{
    TLineBuffer b;
    QStringList order;
    b.OnInserted = [&](TLineBuffer*, int, int) { order << "first"; };
    ChainEvent(b.OnInserted, [&](TLineBuffer*, int, int) { order << "second"; });
    b.Add("x");
    EXPECT_EQ(order, (QStringList{"first", "second"}));
}

TEST(LineBuffer, EditsAnywhereMatchAPlainList)
{
    // Records live around a movable gap; every way of reaching them must
    // see the same lines as a plain list given the same edits.
    std::mt19937 rng(99);
    auto pick = [&](int n) { return n > 0 ? int(rng() % unsigned(n)) : 0; };
    TLineBuffer b;
    QStringList model;
    // Objects sit beside the records; they must follow their lines.
    QList<void*> objects;
    auto object = [](int step) { return reinterpret_cast<void*>(std::intptr_t(step) * 8 + 8); };
    for (int step = 0; step < 3000; ++step) {
        const QString s = QString::number(step);
        switch (rng() % 7) {
        case 0: {
            const int i = pick(int(model.size()) + 1);
            b.Insert(i, s);
            model.insert(i, s);
            objects.insert(i, nullptr);
            break;
        }
        case 1: {
            const int i = pick(int(model.size()) + 1);
            b.InsertStrings(i, {s, s + "b", s + "c"});
            model.insert(i, s + "c");
            model.insert(i, s + "b");
            model.insert(i, s);
            objects.insert(i, 3, nullptr);
            break;
        }
        case 2:
            if (!model.isEmpty()) {
                const int i = pick(int(model.size()));
                b.Delete(i);
                model.removeAt(i);
                objects.removeAt(i);
            }
            break;
        case 3:
            if (!model.isEmpty()) {
                const int i = pick(int(model.size())), n = 1 + pick(4);
                b.DeleteLines(i, n);
                model.remove(i, std::min<qsizetype>(n, model.size() - i));
                objects.remove(i, std::min<qsizetype>(n, objects.size() - i));
            }
            break;
        case 4: {
            const int i = pick(int(model.size()) + 1);
            b.Put(i, s);
            if (i == model.size()) {
                model.append(s);
                objects.append(nullptr);
            } else
                model[i] = s;
            break;
        }
        case 5:
            if (rng() % 50 == 0) {
                b.SetText(model.join("\n"));
                if (model.size() == 1 && model[0].isEmpty())
                    model.clear();
                objects.fill(nullptr, model.size());
            }
            break;
        case 6:
            if (!model.isEmpty()) {
                const int i = pick(int(model.size()));
                b.PutObject(i, object(step));
                objects[i] = object(step);
            }
            break;
        }
        ASSERT_EQ(b.Count(), model.size()) << step;
        if (step % 100 == 0 || model.size() < 20) {
            ASSERT_EQ(b.GetSeparatedText("\n"), model.join("\n")) << step;
            qsizetype sum = 0;
            for (int i = 0; i < b.Count(); ++i) {
                ASSERT_EQ(b.LineCharIndex(i), sum) << step;
                ASSERT_EQ(b.GetObject(i), objects[i]) << step;
                sum += model[i].size();
            }
        }
        b.FontChanged();
        ASSERT_EQ(b.GetMaxWidth() >= 0, true);
    }
}

TEST(LineBuffer, ReadOnlyQueriesWorkOnAConstBuffer)
{
    TLineBuffer b([](const QString& s) { return int(s.size()) * 7; });
    b.SetText("ab\ncde\n");
    const TLineBuffer& view = b;
    EXPECT_EQ(view.LineCharIndex(1), 2);
    EXPECT_EQ(view.GetTextWidth(1), 21);
    EXPECT_EQ(view.GetMaxWidth(), 21);
    b.Put(0, "abcdefgh");
    EXPECT_EQ(view.LineCharIndex(1), 8); // the caches follow edits
    EXPECT_EQ(view.GetMaxWidth(), 56);
}

TEST(TextLoader, LoadAndSaveRoundTrips)
{
    TLineBuffer b;
    TTextLoader loader;
    // UTF-8 with BOM: loads as UTF-8 and is written back with the BOM.
    const QByteArray withBom = QByteArray("\xEF\xBB\xBF") + QString("x = '\u00e9'\r\ny").toUtf8();
    Load(loader, b, withBom);
    EXPECT_EQ(LinesOf(b), (QStringList{QString("x = '\u00e9'"), "y"}));
    EXPECT_TRUE(loader.WriteBOM());
    EXPECT_EQ(loader.Encoding(), TEncoding::UTF8);
    EXPECT_EQ(Save(loader, b), withBom);

    // No BOM, valid UTF-8: loads as UTF-8, saved without BOM, LF kept.
    const QByteArray plain = QString("a\u3042\nb\n").toUtf8();
    Load(loader, b, plain);
    EXPECT_FALSE(loader.WriteBOM());
    EXPECT_EQ(loader.Encoding(), TEncoding::UTF8);
    EXPECT_EQ(loader.FileFormat(), sffUnix);
    EXPECT_EQ(LinesOf(b), (QStringList{QString("a\u3042"), "b", ""}));
    EXPECT_EQ(Save(loader, b), plain);

    // UTF-16 with either byte order.
    for (TEncoding enc : {TEncoding::Unicode, TEncoding::BigEndianUnicode}) {
        loader.SetText(b, QString("p\r\n\U0001F600q"));
        loader.SetWriteBOM(true);
        QByteArray bytes;
        QBuffer dev(&bytes);
        dev.open(QIODevice::WriteOnly);
        ASSERT_TRUE(loader.SaveToStream(b, dev, enc));
        EXPECT_TRUE(bytes.startsWith(TTextLoader::Preamble(enc)));
        TLineBuffer c;
        TTextLoader cLoader;
        Load(cLoader, c, bytes);
        EXPECT_EQ(cLoader.Encoding(), enc);
        EXPECT_EQ(c.GetText(), b.GetText());
    }

    // An explicit encoding is used as given; its own preamble is skipped.
    {
        QByteArray bytes = QByteArray("\xFF\xFE") + QByteArray("h\0i\0", 4);
        QBuffer dev(&bytes);
        dev.open(QIODevice::ReadOnly);
        loader.LoadFromStream(b, dev, TEncoding::Unicode);
        EXPECT_EQ(LinesOf(b), (QStringList{"hi"}));
        EXPECT_TRUE(loader.WriteBOM());
    }

    // Only the first bytes decide; a multi-byte character cut by the check
    // limit still counts as UTF-8.
    QByteArray longText(16383, 'a');
    longText += QString("\u00e9\u00e9").toUtf8();
    Load(loader, b, longText);
    EXPECT_EQ(loader.Encoding(), TEncoding::UTF8);
    EXPECT_EQ(b.Get(0).size(), 16385);
}

TEST(TextLoader, ByteOrderMarkCharacterAfterThePreambleIsKept)
{
    // Found by fuzzing: a U+FEFF that begins the text itself was dropped.
    TLineBuffer b;
    TTextLoader loader;
    const QByteArray twoMarks("\xEF\xBB\xBF\xEF\xBB\xBFx");
    Load(loader, b, twoMarks);
    EXPECT_EQ(b.GetText(), QString(QChar(0xFEFF)) + "x");
    EXPECT_EQ(Save(loader, b), twoMarks);
    // Read as 8-bit text there is no preamble, so both marks are text.
    QByteArray copy = twoMarks;
    QBuffer dev(&copy);
    dev.open(QIODevice::ReadOnly);
    loader.LoadFromStream(b, dev, TEncoding::ANSI);
    EXPECT_EQ(b.GetText(), QString(2, QChar(0xFEFF)) + "x");
    EXPECT_EQ(Save(loader, b), twoMarks);
}

TEST(TextLoader, BrokenEncodingsAreRefusedAndKeepTheText)
{
    TLineBuffer b;
    TTextLoader loader;
    loader.SetText(b, "keep me");
    EventLog log;
    log.Attach(b);
    const QString latin1Error = ErrorOf([&] { Load(loader, b, QByteArray("caf\xE9 au lait")); });
    EXPECT_EQ(latin1Error, "The text is not valid UTF-8: invalid byte sequence at byte 3");
    EXPECT_EQ(LinesOf(b), (QStringList{"keep me"}));
    EXPECT_EQ(log.log, (QStringList{"changing", "change"})); // the update pair was closed
    EXPECT_FALSE(ErrorOf([&] { Load(loader, b, QByteArray("\xEF\xBB\xBF" "ab\xC0\x80")); }).isEmpty());
    EXPECT_FALSE(ErrorOf([&] { Load(loader, b, QByteArray("\xFF\xFE" "a", 3)); }).isEmpty());
    EXPECT_FALSE(ErrorOf([&] { Load(loader, b, QByteArray("\xED\xA0\x80")); }).isEmpty()); // encoded surrogate
    EXPECT_EQ(LinesOf(b), (QStringList{"keep me"}));

    // A lone surrogate cannot be written as UTF-8: the handler may pick
    // another encoding or cancel; without one the save fails loudly.
    loader.SetText(b, QString("x") + QChar(0xD800));
    EXPECT_FALSE(ErrorOf([&] { Save(loader, b); }).isEmpty());
    loader.OnInfoLoss = [](TEncoding&, bool& cancel) { cancel = true; };
    QByteArray bytes;
    QBuffer dev(&bytes);
    dev.open(QIODevice::WriteOnly);
    EXPECT_FALSE(loader.SaveToStream(b, dev));
    EXPECT_TRUE(bytes.isEmpty());
    loader.OnInfoLoss = [](TEncoding& enc, bool&) { enc = TEncoding::Unicode; };
    EXPECT_TRUE(loader.SaveToStream(b, dev));
    EXPECT_EQ(loader.Encoding(), TEncoding::Unicode);
    EXPECT_EQ(bytes.size(), 4);
}

TEST(TextLoader, LineSeparatorBeforeCrLfKeepsTheEmptyLineBetween)
{
    // A U+2028 followed by CR LF was taken as one break, so loading and saving
    // such a text lost the empty line between them.
    TLineBuffer b;
    TTextLoader loader;
    loader.SetText(b, QString("a") + QChar(0x2028) + "\r\nb");
    EXPECT_EQ(LinesOf(b), (QStringList{"a", "", "b"}));
    EXPECT_EQ(loader.FileFormat(), sffUnicode);
    const QByteArray saved = Save(loader, b);
    EXPECT_EQ(saved, QString(QString("a") + QChar(0x2028) + QChar(0x2028) + "b").toUtf8());
    Load(loader, b, saved);
    EXPECT_EQ(LinesOf(b), (QStringList{"a", "", "b"}));
}
