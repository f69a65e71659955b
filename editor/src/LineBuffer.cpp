#include "editor/LineBuffer.h"

#include <QIODevice>
#include <QSemaphore>
#include <QStringDecoder>
#include <QThreadPool>
#include <QtEndian>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>

namespace editor {

namespace {

const QString kEmptyLine;

using UpdateGuard = TLineBufferUpdate;

inline bool IsBreak(char16_t c) { return c == 13 || c == 10 || c == 0x2028; }

// Splits like the platform string list: CR LF, CR and LF each end a line;
// a break at the very end does not start another line.
QStringList SplitPlain(const QString& text)
{
    QStringList result;
    const char16_t* p = reinterpret_cast<const char16_t*>(text.constData());
    const qsizetype n = text.size();
    qsizetype i = 0;
    while (i < n) {
        const qsizetype start = i;
        while (i < n && p[i] != 13 && p[i] != 10)
            ++i;
        result.append(QString(reinterpret_cast<const QChar*>(p + start), i - start));
        if (i < n && p[i] == 13)
            ++i;
        if (i < n && p[i] == 10)
            ++i;
    }
    return result;
}

bool HasLoneSurrogate(const QString& text)
{
    const char16_t* p = reinterpret_cast<const char16_t*>(text.constData());
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = p[i];
        if (c < 0xD800 || c > 0xDFFF)
            continue;
        if (c <= 0xDBFF && i + 1 < n && p[i + 1] >= 0xDC00 && p[i + 1] <= 0xDFFF) {
            ++i;
            continue;
        }
        return true;
    }
    return false;
}

QString EncodingName(TEncoding encoding)
{
    switch (encoding) {
    case TEncoding::ANSI:
    case TEncoding::UTF8:
        return QStringLiteral("UTF-8");
    case TEncoding::Unicode:
        return QStringLiteral("UTF-16LE");
    case TEncoding::BigEndianUnicode:
        return QStringLiteral("UTF-16BE");
    }
    return QString();
}

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
        FList = nullptr;
        FCapacity = FGapStart = FGapEnd = 0;
        return;
    }
    auto* list = static_cast<TLineRecord*>(std::malloc(std::size_t(newCapacity) * sizeof(TLineRecord)));
    if (!list)
        throw std::bad_alloc();
    // Records hold only relocatable members (QString is relocatable), so a
    // block move is a valid way to move them.
    const int tail = FCapacity - FGapEnd;
    if (FGapStart > 0)
        std::memcpy(static_cast<void*>(list), static_cast<const void*>(FList), std::size_t(FGapStart) * sizeof(TLineRecord));
    if (tail > 0)
        std::memcpy(static_cast<void*>(list + newCapacity - tail), static_cast<const void*>(FList + FGapEnd),
            std::size_t(tail) * sizeof(TLineRecord));
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
    FGapStart += count;
    FCount += count;
}

void TLineBuffer::MoveGap(int index)
{
    const int gap = FGapEnd - FGapStart;
    if (index < FGapStart) {
        std::memmove(static_cast<void*>(FList + index + gap), static_cast<const void*>(FList + index),
            std::size_t(FGapStart - index) * sizeof(TLineRecord));
    } else if (index > FGapStart) {
        std::memmove(static_cast<void*>(FList + FGapStart), static_cast<const void*>(FList + FGapEnd),
            std::size_t(index - FGapStart) * sizeof(TLineRecord));
    }
    FGapStart = index;
    FGapEnd = index + gap;
}

void TLineBuffer::InitRecord(TLineRecord& rec, const QString& s)
{
    new (&rec) TLineRecord{s, nullptr, kRangeNotScanned, 0, -1, sfTextWidthUnknown};
}

const QString& TLineBuffer::GetRef(int index) const
{
    if (index < 0 || index >= FCount)
        return kEmptyLine;
    return Rec(index).FString;
}

