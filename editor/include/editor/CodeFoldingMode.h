#pragma once
// How fold ranges end: at explicit close markers only, or also where the
// indentation drops back. Shared by the fold model and folding highlighters.

namespace editor {

enum TCodeFoldingMode { cfmStandard = 0, cfmIndentation = 1 };

} // namespace editor
