#include "editor/EditorKeyCmds.h"
#include "platform/ScopeExit.h"

#include <QIODevice>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>
#include <stdexcept>

namespace {

// ---------------------------------------------------------------------------
// Command names

struct TCommandName {
    TEditorCommand Value;
    const char* Name;
};

// Sorted by value: the lookup by number is a binary search.
constexpr TCommandName kCommandNames[] = {
    {0, "ecNone"},
    {1, "ecLeft"},
    {2, "ecRight"},
    {3, "ecUp"},
    {4, "ecDown"},
    {5, "ecWordLeft"},
    {6, "ecWordRight"},
    {7, "ecLineStart"},
    {8, "ecLineEnd"},
    {9, "ecPageUp"},
    {10, "ecPageDown"},
    {11, "ecPageLeft"},
    {12, "ecPageRight"},
    {13, "ecPageTop"},
    {14, "ecPageBottom"},
    {15, "ecEditorTop"},
    {16, "ecEditorBottom"},
    {17, "ecGotoXY"},
    {101, "ecSelLeft"},
    {102, "ecSelRight"},
    {103, "ecSelUp"},
    {104, "ecSelDown"},
    {105, "ecSelWordLeft"},
    {106, "ecSelWordRight"},
    {107, "ecSelLineStart"},
    {108, "ecSelLineEnd"},
    {109, "ecSelPageUp"},
    {110, "ecSelPageDown"},
    {111, "ecSelPageLeft"},
    {112, "ecSelPageRight"},
    {113, "ecSelPageTop"},
    {114, "ecSelPageBottom"},
    {115, "ecSelEditorTop"},
    {116, "ecSelEditorBottom"},
    {117, "ecSelGotoXY"},
    {198, "ecSelWord"},
    {199, "ecSelectAll"},
    {201, "ecCopy"},
    {211, "ecScrollUp"},
    {212, "ecScrollDown"},
    {213, "ecScrollLeft"},
    {214, "ecScrollRight"},
    {221, "ecInsertMode"},
    {222, "ecOverwriteMode"},
    {223, "ecToggleMode"},
    {231, "ecNormalSelect"},
    {232, "ecColumnSelect"},
    {233, "ecLineSelect"},
    {250, "ecMatchBracket"},
    {251, "ecCommentBlock"},
    {301, "ecGotoMarker0"},
    {302, "ecGotoMarker1"},
    {303, "ecGotoMarker2"},
    {304, "ecGotoMarker3"},
    {305, "ecGotoMarker4"},
    {306, "ecGotoMarker5"},
    {307, "ecGotoMarker6"},
    {308, "ecGotoMarker7"},
    {309, "ecGotoMarker8"},
    {310, "ecGotoMarker9"},
    {351, "ecSetMarker0"},
    {352, "ecSetMarker1"},
    {353, "ecSetMarker2"},
    {354, "ecSetMarker3"},
    {355, "ecSetMarker4"},
    {356, "ecSetMarker5"},
    {357, "ecSetMarker6"},
    {358, "ecSetMarker7"},
    {359, "ecSetMarker8"},
    {360, "ecSetMarker9"},
    {490, "ecContextHelp"},
    {501, "ecDeleteLastChar"},
    {502, "ecDeleteChar"},
    {503, "ecDeleteWord"},
    {504, "ecDeleteLastWord"},
    {505, "ecDeleteBOL"},
    {506, "ecDeleteEOL"},
    {507, "ecDeleteLine"},
    {508, "ecClearAll"},
    {509, "ecLineBreak"},
    {510, "ecInsertLine"},
    {511, "ecChar"},
    {550, "ecImeStr"},
    {601, "ecUndo"},
    {602, "ecRedo"},
    {603, "ecCut"},
    {604, "ecPaste"},
    {610, "ecBlockIndent"},
    {611, "ecBlockUnindent"},
    {612, "ecTab"},
    {613, "ecShiftTab"},
    {620, "ecUpperCase"},
    {621, "ecLowerCase"},
    {622, "ecToggleCase"},
    {623, "ecTitleCase"},
    {630, "ecString"},
    {650, "ecAutoCompletion"},
    {661, "ecCopyLineUp"},
    {662, "ecCopyLineDown"},
    {663, "ecMoveLineUp"},
    {664, "ecMoveLineDown"},
    {701, "ecFoldAll"},
    {702, "ecUnfoldAll"},
    {705, "ecFoldNearest"},
    {706, "ecUnfoldNearest"},
    {711, "ecFoldLevel1"},
    {712, "ecFoldLevel2"},
    {713, "ecFoldLevel3"},
    {721, "ecUnfoldLevel1"},
    {722, "ecUnfoldLevel2"},
    {723, "ecUnfoldLevel3"},
    {731, "ecFoldRanges"},
    {732, "ecUnfoldRanges"},
};

constexpr int kCommandNameCount = static_cast<int>(std::size(kCommandNames));

constexpr bool SortedByValue()
{
    for (int i = 1; i < kCommandNameCount; ++i)
        if (kCommandNames[i - 1].Value >= kCommandNames[i].Value)
            return false;
    return true;
}
static_assert(SortedByValue(), "command table must be sorted by value without repeats");

// Names compare without regard to ASCII case, as identifiers in stored key
// tables may have been written by hand.
int CompareNoCase(QLatin1StringView a, QStringView b)
{
    return a.compare(b, Qt::CaseInsensitive);
}

// Indexes into kCommandNames ordered by name, built once.
const std::array<int, kCommandNameCount>& ByName()
{
    static const std::array<int, kCommandNameCount> order = [] {
        std::array<int, kCommandNameCount> o{};
        for (int i = 0; i < kCommandNameCount; ++i)
            o[static_cast<size_t>(i)] = i;
        std::sort(o.begin(), o.end(), [](int a, int b) {
            return QLatin1StringView(kCommandNames[a].Name)
                       .compare(QLatin1StringView(kCommandNames[b].Name), Qt::CaseInsensitive) < 0;
        });
        return o;
    }();
    return order;
}

// ---------------------------------------------------------------------------
// Key names

struct TKeyName {
    quint16 Key;
    const char* Name;
};

constexpr TKeyName kKeyNames[] = {
    {VK_BACK, "BkSp"}, {VK_TAB, "Tab"}, {VK_CLEAR, "Clear"}, {VK_RETURN, "Enter"}, {VK_PAUSE, "Pause"},
    {VK_CAPITAL, "Caps Lock"}, {VK_ESCAPE, "Esc"}, {VK_SPACE, "Space"}, {VK_PRIOR, "PgUp"}, {VK_NEXT, "PgDn"},
    {VK_END, "End"}, {VK_HOME, "Home"}, {VK_LEFT, "Left"}, {VK_UP, "Up"}, {VK_RIGHT, "Right"},
    {VK_DOWN, "Down"}, {VK_SNAPSHOT, "Print Screen"}, {VK_INSERT, "Ins"}, {VK_DELETE, "Del"}, {VK_HELP, "Help"},
    {VK_APPS, "Menu"}, {VK_MULTIPLY, "Num *"}, {VK_ADD, "Num +"}, {VK_SUBTRACT, "Num -"}, {VK_DECIMAL, "Num Del"},
    {VK_DIVIDE, "Num /"}, {VK_NUMLOCK, "Num Lock"}, {VK_SCROLL, "Scroll Lock"}, {VK_OEM_1, ";"}, {VK_OEM_PLUS, "="},
    {VK_OEM_COMMA, ","}, {VK_OEM_MINUS, "-"}, {VK_OEM_PERIOD, "."}, {VK_OEM_2, "/"}, {VK_OEM_3, "`"},
    {VK_OEM_4, "["}, {VK_OEM_5, "\\"}, {VK_OEM_6, "]"}, {VK_OEM_7, "'"},
};

QString StrokeText(quint16 key, TShiftState shift)
{
    QString text;
    if (shift & ssShift)
        text += QStringLiteral("Shift+");
    if (shift & ssCtrl)
        text += QStringLiteral("Ctrl+");
    if (shift & ssAlt)
        text += QStringLiteral("Alt+");
    return text + KeyCodeToText(key);
}

// ---------------------------------------------------------------------------
// Default bindings, in the order they are added.

struct TDefaultBinding {
    TEditorCommand Command;
    quint16 Key;
    TShiftState Shift;
    quint16 Key2 = 0;
    TShiftState Shift2 = ssNone;
};

constexpr TShiftState kShiftCtrl = ssShift | ssCtrl;
constexpr TShiftState kShiftAlt = ssShift | ssAlt;

constexpr TDefaultBinding kDefaultBindings[] = {
    {ecUp, VK_UP, ssNone}, {ecSelUp, VK_UP, ssShift}, {ecScrollUp, VK_UP, ssCtrl},
    {ecMoveLineUp, VK_UP, ssAlt}, {ecCopyLineUp, VK_UP, kShiftAlt},
    {ecDown, VK_DOWN, ssNone}, {ecSelDown, VK_DOWN, ssShift}, {ecScrollDown, VK_DOWN, ssCtrl},
    {ecMoveLineDown, VK_DOWN, ssAlt}, {ecCopyLineDown, VK_DOWN, kShiftAlt},
    {ecLeft, VK_LEFT, ssNone}, {ecSelLeft, VK_LEFT, ssShift},
    {ecWordLeft, VK_LEFT, ssCtrl}, {ecSelWordLeft, VK_LEFT, kShiftCtrl},
    {ecRight, VK_RIGHT, ssNone}, {ecSelRight, VK_RIGHT, ssShift},
    {ecWordRight, VK_RIGHT, ssCtrl}, {ecSelWordRight, VK_RIGHT, kShiftCtrl},
    {ecPageDown, VK_NEXT, ssNone}, {ecSelPageDown, VK_NEXT, ssShift},
    {ecPageBottom, VK_NEXT, ssCtrl}, {ecSelPageBottom, VK_NEXT, kShiftCtrl},
    {ecPageUp, VK_PRIOR, ssNone}, {ecSelPageUp, VK_PRIOR, ssShift},
    {ecPageTop, VK_PRIOR, ssCtrl}, {ecSelPageTop, VK_PRIOR, kShiftCtrl},
    {ecLineStart, VK_HOME, ssNone}, {ecSelLineStart, VK_HOME, ssShift},
    {ecEditorTop, VK_HOME, ssCtrl}, {ecSelEditorTop, VK_HOME, kShiftCtrl},
    {ecLineEnd, VK_END, ssNone}, {ecSelLineEnd, VK_END, ssShift},
    {ecEditorBottom, VK_END, ssCtrl}, {ecSelEditorBottom, VK_END, kShiftCtrl},
    {ecToggleMode, VK_INSERT, ssNone}, {ecPaste, VK_INSERT, ssShift}, {ecCopy, VK_INSERT, ssCtrl},
    {ecDeleteChar, VK_DELETE, ssNone}, {ecCut, VK_DELETE, ssShift},
    {ecDeleteLastChar, VK_BACK, ssNone}, {ecDeleteBOL, VK_BACK, ssShift}, {ecDeleteLastWord, VK_BACK, ssCtrl},
    {ecUndo, VK_BACK, ssAlt}, {ecRedo, VK_BACK, kShiftAlt},
    {ecLineBreak, VK_RETURN, ssNone}, {ecLineBreak, VK_RETURN, ssShift},
    {ecTab, VK_TAB, ssNone}, {ecShiftTab, VK_TAB, ssShift},
    {ecContextHelp, VK_F1, ssNone},
    {ecSelectAll, 'A', ssCtrl},
    {ecMatchBracket, 'B', kShiftCtrl},
    {ecCopy, 'C', ssCtrl}, {ecColumnSelect, 'C', kShiftCtrl},
    {ecBlockIndent, 'I', kShiftCtrl},
    {ecLineSelect, 'L', kShiftCtrl},
    {ecLineBreak, 'M', ssCtrl},
    {ecInsertLine, 'N', ssCtrl}, {ecNormalSelect, 'N', kShiftCtrl},
    {ecDeleteWord, 'T', ssCtrl},
    {ecBlockUnindent, 'U', kShiftCtrl},
    {ecPaste, 'V', ssCtrl},
    {ecCut, 'X', ssCtrl},
    {ecDeleteLine, 'Y', ssCtrl}, {ecDeleteEOL, 'Y', kShiftCtrl},
    {ecUndo, 'Z', ssCtrl}, {ecRedo, 'Z', kShiftCtrl},
    {ecGotoMarker0, '0', ssCtrl}, {ecSetMarker0, '0', kShiftCtrl},
    {ecGotoMarker1, '1', ssCtrl}, {ecSetMarker1, '1', kShiftCtrl},
    {ecGotoMarker2, '2', ssCtrl}, {ecSetMarker2, '2', kShiftCtrl},
    {ecGotoMarker3, '3', ssCtrl}, {ecSetMarker3, '3', kShiftCtrl},
    {ecGotoMarker4, '4', ssCtrl}, {ecSetMarker4, '4', kShiftCtrl},
    {ecGotoMarker5, '5', ssCtrl}, {ecSetMarker5, '5', kShiftCtrl},
    {ecGotoMarker6, '6', ssCtrl}, {ecSetMarker6, '6', kShiftCtrl},
    {ecGotoMarker7, '7', ssCtrl}, {ecSetMarker7, '7', kShiftCtrl},
    {ecGotoMarker8, '8', ssCtrl}, {ecSetMarker8, '8', kShiftCtrl},
    {ecGotoMarker9, '9', ssCtrl}, {ecSetMarker9, '9', kShiftCtrl},
    {ecFoldAll, VK_OEM_MINUS, kShiftCtrl},
    {ecUnfoldAll, VK_OEM_PLUS, kShiftCtrl},
    {ecFoldNearest, VK_OEM_2, ssCtrl}, {ecUnfoldNearest, VK_OEM_2, kShiftCtrl},
    {ecLowerCase, 'K', ssCtrl, 'L', ssCtrl},
    {ecUpperCase, 'K', ssCtrl, 'U', ssCtrl},
    {ecTitleCase, 'K', ssCtrl, 'T', ssCtrl},
    {ecFoldLevel1, 'K', ssCtrl, '1', ssCtrl},
    {ecFoldLevel2, 'K', ssCtrl, '2', ssCtrl},
    {ecFoldLevel3, 'K', ssCtrl, '3', ssCtrl},
    {ecUnfoldLevel1, 'K', kShiftCtrl, '1', kShiftCtrl},
    {ecUnfoldLevel2, 'K', kShiftCtrl, '2', kShiftCtrl},
    {ecUnfoldLevel3, 'K', kShiftCtrl, '3', kShiftCtrl},
};

// ---------------------------------------------------------------------------
// Little-endian stream helpers

[[noreturn]] void StreamError(const QString& detail)
{
    throw editor::EKeyBindingError(platform::Format(editor::SInvalidKeyStream, {detail}));
}

void WriteAll(QIODevice& stream, const char* data, qint64 size)
{
    if (stream.write(data, size) != size)
        StreamError(QStringLiteral("write failed (%1)").arg(stream.errorString()));
}

void ReadAll(QIODevice& stream, char* data, qint64 size, const char* what)
{
    qint64 got = 0;
    while (got < size) {
        const qint64 n = stream.read(data + got, size - got);
        if (n < 0)
            StreamError(QStringLiteral("read failed (%1)").arg(stream.errorString()));
        // Reads what the device holds; no waiting for more to arrive.
        if (n == 0)
            StreamError(QStringLiteral("truncated %1").arg(QLatin1StringView(what)));
        got += n;
    }
}

constexpr qint64 kStrokeSize = 8;

} // namespace

