#pragma once
// An array with a gap of unused slots at the last edit position, so edits
// near each other move few elements, however long the array. The line
// buffer keeps its records in one.
#include <QTypeInfo>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

namespace editor {

// Elements are moved as bytes (memmove), so T must be relocatable in Qt's
// sense; QString is, and so is a record of such members once declared.
template <typename T>
class TGapVector {
    static_assert(QTypeInfo<T>::isRelocatable, "elements are moved as bytes");

public:
    TGapVector() = default;
    ~TGapVector() { Clear(); }
    TGapVector(const TGapVector&) = delete;
    TGapVector& operator=(const TGapVector&) = delete;

    int Count() const { return FCount; }
    int Capacity() const { return FCapacity; }

    // No range check: callers check indexes against Count().
    T& operator[](int index) { return FData[Slot(index)]; }
    const T& operator[](int index) const { return FData[Slot(index)]; }

    // Exactly newCapacity slots, which must hold Count(); 0 frees the memory.
    void SetCapacity(int newCapacity);

    // Inserts count elements before index, the i-th constructed from make(i).
    // Nothing is inserted when make throws.
    template <typename Make>
    void InsertMade(int index, int count, Make make);
    void Insert(int index, T value)
    {
        InsertMade(index, 1, [&value](int) -> T { return std::move(value); });
    }
    void Append(T value) { Insert(FCount, std::move(value)); }

    void Erase(int index, int count = 1);
    // Destroys every element and frees the memory.
    void Clear();

private:
    // Growth steps: small arrays by 4 and 16, larger ones by half again.
    void Grow(int required);
    void MoveGap(int index);
    int Slot(int index) const { return index < FGapStart ? index : index + (FGapEnd - FGapStart); }

    T* FData = nullptr;
    int FCount = 0;
    int FCapacity = 0;
    int FGapStart = 0;
    int FGapEnd = 0;
};

template <typename T>
void TGapVector<T>::SetCapacity(int newCapacity)
{
    if (newCapacity == FCapacity)
        return;
    if (newCapacity == 0) {
        std::free(FData);
        FData = nullptr;
        FCapacity = FGapStart = FGapEnd = 0;
        return;
    }
    const int tail = FCapacity - FGapEnd;
    T* data = static_cast<T*>(std::malloc(std::size_t(newCapacity) * sizeof(T)));
    if (!data)
        throw std::bad_alloc();
    if (FGapStart > 0)
        std::memcpy(static_cast<void*>(data), static_cast<const void*>(FData), std::size_t(FGapStart) * sizeof(T));
    if (tail > 0)
        std::memcpy(static_cast<void*>(data + newCapacity - tail), static_cast<const void*>(FData + FGapEnd),
            std::size_t(tail) * sizeof(T));
    std::free(FData);
    FData = data;
    FCapacity = newCapacity;
    FGapEnd = newCapacity - tail;
}

template <typename T>
void TGapVector<T>::Grow(int required)
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

template <typename T>
void TGapVector<T>::MoveGap(int index)
{
    const int gap = FGapEnd - FGapStart;
    if (index < FGapStart) {
        std::memmove(static_cast<void*>(FData + index + gap), static_cast<const void*>(FData + index),
            std::size_t(FGapStart - index) * sizeof(T));
    } else if (index > FGapStart) {
        std::memmove(static_cast<void*>(FData + FGapStart), static_cast<const void*>(FData + FGapEnd),
            std::size_t(index - FGapStart) * sizeof(T));
    }
    FGapStart = index;
    FGapEnd = index + gap;
}

template <typename T>
template <typename Make>
void TGapVector<T>::InsertMade(int index, int count, Make make)
{
    if (count <= 0)
        return;
    if (FCount > INT_MAX - count)
        throw std::bad_alloc();
    Grow(FCount + count);
    MoveGap(index);
    int made = 0;
    try {
        for (; made < count; ++made)
            new (static_cast<void*>(FData + FGapStart + made)) T(make(made));
    } catch (...) {
        for (int i = 0; i < made; ++i)
            FData[FGapStart + i].~T();
        throw;
    }
    FGapStart += count;
    FCount += count;
}

template <typename T>
void TGapVector<T>::Erase(int index, int count)
{
    if (count <= 0)
        return;
    MoveGap(index);
    for (int i = 0; i < count; ++i)
        FData[FGapEnd + i].~T();
    FGapEnd += count;
    FCount -= count;
}

template <typename T>
void TGapVector<T>::Clear()
{
    for (int i = 0; i < FCount; ++i)
        (*this)[i].~T();
    FCount = 0;
    SetCapacity(0); // resets the gap too
}

} // namespace editor
