#pragma once
// A highlighter that also reports fold markers to the fold model.
#include "editor/CodeFoldingMode.h"
#include "editor/Highlighter.h"

namespace editor {

class TLineBuffer;
class TFoldRanges;

class TCustomFoldingHighlighter : public TCustomHighlighter {
public:
    virtual void InitFoldRanges(TFoldRanges& foldRanges);
    // Line indexes are 0-based and inclusive.
    virtual void ScanForFoldRanges(TFoldRanges& foldRanges, const TLineBuffer& linesToScan, int fromLine, int toLine) = 0;
    virtual void AdjustFoldRanges(TFoldRanges& foldRanges, const TLineBuffer& linesToScan);
};

} // namespace editor
