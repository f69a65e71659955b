#include "editor/EditorKeyCmds.h"

#include <QBuffer>
#include <QByteArray>
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <tuple>

using namespace editor;

namespace {

constexpr TShiftState kSC = ssShift | ssCtrl;
constexpr TShiftState kSA = ssShift | ssAlt;

TEditorCommand Single(const TEditorKeyStrokes& k, quint16 key, TShiftState shift)
{
    const int i = k.FindKeycode(key, shift);
    return i < 0 ? ecNone : k.Items(i).Command;
}

TEditorCommand Chord(const TEditorKeyStrokes& k, quint16 key, TShiftState shift, quint16 key2, TShiftState shift2)
{
    const int i = k.FindKeycode2(key, shift, key2, shift2);
    return i < 0 ? ecNone : k.Items(i).Command;
}

QByteArray Save(const TEditorKeyStrokes& k)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    k.SaveToStream(buffer);
    return bytes;
}

void Load(TEditorKeyStrokes& k, QByteArray bytes)
{
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    k.LoadFromStream(buffer);
}

TEditorKeyStrokes Defaults()
{
    TEditorKeyStrokes k;
    k.ResetDefaults();
    return k;
}

} // namespace

// ---------------------------------------------------------------------------
// Command names

TEST(EditorCommandNames, EveryNameRoundTripsAndNumbersAreUnique)
{
    std::set<TEditorCommand> values;
    int names = 0;
    GetEditorCommandValues([&](const QString& name) {
        ++names;
        TEditorCommand command = 0xFFFF;
        ASSERT_TRUE(IdentToEditorCommand(name, command)) << name.toStdString();
        QString back;
        ASSERT_TRUE(EditorCommandToIdent(command, back));
        EXPECT_EQ(back, name);
        EXPECT_EQ(EditorCommandToCodeString(command), name);
        values.insert(command);
    });
    EXPECT_EQ(names, 113);
    EXPECT_EQ(EditorCommandCount(), 113);
    EXPECT_EQ(values.size(), 113u);
}

TEST(EditorCommandNames, FixedNumbersAndSelectingForms)
{
    TEditorCommand c = 0;
    ASSERT_TRUE(IdentToEditorCommand(QStringLiteral("ecLineBreak"), c));
    EXPECT_EQ(c, 509);
    ASSERT_TRUE(IdentToEditorCommand(QStringLiteral("ecNone"), c));
    EXPECT_EQ(c, 0);
    ASSERT_TRUE(IdentToEditorCommand(QStringLiteral("ecUnfoldRanges"), c));
    EXPECT_EQ(c, 732);
    // Each movement command's selecting form is the movement plus 100.
    for (TEditorCommand move = ecLeft; move <= ecGotoXY; ++move) {
        QString name, selName;
        ASSERT_TRUE(EditorCommandToIdent(move, name));
        ASSERT_TRUE(EditorCommandToIdent(move + 100, selName));
        EXPECT_EQ(selName, QStringLiteral("ecSel") + name.mid(2));
    }
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(EditorCommandToCodeString(ecGotoMarker0 + i), QStringLiteral("ecGotoMarker%1").arg(i));
        EXPECT_EQ(EditorCommandToCodeString(ecSetMarker0 + i), QStringLiteral("ecSetMarker%1").arg(i));
    }
}

TEST(EditorCommandNames, UnknownNumbersAndNames)
{
    QString ident = QStringLiteral("unchanged");
    for (TEditorCommand unknown : {TEditorCommand(18), TEditorCommand(100), TEditorCommand(118), TEditorCommand(733),
                                   ecUserFirst, TEditorCommand(65535)}) {
        EXPECT_FALSE(EditorCommandToIdent(unknown, ident)) << unknown;
        EXPECT_EQ(EditorCommandToCodeString(unknown), QString::number(unknown));
    }
    EXPECT_EQ(ident, QStringLiteral("unchanged"));

    TEditorCommand c = 77;
    EXPECT_FALSE(IdentToEditorCommand(QString(), c));
    EXPECT_FALSE(IdentToEditorCommand(QStringLiteral("ecLineBrea"), c));
    EXPECT_FALSE(IdentToEditorCommand(QStringLiteral("ecLineBreakX"), c));
    EXPECT_FALSE(IdentToEditorCommand(QStringLiteral("zzz"), c));
    EXPECT_EQ(c, 77);
    // Hand-written tables may differ in letter case.
    ASSERT_TRUE(IdentToEditorCommand(QStringLiteral("ECLINEBREAK"), c));
    EXPECT_EQ(c, ecLineBreak);
}