// ---------------------------------------------------------------------------
// Command names

bool IdentToEditorCommand(const QString& ident, TEditorCommand& command)
{
    const auto& order = ByName();
    auto it = std::lower_bound(order.begin(), order.end(), ident, [](int index, const QString& key) {
        return CompareNoCase(QLatin1StringView(kCommandNames[index].Name), key) < 0;
    });
    if (it == order.end() || CompareNoCase(QLatin1StringView(kCommandNames[*it].Name), ident) != 0)
        return false;
    command = kCommandNames[*it].Value;
    return true;
}

bool EditorCommandToIdent(TEditorCommand command, QString& ident)
{
    auto it = std::lower_bound(std::begin(kCommandNames), std::end(kCommandNames), command,
                               [](const TCommandName& entry, TEditorCommand value) { return entry.Value < value; });
    if (it == std::end(kCommandNames) || it->Value != command)
        return false;
    ident = QString::fromLatin1(it->Name);
    return true;
}

QString EditorCommandToCodeString(TEditorCommand command)
{
    QString ident;
    if (!EditorCommandToIdent(command, ident))
        ident = QString::number(command);
    return ident;
}

void GetEditorCommandValues(const std::function<void(const QString&)>& proc)
{
    for (const auto& entry : kCommandNames)
        proc(QString::fromLatin1(entry.Name));
}

