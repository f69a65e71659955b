#include "pybridge/MethodCallBack.h"

#include <QString>

#include <sys/mman.h>

#include <cerrno>
#include <cstring>
#include <mutex>

namespace pybridge {

namespace {

constexpr std::size_t kWord = sizeof(std::uintptr_t);
constexpr std::size_t kNextOffset = 0;
constexpr std::size_t kTopOffset = kWord;
// Header words plus the block word: a page whose room left is not greater
// than the request plus this is abandoned for a new one.
constexpr std::size_t kPageReserve = 3 * kWord;

// Guards the page list, the tops and the page protections.
std::mutex PagesLock;
// Newest page first; 0 when empty.
std::uintptr_t CodePages = 0;

// Blocks are not aligned, so words inside pages are copied, never
// dereferenced in place.
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

QString SystemErrorText(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

bool Protect(std::uintptr_t page, int protection)
{
    return mprotect(reinterpret_cast<void*>(page), ThunkPageSize, protection) == 0;
}

[[noreturn]] void ThrowProtectError(int code)
{
    throw EThunkError(platform::Format("Could not change the protection of a callback code page: %s",
                                       {SystemErrorText(code)}));
}

// Every code page gets an inaccessible guard page on each side, so it is a
// mapping of its own: the kernel then flips its protection in place instead
// of splitting and re-merging neighbouring mappings, which halves the cost of
// adding a thunk. A stray jump off either end of a page faults, too.
std::uintptr_t MapCodePage()
{
    void* area = mmap(nullptr, 3 * ThunkPageSize, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    int error = errno;
    if (area != MAP_FAILED) {
        const std::uintptr_t page = reinterpret_cast<std::uintptr_t>(area) + ThunkPageSize;
        if (Protect(page, PROT_READ | PROT_WRITE))
            return page;
        error = errno;
        munmap(area, 3 * ThunkPageSize);
    }
    throw EThunkError(platform::Format("Could not obtain a code page for callback thunks: %s",
                                       {SystemErrorText(error)}));
}

void UnmapCodePage(std::uintptr_t page)
{
    munmap(reinterpret_cast<void*>(page - ThunkPageSize), 3 * ThunkPageSize);
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
    const bool fresh = page == 0 || ReadWord(page + kTopOffset) - page <= n + kPageReserve;
    if (fresh) {
        page = MapCodePage();
        WriteWord(page + kNextOffset, CodePages);
        WriteWord(page + kTopOffset, page + ThunkPageSize);
    } else if (!Protect(page, PROT_READ | PROT_WRITE)) {
        ThrowProtectError(errno);
    }

    const std::uintptr_t top = ReadWord(page + kTopOffset);
    const std::uintptr_t block = top - (n + kWord);
    WriteWord(block, top);
    WriteWord(page + kTopOffset, block);
    void* result = reinterpret_cast<void*>(block + kWord);
    if (code != nullptr && n > 0)
        std::memcpy(result, code, n);

    if (!Protect(page, PROT_READ | PROT_EXEC)) {
        const int error = errno;
        if (fresh) {
            UnmapCodePage(page);
        } else {
            // Give the block back so the page stays as it was.
            WriteWord(page + kTopOffset, top);
        }
        ThrowProtectError(error);
    }
    __builtin___clear_cache(static_cast<char*>(result), static_cast<char*>(result) + n);

    // Linked only now, so a failure above leaves the list untouched.
    if (fresh)
        CodePages = page;
    return result;
}

void FreeThunkMemory()
{
    std::lock_guard<std::mutex> guard(PagesLock);
    while (CodePages != 0) {
        const std::uintptr_t page = CodePages;
        CodePages = ReadWord(page + kNextOffset);
        UnmapCodePage(page);
    }
}

std::size_t ThunkPageCount()
{
    std::lock_guard<std::mutex> guard(PagesLock);
    std::size_t count = 0;
    for (std::uintptr_t page = CodePages; page != 0; page = ReadWord(page + kNextOffset))
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

    // Move register k-1 into register k, the last one first, so every
    // argument slides one place to make room for the object in rdi.
    static constexpr std::uint8_t kShift[MaxThunkArguments][3] = {
        {0x48, 0x89, 0xFE}, // mov rsi, rdi
        {0x48, 0x89, 0xF2}, // mov rdx, rsi
        {0x48, 0x89, 0xD1}, // mov rcx, rdx
        {0x49, 0x89, 0xC8}, // mov r8, rcx
        {0x4D, 0x89, 0xC1}, // mov r9, r8
    };

    std::uint8_t bytes[3 * MaxThunkArguments + 23];
    std::size_t at = 0;
    for (int k = argCount; k >= 1; --k) {
        std::memcpy(bytes + at, kShift[k - 1], 3);
        at += 3;
    }
    const std::uintptr_t objectWord = reinterpret_cast<std::uintptr_t>(object);
    const std::uintptr_t codeWord = reinterpret_cast<std::uintptr_t>(code);
    bytes[at++] = 0x48; // mov rdi, imm64
    bytes[at++] = 0xBF;
    std::memcpy(bytes + at, &objectWord, kWord);
    at += kWord;
    bytes[at++] = 0x49; // mov r11, imm64 (r11 carries no argument and al stays intact)
    bytes[at++] = 0xBB;
    std::memcpy(bytes + at, &codeWord, kWord);
    at += kWord;
    bytes[at++] = 0x41; // jmp r11
    bytes[at++] = 0xFF;
    bytes[at++] = 0xE3;

    return AllocThunkMemory(at, bytes);
}

void* MakeMethodCallbackThunk(const TMethod& method, int argCount, TCallType callType)
{
    return MakeCallbackThunk(method.Data, method.Code, argCount, callType);
}

} // namespace pybridge