// ---------------------------------------------------------------------------
// Default bindings

TEST(EditorKeyStrokesDefaults, CountAndNoRepeatedKeys)
{
    const auto k = Defaults();
    ASSERT_EQ(k.Count(), 99);
    int chords = 0;
    std::set<std::tuple<int, int, int, int>> keys;
    for (const auto& s : k.All()) {
        chords += s.Key2 != 0;
        EXPECT_TRUE(keys.insert({s.Key, s.Shift, s.Key2, s.Shift2}).second) << s.GetDisplayName().toStdString();
        EXPECT_LT(s.Command, ecUserFirst);
        QString name;
        EXPECT_TRUE(EditorCommandToIdent(s.Command, name));
    }
    EXPECT_EQ(chords, 9);
    // Commands that exist only for hooked handlers have no key.
    for (TEditorCommand c : {ecCommentBlock, ecString, ecAutoCompletion, ecChar, ecImeStr})
        EXPECT_EQ(k.FindCommand(c), -1) << c;
}

TEST(EditorKeyStrokesDefaults, EveryTableGetsItsOwnCopy)
{
    // The standard table is built once and copied: changing one editor's
    // bindings must not reach the next editor's defaults.
    auto changed = Defaults();
    const std::vector<TEditorKeyStroke> standard = changed.All();
    changed.SetItem(0, TEditorKeyStroke{VK_F5, ssNone, 0, ssNone, ecUserFirst});
    changed.Delete(1);
    EXPECT_EQ(Defaults().All(), standard);
    changed.ResetDefaults();
    EXPECT_EQ(changed.All(), standard);
}

TEST(EditorKeyStrokesDefaults, BindingFamilies)
{
    const auto k = Defaults();
    // Movement, its selecting and Ctrl forms.
    EXPECT_EQ(Single(k, VK_LEFT, ssNone), ecLeft);
    EXPECT_EQ(Single(k, VK_LEFT, ssShift), ecSelLeft);
    EXPECT_EQ(Single(k, VK_LEFT, ssCtrl), ecWordLeft);
    EXPECT_EQ(Single(k, VK_LEFT, kSC), ecSelWordLeft);
    EXPECT_EQ(Single(k, VK_NEXT, ssCtrl), ecPageBottom);
    EXPECT_EQ(Single(k, VK_PRIOR, kSC), ecSelPageTop);
    EXPECT_EQ(Single(k, VK_HOME, ssNone), ecLineStart);
    EXPECT_EQ(Single(k, VK_END, kSC), ecSelEditorBottom);
    EXPECT_EQ(Single(k, VK_UP, ssCtrl), ecScrollUp);
    EXPECT_EQ(Single(k, VK_UP, kSC), ecNone);
    EXPECT_EQ(Single(k, VK_DOWN, ssAlt), ecMoveLineDown);
    EXPECT_EQ(Single(k, VK_DOWN, kSA), ecCopyLineDown);
    // Editing keys.
    EXPECT_EQ(Single(k, VK_TAB, ssNone), ecTab);
    EXPECT_EQ(Single(k, VK_TAB, ssShift), ecShiftTab);
    EXPECT_EQ(Single(k, VK_RETURN, ssNone), ecLineBreak);
    EXPECT_EQ(Single(k, VK_RETURN, ssShift), ecLineBreak);
    EXPECT_EQ(Single(k, 'M', ssCtrl), ecLineBreak);
    EXPECT_EQ(Single(k, 'N', ssCtrl), ecInsertLine);
    EXPECT_EQ(Single(k, VK_BACK, ssShift), ecDeleteBOL);
    EXPECT_EQ(Single(k, VK_INSERT, ssShift), ecPaste);
    EXPECT_EQ(Single(k, VK_DELETE, ssShift), ecCut);
    EXPECT_EQ(Single(k, 'I', kSC), ecBlockIndent);
    EXPECT_EQ(Single(k, 'U', kSC), ecBlockUnindent);
    EXPECT_EQ(Single(k, 'Y', kSC), ecDeleteEOL);
    EXPECT_EQ(Single(k, VK_F1, ssNone), ecContextHelp);
    // Undo and redo, both pairs.
    EXPECT_EQ(Single(k, 'Z', ssCtrl), ecUndo);
    EXPECT_EQ(Single(k, 'Z', kSC), ecRedo);
    EXPECT_EQ(Single(k, VK_BACK, ssAlt), ecUndo);
    EXPECT_EQ(Single(k, VK_BACK, kSA), ecRedo);
    // Markers and folds.
    EXPECT_EQ(Single(k, '0', ssCtrl), ecGotoMarker0);
    EXPECT_EQ(Single(k, '9', kSC), ecSetMarker9);
    EXPECT_EQ(Single(k, VK_OEM_MINUS, kSC), ecFoldAll);
    EXPECT_EQ(Single(k, VK_OEM_PLUS, kSC), ecUnfoldAll);
    EXPECT_EQ(Single(k, VK_OEM_2, ssCtrl), ecFoldNearest);
    EXPECT_EQ(Single(k, VK_OEM_2, kSC), ecUnfoldNearest);
    // Chords.
    EXPECT_EQ(Chord(k, 'K', ssCtrl, 'L', ssCtrl), ecLowerCase);
    EXPECT_EQ(Chord(k, 'K', ssCtrl, 'U', ssCtrl), ecUpperCase);
    EXPECT_EQ(Chord(k, 'K', ssCtrl, 'T', ssCtrl), ecTitleCase);
    EXPECT_EQ(Chord(k, 'K', ssCtrl, '2', ssCtrl), ecFoldLevel2);
    EXPECT_EQ(Chord(k, 'K', kSC, '3', kSC), ecUnfoldLevel3);
    EXPECT_EQ(Chord(k, 'K', ssCtrl, '3', kSC), ecNone);
}