void* TLineBuffer::GetObject(int index) const
{
    if (index < 0 || index >= FCount)
        return nullptr;
    return Rec(index).FObject;
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

void TLineBuffer::ComputeCharIndexes()
{
    qsizetype sum = 0;
    for (int i = 0; i < FCount; ++i) {
        TLineRecord& rec = Rec(i);
        rec.FCharIndex = sum;
        sum += rec.FString.size();
    }
    FCharIndexesAreValid = true;
}

qsizetype TLineBuffer::LineCharIndex(int index)
{
    if (index < 0 || index >= FCount)
        return 0;
    if (!FCharIndexesAreValid)
        ComputeCharIndexes();
    return Rec(index).FCharIndex;
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
    Rec(index).FObject = obj;
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
    InsertStrings(index, SplitPlain(text), 0);
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
    const char16_t* p = reinterpret_cast<const char16_t*>(text.constData());
    const qsizetype n = text.size();
    if (n == 0)
        return;

    // Count first so the array is allocated once.
    long long lines = 0;
    for (qsizetype i = 0; i < n;) {
        while (i < n && !IsBreak(p[i]))
            ++i;
        ++lines;
        if (i < n && p[i] == 0x2028)
            ++i;
        if (i < n && p[i] == 13)
            ++i;
        if (i < n && p[i] == 10)
            ++i;
    }
    if (IsBreak(p[n - 1]))
        ++lines;
    if (lines > INT_MAX)
        throw std::bad_alloc();
    Grow(int(lines));

    bool seenCR = false, seenLF = false, seenLS = false;
    for (qsizetype i = 0; i < n;) {
        const qsizetype start = i;
        while (i < n && !IsBreak(p[i]))
            ++i;
        InitRecord(FList[FGapStart++], QString(reinterpret_cast<const QChar*>(p + start), i - start));
        ++FCount;
        if (i < n && p[i] == 0x2028) {
            seenLS = true;
            ++i;
        }
        if (i < n && p[i] == 13) {
            seenCR = true;
            ++i;
        }
        if (i < n && p[i] == 10) {
            seenLF = true;
            ++i;
        }
    }
    if (IsBreak(p[n - 1])) {
        InitRecord(FList[FGapStart++], QString());
        ++FCount;
    }
    if (seenLS)
        FFileFormat = sffUnicode;
    else if (seenCR && !seenLF)
        FFileFormat = sffMac;
    else if (seenLF && !seenCR)
        FFileFormat = sffUnix;
    else
        FFileFormat = sffDos;
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
    if (FCount == 0)
        return QString();
    qsizetype total = qsizetype(separators.size()) * (FCount - 1 + (FTrailingLineBreak ? 1 : 0));
    for (int i = 0; i < FCount; ++i)
        total += Rec(i).FString.size();
    QString result(total, Qt::Uninitialized);
    QChar* out = result.data();
    const qsizetype sepLen = separators.size();
    for (int i = 0; i < FCount; ++i) {
        const QString& s = Rec(i).FString;
        if (!s.isEmpty()) {
            std::memcpy(static_cast<void*>(out), s.constData(), std::size_t(s.size()) * sizeof(QChar));
            out += s.size();
        }
        if (sepLen > 0 && (i + 1 < FCount || FTrailingLineBreak)) {
            std::memcpy(static_cast<void*>(out), separators.constData(), std::size_t(sepLen) * sizeof(QChar));
            out += sepLen;
        }
    }
    return result;
}

int TLineBuffer::GetTextWidth(int index)
{
    if (index < 0 || index >= FCount)
        return 0;
    TLineRecord& rec = Rec(index);
    if (rec.FFlags & sfTextWidthUnknown) {
        rec.FTextWidth = ComputeWidth(rec.FString);
        rec.FFlags &= TLineFlags(~sfTextWidthUnknown);
    }
    return rec.FTextWidth;
}

int TLineBuffer::GetMaxWidth()
{
    const int known = FMaxWidth.load();
    if (known > 0)
        return known;
    if (FCount > 0) {
        auto work = [this](int from, int to) {
            for (int i = from; i < to; ++i) {
                TLineRecord& rec = Rec(i);
                if (rec.FFlags & sfTextWidthUnknown) {
                    rec.FTextWidth = ComputeWidth(rec.FString);
                    rec.FFlags &= TLineFlags(~sfTextWidthUnknown);
                }
                const int width = rec.FTextWidth;
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

QByteArray TLineBuffer::Preamble(TEncoding encoding)
{
    switch (encoding) {
    case TEncoding::UTF8:
        return QByteArray("\xEF\xBB\xBF", 3);
    case TEncoding::Unicode:
        return QByteArray("\xFF\xFE", 2);
    case TEncoding::BigEndianUnicode:
        return QByteArray("\xFE\xFF", 2);
    case TEncoding::ANSI:
        break;
    }
    return QByteArray();
}

qsizetype TLineBuffer::ValidUtf8Prefix(const char* data, qsizetype size, bool truncatedOk)
{
    const auto* s = reinterpret_cast<const unsigned char*>(data);
    qsizetype i = 0;
    while (i < size) {
        const unsigned char c = s[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        int need;
        unsigned lo = 0x80, hi = 0xBF; // allowed range of the second byte
        if (c >= 0xC2 && c <= 0xDF)
            need = 1;
        else if (c >= 0xE0 && c <= 0xEF) {
            need = 2;
            if (c == 0xE0)
                lo = 0xA0;
            else if (c == 0xED)
                hi = 0x9F; // no encoded surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            need = 3;
            if (c == 0xF0)
                lo = 0x90;
            else if (c == 0xF4)
                hi = 0x8F;
        } else
            return i;
        for (int k = 1; k <= need; ++k) {
            if (i + k >= size)
                return truncatedOk ? size : i;
            const unsigned char b = s[i + k];
            if (k == 1 ? (b < lo || b > hi) : (b < 0x80 || b > 0xBF))
                return i;
        }
        i += need + 1;
    }
    return i;
}

void TLineBuffer::LoadFromStream(QIODevice& stream, std::optional<TEncoding> encoding)
{
    UpdateGuard guard(*this);
    const QByteArray bytes = stream.readAll();
    TEncoding enc = FDefaultEncoding;
    qsizetype bomLength = 0;
    if (encoding) {
        enc = *encoding;
        const QByteArray preamble = Preamble(enc);
        if (!preamble.isEmpty() && bytes.startsWith(preamble))
            bomLength = preamble.size();
    } else {
        for (TEncoding candidate : {TEncoding::UTF8, TEncoding::Unicode, TEncoding::BigEndianUnicode}) {
            const QByteArray preamble = Preamble(candidate);
            if (bytes.startsWith(preamble)) {
                enc = candidate;
                bomLength = preamble.size();
                break;
            }
        }
    }
    const char* data = bytes.constData() + bomLength;
    const qsizetype size = bytes.size() - bomLength;

    if (enc == TEncoding::ANSI && FDetectUTF8) {
        const qsizetype checkLen = std::min<qsizetype>(size, FUTF8CheckLen > 0 ? FUTF8CheckLen : 16384);
        if (ValidUtf8Prefix(data, checkLen, checkLen < size) == checkLen)
            enc = TEncoding::UTF8;
    }

    QString text;
    if (enc == TEncoding::ANSI || enc == TEncoding::UTF8) {
        // The 8-bit code page is UTF-8: a byte sequence that is not UTF-8
        // cannot be shown faithfully, so it is refused rather than mangled.
        const qsizetype valid = ValidUtf8Prefix(data, size, false);
        if (valid != size)
            throw EEncodingError(platform::Format(
                QStringLiteral("The text is not valid %s: invalid byte sequence at byte %d"),
                {EncodingName(enc), QString::number(valid + bomLength)}));
        // The preamble is already cut off: a mark left in the data is a
        // character of the text, which fromUtf8 would drop.
        text = QStringDecoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom)
                   .decode(QByteArrayView(data, size));
    } else {
        if (size % 2 != 0)
            throw EEncodingError(platform::Format(
                QStringLiteral("The text is not valid %s: its length is an odd number of bytes"), {EncodingName(enc)}));
        text.resize(size / 2);
        char16_t* out = reinterpret_cast<char16_t*>(text.data());
        for (qsizetype i = 0; i < size / 2; ++i)
            out[i] = (enc == TEncoding::Unicode) ? qFromLittleEndian<char16_t>(data + 2 * i)
                                                 : qFromBigEndian<char16_t>(data + 2 * i);
    }
    FWriteBOM = bomLength > 0;
    FEncoding = enc;
    SetTextAndFileFormat(text);
}

bool TLineBuffer::SaveToStream(QIODevice& stream, std::optional<TEncoding> encoding)
{
    TEncoding enc = encoding ? *encoding : FEncoding;
    QString lineBreak;
    switch (FFileFormat) {
    case sffDos:
        lineBreak = QStringLiteral("\r\n");
        break;
    case sffUnix:
        lineBreak = QStringLiteral("\n");
        break;
    case sffMac:
        lineBreak = QStringLiteral("\r");
        break;
    case sffUnicode:
        lineBreak = QString(QChar(0x2028));
        break;
    }
    const QString text = GetSeparatedText(lineBreak);
    const bool eightBit = enc == TEncoding::ANSI || enc == TEncoding::UTF8;
    if (eightBit && HasLoneSurrogate(text)) {
        if (enc == TEncoding::ANSI && OnInfoLoss) {
            bool cancel = false;
            OnInfoLoss(enc, cancel);
            if (cancel)
                return false;
            if (enc != TEncoding::ANSI)
                FEncoding = enc;
        }
        if (enc == TEncoding::ANSI || enc == TEncoding::UTF8)
            throw EEncodingError(platform::Format(
                QStringLiteral("The text cannot be saved as %s: it contains an unpaired surrogate character"),
                {EncodingName(enc)}));
    }

    QByteArray bytes;
    if (FWriteBOM)
        bytes = Preamble(enc);
    if (enc == TEncoding::ANSI || enc == TEncoding::UTF8) {
        bytes += text.toUtf8();
    } else {
        const qsizetype start = bytes.size();
        bytes.resize(start + text.size() * 2);
        const char16_t* in = reinterpret_cast<const char16_t*>(text.constData());
        for (qsizetype i = 0; i < text.size(); ++i) {
            if (enc == TEncoding::Unicode)
                qToLittleEndian<char16_t>(in[i], bytes.data() + start + 2 * i);
            else
                qToBigEndian<char16_t>(in[i], bytes.data() + start + 2 * i);
        }
    }
    if (stream.write(bytes) != bytes.size())
        throw ELineBuffer(platform::Format(QStringLiteral("Cannot write the text: %s"), {stream.errorString()}));
    return true;
}

} // namespace editor
