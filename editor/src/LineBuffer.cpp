#include "editor/LineBuffer.h"

#include "platform/TextLines.h"

#include <QIODevice>
#include <QSemaphore>
#include <QThreadPool>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
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

TLineBuffer::~TLineBuffer()
{
    for (int i = 0; i < FCount; ++i)
        Rec(i).~TLineRecord();
    std::free(FList);
    std::free(FObjects);
}

void TLineBuffer::ListIndexError(int index) const
{
    throw ELineBuffer(platform::Format(QStringLiteral("Invalid stringlist index %d"), {QString::number(index)}));
}

void TLineBuffer::SetCapacity(int newCapacity)
{
    if (newCapacity < FCount)
        throw EListError(QStringLiteral("Stringlist capacity cannot be smaller than count"));
    if (newCapacity == FCapacity)
        return;
    if (newCapacity == 0) {
        std::free(FList);
        std::free(FObjects);
        FList = nullptr;
        FObjects = nullptr;
        FCapacity = FGapStart = FGapEnd = 0;
        return;
    }
    const int tail = FCapacity - FGapEnd;
    // Records hold only relocatable members (QString is relocatable), so a
    // block move is a valid way to move them.
    auto relocate = [&](auto* from, std::size_t size) {
        auto* to = static_cast<decltype(from)>(std::malloc(std::size_t(newCapacity) * size));
        if (!to)
            throw std::bad_alloc();
        if (FGapStart > 0)
            std::memcpy(static_cast<void*>(to), static_cast<const void*>(from), std::size_t(FGapStart) * size);
        if (tail > 0)
            std::memcpy(static_cast<void*>(to + newCapacity - tail), static_cast<const void*>(from + FGapEnd),
                std::size_t(tail) * size);
        return to;
    };
    TLineRecord* list = relocate(FList, sizeof(TLineRecord));
    if (FObjects) {
        void** objects = nullptr;
        try {
            objects = relocate(FObjects, sizeof(void*));
        } catch (...) {
            std::free(list);
            throw;
        }
        std::free(FObjects);
        FObjects = objects;
    }
    std::free(FList);
    FList = list;
    FCapacity = newCapacity;
    FGapEnd = newCapacity - tail;
}

void TLineBuffer::Grow(int required)
{
    int capacity = FCapacity;
    while (capacity < required) {
        long long next;
        if (capacity > 64)
            next = capacity + capacity / 2;
        else if (capacity < 9)
            next = capacity + 4;
        else
            next = capacity + 16;
        if (next > INT_MAX)
            throw std::bad_alloc();
        capacity = int(next);
    }
    if (capacity != FCapacity)
        SetCapacity(capacity);
}

void TLineBuffer::InsertItems(int index, int count)
{
    if (FCount > INT_MAX - count)
        throw std::bad_alloc();
    Grow(FCount + count);
    MoveGap(index);
    // New lines carry no object.
    if (FObjects)
        std::fill(FObjects + index, FObjects + index + count, nullptr);
    FGapStart += count;
    FCount += count;
}

void TLineBuffer::MoveGap(int index)
{
    const int gap = FGapEnd - FGapStart;
    auto move = [&](auto* list) {
        if (!list)
            return;
        const std::size_t size = sizeof(*list);
        if (index < FGapStart) {
            std::memmove(static_cast<void*>(list + index + gap), static_cast<const void*>(list + index),
                std::size_t(FGapStart - index) * size);
        } else if (index > FGapStart) {
            std::memmove(static_cast<void*>(list + FGapStart), static_cast<const void*>(list + FGapEnd),
                std::size_t(index - FGapStart) * size);
        }
    };
    move(FList);
    move(FObjects);
    FGapStart = index;
    FGapEnd = index + gap;
}

void TLineBuffer::InitRecord(TLineRecord& rec, const QString& s)
{
    new (&rec) TLineRecord{s, kRangeNotScanned, -1, sfTextWidthUnknown};
}

const QString& TLineBuffer::GetRef(int index) const
{
    if (index < 0 || index >= FCount)
        return kEmptyLine;
    return Rec(index).FString;
}

void* TLineBuffer::GetObject(int index) const
{
    if (index < 0 || index >= FCount || !FObjects)
        return nullptr;
    return FObjects[Slot(index)];
}