TEST(EditorKeyStrokes, SingleAndChordLookupsAreSeparate)
{
    const auto k = Defaults();
    // Ctrl+K only starts chords; Ctrl+L is bound only as a second stroke.
    EXPECT_EQ(k.FindKeycode('K', ssCtrl), -1);
    EXPECT_EQ(k.FindKeycode('L', ssCtrl), -1);
    EXPECT_GE(k.FindKeycode2('K', ssCtrl, 'L', ssCtrl), 0);
    // A single stroke never answers a chord lookup, with or without a first stroke.
    EXPECT_EQ(k.FindKeycode2(0, ssNone, 'Z', ssCtrl), -1);
    EXPECT_EQ(k.FindKeycode2('Z', ssCtrl, 0, ssNone), -1);

    EXPECT_EQ(k.Items(k.FindShortcut(scCtrl | 'Z')).Command, ecUndo);
    EXPECT_EQ(k.Items(k.FindShortcut(scShift | scCtrl | 'Z')).Command, ecRedo);
    EXPECT_EQ(k.FindShortcut(scCtrl | 'K'), -1);
    EXPECT_EQ(k.FindShortcut(scNone), -1);
    EXPECT_EQ(k.Items(k.FindShortcut2(scCtrl | 'K', scCtrl | 'L')).Command, ecLowerCase);
    EXPECT_EQ(k.FindShortcut2(scCtrl | 'K', scNone), -1);

    const int redo = k.FindCommand(ecRedo);
    ASSERT_GE(redo, 0);
    EXPECT_EQ(k.Items(redo).ShortCut(), scShift | scAlt | VK_BACK); // the first Redo entry added
}

TEST(EditorKeyStrokes, ShortCutFormAndDisplayNames)
{
    TEditorKeyStroke s{'K', ssCtrl, 'L', ssCtrl, ecLowerCase};
    EXPECT_EQ(s.ShortCut(), scCtrl | 'K');
    EXPECT_EQ(s.ShortCut2(), scCtrl | 'L');
    EXPECT_EQ(s.GetDisplayName(), QStringLiteral("Ctrl+K Ctrl+L"));
    s.SetShortCut(scShift | scAlt | VK_UP);
    s.SetShortCut2(scNone);
    EXPECT_EQ(s.Key, VK_UP);
    EXPECT_EQ(s.Shift, kSA);
    EXPECT_EQ(s.Key2, 0);
    EXPECT_EQ(s.Shift2, ssNone);
    EXPECT_EQ(s.GetDisplayName(), QStringLiteral("Shift+Alt+Up"));

    EXPECT_EQ(ShortCutToText(scShift | scCtrl | 'Z'), QStringLiteral("Shift+Ctrl+Z"));
    EXPECT_EQ(ShortCutToText(VK_BACK), QStringLiteral("BkSp"));
    EXPECT_EQ(ShortCutToText(VK_F1), QStringLiteral("F1"));
    EXPECT_EQ(ShortCutToText(VK_NUMPAD7), QStringLiteral("Num 7"));
    EXPECT_EQ(ShortCutToText(scCtrl | VK_OEM_2), QStringLiteral("Ctrl+/"));
    EXPECT_EQ(ShortCutToText(scNone), QString());
    // Key codes beyond one byte have no shortcut form but still a name.
    EXPECT_EQ(ShortCut(0x1FF, ssCtrl), scNone);
    EXPECT_EQ((TEditorKeyStroke{0x1FF, ssCtrl, 0, ssNone, ecUndo}).GetDisplayName(), QStringLiteral("Ctrl+Key 511"));
}

