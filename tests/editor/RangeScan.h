#pragma once
// The highlighter ranges a line buffer holds, and the ones a full scan from
// the top gives: the incremental tests compare the two.
#include "editor/LineBuffer.h"
#include "editor/PythonHighlighter.h"

#include <cstdint>
#include <vector>

namespace editor::testing {

inline std::vector<std::intptr_t> StoredRanges(const TLineBuffer& b)
{
    std::vector<std::intptr_t> out;
    for (int i = 0; i < b.Count(); ++i)
        out.push_back(b.GetRange(i));
    return out;
}

// With a highlighter of its own, so the editor's state is not touched.
inline std::vector<std::intptr_t> FullScanRanges(const TLineBuffer& b)
{
    TPythonHighlighter h;
    h.ResetRange();
    std::vector<std::intptr_t> out;
    for (int i = 0; i < b.Count(); ++i) {
        h.SetLine(b.GetRef(i), i);
        h.NextToEol();
        out.push_back(h.GetRange());
    }
    return out;
}

} // namespace editor::testing
