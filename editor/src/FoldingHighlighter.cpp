#include "editor/FoldingHighlighter.h"

#include "editor/CodeFolding.h"

namespace editor {

void TCustomFoldingHighlighter::InitFoldRanges(TFoldRanges& foldRanges)
{
    foldRanges.SetCodeFoldingMode(cfmStandard);
}

void TCustomFoldingHighlighter::AdjustFoldRanges(TFoldRanges&, const TLineBuffer&) {}

} // namespace editor