// ---------------------------------------------------------------------------
// Adding and replacing bindings

TEST(EditorKeyStrokes, DuplicateBindingIsRejectedAndTableKept)
{
    auto k = Defaults();
    try {
        k.AddKey(ecCopyLineDown, 'Z', ssCtrl);
        FAIL() << "duplicate accepted";
    } catch (const EKeyBindingError& e) {
        EXPECT_TRUE(e.Message().contains(QStringLiteral("Ctrl+Z"))) << e.what();
        EXPECT_TRUE(e.Message().contains(QStringLiteral("ecUndo"))) << e.what();
    }
    EXPECT_THROW(k.AddKey(ecNone, 'K', ssCtrl, 'L', ssCtrl), EKeyBindingError);
    EXPECT_EQ(k.Count(), 99);
    EXPECT_EQ(Single(k, 'Z', ssCtrl), ecUndo);

    // The same first key is free as a single stroke and as another chord.
    k.AddKey(ecToggleCase, 'K', ssCtrl, 'O', ssCtrl);
    k.AddKey(ecUserFirst + 5, 'Z', ssCtrl, 'Z', ssCtrl);
    EXPECT_EQ(Chord(k, 'Z', ssCtrl, 'Z', ssCtrl), ecUserFirst + 5);
    EXPECT_EQ(k.Count(), 101);

    // Replacing an entry by its own keys is fine; by another entry's keys is not.
    const int undo = k.FindKeycode('Z', ssCtrl);
    k.SetItem(undo, TEditorKeyStroke{'Z', ssCtrl, 0, ssNone, ecRedo});
    EXPECT_EQ(Single(k, 'Z', ssCtrl), ecRedo);
    EXPECT_THROW(k.SetItem(undo, TEditorKeyStroke{'Y', ssCtrl, 0, ssNone, ecRedo}), EKeyBindingError);
    EXPECT_EQ(Single(k, 'Y', ssCtrl), ecDeleteLine);
    EXPECT_THROW(k.SetItem(k.Count(), TEditorKeyStroke{'Q', ssCtrl, 0, ssNone, ecRedo}), std::out_of_range);
}

TEST(EditorKeyStrokes, MalformedBindingsAreRejected)
{
    TEditorKeyStrokes k;
    EXPECT_THROW(k.AddKey(ecUndo, 0, ssNone), EKeyBindingError);
    EXPECT_THROW(k.AddKey(ecUndo, 0, ssNone, 'Z', ssCtrl), EKeyBindingError); // would fire with no stroke pending
    EXPECT_THROW(k.AddKey(ecUndo, 'Z', 8), EKeyBindingError);
    EXPECT_THROW(k.AddKey(ecUndo, 'Z', ssCtrl, 0, ssCtrl), EKeyBindingError);
    EXPECT_EQ(k.Count(), 0);
}

TEST(EditorKeyStrokes, AssignCopiesAndDeleteRemoves)
{
    auto k = Defaults();
    TEditorKeyStrokes copy;
    copy.AddKey(ecUndo, 'Q', ssCtrl);
    copy.Assign(k);
    EXPECT_EQ(copy.All(), k.All());
    copy.Delete(copy.FindKeycode('Z', ssCtrl));
    EXPECT_EQ(copy.Count(), 98);
    EXPECT_EQ(Single(copy, 'Z', ssCtrl), ecNone);
    EXPECT_EQ(Single(k, 'Z', ssCtrl), ecUndo);
    EXPECT_THROW(copy.Delete(-1), std::out_of_range);
    // The freed keys can be bound again.
    copy.AddKey(ecRedo, 'Z', ssCtrl);
    EXPECT_EQ(Single(copy, 'Z', ssCtrl), ecRedo);
}

// ---------------------------------------------------------------------------
// Streams

