#include "pybridge/MethodCallBack.h"

#include <QString>

#include "platform/Exception.h"
#include "platform/ExecutableMemory.h"

#include <cstring>
#include <mutex>

namespace pybridge {

namespace {

constexpr std::size_t kWord = sizeof(std::uintptr_t);
constexpr std::size_t kNextOffset = 0;
constexpr std::size_t kTopOffset = kWord;
// Header words plus the block word: a pair whose room left is not greater
// than the request plus this is abandoned for a new one.
constexpr std::size_t kPageReserve = 3 * kWord;

// A thunk's slot: the object, then the function.
constexpr std::size_t kSlotSize = 2 * kWord;
// Slot grid: a slot with its block word. A fresh page's first slot lies on
// the grid, so thunks made one after another fill it without padding.
constexpr std::size_t kSlotStride = kSlotSize + kWord;
static_assert((ThunkPageSize - kSlotSize) % kSlotStride == 0);

// The code shared by every thunk of a page, at code page offset 0; r11 holds
// the thunk's slot.
constexpr std::uint8_t kSharedCode[] = {
    0x4D, 0x89, 0xC1,       // mov r9, r8
    0x49, 0x89, 0xC8,       // mov r8, rcx
    0x48, 0x89, 0xD1,       // mov rcx, rdx
    0x48, 0x89, 0xF2,       // mov rdx, rsi
    0x48, 0x89, 0xFE,       // mov rsi, rdi
    0x49, 0x8B, 0x3B,       // mov rdi, [r11]
    0x41, 0xFF, 0x63, 0x08, // jmp [r11 + 8]
};
// Per-slot entry: lea r11, [rip + disp32]; jmp rel32.
constexpr std::size_t kEntrySize = 12;
static_assert(sizeof kSharedCode <= kSlotStride && kEntrySize <= kSlotSize);

// Guards the page list and the tops.
std::mutex PagesLock;
// Code page of the newest pair; 0 when empty.
std::uintptr_t CodePages = 0;

// Blocks of AllocThunkMemory are not aligned, so words inside pages are
// copied, never dereferenced in place.
std::uintptr_t ReadWord(std::uintptr_t at)
{
    std::uintptr_t value;
    std::memcpy(&value, reinterpret_cast<const void*>(at), kWord);
    return value;
}

void WriteWord(std::uintptr_t at, std::uintptr_t value)
{
    std::memcpy(reinterpret_cast<void*>(at), &value, kWord);
}

void WriteInt32(std::uint8_t* at, std::int32_t value)
{
    std::memcpy(at, &value, sizeof value);
}

std::uintptr_t DataOf(std::uintptr_t page)
{
    return page + ThunkPageSize;
}

std::uintptr_t TopOf(std::uintptr_t page)
{
    return ReadWord(DataOf(page) + kTopOffset);
}

bool HasRoom(std::uintptr_t page, std::size_t n)
{
    return page != 0 && TopOf(page) - DataOf(page) > n + kPageReserve;
}

// Request that puts the next thunk's slot on the grid: the slot plus the
// padding between it and the top.
std::size_t SlotRequest(std::uintptr_t page)
{
    const std::size_t room = TopOf(page) - DataOf(page);
    return room - (room - kSlotSize) / kSlotStride * kSlotStride;
}

// Carves n bytes below the pair's top; returns their data page address.
std::uintptr_t Carve(std::uintptr_t page, std::size_t n)
{
    const std::uintptr_t top = TopOf(page);
    const std::uintptr_t block = top - (n + kWord);
    WriteWord(block, top);
    WriteWord(DataOf(page) + kTopOffset, block);
    return block + kWord;
}

using platform::PageAccess;
using platform::SystemErrorText;

bool Protect(std::uintptr_t at, std::size_t size, PageAccess access, int* error)
{
    return platform::SetPageAccess(reinterpret_cast<void*>(at), size, access, error);
}

[[noreturn]] void ThrowProtectError(int code)
{
    throw EThunkError(platform::Format("Could not change the protection of a callback code page: %s",
                                       {SystemErrorText(code)}));
}

void FillCodePage(std::uint8_t* code)
{
    // Anything that is neither the shared code nor an entry traps.
    std::memset(code, 0xCC, ThunkPageSize);
    std::memcpy(code, kSharedCode, sizeof kSharedCode);
    for (std::size_t at = kSlotStride; at + kSlotSize <= ThunkPageSize; at += kSlotStride) {
        std::uint8_t* entry = code + at;
        entry[0] = 0x4C; // lea r11, [rip + disp32]
        entry[1] = 0x8D;
        entry[2] = 0x1D;
        WriteInt32(entry + 3, std::int32_t(ThunkPageSize - 7));
        entry[7] = 0xE9; // jmp rel32 to the shared code
        WriteInt32(entry + 8, -std::int32_t(at + kEntrySize));
    }
}

// A pair gets an inaccessible guard page on each side, so a stray jump or
// write off either end faults. The code page is written while it is still
// read-write only and becomes read-and-execute before any thunk exists.
// Returns the code page; the pair is not linked yet.
std::uintptr_t MapPagePair()
{
    int error = 0;
    void* area = platform::ReservePages(4 * ThunkPageSize, &error);
    if (area) {
        const std::uintptr_t page = reinterpret_cast<std::uintptr_t>(area) + ThunkPageSize;
        if (Protect(page, 2 * ThunkPageSize, PageAccess::ReadWrite, &error)) {
            FillCodePage(reinterpret_cast<std::uint8_t*>(page));
            if (Protect(page, ThunkPageSize, PageAccess::ReadExecute, &error)) {
                platform::FlushInstructionCache(reinterpret_cast<void*>(page), ThunkPageSize);
                WriteWord(DataOf(page) + kNextOffset, CodePages);
                WriteWord(DataOf(page) + kTopOffset, DataOf(page) + ThunkPageSize);
                return page;
            }
        }
        platform::ReleasePages(area, 4 * ThunkPageSize);
    }
    throw EThunkError(platform::Format("Could not obtain a code page for callback thunks: %s",
                                       {SystemErrorText(error)}));
}

void UnmapPagePair(std::uintptr_t page)
{
    platform::ReleasePages(reinterpret_cast<void*>(page - ThunkPageSize), 4 * ThunkPageSize);
}

// Releases the pages at program end; declared after PagesLock so it runs
// before the lock is destroyed.
struct TThunkFinalizer {
    TThunkFinalizer() = default;
    TThunkFinalizer(const TThunkFinalizer&) = delete;
    TThunkFinalizer& operator=(const TThunkFinalizer&) = delete;
    ~TThunkFinalizer() { FreeThunkMemory(); }
} ThunkFinalizer;

} // namespace

void* AllocThunkMemory(std::size_t n, const void* code)
{
    // Even a fresh page could not take the block: carving it would run below
    // the page's header.
    if (n >= ThunkPageSize - kPageReserve)
        throw EThunkError(platform::Format("A callback thunk of %d bytes does not fit into a code page of %d bytes",
                                           {QString::number(n), QString::number(ThunkPageSize)}));

    std::lock_guard<std::mutex> guard(PagesLock);

    std::uintptr_t page = CodePages;
    const bool fresh = !HasRoom(page, n);
    if (fresh)
        page = MapPagePair();
    const std::uintptr_t top = TopOf(page);
    const std::uintptr_t result = Carve(page, n) - ThunkPageSize;

    if (code != nullptr && n > 0) {
        int error = 0;
        bool written = Protect(page, ThunkPageSize, PageAccess::ReadWrite, &error);
        if (written) {
            std::memcpy(reinterpret_cast<void*>(result), code, n);
            written = Protect(page, ThunkPageSize, PageAccess::ReadExecute, &error);
        }
        if (!written) {
            if (fresh) {
                UnmapPagePair(page);
            } else {
                // Give the block back so the pair stays as it was.
                WriteWord(DataOf(page) + kTopOffset, top);
            }
            ThrowProtectError(error);
        }
        platform::FlushInstructionCache(reinterpret_cast<void*>(result), n);
    }

    // Linked only now, so a failure above leaves the list untouched.
    if (fresh)
        CodePages = page;
    return reinterpret_cast<void*>(result);
}

void FreeThunkMemory()
{
    std::lock_guard<std::mutex> guard(PagesLock);
    while (CodePages != 0) {
        const std::uintptr_t page = CodePages;
        CodePages = ReadWord(DataOf(page) + kNextOffset);
        UnmapPagePair(page);
    }
}

std::size_t ThunkPageCount()
{
    std::lock_guard<std::mutex> guard(PagesLock);
    std::size_t count = 0;
    for (std::uintptr_t page = CodePages; page != 0; page = ReadWord(DataOf(page) + kNextOffset))
        ++count;
    return count;
}

void* MakeCallbackThunk(void* object, void* code, int argCount, TCallType callType)
{
    if (callType != ctSTDCALL && callType != ctCDECL)
        throw EThunkError(platform::Format("Unknown call type %d for a callback thunk", {QString::number(callType)}));
    if (argCount < 0 || argCount > MaxThunkArguments)
        throw EThunkError(platform::Format("A callback thunk takes 0 to %d arguments, not %d",
                                           {QString::number(MaxThunkArguments), QString::number(argCount)}));
    if (code == nullptr)
        throw EThunkError(QStringLiteral("A callback thunk needs a method to call"));

    std::lock_guard<std::mutex> guard(PagesLock);

    std::uintptr_t page = CodePages;
    std::size_t n = page != 0 ? SlotRequest(page) : kSlotSize;
    if (!HasRoom(page, n)) {
        page = MapPagePair();
        CodePages = page;
        n = kSlotSize;
    }
    // Filled before the address leaves the lock; the code that reads it has
    // been executable since the pair was made.
    const std::uintptr_t slot = Carve(page, n);
    WriteWord(slot, reinterpret_cast<std::uintptr_t>(object));
    WriteWord(slot + kWord, reinterpret_cast<std::uintptr_t>(code));
    return reinterpret_cast<void*>(slot - ThunkPageSize);
}

void* MakeMethodCallbackThunk(const TMethod& method, int argCount, TCallType callType)
{
    return MakeCallbackThunk(method.Data, method.Code, argCount, callType);
}

} // namespace pybridge
