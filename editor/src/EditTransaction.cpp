#include "editor/EditTransaction.h"

#include "editor/CodeEditor.h"

namespace editor {

TEditTransaction::TEditTransaction(TCustomCodeEditor& editor) : FEditor(editor)
{
    // Each begin counts its part before anything in it can fail, so a part
    // whose begin threw is ended with the others.
    try {
        FOpened = 1;
        FEditor.LockPaint();
        FOpened = 2;
        FEditor.FUndo.BeginBlock();
        FOpened = 3;
        FEditor.Lines().BeginUpdate();
    } catch (...) {
        End();
        throw;
    }
}

TEditTransaction::~TEditTransaction() noexcept { End(); }

void TEditTransaction::End() noexcept
{
    auto quietly = [](auto end) noexcept {
        try {
            end();
        } catch (...) {
        }
    };
    if (FOpened >= 3)
        quietly([this] { FEditor.Lines().EndUpdate(); });
    if (FOpened >= 2)
        quietly([this] { FEditor.FUndo.EndBlock(); });
    if (FOpened >= 1)
        quietly([this] { FEditor.UnlockPaint(); });
    FOpened = 0;
}

} // namespace editor
