#include "editor/LineBuffer.h"

#include "platform/TextLines.h"

#include <QSemaphore>
#include <QThreadPool>

#include <algorithm>
#include <climits>
#include <exception>
#include <new>

namespace editor {

static_assert(sizeof(TLineRecord) == 40, "a line record grew; a million lines pay for every byte");

namespace {

const QString kEmptyLine;

using UpdateGuard = TLineBufferUpdate;

// The buffer breaks lines at CR, LF and U+2028 (its Unicode file format);
// inserted text breaks at CR and LF only.
constexpr platform::TLineBreaks kBufferBreaks = platform::lbCR | platform::lbLF | platform::lbLS;

} // namespace

// A failure while unwinding must not replace the error already on its way.
TLineBufferUpdate::TLineBufferUpdate(TLineBuffer& buffer) : FBuffer(buffer), FExceptions(std::uncaught_exceptions())
{
    FBuffer.BeginUpdate();
}

TLineBufferUpdate::~TLineBufferUpdate() noexcept(false)
{
    if (std::uncaught_exceptions() > FExceptions) {
        try {
            FBuffer.EndUpdate();
        } catch (...) {
        }
    } else {
        FBuffer.EndUpdate();
    }
}

TLineBuffer::TLineBuffer(TTextWidthFunc textWidthFunc) : TextWidthFunc(std::move(textWidthFunc)) {}

TLineBuffer::~TLineBuffer() = default;

void TLineBuffer::ListIndexError(int index) const
{
    throw ELineBuffer(platform::Format(QStringLiteral("Invalid stringlist index %d"), {QString::number(index)}));
}

void TLineBuffer::SetCapacity(int newCapacity)
{
    if (newCapacity < Count())
        throw EListError(QStringLiteral("Stringlist capacity cannot be smaller than count"));
    FList.SetCapacity(newCapacity);
    if (HasObjects())
        FObjects.SetCapacity(newCapacity);
}

const QString& TLineBuffer::GetRef(int index) const
{
    if (index < 0 || index >= Count())
        return kEmptyLine;
    return Rec(index).FString;
}

void* TLineBuffer::GetObject(int index) const
{
    if (index < 0 || index >= Count() || !HasObjects())
        return nullptr;
    return FObjects[index];
}

std::intptr_t TLineBuffer::GetRange(int index) const
{
    if (index < 0 || index >= Count())
        return 0;
    return Rec(index).FRange;
}

TLineChangeFlags TLineBuffer::GetChangeFlags(int index) const
{
    if (index < 0 || index >= Count())
        return 0;
    return Rec(index).FFlags & kLineChangeFlagsMask;
}

int TLineBuffer::LineCharLength(int index) const
{
    if (index < 0 || index >= Count())
        return 0;
    return int(Rec(index).FString.size());
}

void TLineBuffer::ComputeCharIndexes() const
{
    FCharIndexes.resize(std::size_t(Count()));
    qsizetype sum = 0;
    for (int i = 0; i < Count(); ++i) {
        FCharIndexes[std::size_t(i)] = sum;
        sum += Rec(i).FString.size();
    }
    FCharIndexesAreValid = true;
}

qsizetype TLineBuffer::LineCharIndex(int index) const
{
    if (index < 0 || index >= Count())
        return 0;
    if (!FCharIndexesAreValid)
        ComputeCharIndexes();
    return FCharIndexes[std::size_t(index)];
}

int TLineBuffer::ComputeWidth(const QString& s) const
{
    if (TextWidthFunc)
        return TextWidthFunc(s);
    return int(std::min<qsizetype>(s.size(), INT_MAX));
}

void TLineBuffer::Put(int index, const QString& s)
{
    if (index == Count()) {
        UpdateGuard guard(*this);
        Add(QString());
        Put(index, s);
        return;
    }
    if (index < 0 || index > Count())
        ListIndexError(index);
    UpdateGuard guard(*this);
    TLineRecord& rec = Rec(index);
    QString oldLine = rec.FString;
    rec.FString = s;
    const int maxWidth = FMaxWidth.load(std::memory_order_relaxed);
    if (maxWidth == -1) {
        rec.FFlags |= sfTextWidthUnknown;
    } else {
        const int oldWidth = (rec.FFlags & sfTextWidthUnknown) ? -1 : rec.FTextWidth;
        const int newWidth = ComputeWidth(s);
        rec.FTextWidth = newWidth;
        rec.FFlags &= TLineFlags(~sfTextWidthUnknown);
        if (oldWidth == maxWidth && newWidth < maxWidth)
            FMaxWidth.store(-1, std::memory_order_relaxed);
        else if (newWidth > maxWidth)
            FMaxWidth.store(newWidth, std::memory_order_relaxed);
    }
    if (OnPut)
        OnPut(this, index, oldLine);
}

void TLineBuffer::PutObject(int index, void* obj)
{
    if (index < 0 || index >= Count())
        ListIndexError(index);
    UpdateGuard guard(*this);
    if (!HasObjects()) {
        if (!obj)
            return;
        FObjects.SetCapacity(Capacity());
        FObjects.InsertMade(0, Count(), [](int) -> void* { return nullptr; });
    }
    FObjects[index] = obj;
}

void TLineBuffer::PutRange(int index, std::intptr_t range)
{
    if (index < 0 || index >= Count())
        ListIndexError(index);
    Rec(index).FRange = range;
}

void TLineBuffer::SetChangeFlags(int index, TLineChangeFlags flags)
{
    if (index < 0 || index >= Count())
        return;
    TLineRecord& rec = Rec(index);
    rec.FFlags = TLineFlags((rec.FFlags & sfTextWidthUnknown) | (flags & kLineChangeFlagsMask));
}

int TLineBuffer::Add(const QString& s)
{
    const int index = Count();
    Insert(index, s);
    return index;
}

void TLineBuffer::Insert(int index, const QString& s)
{
    if (index < 0 || index > Count())
        ListIndexError(index);
    UpdateGuard guard(*this);
    FList.InsertMade(index, 1, [&s](int) { return NewRecord(s); });
    // New lines carry no object.
    if (HasObjects())
        FObjects.Insert(index, nullptr);
    FMaxWidth.store(-1, std::memory_order_relaxed);
    if (OnInserted)
        OnInserted(this, index, 1);
}

void TLineBuffer::InsertStrings(int index, const QStringList& strings, int fromIndex)
{
    if (index < 0 || index > Count())
        ListIndexError(index);
    fromIndex = std::max(0, fromIndex);
    const qsizetype available = strings.size() - fromIndex;
    if (available <= 0)
        return;
    if (available > INT_MAX)
        throw std::bad_alloc();
    const int count = int(available);
    UpdateGuard guard(*this);
    FList.InsertMade(index, count, [&](int i) { return NewRecord(strings.at(fromIndex + i)); });
    if (HasObjects())
        FObjects.InsertMade(index, count, [](int) -> void* { return nullptr; });
    FMaxWidth.store(-1, std::memory_order_relaxed);
    if (OnInserted)
        OnInserted(this, index, count);
}

void TLineBuffer::InsertText(int index, const QString& text)
{
    if (text.isEmpty())
        return;
    InsertStrings(index, platform::SplitLines(text, platform::kCrLfBreaks, platform::TFinalBreak::EndsLine), 0);
}

void TLineBuffer::Delete(int index)
{
    if (index < 0 || index >= Count())
        ListIndexError(index);
    UpdateGuard guard(*this);
    if (OnBeforeDeleted)
        OnBeforeDeleted(this, index, 1);
    FList.Erase(index);
    if (HasObjects())
        FObjects.Erase(index);
    FMaxWidth.store(-1, std::memory_order_relaxed);
    if (OnDeleted)
        OnDeleted(this, index, 1);
}

void TLineBuffer::DeleteLines(int index, int numLines)
{
    if (numLines <= 0)
        return;
    if (index < 0 || index >= Count())
        ListIndexError(index);
    UpdateGuard guard(*this);
    // Listeners capture the lines about to go, so they are told the count
    // that will really be removed, not the one asked for.
    if (OnBeforeDeleted)
        OnBeforeDeleted(this, index, std::min(numLines, Count() - index));
    // The handler may have changed the list; cut to what exists now.
    if (index >= Count())
        return;
    const int removed = std::min(numLines, Count() - index);
    FList.Erase(index, removed);
    if (HasObjects())
        FObjects.Erase(index, removed);
    FMaxWidth.store(-1, std::memory_order_relaxed);
    if (OnDeleted)
        OnDeleted(this, index, removed);
}

void TLineBuffer::Clear()
{
    UpdateGuard guard(*this);
    if (Count() > 0) {
        if (OnBeforeDeleted)
            OnBeforeDeleted(this, 0, Count());
        const int oldCount = Count();
        FList.Clear();
        FObjects.Clear();
        if (OnDeleted)
            OnDeleted(this, 0, oldCount);
        if (OnCleared)
            OnCleared(this);
    } else {
        SetCapacity(0);
    }
    FMaxWidth.store(-1, std::memory_order_relaxed);
}

TTextFileFormat TLineBuffer::SetText(const QString& text)
{
    UpdateGuard guard(*this);
    Clear();
    if (text.isEmpty())
        return sffDos;
    using platform::TFinalBreak;
    // Count first so the array is allocated once.
    long long lines = 0;
    platform::ForEachLine(text, kBufferBreaks, TFinalBreak::StartsEmptyLine, [&](QStringView, QStringView) { ++lines; });
    if (lines > INT_MAX)
        throw std::bad_alloc();
    // Exactly the lines loaded: growth steps would leave up to a third unused.
    SetCapacity(int(lines));

    platform::TLineBreakStyle style;
    platform::ForEachLine(text, kBufferBreaks, TFinalBreak::StartsEmptyLine, [&](QStringView line, QStringView lineBreak) {
        FList.Append(NewRecord(line.toString()));
        style.Note(lineBreak);
    });
    FMaxWidth.store(-1, std::memory_order_relaxed);
    if (Count() > 0 && OnInserted)
        OnInserted(this, 0, Count());
    return style.Format();
}

QString TLineBuffer::GetText() const
{
    return GetSeparatedText(QStringLiteral("\r\n"));
}

QString TLineBuffer::GetSeparatedText(const QString& separators) const
{
    return platform::JoinLines(
        Count(), [this](qsizetype i) -> const QString& { return Rec(int(i)).FString; }, separators, FTrailingLineBreak);
}

int TLineBuffer::CachedWidth(const TLineRecord& rec) const
{
    if (rec.FFlags & sfTextWidthUnknown) {
        rec.FTextWidth = ComputeWidth(rec.FString);
        rec.FFlags &= TLineFlags(~sfTextWidthUnknown);
    }
    return rec.FTextWidth;
}

int TLineBuffer::GetTextWidth(int index) const
{
    if (index < 0 || index >= Count())
        return 0;
    return CachedWidth(Rec(index));
}

int TLineBuffer::GetMaxWidth() const
{
    const int known = FMaxWidth.load();
    if (known > 0)
        return known;
    if (Count() > 0) {
        auto work = [this](int from, int to) {
            for (int i = from; i < to; ++i) {
                const int width = CachedWidth(Rec(i));
                int current = FMaxWidth.load();
                while (width > current && !FMaxWidth.compare_exchange_weak(current, width)) {
                }
            }
        };
        QThreadPool* pool = QThreadPool::globalInstance();
        const int workers = std::max(1, std::min(pool->maxThreadCount() + 1, Count() / 2048 + 1));
        const int chunk = (Count() + workers - 1) / workers;
        QSemaphore done;
        int started = 0;
        for (int w = 1; w < workers; ++w) {
            const int from = w * chunk;
            const int to = std::min(Count(), from + chunk);
            if (from >= to)
                break;
            std::function<void()> job = [&work, &done, from, to] {
                work(from, to);
                done.release();
            };
            if (pool->tryStart(job))
                ++started;
            else
                work(from, to); // no free pool thread: do the part here
        }
        work(0, std::min(Count(), chunk));
        done.acquire(started);
    }
    return std::max(0, FMaxWidth.load());
}

void TLineBuffer::SetTabWidth(int value)
{
    if (value == FTabWidth)
        return;
    FTabWidth = value;
    FontChanged();
}

void TLineBuffer::FontChanged()
{
    FMaxWidth.store(-1);
    for (int i = 0; i < Count(); ++i) {
        Rec(i).FTextWidth = -1;
        Rec(i).FFlags |= sfTextWidthUnknown;
    }
}

void TLineBuffer::BeginUpdate()
{
    if (FUpdateCount++ == 0)
        SetUpdateState(true);
}

void TLineBuffer::EndUpdate()
{
    if (FUpdateCount <= 0)
        return;
    if (--FUpdateCount == 0)
        SetUpdateState(false);
}

void TLineBuffer::SetUpdateState(bool updating)
{
    FCharIndexesAreValid = false;
    if (updating) {
        if (OnChanging)
            OnChanging(this);
    } else {
        if (OnChange)
            OnChange(this);
    }
}

} // namespace editor