int EditorCommandCount()
{
    return kCommandNameCount;
}

// ---------------------------------------------------------------------------
// Shortcut form

TShortCut ShortCut(quint16 key, TShiftState shift)
{
    if (key > 0xFF)
        return scNone;
    TShortCut result = key;
    if (shift & ssShift)
        result |= scShift;
    if (shift & ssCtrl)
        result |= scCtrl;
    if (shift & ssAlt)
        result |= scAlt;
    return result;
}

void ShortCutToKey(TShortCut shortCut, quint16& key, TShiftState& shift)
{
    key = shortCut & 0xFF;
    shift = ssNone;
    if (shortCut & scShift)
        shift |= ssShift;
    if (shortCut & scCtrl)
        shift |= ssCtrl;
    if (shortCut & scAlt)
        shift |= ssAlt;
}

QString ShortCutToText(TShortCut shortCut)
{
    quint16 key = 0;
    TShiftState shift = ssNone;
    ShortCutToKey(shortCut, key, shift);
    if (key == 0)
        return {};
    return StrokeText(key, shift);
}

QString KeyCodeToText(quint16 key)
{
    if (key == 0)
        return {};
    if ((key >= '0' && key <= '9') || (key >= 'A' && key <= 'Z'))
        return QString(QChar(key));
    if (key >= VK_NUMPAD0 && key <= VK_NUMPAD9)
        return QStringLiteral("Num %1").arg(key - VK_NUMPAD0);
    if (key >= VK_F1 && key <= VK_F24)
        return QStringLiteral("F%1").arg(key - VK_F1 + 1);
    for (const auto& entry : kKeyNames)
        if (entry.Key == key)
            return QString::fromLatin1(entry.Name);
    return QStringLiteral("Key %1").arg(key);
}