std::intptr_t TLineBuffer::GetRange(int index) const
{
    if (index < 0 || index >= FCount)
        return 0;
    return Rec(index).FRange;
}

TLineChangeFlags TLineBuffer::GetChangeFlags(int index) const
{
    if (index < 0 || index >= FCount)
        return 0;
    return Rec(index).FFlags & kLineChangeFlagsMask;
}

int TLineBuffer::LineCharLength(int index) const
{
    if (index < 0 || index >= FCount)
        return 0;
    return int(Rec(index).FString.size());
}

void TLineBuffer::ComputeCharIndexes() const
{
    FCharIndexes.resize(std::size_t(FCount));
    qsizetype sum = 0;
    for (int i = 0; i < FCount; ++i) {
        FCharIndexes[std::size_t(i)] = sum;
        sum += Rec(i).FString.size();
    }
    FCharIndexesAreValid = true;
}

qsizetype TLineBuffer::LineCharIndex(int index) const
{
    if (index < 0 || index >= FCount)
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
    if (index == FCount) {
        UpdateGuard guard(*this);
        Add(QString());
        Put(index, s);
        return;
    }
    if (index < 0 || index > FCount)
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
    if (index < 0 || index >= FCount)
        ListIndexError(index);
    UpdateGuard guard(*this);
    if (!FObjects) {
        if (!obj)
            return;
        FObjects = static_cast<void**>(std::calloc(std::size_t(FCapacity), sizeof(void*)));
        if (!FObjects)
            throw std::bad_alloc();
    }
    FObjects[Slot(index)] = obj;
}

void TLineBuffer::PutRange(int index, std::intptr_t range)
{
    if (index < 0 || index >= FCount)
        ListIndexError(index);
    Rec(index).FRange = range;
}

void TLineBuffer::SetChangeFlags(int index, TLineChangeFlags flags)
{
    if (index < 0 || index >= FCount)
        return;
    TLineRecord& rec = Rec(index);
    rec.FFlags = TLineFlags((rec.FFlags & sfTextWidthUnknown) | (flags & kLineChangeFlagsMask));
}

int TLineBuffer::Add(const QString& s)
{
    const int index = FCount;
    Insert(index, s);
    return index;
}

void TLineBuffer::Insert(int index, const QString& s)
{
    if (index < 0 || index > FCount)
        ListIndexError(index);
    UpdateGuard guard(*this);
    InsertItems(index, 1);
    InitRecord(Rec(index), s);
    FMaxWidth.store(-1, std::memory_order_relaxed);
    if (OnInserted)
        OnInserted(this, index, 1);
}

void TLineBuffer::InsertStrings(int index, const QStringList& strings, int fromIndex)
{
    if (index < 0 || index > FCount)
        ListIndexError(index);
    fromIndex = std::max(0, fromIndex);
    const qsizetype available = strings.size() - fromIndex;
    if (available <= 0)
        return;
    if (available > INT_MAX)
        throw std::bad_alloc();
    const int count = int(available);
    UpdateGuard guard(*this);
    InsertItems(index, count);
    for (int i = 0; i < count; ++i)
        InitRecord(Rec(index + i), strings.at(fromIndex + i));
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
    if (index < 0 || index >= FCount)
        ListIndexError(index);
    UpdateGuard guard(*this);
    if (OnBeforeDeleted)
        OnBeforeDeleted(this, index, 1);
    MoveGap(index);
    FList[FGapEnd].~TLineRecord();
    ++FGapEnd;
    --FCount;
    FMaxWidth.store(-1, std::memory_order_relaxed);
    if (OnDeleted)
        OnDeleted(this, index, 1);
}

void TLineBuffer::DeleteLines(int index, int numLines)
{
    if (numLines <= 0)
        return;
    if (index < 0 || index >= FCount)
        ListIndexError(index);
    UpdateGuard guard(*this);
    // Listeners capture the lines about to go, so they are told the count
    // that will really be removed, not the one asked for.
    if (OnBeforeDeleted)
        OnBeforeDeleted(this, index, std::min(numLines, FCount - index));
    // The handler may have changed the list; cut to what exists now.
    if (index >= FCount)
        return;
    const int removed = std::min(numLines, FCount - index);
    MoveGap(index);
    for (int i = 0; i < removed; ++i)
        FList[FGapEnd + i].~TLineRecord();
    FGapEnd += removed;
    FCount -= removed;
    FMaxWidth.store(-1, std::memory_order_relaxed);
    if (OnDeleted)
        OnDeleted(this, index, removed);
}

