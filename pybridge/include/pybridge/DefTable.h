#pragma once
// A definition table handed to the runtime (methods, members, accessors):
// entries in one block followed by a zeroed terminating entry, which the
// runtime reads up to. It grows in steps and frees its block itself.
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

namespace pybridge {

template <class T>
class TDefTable {
public:
    static constexpr int kGrowth = 10;

    TDefTable() : FCapacity(kGrowth), FData(Allocate(FCapacity)) {}
    ~TDefTable() { std::free(FData); }
    TDefTable(const TDefTable&) = delete;
    TDefTable& operator=(const TDefTable&) = delete;

    T* Data() const { return FData; }
    int Count() const { return FCount; }
    int Capacity() const { return FCapacity; }
    bool Full() const { return FCount == FCapacity; }
    // Index 0 to Count(), the terminating entry included.
    bool Holds(int index) const { return index >= 0 && index <= FCount; }
    T& operator[](int index) const { return FData[index]; }

    // The next free entry, counted as used; Grow() must come first when Full().
    T& Append() { return FData[FCount++]; }

    // Adds kGrowth zeroed entries; the block may move.
    void Grow()
    {
        const int capacity = FCapacity + kGrowth;
        void* p = std::realloc(FData, Bytes(capacity));
        if (!p)
            throw std::bad_alloc();
        FData = static_cast<T*>(p);
        std::memset(static_cast<void*>(FData + FCount + 1), 0, kGrowth * sizeof(T));
        FCapacity = capacity;
    }

    void Clear()
    {
        FCount = 0;
        std::memset(static_cast<void*>(FData), 0, Bytes(FCapacity));
    }

private:
    static std::size_t Bytes(int capacity) { return (static_cast<std::size_t>(capacity) + 1) * sizeof(T); }
    static T* Allocate(int capacity)
    {
        void* p = std::calloc(static_cast<std::size_t>(capacity) + 1, sizeof(T));
        if (!p)
            throw std::bad_alloc();
        return static_cast<T*>(p);
    }

    int FCount = 0;
    int FCapacity;
    T* FData;
};

} // namespace pybridge
