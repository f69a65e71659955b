#pragma once
// The editor's command vocabulary, its key-binding table and the translation
// of key strokes into commands. Independent of the editor core and of any
// widget toolkit: the control feeds key codes in, the core runs the commands.
#include <QChar>
#include <QString>
#include <QtGlobal>
#include <qnamespace.h>

#include <functional>
#include <vector>

#include "platform/Exception.h"

class QIODevice;

// ---------------------------------------------------------------------------
// Commands. Numbers from ecUserFirst up belong to the application: the editor
// only hands them to its events and hooked handlers.

using TEditorCommand = quint16;

inline constexpr TEditorCommand ecNone = 0;
inline constexpr TEditorCommand ecLeft = 1;
inline constexpr TEditorCommand ecRight = 2;
inline constexpr TEditorCommand ecUp = 3;
inline constexpr TEditorCommand ecDown = 4;
inline constexpr TEditorCommand ecWordLeft = 5;
inline constexpr TEditorCommand ecWordRight = 6;
inline constexpr TEditorCommand ecLineStart = 7;
inline constexpr TEditorCommand ecLineEnd = 8;
inline constexpr TEditorCommand ecPageUp = 9;
inline constexpr TEditorCommand ecPageDown = 10;
inline constexpr TEditorCommand ecPageLeft = 11;
inline constexpr TEditorCommand ecPageRight = 12;
inline constexpr TEditorCommand ecPageTop = 13;
inline constexpr TEditorCommand ecPageBottom = 14;
inline constexpr TEditorCommand ecEditorTop = 15;
inline constexpr TEditorCommand ecEditorBottom = 16;
inline constexpr TEditorCommand ecGotoXY = 17;
inline constexpr TEditorCommand ecSelLeft = 101;
inline constexpr TEditorCommand ecSelRight = 102;
inline constexpr TEditorCommand ecSelUp = 103;
inline constexpr TEditorCommand ecSelDown = 104;
inline constexpr TEditorCommand ecSelWordLeft = 105;
inline constexpr TEditorCommand ecSelWordRight = 106;
inline constexpr TEditorCommand ecSelLineStart = 107;
inline constexpr TEditorCommand ecSelLineEnd = 108;
inline constexpr TEditorCommand ecSelPageUp = 109;
inline constexpr TEditorCommand ecSelPageDown = 110;
inline constexpr TEditorCommand ecSelPageLeft = 111;
inline constexpr TEditorCommand ecSelPageRight = 112;
inline constexpr TEditorCommand ecSelPageTop = 113;
inline constexpr TEditorCommand ecSelPageBottom = 114;
inline constexpr TEditorCommand ecSelEditorTop = 115;
inline constexpr TEditorCommand ecSelEditorBottom = 116;
inline constexpr TEditorCommand ecSelGotoXY = 117;
inline constexpr TEditorCommand ecSelWord = 198;
inline constexpr TEditorCommand ecSelectAll = 199;
inline constexpr TEditorCommand ecCopy = 201;
inline constexpr TEditorCommand ecScrollUp = 211;
inline constexpr TEditorCommand ecScrollDown = 212;
inline constexpr TEditorCommand ecScrollLeft = 213;
inline constexpr TEditorCommand ecScrollRight = 214;
inline constexpr TEditorCommand ecInsertMode = 221;
inline constexpr TEditorCommand ecOverwriteMode = 222;
inline constexpr TEditorCommand ecToggleMode = 223;
inline constexpr TEditorCommand ecNormalSelect = 231;
inline constexpr TEditorCommand ecColumnSelect = 232;
inline constexpr TEditorCommand ecLineSelect = 233;
inline constexpr TEditorCommand ecMatchBracket = 250;
inline constexpr TEditorCommand ecCommentBlock = 251;
inline constexpr TEditorCommand ecGotoMarker0 = 301;
inline constexpr TEditorCommand ecGotoMarker1 = 302;
inline constexpr TEditorCommand ecGotoMarker2 = 303;
inline constexpr TEditorCommand ecGotoMarker3 = 304;
inline constexpr TEditorCommand ecGotoMarker4 = 305;
inline constexpr TEditorCommand ecGotoMarker5 = 306;
inline constexpr TEditorCommand ecGotoMarker6 = 307;
inline constexpr TEditorCommand ecGotoMarker7 = 308;
inline constexpr TEditorCommand ecGotoMarker8 = 309;
inline constexpr TEditorCommand ecGotoMarker9 = 310;
inline constexpr TEditorCommand ecSetMarker0 = 351;
inline constexpr TEditorCommand ecSetMarker1 = 352;
inline constexpr TEditorCommand ecSetMarker2 = 353;
inline constexpr TEditorCommand ecSetMarker3 = 354;
inline constexpr TEditorCommand ecSetMarker4 = 355;
inline constexpr TEditorCommand ecSetMarker5 = 356;
inline constexpr TEditorCommand ecSetMarker6 = 357;
inline constexpr TEditorCommand ecSetMarker7 = 358;
inline constexpr TEditorCommand ecSetMarker8 = 359;
inline constexpr TEditorCommand ecSetMarker9 = 360;
inline constexpr TEditorCommand ecContextHelp = 490;
inline constexpr TEditorCommand ecDeleteLastChar = 501;
inline constexpr TEditorCommand ecDeleteChar = 502;
inline constexpr TEditorCommand ecDeleteWord = 503;
inline constexpr TEditorCommand ecDeleteLastWord = 504;
inline constexpr TEditorCommand ecDeleteBOL = 505;
inline constexpr TEditorCommand ecDeleteEOL = 506;
inline constexpr TEditorCommand ecDeleteLine = 507;
inline constexpr TEditorCommand ecClearAll = 508;
inline constexpr TEditorCommand ecLineBreak = 509;
inline constexpr TEditorCommand ecInsertLine = 510;
inline constexpr TEditorCommand ecChar = 511;
inline constexpr TEditorCommand ecImeStr = 550;
inline constexpr TEditorCommand ecUndo = 601;
inline constexpr TEditorCommand ecRedo = 602;
inline constexpr TEditorCommand ecCut = 603;
inline constexpr TEditorCommand ecPaste = 604;
inline constexpr TEditorCommand ecBlockIndent = 610;
inline constexpr TEditorCommand ecBlockUnindent = 611;
inline constexpr TEditorCommand ecTab = 612;
inline constexpr TEditorCommand ecShiftTab = 613;
inline constexpr TEditorCommand ecUpperCase = 620;
inline constexpr TEditorCommand ecLowerCase = 621;
inline constexpr TEditorCommand ecToggleCase = 622;
inline constexpr TEditorCommand ecTitleCase = 623;
inline constexpr TEditorCommand ecString = 630;
inline constexpr TEditorCommand ecAutoCompletion = 650;
inline constexpr TEditorCommand ecCopyLineUp = 661;
inline constexpr TEditorCommand ecCopyLineDown = 662;
inline constexpr TEditorCommand ecMoveLineUp = 663;
inline constexpr TEditorCommand ecMoveLineDown = 664;
inline constexpr TEditorCommand ecFoldAll = 701;
inline constexpr TEditorCommand ecUnfoldAll = 702;
inline constexpr TEditorCommand ecFoldNearest = 705;
inline constexpr TEditorCommand ecUnfoldNearest = 706;
inline constexpr TEditorCommand ecFoldLevel1 = 711;
inline constexpr TEditorCommand ecFoldLevel2 = 712;
inline constexpr TEditorCommand ecFoldLevel3 = 713;
inline constexpr TEditorCommand ecUnfoldLevel1 = 721;
inline constexpr TEditorCommand ecUnfoldLevel2 = 722;
inline constexpr TEditorCommand ecUnfoldLevel3 = 723;
inline constexpr TEditorCommand ecFoldRanges = 731;
inline constexpr TEditorCommand ecUnfoldRanges = 732;