void TLineBuffer::Clear()
{
    UpdateGuard guard(*this);
    if (FCount > 0) {
        if (OnBeforeDeleted)
            OnBeforeDeleted(this, 0, FCount);
        const int oldCount = FCount;
        for (int i = 0; i < FCount; ++i)
            Rec(i).~TLineRecord();
        FCount = 0;
        FGapStart = 0;
        FGapEnd = FCapacity;
        SetCapacity(0);
        if (OnDeleted)
            OnDeleted(this, 0, oldCount);
        if (OnCleared)
            OnCleared(this);
    } else {
        SetCapacity(0);
    }
    FMaxWidth.store(-1, std::memory_order_relaxed);
}

void TLineBuffer::SetTextAndFileFormat(const QString& text)
{
    UpdateGuard guard(*this);
    Clear();
    if (text.isEmpty())
        return;
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
        InitRecord(FList[FGapStart++], line.toString());
        ++FCount;
        style.Note(lineBreak);
    });
    FFileFormat = style.Format();
    FMaxWidth.store(-1, std::memory_order_relaxed);
    if (FCount > 0 && OnInserted)
        OnInserted(this, 0, FCount);
}

QString TLineBuffer::GetText() const
{
    return GetSeparatedText(QStringLiteral("\r\n"));
}

QString TLineBuffer::GetSeparatedText(const QString& separators) const
{
    return platform::JoinLines(
        FCount, [this](qsizetype i) -> const QString& { return Rec(int(i)).FString; }, separators, FTrailingLineBreak);
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
    if (index < 0 || index >= FCount)
        return 0;
    return CachedWidth(Rec(index));
}

int TLineBuffer::GetMaxWidth() const
{
    const int known = FMaxWidth.load();
    if (known > 0)
        return known;
    if (FCount > 0) {
        auto work = [this](int from, int to) {
            for (int i = from; i < to; ++i) {
                const int width = CachedWidth(Rec(i));
                int current = FMaxWidth.load();
                while (width > current && !FMaxWidth.compare_exchange_weak(current, width)) {
                }
            }
        };
        QThreadPool* pool = QThreadPool::globalInstance();
        const int workers = std::max(1, std::min(pool->maxThreadCount() + 1, FCount / 2048 + 1));
        const int chunk = (FCount + workers - 1) / workers;
        QSemaphore done;
        int started = 0;
        for (int w = 1; w < workers; ++w) {
            const int from = w * chunk;
            const int to = std::min(FCount, from + chunk);
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
        work(0, std::min(FCount, chunk));
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
    for (int i = 0; i < FCount; ++i) {
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

void TLineBuffer::LoadFromStream(QIODevice& stream, std::optional<TEncoding> encoding)
{
    UpdateGuard guard(*this);
    platform::TDecodeOptions options;
    options.encoding = encoding;
    options.defaultEncoding = FDefaultEncoding;
    options.detectUtf8 = FDetectUTF8;
    options.utf8CheckLen = FUTF8CheckLen;
    const platform::TDecodedText decoded = platform::DecodeText(stream.readAll(), options);
    FWriteBOM = decoded.hadPreamble;
    FEncoding = decoded.encoding;
    SetTextAndFileFormat(decoded.text);
}

bool TLineBuffer::SaveToStream(QIODevice& stream, std::optional<TEncoding> encoding)
{
    TEncoding enc = encoding ? *encoding : FEncoding;
    const QString text = GetSeparatedText(platform::LineBreakOf(FFileFormat).toString());
    if (enc == TEncoding::ANSI && OnInfoLoss && platform::HasLoneSurrogate(text)) {
        bool cancel = false;
        OnInfoLoss(enc, cancel);
        if (cancel)
            return false;
        if (enc != TEncoding::ANSI)
            FEncoding = enc;
    }
    const QByteArray bytes = platform::EncodeText(text, enc, FWriteBOM);
    if (stream.write(bytes) != bytes.size())
        throw ELineBuffer(platform::Format(QStringLiteral("Cannot write the text: %s"), {stream.errorString()}));
    return true;
}

} // namespace editor
