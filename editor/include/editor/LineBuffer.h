#pragma once
// The editor's text as an array of line records with range state, cached
// widths and change flags; reports every structural change through events.
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "editor/GapVector.h"
#include "platform/Exception.h"
#include "platform/TextCodec.h"

namespace editor {

class ELineBuffer : public platform::Exception {
public:
    using platform::Exception::Exception;
};

class EListError : public platform::Exception {
public:
    using platform::Exception::Exception;
};

using EEncodingError = platform::EEncodingError;

enum TLineFlag : std::uint8_t {
    sfTextWidthUnknown = 1 << 0,
    sfModified = 1 << 1,
    sfSaved = 1 << 2,
    sfAsSaved = 1 << 3,
};
using TLineFlags = std::uint8_t;
using TLineChangeFlags = std::uint8_t; // only sfModified, sfSaved, sfAsSaved
inline constexpr TLineFlags kLineChangeFlagsMask = sfModified | sfSaved | sfAsSaved;

using platform::sffDos;
using platform::sffMac;
using platform::sffUnicode;
using platform::sffUnix;
using platform::TEncoding;
using platform::TTextFileFormat;

// The range value of a line that has not been scanned yet.
inline constexpr std::intptr_t kRangeNotScanned = -1;

// Kept to 40 bytes: a million-line text holds a million of them. The rarely
// used per-line object and the character-index cache live beside the array.
struct TLineRecord {
    QString FString;
    std::intptr_t FRange;
    // Caches the read-only queries fill in.
    mutable int FTextWidth;
    mutable TLineFlags FFlags;
};

} // namespace editor

// Its only non-trivial member is a QString, which Qt moves as bytes.
Q_DECLARE_TYPEINFO(editor::TLineRecord, Q_RELOCATABLE_TYPE);

namespace editor {

class TLineBuffer {
public:
    using TTextWidthFunc = std::function<int(const QString&)>;
    using TNotifyEvent = std::function<void(TLineBuffer* sender)>;
    using TLinesEvent = std::function<void(TLineBuffer* sender, int index, int count)>;
    using TPutEvent = std::function<void(TLineBuffer* sender, int index, const QString& oldLine)>;

    explicit TLineBuffer(TTextWidthFunc textWidthFunc = {});
    ~TLineBuffer();
    TLineBuffer(const TLineBuffer&) = delete;
    TLineBuffer& operator=(const TLineBuffer&) = delete;

    int Count() const { return FList.Count(); }
    int Capacity() const { return FList.Capacity(); }
    void SetCapacity(int newCapacity);

    // Readers: an invalid index gives an empty / zero value, never an error.
    QString Get(int index) const { return GetRef(index); }
    const QString& GetRef(int index) const;
    QString operator[](int index) const { return GetRef(index); }
    void* GetObject(int index) const;
    std::intptr_t GetRange(int index) const;
    TLineChangeFlags GetChangeFlags(int index) const;
    int LineCharLength(int index) const;
    qsizetype LineCharIndex(int index) const;

    void Put(int index, const QString& s);
    void PutObject(int index, void* obj);
    void PutRange(int index, std::intptr_t range);
    void SetChangeFlags(int index, TLineChangeFlags flags);

    int Add(const QString& s);
    void Insert(int index, const QString& s);
    void InsertStrings(int index, const QStringList& strings, int fromIndex = 0);
    void InsertText(int index, const QString& text);
    void Delete(int index);
    void DeleteLines(int index, int numLines);
    void Clear();

    // Whole text: lines joined by CR LF, no break after the last line.
    QString GetText() const;
    // Breaks at CR, LF, CR LF and U+2028; returns the style of the breaks
    // found, which a TTextLoader keeps for the next save.
    TTextFileFormat SetText(const QString& text);
    QString GetSeparatedText(const QString& separators) const;

    int GetTextWidth(int index) const;
    int GetMaxWidth() const;
    int TabWidth() const { return FTabWidth; }
    void SetTabWidth(int value);
    void FontChanged();

    void BeginUpdate();
    void EndUpdate();
    int UpdateCount() const { return FUpdateCount; }

    TTextWidthFunc TextWidthFunc;

    TNotifyEvent OnChanging;
    TNotifyEvent OnChange;
    TLinesEvent OnBeforeDeleted;
    TLinesEvent OnDeleted;
    TLinesEvent OnInserted;
    TPutEvent OnPut;
    TNotifyEvent OnCleared;

private:
    static TLineRecord NewRecord(const QString& s) { return TLineRecord{s, kRangeNotScanned, -1, sfTextWidthUnknown}; }
    TLineRecord& Rec(int index) { return FList[index]; }
    const TLineRecord& Rec(int index) const { return FList[index]; }
    bool HasObjects() const { return FObjects.Capacity() > 0; }
    void ListIndexError(int index) const;
    void SetUpdateState(bool updating);
    void ComputeCharIndexes() const;
    int ComputeWidth(const QString& s) const;
    int CachedWidth(const TLineRecord& rec) const;

    TGapVector<TLineRecord> FList;
    // One per line once the first object is put; empty until then.
    TGapVector<void*> FObjects;
    // Start of each line in the whole text, filled by LineCharIndex.
    mutable std::vector<qsizetype> FCharIndexes;
    mutable std::atomic<int> FMaxWidth{-1};
    int FTabWidth = 8;
    mutable bool FCharIndexesAreValid = false;
    bool FTrailingLineBreak = false;
    int FUpdateCount = 0;
};

// Holds one begin/end update pair of a buffer: the changes made while it
// lives form one batch for the buffer's listeners.
class TLineBufferUpdate {
public:
    explicit TLineBufferUpdate(TLineBuffer& buffer);
    ~TLineBufferUpdate() noexcept(false);
    TLineBufferUpdate(const TLineBufferUpdate&) = delete;
    TLineBufferUpdate& operator=(const TLineBufferUpdate&) = delete;

private:
    TLineBuffer& FBuffer;
    int FExceptions;
};

// Calls the previous handler of an event first, then the new one.
template <typename Event, typename Handler>
void ChainEvent(Event& event, Handler handler)
{
    Event previous = std::move(event);
    event = [previous = std::move(previous), handler = std::move(handler)](auto&&... args) {
        if (previous)
            previous(args...);
        handler(args...);
    };
}

} // namespace editor