inline constexpr TEditorCommand ecUserFirst = 1001;

// ---------------------------------------------------------------------------
// Shift state: a bit set of the modifiers held with a key.

enum TShiftStateFlag : quint8 { ssShift = 1, ssAlt = 2, ssCtrl = 4 };
using TShiftState = quint8;
inline constexpr TShiftState ssNone = 0;
inline constexpr TShiftState ssAllModifiers = ssShift | ssAlt | ssCtrl;

// A key and its modifiers in one 16-bit value: the key code in the low byte,
// the modifiers in the top bits. Key codes above 255 have no shortcut form.
using TShortCut = quint16;
inline constexpr TShortCut scNone = 0;
inline constexpr TShortCut scShift = 0x2000;
inline constexpr TShortCut scCtrl = 0x4000;
inline constexpr TShortCut scAlt = 0x8000;

// ---------------------------------------------------------------------------
// Virtual-key codes. Letters and digits are their upper-case character codes.

inline constexpr quint16 VK_LBUTTON = 1;
inline constexpr quint16 VK_RBUTTON = 2;
inline constexpr quint16 VK_CANCEL = 3;
inline constexpr quint16 VK_MBUTTON = 4;
inline constexpr quint16 VK_XBUTTON1 = 5;
inline constexpr quint16 VK_XBUTTON2 = 6;
inline constexpr quint16 VK_BACK = 8;
inline constexpr quint16 VK_TAB = 9;
inline constexpr quint16 VK_CLEAR = 12;
inline constexpr quint16 VK_RETURN = 13;
inline constexpr quint16 VK_SHIFT = 16;
inline constexpr quint16 VK_CONTROL = 17;
inline constexpr quint16 VK_MENU = 18;
inline constexpr quint16 VK_PAUSE = 19;
inline constexpr quint16 VK_CAPITAL = 20;
inline constexpr quint16 VK_KANA = 21;
inline constexpr quint16 VK_JUNJA = 23;
inline constexpr quint16 VK_FINAL = 24;
inline constexpr quint16 VK_KANJI = 25;
inline constexpr quint16 VK_ESCAPE = 27;
inline constexpr quint16 VK_CONVERT = 28;
inline constexpr quint16 VK_NONCONVERT = 29;
inline constexpr quint16 VK_ACCEPT = 30;
inline constexpr quint16 VK_MODECHANGE = 31;
inline constexpr quint16 VK_SPACE = 32;
inline constexpr quint16 VK_PRIOR = 33;
inline constexpr quint16 VK_NEXT = 34;
inline constexpr quint16 VK_END = 35;
inline constexpr quint16 VK_HOME = 36;
inline constexpr quint16 VK_LEFT = 37;
inline constexpr quint16 VK_UP = 38;
inline constexpr quint16 VK_RIGHT = 39;
inline constexpr quint16 VK_DOWN = 40;
inline constexpr quint16 VK_SELECT = 41;
inline constexpr quint16 VK_PRINT = 42;
inline constexpr quint16 VK_EXECUTE = 43;
inline constexpr quint16 VK_SNAPSHOT = 44;
inline constexpr quint16 VK_INSERT = 45;
inline constexpr quint16 VK_DELETE = 46;
inline constexpr quint16 VK_HELP = 47;
inline constexpr quint16 VK_LWIN = 91;
inline constexpr quint16 VK_RWIN = 92;
inline constexpr quint16 VK_APPS = 93;
inline constexpr quint16 VK_SLEEP = 95;
inline constexpr quint16 VK_NUMPAD0 = 96;
inline constexpr quint16 VK_NUMPAD1 = 97;
inline constexpr quint16 VK_NUMPAD2 = 98;
inline constexpr quint16 VK_NUMPAD3 = 99;
inline constexpr quint16 VK_NUMPAD4 = 100;
inline constexpr quint16 VK_NUMPAD5 = 101;
inline constexpr quint16 VK_NUMPAD6 = 102;
inline constexpr quint16 VK_NUMPAD7 = 103;
inline constexpr quint16 VK_NUMPAD8 = 104;
inline constexpr quint16 VK_NUMPAD9 = 105;
inline constexpr quint16 VK_MULTIPLY = 106;
inline constexpr quint16 VK_ADD = 107;
inline constexpr quint16 VK_SEPARATOR = 108;
inline constexpr quint16 VK_SUBTRACT = 109;
inline constexpr quint16 VK_DECIMAL = 110;
inline constexpr quint16 VK_DIVIDE = 111;
inline constexpr quint16 VK_F1 = 112;
inline constexpr quint16 VK_F2 = 113;
inline constexpr quint16 VK_F3 = 114;
inline constexpr quint16 VK_F4 = 115;
inline constexpr quint16 VK_F5 = 116;
inline constexpr quint16 VK_F6 = 117;
inline constexpr quint16 VK_F7 = 118;
inline constexpr quint16 VK_F8 = 119;
inline constexpr quint16 VK_F9 = 120;
inline constexpr quint16 VK_F10 = 121;
inline constexpr quint16 VK_F11 = 122;
inline constexpr quint16 VK_F12 = 123;
inline constexpr quint16 VK_F13 = 124;
inline constexpr quint16 VK_F14 = 125;
inline constexpr quint16 VK_F15 = 126;
inline constexpr quint16 VK_F16 = 127;
inline constexpr quint16 VK_F17 = 128;
inline constexpr quint16 VK_F18 = 129;
inline constexpr quint16 VK_F19 = 130;
inline constexpr quint16 VK_F20 = 131;
inline constexpr quint16 VK_F21 = 132;
inline constexpr quint16 VK_F22 = 133;
inline constexpr quint16 VK_F23 = 134;
inline constexpr quint16 VK_F24 = 135;
inline constexpr quint16 VK_NUMLOCK = 144;
inline constexpr quint16 VK_SCROLL = 145;
inline constexpr quint16 VK_LSHIFT = 160;
inline constexpr quint16 VK_RSHIFT = 161;
inline constexpr quint16 VK_LCONTROL = 162;
inline constexpr quint16 VK_RCONTROL = 163;
inline constexpr quint16 VK_LMENU = 164;
inline constexpr quint16 VK_RMENU = 165;
inline constexpr quint16 VK_OEM_1 = 186;
inline constexpr quint16 VK_OEM_PLUS = 187;
inline constexpr quint16 VK_OEM_COMMA = 188;
inline constexpr quint16 VK_OEM_MINUS = 189;
inline constexpr quint16 VK_OEM_PERIOD = 190;
inline constexpr quint16 VK_OEM_2 = 191;
inline constexpr quint16 VK_OEM_3 = 192;
inline constexpr quint16 VK_OEM_4 = 219;
inline constexpr quint16 VK_OEM_5 = 220;
inline constexpr quint16 VK_OEM_6 = 221;
inline constexpr quint16 VK_OEM_7 = 222;
inline constexpr quint16 VK_OEM_8 = 223;
inline constexpr quint16 VK_OEM_102 = 226;
inline constexpr quint16 VK_PROCESSKEY = 229;
inline constexpr quint16 VK_PACKET = 231;

