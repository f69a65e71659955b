#pragma once
// The line of the script where Python reported an error, kept on its text
// line while lines are inserted or deleted around it, and the characters of
// that line it underlines.
#include <QString>
#include <QStringView>

#include <functional>
#include <memory>
#include <optional>

namespace editor {

class TLineBuffer;

struct TErrorMark {
    int Line = 0;      // 1-based buffer line
    int Column = 0;    // 1-based first UTF-16 character marked; 0: the line's first non-blank character
    int EndColumn = 0; // 1-based, exclusive; 0 (or <= Column): to the end of the line's text
    QString Message;   // shown as the mark's tool tip
    friend bool operator==(const TErrorMark&, const TErrorMark&) = default;
};

// The marked characters of a line as 0-based UTF-16 indexes [From, To), on
// grapheme cluster boundaries. An empty span, or one starting at or past the
// line's end, is the one cell at its start, which may lie past the end.
struct TMarkSpan {
    int From = 0;
    int To = 0;
    friend bool operator==(const TMarkSpan&, const TMarkSpan&) = default;
};
TMarkSpan MarkSpan(const TErrorMark& mark, QStringView lineText);

// At most one mark on a buffer. Lines inserted at or above the marked line
// move it down, lines deleted above it move it up; deleting the marked line
// itself, or replacing the whole text, removes the mark. Changes of the
// line's text leave it where it is: the window sets a new one when Python
// has looked at the text again.
class TErrorMarker {
public:
    // The lines the mark was and is on (1-based, 0 for none), to repaint.
    using TChangeEvent = std::function<void(int oldLine, int newLine)>;

    // Follows the buffer's events; the buffer may outlive the marker.
    explicit TErrorMarker(TLineBuffer& lines);
    ~TErrorMarker();
    TErrorMarker(const TErrorMarker&) = delete;
    TErrorMarker& operator=(const TErrorMarker&) = delete;

    const std::optional<TErrorMark>& Mark() const { return FMark; }
    // The line is clamped to the buffer's lines (an error reported past the
    // last line marks the last); an empty buffer has no line to mark.
    void Set(const TErrorMark& mark);
    void Clear();

    TChangeEvent OnChanged;

private:
    void LinesInserted(int index, int count);
    void LinesDeleted(int index, int count);
    void Change(const std::optional<TErrorMark>& mark);

    TLineBuffer& FLines;
    std::optional<TErrorMark> FMark;
    // The buffer's handlers reach the marker through this; it is cleared
    // when the marker goes.
    std::shared_ptr<TErrorMarker*> FSelf;
};

} // namespace editor
