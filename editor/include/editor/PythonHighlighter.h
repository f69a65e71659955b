#pragma once
// Python highlighter: token kinds, attributes, multi-line string ranges and
// the indentation-based fold scan.
#include "editor/FoldingHighlighter.h"

#include <cstdint>
#include <vector>

struct pcre2_real_code_16;
struct pcre2_real_match_data_16;

namespace editor {

enum TtkTokenKind : int {
    tkComment = 0,
    tkIdentifier = 1,
    tkKey = 2,
    tkNull = 3,
    tkNumber = 4,
    tkSpace = 5,
    tkString = 6,
    tkSymbol = 7,
    tkNonKeyword = 8,
    tkTrippleQuotedString = 9,
    tkSystemDefined = 10,
    tkHex = 11,
    tkOct = 12,
    tkFloat = 13,
    tkUnknown = 14,
};

enum TRangeState : int {
    rsANil = 0,
    rsComment = 1,
    rsUnKnown = 2,
    rsMultilineString = 3,
    rsMultilineString2 = 4,
    rsMultilineString3 = 5,
};

inline constexpr std::intptr_t rsMultilineString3DoubleQuote = rsMultilineString3 | 0x100;

// One entry of the process-wide word table.
struct TPythonWord {
    const char16_t* Text;
    int Length;
    TtkTokenKind Kind;
};

class TPythonHighlighter : public TCustomFoldingHighlighter {
public:
    TPythonHighlighter();
    ~TPythonHighlighter() override;

    void ResetRange() override { fRange = rsUnKnown; }
    // The opaque range is the TRangeState ordinal; a backslash-continued
    // string closed by a double quote carries one extra bit
    // (rsMultilineString3DoubleQuote) so the next line can be scanned from
    // the stored state alone. RangeKind strips it.
    void SetRange(std::intptr_t value) override;
    std::intptr_t GetRange() const override;
    static TRangeState RangeKind(std::intptr_t range);
    void SetLine(QStringView value, int lineNumber) override;
    void Next() override;
    bool GetEol() const override { return Run > fLineLen; }
    QString GetToken() const override;
    QStringView GetTokenView() const;
    int GetTokenPos() const override { return fTokenPos; }
    // The final tkNull stands on the terminator and has length 0.
    int GetTokenLength() const override;
    int GetTokenKind() const override { return FTokenID; }
    THighlighterAttributes* GetTokenAttribute() const override;
    void NextToEol() override;

    QString GetLanguageName() const override;
    QString GetFriendlyLanguageName() const override;
    QString GetSampleSource() const override;
    QString DefaultFilter() const override;
    THighlighterAttributes* GetDefaultAttribute(int index) const override;

    void InitFoldRanges(TFoldRanges& foldRanges) override;
    void ScanForFoldRanges(TFoldRanges& foldRanges, const TLineBuffer& linesToScan, int fromLine, int toLine) override;

    // Classifies a word exactly as the scanner does; no allocation.
    static TtkTokenKind ClassifyWord(const char16_t* text, int length);
    static const std::vector<TPythonWord>& Keywords();

    char16_t StringStarter() const { return fStringStarter; }
    int LineNumber() const { return fLineNumber; }

    THighlighterAttributes* CommentAttri;
    THighlighterAttributes* IdentifierAttri;
    THighlighterAttributes* KeyAttri;
    THighlighterAttributes* NonKeyAttri;
    THighlighterAttributes* SystemAttri;
    THighlighterAttributes* NumberAttri;
    THighlighterAttributes* HexAttri;
    THighlighterAttributes* OctalAttri;
    THighlighterAttributes* FloatAttri;
    THighlighterAttributes* SpaceAttri;
    THighlighterAttributes* StringAttri;
    THighlighterAttributes* DocStringAttri;
    THighlighterAttributes* SymbolAttri;
    THighlighterAttributes* ErrorAttri;

protected:
    void IdentCharsChanged() override;

private:
    bool IsLineEnd(int i) const { return i >= fLineLen || fLine[i] == 10 || fLine[i] == 13; }
    bool Ident(char16_t c) const { return c < 256 && fIdentTable[c]; }
    void DoNext();
    void NextToken();
    bool EscapeCountOdd(int pos) const;
    void StringProc(char16_t quote);
    void StringEndProc(char16_t endChar);
    void NumberProc();
    void WordProc();
    void ApplyEscape();
    void LineEndProc();

    // The line with a few NULs behind it, so look-aheads never leave the buffer.
    std::vector<char16_t> fLineBuf;
    const char16_t* fLine = nullptr;
    int fLineLen = 0;
    int fLineNumber = 0;
    int Run = 0;
    int fTokenPos = 0;
    TtkTokenKind FTokenID = tkNull;
    TRangeState fRange = rsUnKnown;
    char16_t fStringStarter = 0;
    int fStringLen = 0;
    int fToIdent = 0;
    bool FScanningToEOL = false;
    bool fIdentTable[256];
    const std::vector<TPythonWord>* FKeywords;
    THighlighterAttributes* fTokenAttri[15];
    pcre2_real_code_16* BlockOpenerRE = nullptr;
    pcre2_real_match_data_16* fMatchData = nullptr;
};

} // namespace editor