// ---------------------------------------------------------------------------
// Command names ("ecLineBreak" <-> 509).

bool IdentToEditorCommand(const QString& ident, TEditorCommand& command);
bool EditorCommandToIdent(TEditorCommand command, QString& ident);
// The command's name, or its number in decimal when it has none.
QString EditorCommandToCodeString(TEditorCommand command);
// Calls proc with every command name, in ascending command order.
void GetEditorCommandValues(const std::function<void(const QString&)>& proc);
// Number of named commands.
int EditorCommandCount();

// ---------------------------------------------------------------------------
// Shortcut form.

TShortCut ShortCut(quint16 key, TShiftState shift);
void ShortCutToKey(TShortCut shortCut, quint16& key, TShiftState& shift);
// "Ctrl+Shift+K", "Alt+Up", "F1"; empty for scNone.
QString ShortCutToText(TShortCut shortCut);
// Key name without modifiers ("BkSp", "A", "Num 5"; empty for 0).
QString KeyCodeToText(quint16 key);

// ---------------------------------------------------------------------------
// Qt key events to key codes, for the editor's view. Returns 0 for a key with
// no code. Keypad digits and operators need Qt::KeypadModifier to map to
// their keypad codes.

quint16 VirtualKeyFromQtKey(int qtKey, Qt::KeyboardModifiers modifiers);
TShiftState ShiftStateFromQtModifiers(Qt::KeyboardModifiers modifiers);