TEST(EditorKeyStrokesStream, StrokeLayoutIsLittleEndian)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    TEditorKeyStroke{0x1234, kSC, 'L', ssCtrl, 0x0302}.SaveToStream(buffer);
    EXPECT_EQ(bytes, QByteArray::fromHex("3412054c00040203"));

    buffer.close();
    buffer.open(QIODevice::ReadOnly);
    TEditorKeyStroke s;
    s.LoadFromStream(buffer);
    EXPECT_EQ(s, (TEditorKeyStroke{0x1234, kSC, 'L', ssCtrl, 0x0302}));
}

TEST(EditorKeyStrokesStream, TableRoundTrip)
{
    auto k = Defaults();
    k.AddKey(ecUserFirst + 42, VK_F5, ssAlt, VK_F6, kSA);
    const QByteArray bytes = Save(k);
    EXPECT_EQ(bytes.size(), 4 + 100 * 8);
    TEditorKeyStrokes loaded;
    Load(loaded, bytes);
    EXPECT_EQ(loaded.All(), k.All());

    TEditorKeyStrokes empty;
    Load(loaded, Save(empty));
    EXPECT_EQ(loaded.Count(), 0);
}

TEST(EditorKeyStrokesStream, TruncatedDataIsRejectedAndTableKept)
{
    const auto defaults = Defaults();
    const QByteArray bytes = Save(defaults);
    TEditorKeyStrokes k;
    k.AddKey(ecUndo, 'Q', ssCtrl);
    const auto before = k.All();
    for (int size = 0; size < bytes.size(); size += (size < 24 ? 1 : 37)) {
        EXPECT_THROW(Load(k, bytes.left(size)), EKeyBindingError) << size;
        EXPECT_EQ(k.All(), before) << size;
    }
    EXPECT_THROW(Load(k, bytes.left(bytes.size() - 1)), EKeyBindingError);

    // A count far beyond the data fails at the end of the data.
    QByteArray lying = bytes;
    lying[3] = '\x7f';
    EXPECT_THROW(Load(k, lying), EKeyBindingError);
    EXPECT_EQ(k.All(), before);

    TEditorKeyStroke s{'A', ssCtrl, 0, ssNone, ecSelectAll};
    QByteArray six = QByteArray::fromHex("410004000000");
    QBuffer buffer(&six);
    buffer.open(QIODevice::ReadOnly);
    EXPECT_THROW(s.LoadFromStream(buffer), EKeyBindingError);
    EXPECT_EQ(s, (TEditorKeyStroke{'A', ssCtrl, 0, ssNone, ecSelectAll}));
}

TEST(EditorKeyStrokesStream, InvalidEntriesAreRejected)
{
    TEditorKeyStrokes k;
    k.AddKey(ecUndo, 'Q', ssCtrl);
    const auto before = k.All();
    const QByteArray header = QByteArray::fromHex("01000000");
    // Unknown modifier bit, a key 0, a second-stroke modifier without a key.
    for (const char* entry : {"5a0008000000b901", "000004000000b901", "5a0004000004b901"}) {
        try {
            Load(k, header + QByteArray::fromHex(entry));
            ADD_FAILURE() << entry;
        } catch (const EKeyBindingError& e) {
            EXPECT_TRUE(e.Message().startsWith(QStringLiteral("キー割り当てのデータが不正です"))) << e.what();
        }
        EXPECT_EQ(k.All(), before);
    }
    // The same keys twice.
    EXPECT_THROW(Load(k, QByteArray::fromHex("02000000") + QByteArray::fromHex("5a0004000000b901").repeated(2)),
                 EKeyBindingError);
    EXPECT_EQ(k.All(), before);
}

// ---------------------------------------------------------------------------
// Key translation

TEST(KeyTranslator, ChordCompletesOnSecondStroke)
{
    TKeyTranslator t;
    auto r = t.KeyDown('K', ssCtrl);
    EXPECT_EQ(r.Command, ecNone);
    EXPECT_FALSE(r.Consumed);
    EXPECT_EQ(t.LastKey(), 'K');
    EXPECT_EQ(t.LastShiftState(), ssCtrl);
    r = t.KeyDown('L', ssCtrl);
    EXPECT_EQ(r.Command, ecLowerCase);
    EXPECT_TRUE(r.Consumed);
    EXPECT_EQ(t.LastKey(), 0);
    EXPECT_EQ(t.LastShiftState(), ssNone);
    // Without the first stroke the second key alone does nothing.
    EXPECT_EQ(t.KeyDown('L', ssCtrl).Command, ecNone);

    EXPECT_EQ(t.KeyDown('K', kSC).Command, ecNone);
    EXPECT_EQ(t.KeyDown('1', kSC).Command, ecUnfoldLevel1);
}