// ---------------------------------------------------------------------------
// Qt keys

namespace {

struct TQtKey {
    int QtKey;
    quint16 Key;
};

// Keys whose code does not depend on the keypad. Punctuation follows the US
// layout: a shifted symbol maps to the key that carries it, so Ctrl+Shift+1
// (delivered as '!') still finds the binding of '1' with Ctrl+Shift.
constexpr TQtKey kQtKeys[] = {
    {Qt::Key_Backspace, VK_BACK}, {Qt::Key_Tab, VK_TAB}, {Qt::Key_Backtab, VK_TAB},
    {Qt::Key_Clear, VK_CLEAR}, {Qt::Key_Return, VK_RETURN}, {Qt::Key_Enter, VK_RETURN},
    {Qt::Key_Shift, VK_SHIFT}, {Qt::Key_Control, VK_CONTROL}, {Qt::Key_Alt, VK_MENU},
    {Qt::Key_Pause, VK_PAUSE}, {Qt::Key_CapsLock, VK_CAPITAL}, {Qt::Key_Escape, VK_ESCAPE},
    {Qt::Key_Space, VK_SPACE}, {Qt::Key_PageUp, VK_PRIOR}, {Qt::Key_PageDown, VK_NEXT},
    {Qt::Key_End, VK_END}, {Qt::Key_Home, VK_HOME}, {Qt::Key_Left, VK_LEFT},
    {Qt::Key_Up, VK_UP}, {Qt::Key_Right, VK_RIGHT}, {Qt::Key_Down, VK_DOWN},
    {Qt::Key_Select, VK_SELECT}, {Qt::Key_Printer, VK_PRINT}, {Qt::Key_Execute, VK_EXECUTE},
    {Qt::Key_Print, VK_SNAPSHOT}, {Qt::Key_Insert, VK_INSERT}, {Qt::Key_Delete, VK_DELETE},
    {Qt::Key_Help, VK_HELP}, {Qt::Key_Meta, VK_LWIN}, {Qt::Key_Super_L, VK_LWIN},
    {Qt::Key_Super_R, VK_RWIN}, {Qt::Key_Menu, VK_APPS}, {Qt::Key_Sleep, VK_SLEEP},
    {Qt::Key_NumLock, VK_NUMLOCK}, {Qt::Key_ScrollLock, VK_SCROLL},
    {Qt::Key_Exclam, '1'}, {Qt::Key_At, '2'}, {Qt::Key_NumberSign, '3'}, {Qt::Key_Dollar, '4'},
    {Qt::Key_Percent, '5'}, {Qt::Key_AsciiCircum, '6'}, {Qt::Key_Ampersand, '7'},
    {Qt::Key_ParenLeft, '9'}, {Qt::Key_ParenRight, '0'},
    {Qt::Key_Semicolon, VK_OEM_1}, {Qt::Key_Colon, VK_OEM_1}, {Qt::Key_Equal, VK_OEM_PLUS},
    {Qt::Key_Comma, VK_OEM_COMMA}, {Qt::Key_Less, VK_OEM_COMMA}, {Qt::Key_Underscore, VK_OEM_MINUS},
    {Qt::Key_Greater, VK_OEM_PERIOD}, {Qt::Key_Question, VK_OEM_2}, {Qt::Key_QuoteLeft, VK_OEM_3},
    {Qt::Key_AsciiTilde, VK_OEM_3}, {Qt::Key_BracketLeft, VK_OEM_4}, {Qt::Key_BraceLeft, VK_OEM_4},
    {Qt::Key_Backslash, VK_OEM_5}, {Qt::Key_Bar, VK_OEM_5}, {Qt::Key_BracketRight, VK_OEM_6},
    {Qt::Key_BraceRight, VK_OEM_6}, {Qt::Key_Apostrophe, VK_OEM_7}, {Qt::Key_QuoteDbl, VK_OEM_7},
};

// Keys that are a keypad key with the keypad modifier and another key without.
struct TQtPadKey {
    int QtKey;
    quint16 Pad;
    quint16 Main;
};

constexpr TQtPadKey kQtPadKeys[] = {
    {Qt::Key_Asterisk, VK_MULTIPLY, '8'}, {Qt::Key_Plus, VK_ADD, VK_OEM_PLUS},
    {Qt::Key_Minus, VK_SUBTRACT, VK_OEM_MINUS}, {Qt::Key_Period, VK_DECIMAL, VK_OEM_PERIOD},
    {Qt::Key_Slash, VK_DIVIDE, VK_OEM_2},
};

} // namespace