namespace editor {

// Raised by the binding table for a duplicate binding, a malformed binding
// (no first key, unknown modifier bits, a second-stroke modifier without a
// second key) and malformed stream data.
class EKeyBindingError : public platform::Exception {
public:
    using Exception::Exception;
};

// Message texts (%s: the keys, the command name, the detail).
inline const QString SDuplicateShortCut = QStringLiteral("ショートカット '%s' は既に %s に割り当てられています");
inline const QString SInvalidKeyBinding = QStringLiteral("キー割り当て '%s' は不正です");
inline const QString SInvalidKeyStream = QStringLiteral("キー割り当てのデータが不正です: %s");

// One binding: a single stroke (Key2 == 0) or a two-stroke chord.
struct TEditorKeyStroke {
    quint16 Key = 0;
    TShiftState Shift = ssNone;
    quint16 Key2 = 0;
    TShiftState Shift2 = ssNone;
    TEditorCommand Command = ecNone;

    // Shortcut forms of the two strokes; scNone for a key without one.
    TShortCut ShortCut() const;
    void SetShortCut(TShortCut value);
    TShortCut ShortCut2() const;
    void SetShortCut2(TShortCut value);

    bool SameKeys(const TEditorKeyStroke& other) const;
    // Throws EKeyBindingError for a malformed stroke.
    void Validate() const;
    // "Ctrl+K Ctrl+L" for a chord, "Ctrl+Z" for a single stroke.
    QString GetDisplayName() const;

