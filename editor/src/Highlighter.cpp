#include "editor/Highlighter.h"

#include <algorithm>

namespace editor {

THighlighterAttributes::THighlighterAttributes(QString name, QString friendlyName)
    : FName(std::move(name)), FFriendlyName(std::move(friendlyName))
{
}

void THighlighterAttributes::Changed()
{
    if (OnChange)
        OnChange(this);
}

void THighlighterAttributes::SetForeground(TColor value)
{
    if (FForeground != value) {
        FForeground = value;
        Changed();
    }
}

void THighlighterAttributes::SetBackground(TColor value)
{
    if (FBackground != value) {
        FBackground = value;
        Changed();
    }
}

void THighlighterAttributes::SetStyle(TFontStyles value)
{
    if (FStyle != value) {
        FStyle = value;
        Changed();
    }
}

void THighlighterAttributes::Assign(const THighlighterAttributes& source)
{
    if (FForeground == source.FForeground && FBackground == source.FBackground && FStyle == source.FStyle)
        return;
    FForeground = source.FForeground;
    FBackground = source.FBackground;
    FStyle = source.FStyle;
    Changed();
}

void THighlighterAttributes::InternalSaveDefaultValues()
{
    FForegroundDefault = FForeground;
    FBackgroundDefault = FBackground;
    FStyleDefault = FStyle;
}

bool THighlighterAttributes::IsDefault() const
{
    return FForeground == FForegroundDefault && FBackground == FBackgroundDefault && FStyle == FStyleDefault;
}

void THighlighterAttributes::ResetToDefaults()
{
    if (IsDefault())
        return;
    FForeground = FForegroundDefault;
    FBackground = FBackgroundDefault;
    FStyle = FStyleDefault;
    Changed();
}

TCustomHighlighter::TCustomHighlighter() = default;
TCustomHighlighter::~TCustomHighlighter() = default;

void TCustomHighlighter::NextToEol()
{
    while (!GetEol())
        Next();
}

bool TCustomHighlighter::IsWordBreakChar(char16_t c) const
{
    if (c < 256 && FAdditionalIdentChars[c])
        return false;
    bool result;
    if (c < 33)
        result = true;
    else if (c <= 126)
        result = (c >= u'!' && c <= u'/') || (c >= u':' && c <= u'@') || (c >= u'[' && c <= u'^') || c == u'`'
            || (c >= u'{' && c <= u'~');
    else
        result = c == 167 || c == 176 || c == 180;
    return result || (c < 256 && FAdditionalWordBreakChars[c]);
}

bool TCustomHighlighter::IsIdentChar(char16_t c) const
{
    if (c > 255)
        return false;
    const bool base = (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'_';
    if (!base && !FAdditionalIdentChars[c])
        return false;
    return !IsWordBreakChar(c);
}

bool TCustomHighlighter::IsWhiteChar(char16_t c) const
{
    if (c <= 32)
        return true;
    return !IsIdentChar(c) && !IsWordBreakChar(c);
}

void TCustomHighlighter::SetAdditionalIdentChars(const std::bitset<256>& value)
{
    if (FAdditionalIdentChars == value)
        return;
    FAdditionalIdentChars = value;
    IdentCharsChanged();
    DefHighlightChange();
}

void TCustomHighlighter::SetAdditionalWordBreakChars(const std::bitset<256>& value)
{
    if (FAdditionalWordBreakChars == value)
        return;
    FAdditionalWordBreakChars = value;
    IdentCharsChanged();
    DefHighlightChange();
}

THighlighterAttributes* TCustomHighlighter::Attribute(int index) const
{
    if (index < 0 || index >= AttrCount())
        return nullptr;
    return FAttributes[std::size_t(index)].get();
}

THighlighterAttributes* TCustomHighlighter::AttributeByName(const QString& storageName) const
{
    auto it = std::lower_bound(FAttributes.begin(), FAttributes.end(), storageName,
        [](const std::unique_ptr<THighlighterAttributes>& a, const QString& name) { return a->Name() < name; });
    if (it != FAttributes.end() && (*it)->Name() == storageName)
        return it->get();
    return nullptr;
}

THighlighterAttributes* TCustomHighlighter::AddAttribute(std::unique_ptr<THighlighterAttributes> attr)
{
    auto it = std::lower_bound(FAttributes.begin(), FAttributes.end(), attr->Name(),
        [](const std::unique_ptr<THighlighterAttributes>& a, const QString& name) { return a->Name() < name; });
    if (it != FAttributes.end() && (*it)->Name() == attr->Name())
        throw EHighlighterError(platform::Format("Duplicate highlighter attribute \"%s\"", {attr->Name()}));
    THighlighterAttributes* raw = attr.get();
    FAttributes.insert(it, std::move(attr));
    return raw;
}

void TCustomHighlighter::FinishAttributes()
{
    for (auto& attr : FAttributes) {
        attr->OnChange = [this](THighlighterAttributes*) { DefHighlightChange(); };
        attr->InternalSaveDefaultValues();
    }
}

void TCustomHighlighter::BeginUpdate() { ++FUpdateCount; }

void TCustomHighlighter::EndUpdate()
{
    if (FUpdateCount > 0 && --FUpdateCount == 0 && FChangedWhileLocked) {
        FChangedWhileLocked = false;
        DefHighlightChange();
    }
}

void TCustomHighlighter::DefHighlightChange()
{
    if (FUpdateCount > 0) {
        FChangedWhileLocked = true;
        return;
    }
    if (OnChange)
        OnChange(this);
}

void TCustomHighlighter::ResetDefaults()
{
    BeginUpdate();
    for (auto& attr : FAttributes)
        attr->ResetToDefaults();
    EndUpdate();
}

} // namespace editor
