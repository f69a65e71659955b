#pragma once
// Generic highlighter contract used by the editor: line-at-a-time scanning
// with a small range state carried from one line to the next.
#include <QString>
#include <QStringView>

#include <bitset>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/Exception.h"

namespace editor {

// Colours are QRgb-compatible (0xAARRGGBB); an alpha of 0 means "not set",
// so the editor's own colour applies. Kept free of QtGui on purpose.
using TColor = std::uint32_t;
inline constexpr TColor clNone = 0;
constexpr TColor MakeColor(int r, int g, int b)
{
    return 0xFF000000u | (std::uint32_t(r & 0xFF) << 16) | (std::uint32_t(g & 0xFF) << 8) | std::uint32_t(b & 0xFF);
}
constexpr bool ColorIsSet(TColor c) { return (c >> 24) != 0; }

enum TFontStyle : std::uint8_t { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
using TFontStyles = std::uint8_t;

class EHighlighterError : public platform::Exception {
public:
    using platform::Exception::Exception;
};

class THighlighterAttributes {
public:
    THighlighterAttributes(QString name, QString friendlyName);

    const QString& Name() const { return FName; }
    const QString& FriendlyName() const { return FFriendlyName; }

    TColor Foreground() const { return FForeground; }
    TColor Background() const { return FBackground; }
    TFontStyles Style() const { return FStyle; }
    void SetForeground(TColor value);
    void SetBackground(TColor value);
    void SetStyle(TFontStyles value);

    // Takes colours and style from another attribute (one change notification).
    void Assign(const THighlighterAttributes& source);

    void InternalSaveDefaultValues();
    bool IsDefault() const;
    void ResetToDefaults();

    std::function<void(THighlighterAttributes*)> OnChange;

private:
    void Changed();

    QString FName;
    QString FFriendlyName;
    TColor FForeground = clNone;
    TColor FBackground = clNone;
    TFontStyles FStyle = 0;
    TColor FForegroundDefault = clNone;
    TColor FBackgroundDefault = clNone;
    TFontStyles FStyleDefault = 0;
};

// Default attribute indices of GetDefaultAttribute.
enum : int {
    SYN_ATTR_COMMENT = 0,
    SYN_ATTR_IDENTIFIER = 1,
    SYN_ATTR_KEYWORD = 2,
    SYN_ATTR_STRING = 3,
    SYN_ATTR_WHITESPACE = 4,
    SYN_ATTR_SYMBOL = 5,
};

class TCustomHighlighter {
public:
    TCustomHighlighter();
    virtual ~TCustomHighlighter();
    TCustomHighlighter(const TCustomHighlighter&) = delete;
    TCustomHighlighter& operator=(const TCustomHighlighter&) = delete;

    // Scanning contract.
    virtual void ResetRange() = 0;
    virtual void SetRange(std::intptr_t value) = 0;
    virtual std::intptr_t GetRange() const = 0;
    // Stores the line, restarts at position 0 and makes the first token current.
    virtual void SetLine(QStringView value, int lineNumber) = 0;
    virtual void Next() = 0;
    virtual bool GetEol() const = 0;
    virtual QString GetToken() const = 0;
    virtual int GetTokenPos() const = 0;
    virtual int GetTokenLength() const = 0;
    virtual int GetTokenKind() const = 0;
    int GetTokenID() const { return GetTokenKind(); }
    virtual THighlighterAttributes* GetTokenAttribute() const = 0;
    // Runs to the end of the line when only the final range is wanted.
    virtual void NextToEol();

    virtual bool IsIdentChar(char16_t c) const;
    virtual bool IsWordBreakChar(char16_t c) const;
    virtual bool IsWhiteChar(char16_t c) const;
    const std::bitset<256>& AdditionalIdentChars() const { return FAdditionalIdentChars; }
    const std::bitset<256>& AdditionalWordBreakChars() const { return FAdditionalWordBreakChars; }
    virtual void SetAdditionalIdentChars(const std::bitset<256>& value);
    virtual void SetAdditionalWordBreakChars(const std::bitset<256>& value);

    virtual QString GetLanguageName() const = 0;
    virtual QString GetFriendlyLanguageName() const { return GetLanguageName(); }
    virtual QString GetSampleSource() const { return QString(); }
    virtual QString DefaultFilter() const { return QString(); }
    QString DefaultFilterValue() const { return DefaultFilter(); }
    virtual bool IsCaseSensitive() const { return FCaseSensitive; }

    // Attributes, kept sorted by storage name.
    int AttrCount() const { return int(FAttributes.size()); }
    THighlighterAttributes* Attribute(int index) const;
    THighlighterAttributes* AttributeByName(const QString& storageName) const;
    virtual THighlighterAttributes* GetDefaultAttribute(int index) const = 0;
    THighlighterAttributes* CommentAttribute() const { return GetDefaultAttribute(SYN_ATTR_COMMENT); }
    THighlighterAttributes* IdentifierAttribute() const { return GetDefaultAttribute(SYN_ATTR_IDENTIFIER); }
    THighlighterAttributes* KeywordAttribute() const { return GetDefaultAttribute(SYN_ATTR_KEYWORD); }
    THighlighterAttributes* StringAttribute() const { return GetDefaultAttribute(SYN_ATTR_STRING); }
    THighlighterAttributes* WhitespaceAttribute() const { return GetDefaultAttribute(SYN_ATTR_WHITESPACE); }
    THighlighterAttributes* SymbolAttribute() const { return GetDefaultAttribute(SYN_ATTR_SYMBOL); }

    // Change notification: fired whenever an attribute or setting changes,
    // held back between BeginUpdate and EndUpdate.
    std::function<void(TCustomHighlighter*)> OnChange;
    void BeginUpdate();
    void EndUpdate();
    void DefHighlightChange();

    // Every attribute back to the values it had after construction.
    void ResetDefaults();

protected:
    // Takes ownership; a duplicate storage name is a programming error.
    THighlighterAttributes* AddAttribute(std::unique_ptr<THighlighterAttributes> attr);
    // Hooks every attribute's OnChange and records its current values as defaults.
    void FinishAttributes();
    virtual void IdentCharsChanged() {}

    bool FCaseSensitive = false;

private:
    std::vector<std::unique_ptr<THighlighterAttributes>> FAttributes;
    std::bitset<256> FAdditionalIdentChars;
    std::bitset<256> FAdditionalWordBreakChars;
    int FUpdateCount = 0;
    bool FChangedWhileLocked = false;
};

} // namespace editor