TEST(KeyTranslator, ChordMismatch)
{
    TKeyTranslator t;
    // A key that completes no chord runs its own binding and drops the pending stroke.
    t.KeyDown('K', ssCtrl);
    EXPECT_EQ(t.KeyDown('Z', ssCtrl).Command, ecUndo);
    EXPECT_EQ(t.LastKey(), 0);
    EXPECT_EQ(t.KeyDown('L', ssCtrl).Command, ecNone);

    // An unbound key in the chord range becomes the new first stroke.
    t.KeyDown('K', ssCtrl);
    EXPECT_EQ(t.KeyDown('Q', ssCtrl).Command, ecNone);
    EXPECT_EQ(t.LastKey(), 'Q');
    EXPECT_EQ(t.KeyDown('L', ssCtrl).Command, ecNone);

    // Keys below 30 (the modifiers themselves) and above 145 reset it.
    t.KeyDown('K', ssCtrl);
    t.KeyDown(VK_CONTROL, ssCtrl);
    EXPECT_EQ(t.LastKey(), 0);
    EXPECT_EQ(t.KeyDown('L', ssCtrl).Command, ecNone);
    t.KeyDown('K', ssCtrl);
    EXPECT_EQ(t.KeyDown(VK_OEM_1, ssCtrl).Command, ecNone);
    EXPECT_EQ(t.LastKey(), 0);
    // 30 and 145 themselves still start chords.
    t.KeyDown(VK_ACCEPT, ssNone);
    EXPECT_EQ(t.LastKey(), VK_ACCEPT);
    t.KeyDown(VK_SCROLL, ssNone);
    EXPECT_EQ(t.LastKey(), VK_SCROLL);
    t.KeyDown(146, ssNone);
    EXPECT_EQ(t.LastKey(), 0);
}

TEST(KeyTranslator, CharacterAfterCommandKeyIsDropped)
{
    TKeyTranslator t;
    // Enter and Ctrl+M: the key runs ecLineBreak, the character that follows is dropped.
    for (auto [key, shift, ch] : {std::tuple{VK_RETURN, ssNone, QChar(13)}, std::tuple{quint16('M'), TShiftState(ssCtrl), QChar(13)}}) {
        const auto r = t.KeyDown(key, shift);
        EXPECT_EQ(r.Command, ecLineBreak);
        EXPECT_TRUE(t.IgnoreNextChar());
        QChar c = ch;
        EXPECT_FALSE(t.KeyPress(c));
        EXPECT_FALSE(t.IgnoreNextChar());
    }
    // Only one character is dropped.
    t.KeyDown(VK_TAB, ssNone);
    QChar tab(9), a('a');
    EXPECT_FALSE(t.KeyPress(tab));
    EXPECT_TRUE(t.KeyPress(a));
    EXPECT_EQ(a, QChar('a'));

    // An unbound key clears the flag, so its character is typed.
    t.KeyDown(VK_RETURN, ssNone);
    EXPECT_EQ(t.KeyDown('A', ssShift).Command, ecNone);
    EXPECT_FALSE(t.IgnoreNextChar());
    QChar upper('A');
    EXPECT_TRUE(t.KeyPress(upper));
}

