#pragma once
// A copy of a line buffer's lines, taken a slice at a time so that the main
// thread never stops for long on a large text, while edits go on between the
// slices: the owner forwards the buffer's change events, and an edit to lines
// already copied is applied to the copy. Only references are copied; the
// text itself is shared with the buffer.
#include <QString>

#include <vector>

namespace editor {
class TLineBuffer;
}

class TLineSnapshot {
public:
    explicit TLineSnapshot(const editor::TLineBuffer& lines) : FLines(lines) {}

    // Begins a copy into room (an array made beforehand, all null).
    void Start(std::vector<QString> room);
    bool Active() const { return FActive; }
    // Copies up to count more lines; true once every line is copied.
    bool Step(qsizetype count);
    // The copy (once Step returned true), sized to the buffer's lines.
    std::vector<QString> Finish();
    // Stops a copy; returns its array for reuse (the caller drops the references).
    std::vector<QString> Abandon();

    // The buffer's events, after the change.
    void Put(int index);
    void Inserted(int index, int count);
    void Deleted(int index, int count);

private:
    void Grow(qsizetype size);

    const editor::TLineBuffer& FLines;
    std::vector<QString> FCopy; // the first FCopied entries are copied
    int FCopied = 0;
    bool FActive = false;
};