quint16 VirtualKeyFromQtKey(int qtKey, Qt::KeyboardModifiers modifiers)
{
    const bool keypad = modifiers.testFlag(Qt::KeypadModifier);
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z)
        return static_cast<quint16>(qtKey);
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9)
        return static_cast<quint16>(keypad ? VK_NUMPAD0 + (qtKey - Qt::Key_0) : qtKey);
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24)
        return static_cast<quint16>(VK_F1 + (qtKey - Qt::Key_F1));
    for (const auto& entry : kQtPadKeys)
        if (entry.QtKey == qtKey)
            return keypad ? entry.Pad : entry.Main;
    for (const auto& entry : kQtKeys)
        if (entry.QtKey == qtKey)
            return entry.Key;
    return 0;
}

TShiftState ShiftStateFromQtModifiers(Qt::KeyboardModifiers modifiers)
{
    TShiftState shift = ssNone;
    if (modifiers.testFlag(Qt::ShiftModifier))
        shift |= ssShift;
    if (modifiers.testFlag(Qt::ControlModifier))
        shift |= ssCtrl;
    if (modifiers.testFlag(Qt::AltModifier))
        shift |= ssAlt;
    return shift;
}

namespace editor {

// ---------------------------------------------------------------------------
// TEditorKeyStroke

TShortCut TEditorKeyStroke::ShortCut() const
{
    return ::ShortCut(Key, Shift);
}

void TEditorKeyStroke::SetShortCut(TShortCut value)
{
    ShortCutToKey(value, Key, Shift);
}

TShortCut TEditorKeyStroke::ShortCut2() const
{
    return ::ShortCut(Key2, Shift2);
}

void TEditorKeyStroke::SetShortCut2(TShortCut value)
{
    ShortCutToKey(value, Key2, Shift2);
}

bool TEditorKeyStroke::SameKeys(const TEditorKeyStroke& other) const
{
    return Key == other.Key && Shift == other.Shift && Key2 == other.Key2 && Shift2 == other.Shift2;
}

void TEditorKeyStroke::Validate() const
{
    const bool valid = Key != 0 && (Shift & ~ssAllModifiers) == 0 && (Shift2 & ~ssAllModifiers) == 0
                       && (Key2 != 0 || Shift2 == ssNone);
    if (!valid) {
        const QString keys = QStringLiteral("%1/%2 %3/%4").arg(Key).arg(Shift).arg(Key2).arg(Shift2);
        throw EKeyBindingError(platform::Format(SInvalidKeyBinding, {keys}));
    }
}

QString TEditorKeyStroke::GetDisplayName() const
{
    QString text = StrokeText(Key, Shift);
    if (Key2 != 0)
        text += QLatin1Char(' ') + StrokeText(Key2, Shift2);
    return text;
}

void TEditorKeyStroke::SaveToStream(QIODevice& stream) const
{
    char buffer[kStrokeSize];
    qToLittleEndian<quint16>(Key, buffer);
    buffer[2] = static_cast<char>(Shift);
    qToLittleEndian<quint16>(Key2, buffer + 3);
    buffer[5] = static_cast<char>(Shift2);
    qToLittleEndian<quint16>(Command, buffer + 6);
    WriteAll(stream, buffer, kStrokeSize);
}

void TEditorKeyStroke::LoadFromStream(QIODevice& stream)
{
    char buffer[kStrokeSize];
    ReadAll(stream, buffer, kStrokeSize, "key binding");
    TEditorKeyStroke loaded;
    loaded.Key = qFromLittleEndian<quint16>(buffer);
    loaded.Shift = static_cast<TShiftState>(buffer[2]);
    loaded.Key2 = qFromLittleEndian<quint16>(buffer + 3);
    loaded.Shift2 = static_cast<TShiftState>(buffer[5]);
    loaded.Command = qFromLittleEndian<quint16>(buffer + 6);
    try {
        loaded.Validate();
    } catch (const EKeyBindingError& e) {
        StreamError(e.Message());
    }
    *this = loaded;
}

// ---------------------------------------------------------------------------
// TEditorKeyStrokes

int TEditorKeyStrokes::FindKeys(const TEditorKeyStroke& stroke, int except) const
{
    for (int i = 0; i < Count(); ++i)
        if (i != except && FItems[static_cast<size_t>(i)].SameKeys(stroke))
            return i;
    return -1;
}

void TEditorKeyStrokes::Add(const TEditorKeyStroke& stroke)
{
    stroke.Validate();
    const int existing = FindKeys(stroke, -1);
    if (existing >= 0)
        throw EKeyBindingError(platform::Format(
            SDuplicateShortCut, {stroke.GetDisplayName(), EditorCommandToCodeString(Items(existing).Command)}));
    FItems.push_back(stroke);
}

void TEditorKeyStrokes::AddKey(TEditorCommand ACmd, quint16 AKey, TShiftState AShift, quint16 AKey2, TShiftState AShift2)
{
    Add(TEditorKeyStroke{AKey, AShift, AKey2, AShift2, ACmd});
}

void TEditorKeyStrokes::SetItem(int index, const TEditorKeyStroke& stroke)
{
    stroke.Validate();
    const int existing = FindKeys(stroke, index);
    if (existing >= 0)
        throw EKeyBindingError(platform::Format(
            SDuplicateShortCut, {stroke.GetDisplayName(), EditorCommandToCodeString(Items(existing).Command)}));
    FItems.at(static_cast<size_t>(index)) = stroke;
}

void TEditorKeyStrokes::Delete(int index)
{
    if (index < 0 || index >= Count())
        throw std::out_of_range("TEditorKeyStrokes::Delete");
    FItems.erase(FItems.begin() + index);
}

int TEditorKeyStrokes::FindCommand(TEditorCommand command) const
{
    for (int i = 0; i < Count(); ++i)
        if (FItems[static_cast<size_t>(i)].Command == command)
            return i;
    return -1;
}

int TEditorKeyStrokes::FindKeycode(quint16 code, TShiftState shift) const
{
    for (int i = 0; i < Count(); ++i) {
        const auto& item = FItems[static_cast<size_t>(i)];
        if (item.Key2 == 0 && item.Key == code && item.Shift == shift)
            return i;
    }
    return -1;
}

int TEditorKeyStrokes::FindKeycode2(quint16 code1, TShiftState shift1, quint16 code2, TShiftState shift2) const
{
    // A chord never has a second key 0, so an empty pending stroke matches nothing.
    if (code2 == 0)
        return -1;
    for (int i = 0; i < Count(); ++i) {
        const auto& item = FItems[static_cast<size_t>(i)];
        if (item.Key == code1 && item.Shift == shift1 && item.Key2 == code2 && item.Shift2 == shift2)
            return i;
    }
    return -1;
}

int TEditorKeyStrokes::FindShortcut(TShortCut shortCut) const
{
    if (shortCut == scNone)
        return -1;
    quint16 key = 0;
    TShiftState shift = ssNone;
    ShortCutToKey(shortCut, key, shift);
    return FindKeycode(key, shift);
}

int TEditorKeyStrokes::FindShortcut2(TShortCut shortCut, TShortCut shortCut2) const
{
    if (shortCut == scNone || shortCut2 == scNone)
        return -1;
    quint16 key = 0, key2 = 0;
    TShiftState shift = ssNone, shift2 = ssNone;
    ShortCutToKey(shortCut, key, shift);
    ShortCutToKey(shortCut2, key2, shift2);
    return FindKeycode2(key, shift, key2, shift2);
}

void TEditorKeyStrokes::ResetDefaults()
{
    // Checked for duplicates once; every editor after the first copies the
    // table instead of repeating a check that costs bindings squared.
    static const std::vector<TEditorKeyStroke> defaults = [] {
        TEditorKeyStrokes checked;
        checked.FItems.reserve(std::size(kDefaultBindings));
        for (const auto& b : kDefaultBindings)
            checked.AddKey(b.Command, b.Key, b.Shift, b.Key2, b.Shift2);
        return std::move(checked.FItems);
    }();
    FItems = defaults;
}

void TEditorKeyStrokes::SaveToStream(QIODevice& stream) const
{
    char count[4];
    qToLittleEndian<quint32>(static_cast<quint32>(FItems.size()), count);
    WriteAll(stream, count, sizeof count);
    for (const auto& item : FItems)
        item.SaveToStream(stream);
}

void TEditorKeyStrokes::LoadFromStream(QIODevice& stream)
{
    char countBytes[4];
    ReadAll(stream, countBytes, sizeof countBytes, "key binding count");
    const quint32 count = qFromLittleEndian<quint32>(countBytes);
    // Each entry is read before it is stored, so a lying count fails at the
    // end of the data instead of reserving memory for it.
    TEditorKeyStrokes loaded;
    for (quint32 i = 0; i < count; ++i) {
        TEditorKeyStroke stroke;
        stroke.LoadFromStream(stream);
        try {
            loaded.Add(stroke);
        } catch (const EKeyBindingError& e) {
            StreamError(e.Message());
        }
    }
    FItems = std::move(loaded.FItems);
}

// ---------------------------------------------------------------------------
// TEditorKbdHandler

namespace {

template <class Chain, class Fn>
TEditorKbdHandler::THandlerId AddTo(Chain& chain, TEditorKbdHandler::THandlerId& nextId, Fn handler)
{
    if (!handler)
        return 0;
    const auto id = nextId++;
    chain.Items.emplace_back(id, std::move(handler));
    return id;
}

template <class Chain>
void RemoveFrom(Chain& chain, TEditorKbdHandler::THandlerId id)
{
    std::erase_if(chain.Items, [id](const auto& item) { return item.first == id; });
}

// Runs the handlers present when the run starts, skipping any removed on
// the way, until stop() says the input was used up.
template <class Chain, class Call, class Stop>
void Run(Chain& chain, Call call, Stop stop)
{
    if (chain.Running)
        return;
    chain.Running = true;
    const platform::TScopeExit guard([&chain] { chain.Running = false; });
    const auto snapshot = chain.Items;
    for (const auto& [id, handler] : snapshot) {
        const bool stillThere = std::any_of(chain.Items.begin(), chain.Items.end(),
                                            [id = id](const auto& item) { return item.first == id; });
        if (!stillThere)
            continue;
        call(handler);
        if (stop())
            return;
    }
}

} // namespace

TEditorKbdHandler::THandlerId TEditorKbdHandler::AddKeyDownHandler(TKeyHandler handler)
{
    return AddTo(FKeyDown, FNextId, std::move(handler));
}
void TEditorKbdHandler::RemoveKeyDownHandler(THandlerId id) { RemoveFrom(FKeyDown, id); }

TEditorKbdHandler::THandlerId TEditorKbdHandler::AddKeyUpHandler(TKeyHandler handler)
{
    return AddTo(FKeyUp, FNextId, std::move(handler));
}
void TEditorKbdHandler::RemoveKeyUpHandler(THandlerId id) { RemoveFrom(FKeyUp, id); }

TEditorKbdHandler::THandlerId TEditorKbdHandler::AddKeyPressHandler(TKeyPressHandler handler)
{
    return AddTo(FKeyPress, FNextId, std::move(handler));
}
void TEditorKbdHandler::RemoveKeyPressHandler(THandlerId id) { RemoveFrom(FKeyPress, id); }

TEditorKbdHandler::THandlerId TEditorKbdHandler::AddMouseDownHandler(TMouseHandler handler)
{
    return AddTo(FMouseDown, FNextId, std::move(handler));
}
void TEditorKbdHandler::RemoveMouseDownHandler(THandlerId id) { RemoveFrom(FMouseDown, id); }

TEditorKbdHandler::THandlerId TEditorKbdHandler::AddMouseUpHandler(TMouseHandler handler)
{
    return AddTo(FMouseUp, FNextId, std::move(handler));
}
void TEditorKbdHandler::RemoveMouseUpHandler(THandlerId id) { RemoveFrom(FMouseUp, id); }

TEditorKbdHandler::THandlerId TEditorKbdHandler::AddMouseCursorHandler(TMouseCursorHandler handler)
{
    return AddTo(FMouseCursor, FNextId, std::move(handler));
}
void TEditorKbdHandler::RemoveMouseCursorHandler(THandlerId id) { RemoveFrom(FMouseCursor, id); }

void TEditorKbdHandler::ExecuteKeyDown(quint16& key, TShiftState shift)
{
    Run(FKeyDown, [&](const TKeyHandler& h) { h(key, shift); }, [&] { return key == 0; });
}

void TEditorKbdHandler::ExecuteKeyUp(quint16& key, TShiftState shift)
{
    Run(FKeyUp, [&](const TKeyHandler& h) { h(key, shift); }, [&] { return key == 0; });
}

void TEditorKbdHandler::ExecuteKeyPress(QChar& ch)
{
    Run(FKeyPress, [&](const TKeyPressHandler& h) { h(ch); }, [&] { return ch.isNull(); });
}

void TEditorKbdHandler::ExecuteMouseDown(TMouseButton button, TShiftState shift, int x, int y)
{
    Run(FMouseDown, [&](const TMouseHandler& h) { h(button, shift, x, y); }, [] { return false; });
}

void TEditorKbdHandler::ExecuteMouseUp(TMouseButton button, TShiftState shift, int x, int y)
{
    Run(FMouseUp, [&](const TMouseHandler& h) { h(button, shift, x, y); }, [] { return false; });
}

void TEditorKbdHandler::ExecuteMouseCursor(int line, int column, int& cursor)
{
    Run(FMouseCursor, [&](const TMouseCursorHandler& h) { h(line, column, cursor); }, [] { return false; });
}

// ---------------------------------------------------------------------------
// TKeyTranslator

namespace {
// Keys outside this range (modifiers, Enter, Esc, ... and the OEM keys)
// never start a chord.
constexpr quint16 kFirstChordKey = VK_ACCEPT;
constexpr quint16 kLastChordKey = VK_SCROLL;
} // namespace

TKeyTranslator::TKeyTranslator()
{
    FKeystrokes.ResetDefaults();
}

TEditorCommand TKeyTranslator::TranslateKeyCode(quint16 code, TShiftState shift)
{
    TEditorCommand command = ecNone;
    int index = FKeystrokes.FindKeycode2(fLastKey, fLastShiftState, code, shift);
    if (index < 0)
        index = FKeystrokes.FindKeycode(code, shift);
    if (index >= 0)
        command = FKeystrokes.Items(index).Command;
    if (command != ecNone || code < kFirstChordKey || code > kLastChordKey) {
        ClearPendingStroke();
    } else {
        fLastKey = code;
        fLastShiftState = shift;
    }
    return command;
}

TKeyDownResult TKeyTranslator::KeyDown(quint16 key, TShiftState shift)
{
    FKbdHandler.ExecuteKeyDown(key, shift);
    TKeyDownResult result;
    result.Consumed = key == 0;
    // A key the handlers used up still goes through translation as code 0,
    // which drops a pending chord stroke.
    result.Command = TranslateKeyCode(key, shift);
    if (result.Command != ecNone) {
        result.Consumed = true;
        FIgnoreNextChar = true;
    } else {
        FIgnoreNextChar = false;
    }
    return result;
}

bool TKeyTranslator::KeyPress(QChar& ch, const std::function<void(QChar&)>& keyPressEvent)
{
    if (FSkipNextKeyPress) {
        FSkipNextKeyPress = false;
        return false;
    }
    if (keyPressEvent)
        keyPressEvent(ch);
    if (ch.isNull())
        return false;
    if (FIgnoreNextChar) {
        // The character belongs to a key already run as a command.
        FIgnoreNextChar = false;
        return false;
    }
    FKbdHandler.ExecuteKeyPress(ch);
    return !ch.isNull();
}

void TKeyTranslator::ClearPendingStroke()
{
    fLastKey = 0;
    fLastShiftState = ssNone;
}

bool IsTypableChar(QChar ch)
{
    return ch.unicode() >= 32 && ch.unicode() != 127;
}

} // namespace editor