    // Eight bytes, little-endian: Key u16, Shift u8, Key2 u16, Shift2 u8,
    // Command u16. Load throws EKeyBindingError on short or invalid data and
    // leaves the stroke unchanged then.
    void SaveToStream(QIODevice& stream) const;
    void LoadFromStream(QIODevice& stream);

    friend bool operator==(const TEditorKeyStroke&, const TEditorKeyStroke&) = default;
};

// The binding table. Lookups scan in order and the first match wins; no two
// entries may bind the same keys.
class TEditorKeyStrokes {
public:
    TEditorKeyStrokes() = default;

    int Count() const { return static_cast<int>(FItems.size()); }
    const TEditorKeyStroke& Items(int index) const { return FItems.at(static_cast<size_t>(index)); }
    const std::vector<TEditorKeyStroke>& All() const { return FItems; }

    // Each throws EKeyBindingError when the keys are already bound (by
    // another entry, for SetItem) or the stroke is malformed.
    void Add(const TEditorKeyStroke& stroke);
    void AddKey(TEditorCommand ACmd, quint16 AKey, TShiftState AShift, quint16 AKey2 = 0, TShiftState AShift2 = ssNone);
    void SetItem(int index, const TEditorKeyStroke& stroke);
    void Delete(int index);
    void Clear() { FItems.clear(); }

    // Indexes, or -1.
    int FindCommand(TEditorCommand command) const;
    int FindKeycode(quint16 code, TShiftState shift) const; // single strokes only
    int FindKeycode2(quint16 code1, TShiftState shift1, quint16 code2, TShiftState shift2) const;
    int FindShortcut(TShortCut shortCut) const; // single strokes only
    int FindShortcut2(TShortCut shortCut, TShortCut shortCut2) const;

    // Clears the table and adds the standard bindings.
    void ResetDefaults();

    // Count (u32, little-endian) followed by the strokes. Load replaces the
    // table only when the whole stream is valid; otherwise it throws
    // EKeyBindingError and leaves the table as it was.
    void SaveToStream(QIODevice& stream) const;
    void LoadFromStream(QIODevice& stream);

    void Assign(const TEditorKeyStrokes& source) { FItems = source.FItems; }

private:
    int FindKeys(const TEditorKeyStroke& stroke, int except) const;

    std::vector<TEditorKeyStroke> FItems;
};

// Handler chains that see keyboard and mouse input before the editor acts on
// it. Handlers run in the order they were added; a key-down, key-up or
// key-press handler stops the chain by clearing the key (0) or character
// (null). Removing or adding handlers from within a handler is safe; a
// handler added during a run first runs on the next input. Adding an empty
// handler does nothing and returns id 0.
enum TMouseButton : quint8 { mbLeft, mbRight, mbMiddle };

class TEditorKbdHandler {
public:
    using THandlerId = quint64;
    using TKeyHandler = std::function<void(quint16& key, TShiftState shift)>;
    using TKeyPressHandler = std::function<void(QChar& ch)>;
    using TMouseHandler = std::function<void(TMouseButton button, TShiftState shift, int x, int y)>;
    using TMouseCursorHandler = std::function<void(int line, int column, int& cursor)>;

