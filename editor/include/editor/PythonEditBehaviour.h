#pragma once
// Python's one editing rule: after a line break that leaves the previous
// line ending in a colon, the new line gets Indent more blanks.
#include "editor/CodeEditor.h"

namespace editor {

class TPythonEditBehaviour final : public TCommandHook {
public:
    TPythonEditBehaviour() = default;
    ~TPythonEditBehaviour() override;
    TPythonEditBehaviour(const TPythonEditBehaviour&) = delete;
    TPythonEditBehaviour& operator=(const TPythonEditBehaviour&) = delete;

    TCustomCodeEditor* Editor() const { return FEditor; }
    // Moves the command hook from the previous editor to this one. The
    // editor must outlive the attachment (detach with nullptr).
    void SetEditor(TCustomCodeEditor* value);
    int Indent() const { return FIndent; }
    void SetIndent(int value) { FIndent = value; }

    void HookedCommand(TCustomCodeEditor& sender, bool afterProcessing, bool& handled, TEditorCommand& command,
        QChar& aChar, const TCommandData& data, void* handlerData) override;

private:
    TCustomCodeEditor* FEditor = nullptr;
    int FIndent = 4;
};

} // namespace editor
