#pragma once
// One edit as the user sees it: one undo step, one batch of buffer changes
// and one status report to the view, begun and ended together. Code outside
// the undo module edits inside a transaction rather than pairing the undo
// block, the buffer batch and the paint lock by hand.

namespace editor {

class TCustomCodeEditor;

class TEditTransaction {
public:
    // Holds the editor's paint lock, opens an undo block and begins a batch of
    // its buffer. Transactions nest: only the outermost ends the undo step.
    explicit TEditTransaction(TCustomCodeEditor& editor);
    // Ends the batch, then the undo block (which so records the caret the end
    // of the batch settled), then the paint lock (so the view hears of it all
    // at once). Each part ends even when ending another throws; such an error
    // is dropped, as none may leave a destructor, least of all while another
    // exception unwinds through the transaction.
    ~TEditTransaction() noexcept;
    TEditTransaction(const TEditTransaction&) = delete;
    TEditTransaction& operator=(const TEditTransaction&) = delete;

private:
    void End() noexcept;

    TCustomCodeEditor& FEditor;
    int FOpened = 0; // parts begun: paint lock, undo block, batch
};

} // namespace editor