    THandlerId AddKeyDownHandler(TKeyHandler handler);
    void RemoveKeyDownHandler(THandlerId id);
    THandlerId AddKeyUpHandler(TKeyHandler handler);
    void RemoveKeyUpHandler(THandlerId id);
    THandlerId AddKeyPressHandler(TKeyPressHandler handler);
    void RemoveKeyPressHandler(THandlerId id);
    THandlerId AddMouseDownHandler(TMouseHandler handler);
    void RemoveMouseDownHandler(THandlerId id);
    THandlerId AddMouseUpHandler(TMouseHandler handler);
    void RemoveMouseUpHandler(THandlerId id);
    THandlerId AddMouseCursorHandler(TMouseCursorHandler handler);
    void RemoveMouseCursorHandler(THandlerId id);

    // A chain already running for the same kind of input is not re-entered.
    void ExecuteKeyDown(quint16& key, TShiftState shift);
    void ExecuteKeyUp(quint16& key, TShiftState shift);
    void ExecuteKeyPress(QChar& ch);
    void ExecuteMouseDown(TMouseButton button, TShiftState shift, int x, int y);
    void ExecuteMouseUp(TMouseButton button, TShiftState shift, int x, int y);
    void ExecuteMouseCursor(int line, int column, int& cursor);

private:
    template <class Fn>
    struct TChain {
        std::vector<std::pair<THandlerId, Fn>> Items;
        bool Running = false;
    };

    THandlerId FNextId = 1;
    TChain<TKeyHandler> FKeyDown;
    TChain<TKeyHandler> FKeyUp;
    TChain<TKeyPressHandler> FKeyPress;
    TChain<TMouseHandler> FMouseDown;
    TChain<TMouseHandler> FMouseUp;
    TChain<TMouseCursorHandler> FMouseCursor;
};

// Key-down result: the command to run through the command processor (ecNone
// for none) and whether the key was used up, by a binding or a handler.
struct TKeyDownResult {
    TEditorCommand Command = ecNone;
    bool Consumed = false;
};

// Turns key-downs and typed characters into commands. Owns the binding table,
// the handler chains, the pending first stroke of a chord and the flag that
// drops the character following a key already run as a command.
class TKeyTranslator {
public:
    TKeyTranslator(); // starts with the default bindings

    TEditorKeyStrokes& Keystrokes() { return FKeystrokes; }
    const TEditorKeyStrokes& Keystrokes() const { return FKeystrokes; }
    void SetKeystrokes(const TEditorKeyStrokes& value) { FKeystrokes.Assign(value); }
    void ResetDefaults() { FKeystrokes.ResetDefaults(); }

    TEditorKbdHandler& KbdHandler() { return FKbdHandler; }

    // Call after the control's own key-down event: runs the key-down chain,
    // then translates. A command found consumes the key and makes the next
    // KeyPress drop its character.
    TKeyDownResult KeyDown(quint16 key, TShiftState shift);
    void KeyUp(quint16& key, TShiftState shift) { FKbdHandler.ExecuteKeyUp(key, shift); }
    // The translation step alone: chord completion first, then the single
    // stroke; keeps or clears the pending stroke.
    TEditorCommand TranslateKeyCode(quint16 code, TShiftState shift);

    // A typed character. keyPressEvent is the control's own key-press event,
    // which may change the character or clear it. Returns true when the
    // (possibly changed) character must be run as ecChar.
    bool KeyPress(QChar& ch, const std::function<void(QChar&)>& keyPressEvent = {});

    quint16 LastKey() const { return fLastKey; }
    TShiftState LastShiftState() const { return fLastShiftState; }
    bool IgnoreNextChar() const { return FIgnoreNextChar; }
    void SetIgnoreNextChar(bool value) { FIgnoreNextChar = value; }
    // Separate from IgnoreNextChar: drops the next character before even the
    // key-press event sees it (input already delivered another way, e.g. as
    // composed text).
    bool SkipNextKeyPress() const { return FSkipNextKeyPress; }
    void SetSkipNextKeyPress(bool value) { FSkipNextKeyPress = value; }
    // Forgets a pending chord stroke (focus loss, for instance).
    void ClearPendingStroke();

private:
    TEditorKeyStrokes FKeystrokes;
    TEditorKbdHandler FKbdHandler;
    quint16 fLastKey = 0;
    TShiftState fLastShiftState = ssNone;
    bool FIgnoreNextChar = false; // sfIgnoreNextChar
    bool FSkipNextKeyPress = false;
};

// Characters that ecChar types: everything but the C0 controls and DEL.
bool IsTypableChar(QChar ch);

} // namespace editor