TEST(KeyTranslator, KeyPressEventAndChains)
{
    TKeyTranslator t;
    int eventCalls = 0;
    auto upcase = [&](QChar& c) { ++eventCalls; c = c.toUpper(); };
    QChar c('x');
    EXPECT_TRUE(t.KeyPress(c, upcase));
    EXPECT_EQ(c, QChar('X'));

    // The separate skip flag drops the character before the event sees it.
    t.SetSkipNextKeyPress(true);
    c = QChar('y');
    EXPECT_FALSE(t.KeyPress(c, upcase));
    EXPECT_EQ(eventCalls, 1);
    EXPECT_FALSE(t.SkipNextKeyPress());

    // The event sees even a character that is then dropped; clearing it keeps the flag.
    t.KeyDown(VK_RETURN, ssNone);
    c = QChar(13);
    EXPECT_FALSE(t.KeyPress(c, [](QChar& ch) { ch = QChar(); }));
    EXPECT_TRUE(t.IgnoreNextChar());
    c = QChar(13);
    EXPECT_FALSE(t.KeyPress(c, upcase));
    EXPECT_EQ(eventCalls, 2);

    // A key-press handler that takes the character stops it.
    const auto id = t.KbdHandler().AddKeyPressHandler([](QChar& ch) {
        if (ch == QChar('q'))
            ch = QChar();
    });
    c = QChar('q');
    EXPECT_FALSE(t.KeyPress(c));
    c = QChar('r');
    EXPECT_TRUE(t.KeyPress(c));
    t.KbdHandler().RemoveKeyPressHandler(id);
    c = QChar('q');
    EXPECT_TRUE(t.KeyPress(c));

    // A key-down handler that takes a key keeps it from being translated and
    // drops a pending chord stroke.
    t.KbdHandler().AddKeyDownHandler([](quint16& key, TShiftState) {
        if (key == 'L')
            key = 0;
    });
    t.KeyDown('K', ssCtrl);
    const auto r = t.KeyDown('L', ssCtrl);
    EXPECT_TRUE(r.Consumed);
    EXPECT_EQ(r.Command, ecNone);
    EXPECT_EQ(t.LastKey(), 0);
    EXPECT_FALSE(t.IgnoreNextChar());
}

TEST(KeyTranslator, ReplacedBindingTableIsUsed)
{
    TKeyTranslator t;
    TEditorKeyStrokes own;
    own.AddKey(ecUserFirst, VK_F5, ssNone);
    t.SetKeystrokes(own);
    EXPECT_EQ(t.KeyDown(VK_F5, ssNone).Command, ecUserFirst);
    EXPECT_EQ(t.KeyDown('Z', ssCtrl).Command, ecNone);
    own.AddKey(ecUndo, 'Z', ssCtrl); // the translator holds a copy
    EXPECT_EQ(t.KeyDown('Z', ssCtrl).Command, ecNone);
    t.ResetDefaults();
    EXPECT_EQ(t.KeyDown('Z', ssCtrl).Command, ecUndo);
}

TEST(EditorKbdHandler, ChainsRunInOrderAndStopWhenUsedUp)
{
    TEditorKbdHandler h;
    std::vector<int> calls;
    TEditorKbdHandler::THandlerId second = 0;
    h.AddKeyDownHandler([&](quint16& key, TShiftState) {
        calls.push_back(1);
        if (key == 1)
            h.RemoveKeyDownHandler(second); // removed while the chain runs
    });
    second = h.AddKeyDownHandler([&](quint16& key, TShiftState) {
        calls.push_back(2);
        if (key == 2)
            key = 0;
    });
    h.AddKeyDownHandler([&](quint16& key, TShiftState) {
        calls.push_back(3);
        quint16 inner = key;
        h.ExecuteKeyDown(inner, ssNone); // not re-entered
    });
    EXPECT_EQ(h.AddKeyDownHandler({}), 0u);

    quint16 key = 2;
    h.ExecuteKeyDown(key, ssNone);
    EXPECT_EQ(calls, (std::vector<int>{1, 2}));
    calls.clear();
    key = 1;
    h.ExecuteKeyDown(key, ssNone);
    EXPECT_EQ(calls, (std::vector<int>{1, 3}));

    int cursor = 0;
    h.AddMouseCursorHandler([](int, int, int& c) { c += 1; });
    h.AddMouseCursorHandler([](int line, int column, int& c) { c = c * 10 + line + column; });
    h.ExecuteMouseCursor(2, 3, cursor);
    EXPECT_EQ(cursor, 15);
}

