#pragma once
// Fold model: per-line fold markers reported by a highlighter and the fold
// ranges rebuilt from them, with their collapsed state.
#include <QIODevice>

#include <vector>

#include "editor/CodeFoldingMode.h"
#include "platform/Exception.h"

namespace editor {

class TLineBuffer;

class EArgumentOutOfRange : public platform::Exception {
public:
    EArgumentOutOfRange() : platform::Exception(QStringLiteral("Argument out of range")) {}
};

// Fold types of the Python scan.
inline constexpr int FoldTypeBlock = 1;
inline constexpr int FoldTypeString = 2;
inline constexpr int FoldTypeClass = 3;
inline constexpr int FoldTypeDef = 4;
inline constexpr int FoldTypeRegion = 99;

struct TFoldRange {
    int FromLine = 0; // 1-based header line
    int ToLine = 0;   // 1-based last line
    int FoldType = 0;
    int Indent = -1;  // -1: explicit range that indentation never closes
    bool Collapsed = false;

    TFoldRange() = default;
    TFoldRange(int aFromLine, int aToLine, int aFoldType, int aIndent, bool aCollapsed = false)
        : FromLine(aFromLine), ToLine(aToLine), FoldType(aFoldType), Indent(aIndent), Collapsed(aCollapsed)
    {
    }
    void Move(int count)
    {
        FromLine += count;
        ToLine += count;
    }
    int LinesCollapsed() const { return ToLine - FromLine; }
    bool operator==(const TFoldRange&) const = default;
};

class TFoldRanges {
public:
    enum TFoldOpenClose { focOpen = 0, focClose = 1 };
    struct TLineFoldInfo {
        int Line = 0; // 1-based
        TFoldOpenClose FoldOpenClose = focOpen;
        int FoldType = 0;
        int Indent = -1;
        bool operator==(const TLineFoldInfo&) const = default;
    };

    TCodeFoldingMode CodeFoldingMode() const { return fCodeFoldingMode; }
    void SetCodeFoldingMode(TCodeFoldingMode mode) { fCodeFoldingMode = mode; }

    int Count() const { return int(fRanges.size()); }
    // Raises EArgumentOutOfRange for an index outside the list.
    const TFoldRange& Get(int index) const;
    const TFoldRange& operator[](int index) const { return Get(index); }
    const std::vector<TFoldRange>& Ranges() const { return fRanges; }
    const std::vector<TLineFoldInfo>& FoldInfoList() const { return fFoldInfoList; }
    bool RangesNeedFixing() const { return fRangesNeedFixing; }

    // Marker maintenance, called by the highlighter's scan.
    void StartFoldRange(int aLine, int aFoldType, int aIndent = -1) { AddLineInfo(aLine, aFoldType, aIndent, focOpen); }
    void StopFoldRange(int aLine, int aFoldType, int aIndent = -1) { AddLineInfo(aLine, aFoldType, aIndent, focClose); }
    void AddLineInfo(int aLine, int aFoldType, int aIndent, TFoldOpenClose aFoldOpenClose);
    void NoFoldInfo(int aLine);
    // Makes the next StopScanning rebuild even if no marker changed.
    void RequestRebuild() { fRangesNeedFixing = true; }
    void StartScanning() {}
    bool StopScanning(const TLineBuffer& lines);
    void Reset();
    void RecreateFoldRanges(const TLineBuffer& lines);

    // Queries; line numbers are 1-based, indexes are positions in Ranges().
    bool FoldStartAtLine(int line, int* index = nullptr) const;
    bool CollapsedFoldStartAtLine(int line, int* index = nullptr) const;
    bool FoldEndAtLine(int line, int* index = nullptr) const;
    bool FoldAroundLineEx(int line, bool wantCollapsed, bool acceptFromLine, bool acceptToLine, int* index = nullptr) const;
    bool FoldAroundLine(int line, int* index = nullptr) const { return FoldAroundLineEx(line, false, false, false, index); }
    bool CollapsedFoldAroundLine(int line, int* index = nullptr) const
    {
        return FoldAroundLineEx(line, true, false, false, index);
    }
    bool FoldHidesLine(int line, int* index = nullptr) const;
    int FoldLineToRow(int line) const;
    int FoldRowToLine(int row) const;
    std::vector<int> FoldsAtLevel(int level) const;
    std::vector<int> FoldsOfType(int aType) const;
    int GetIndentLevel(int line) const;

    // Collapsed state; Collapse/Uncollapse raise EArgumentOutOfRange.
    void Collapse(int index);
    void Uncollapse(int index);
    void StoreCollapsedState();
    void RestoreCollapsedState();
    void StoreCollapsedState(QIODevice& stream) const;
    void RestoreCollapsedState(QIODevice& stream);

    // Line-change notifications; aIndex is a 0-based buffer index.
    void LinesInserted(int aIndex, int aCount);
    void LinesDeleted(int aIndex, int aCount);
    bool LinePut(int aIndex, const QString& oldLine);

private:
    int FindMarker(int line) const; // lower bound by Line
    int FindRange(int line) const;  // lower bound by FromLine

    TCodeFoldingMode fCodeFoldingMode = cfmStandard;
    std::vector<TFoldRange> fRanges;
    std::vector<TLineFoldInfo> fFoldInfoList;
    std::vector<int> fCollapsedState;
    bool fRangesNeedFixing = false;
};

} // namespace editor
