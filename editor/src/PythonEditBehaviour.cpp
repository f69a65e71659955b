#include "editor/PythonEditBehaviour.h"

#include "editor/EditTransaction.h"
#include "platform/ScopeExit.h"

namespace editor {

TPythonEditBehaviour::~TPythonEditBehaviour() { SetEditor(nullptr); }

void TPythonEditBehaviour::SetEditor(TCustomCodeEditor* value)
{
    if (value == FEditor)
        return;
    if (FEditor)
        FEditor->UnregisterCommandHandler(this);
    FEditor = value;
    if (FEditor)
        FEditor->RegisterCommandHandler(this, nullptr);
}

void TPythonEditBehaviour::HookedCommand(
    TCustomCodeEditor& sender, bool afterProcessing, bool&, TEditorCommand& command, QChar&, const TCommandData&, void*)
{
    if (!afterProcessing || command != ecLineBreak || FIndent <= 0)
        return;
    QStringView above = sender.LineAt(sender.CaretY() - 1);
    while (!above.isEmpty() && above.back().unicode() <= 32)
        above.chop(1);
    if (above.isEmpty() || above.back() != u':')
        return;
    TEditTransaction transaction(sender);
    // In overwrite mode the blanks would overwrite the text the line break
    // carried down; they are always inserted.
    const platform::TScopeExit insertMode([&sender, was = sender.InsertMode()] { sender.SetInsertMode(was); });
    sender.SetInsertMode(true);
    for (int i = 0; i < FIndent; ++i)
        sender.ExecuteCommand(ecChar, QChar(u' '));
}

} // namespace editor
