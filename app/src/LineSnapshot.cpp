#include "app/LineSnapshot.h"

#include "editor/LineBuffer.h"

#include <algorithm>

namespace {

// A million lines are a million reference counts in as many places: the
// copy fetches the ones it is about to touch ahead of itself.
constexpr int kFetchAhead = 16;

void FetchAhead(const QString& line)
{
    __builtin_prefetch(const_cast<QString&>(line).data_ptr().d_ptr(), 1, 0);
}

} // namespace

void TLineSnapshot::Start(std::vector<QString> room)
{
    FCopy = std::move(room);
    FCopied = 0;
    FActive = true;
}

void TLineSnapshot::Grow(qsizetype size)
{
    if (qsizetype(FCopy.size()) < size)
        FCopy.resize(size_t(size));
}

bool TLineSnapshot::Step(qsizetype count)
{
    const int total = FLines.Count();
    const int end = FCopied + int(std::clamp<qsizetype>(count, 0, std::max(0, total - FCopied)));
    Grow(end);
    for (int i = FCopied; i < end; ++i) {
        if (i + kFetchAhead < end)
            FetchAhead(FLines.GetRef(i + kFetchAhead));
        FCopy[size_t(i)] = FLines.GetRef(i);
    }
    FCopied = std::max(FCopied, end);
    return FCopied == total;
}

std::vector<QString> TLineSnapshot::Finish()
{
    FCopy.resize(size_t(FCopied));
    FActive = false;
    return std::move(FCopy);
}

std::vector<QString> TLineSnapshot::Abandon()
{
    FActive = false;
    FCopied = 0;
    return std::move(FCopy);
}

void TLineSnapshot::Put(int index)
{
    if (FActive && index >= 0 && index < FCopied)
        FCopy[size_t(index)] = FLines.GetRef(index);
}

void TLineSnapshot::Inserted(int index, int count)
{
    // Lines inserted at or past the copied part are copied in their turn.
    if (!FActive || index < 0 || index >= FCopied || count <= 0)
        return;
    Grow(qsizetype(FCopied) + count);
    const auto at = FCopy.begin() + index;
    std::move_backward(at, FCopy.begin() + FCopied, FCopy.begin() + FCopied + count);
    for (int k = 0; k < count; ++k)
        FCopy[size_t(index + k)] = FLines.GetRef(index + k);
    FCopied += count;
}

void TLineSnapshot::Deleted(int index, int count)
{
    if (!FActive || index < 0 || index >= FCopied || count <= 0)
        return;
    const int end = std::min(index + count, FCopied);
    const int removed = end - index;
    std::move(FCopy.begin() + end, FCopy.begin() + FCopied, FCopy.begin() + index);
    std::fill(FCopy.begin() + (FCopied - removed), FCopy.begin() + FCopied, QString());
    FCopied -= removed;
}