// Random key streams through the translator agree with a model that knows
// the bindings only as maps and keeps the pending stroke by the rule.
TEST(KeyTranslator, RandomStreamsMatchModel)
{
    const auto k = Defaults();
    std::map<std::pair<int, int>, TEditorCommand> singles;
    std::map<std::tuple<int, int, int, int>, TEditorCommand> chords;
    for (const auto& s : k.All()) {
        if (s.Key2 == 0)
            singles[{s.Key, s.Shift}] = s.Command;
        else
            chords[{s.Key, s.Shift, s.Key2, s.Shift2}] = s.Command;
    }
    const std::vector<quint16> keys = {'K', 'K', 'K', 'K', 'L', 'U', 'T', '1', '2', '3', 'Z', 'Q', 'A', 'M', VK_RETURN, VK_TAB, VK_CONTROL,
                                       VK_SHIFT, VK_LEFT, VK_OEM_2, VK_OEM_1, VK_F1, VK_BACK, 0};
    // Mostly Ctrl and Ctrl+Shift, so chords start and complete often.
    const std::vector<TShiftState> shifts = {ssCtrl, ssCtrl, ssCtrl, kSC, kSC, ssNone, ssShift, ssAlt, kSA, ssAllModifiers};
    std::mt19937 rng(20240611);
    int chordsCompleted = 0;
    for (int round = 0; round < 400; ++round) {
        TKeyTranslator t;
        int pendingKey = 0, pendingShift = 0;
        bool ignore = false;
        for (int step = 0; step < 60; ++step) {
            if (rng() % 4 == 0) {
                QChar c(QChar('a' + static_cast<char>(rng() % 26)));
                EXPECT_EQ(t.KeyPress(c), !ignore);
                ignore = false;
                continue;
            }
            const quint16 key = keys[rng() % keys.size()];
            const TShiftState shift = shifts[rng() % shifts.size()];
            TEditorCommand expected = ecNone;
            if (auto it = chords.find({pendingKey, pendingShift, key, shift}); it != chords.end())
                expected = it->second, ++chordsCompleted;
            else if (auto s = singles.find({key, shift}); s != singles.end())
                expected = s->second;
            if (expected != ecNone || key < 30 || key > 145)
                pendingKey = pendingShift = 0;
            else
                pendingKey = key, pendingShift = shift;
            ignore = expected != ecNone;

            const auto r = t.KeyDown(key, shift);
            ASSERT_EQ(r.Command, expected) << "round " << round << " step " << step;
            EXPECT_EQ(r.Consumed, expected != ecNone || key == 0);
            EXPECT_EQ(t.LastKey(), pendingKey);
            EXPECT_EQ(t.LastShiftState(), pendingShift);
            EXPECT_EQ(t.IgnoreNextChar(), ignore);
        }
    }
    EXPECT_GT(chordsCompleted, 40);
}

TEST(EditorKeyCmds, QtKeysMapToKeyCodes)
{
    const Qt::KeyboardModifiers none, pad = Qt::KeypadModifier;
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_K, Qt::ControlModifier), 'K');
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_7, none), '7');
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_7, pad), VK_NUMPAD7);
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_Slash, none), VK_OEM_2);
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_Slash, pad), VK_DIVIDE);
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_Plus, none), VK_OEM_PLUS);
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_Plus, pad), VK_ADD);
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_Underscore, none), VK_OEM_MINUS);
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_Enter, pad), VK_RETURN);
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_Backtab, none), VK_TAB);
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_F24, none), VK_F24);
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_Control, none), VK_CONTROL);
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_unknown, none), 0);
    EXPECT_EQ(VirtualKeyFromQtKey(Qt::Key_Eacute, none), 0);
    EXPECT_EQ(ShiftStateFromQtModifiers(Qt::ShiftModifier | Qt::ControlModifier | Qt::KeypadModifier), kSC);
    EXPECT_EQ(ShiftStateFromQtModifiers(Qt::AltModifier | Qt::MetaModifier), ssAlt);

    // Ctrl+Shift+1 arrives as '!' with Shift and Ctrl; Shift+Tab as Backtab.
    TKeyTranslator t;
    const Qt::KeyboardModifiers sc = Qt::ShiftModifier | Qt::ControlModifier;
    t.KeyDown(VirtualKeyFromQtKey(Qt::Key_K, sc), ShiftStateFromQtModifiers(sc));
    EXPECT_EQ(t.KeyDown(VirtualKeyFromQtKey(Qt::Key_Exclam, sc), ShiftStateFromQtModifiers(sc)).Command, ecUnfoldLevel1);
    EXPECT_EQ(t.KeyDown(VirtualKeyFromQtKey(Qt::Key_Backtab, Qt::ShiftModifier), ssShift).Command, ecShiftTab);
}

TEST(EditorKeyCmds, TypableCharacters)
{
    EXPECT_FALSE(IsTypableChar(QChar(0)));
    EXPECT_FALSE(IsTypableChar(QChar(13)));
    EXPECT_FALSE(IsTypableChar(QChar(31)));
    EXPECT_FALSE(IsTypableChar(QChar(127)));
    EXPECT_TRUE(IsTypableChar(QChar(' ')));
    EXPECT_TRUE(IsTypableChar(QChar(0x3042)));
    EXPECT_TRUE(IsTypableChar(QChar(0x80)));
}
