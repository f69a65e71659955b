#pragma once
// Callback thunks: tiny pieces of machine code generated at run time that
// turn "object + function taking the object first" into a plain function
// pointer, so the Python runtime (which only calls plain C functions) can
// reach methods of host objects.
//
// Memory: a process-wide list of page pairs, newest first. A pair is a
// 4096-byte code page directly followed by a 4096-byte data page. The code
// page is filled once, when the pair is made, and is read-and-execute from
// then on; the data page is read-write and never executable. So no page is
// ever writable and executable at once, and making a thunk needs no system
// call except once per new pair: it only writes the object and the function
// into a free slot of the data page. Every thunk of a page runs the same
// code; only the slot it reads differs.
//
// Bookkeeping lives in the data page: two 8-byte words (address of the next,
// older pair's code page or 0; the current lower bound "top" of the carved
// area, initially data page + 4096). Blocks are carved downward from the
// end: a block for n bytes takes n + 8 bytes, an 8-byte word holding the top
// before the allocation (the end of the block) followed by the n bytes. Only
// the newest pair receives new blocks; a new pair is started when the room
// left (top - data page) is not greater than n + 24. A block at data page
// offset x belongs to the code at code page offset x, which is the address
// handed out.
//
// A thunk's block is its slot: the object, then the function (16 bytes,
// plus padding up to the old top when earlier blocks of other sizes left the
// top off the slot grid). Slots start at multiples of 24 from the page start;
// the code page holds, at each such offset,
//   4C 8D 1D F9 0F 00 00    lea r11, [rip + 4089]   (the slot, 4096 further)
//   E9 <rel32>              jmp to offset 0
// and, at offset 0, the code shared by all of them:
//   4D 89 C1  mov r9, r8        49 89 C8  mov r8, rcx
//   48 89 D1  mov rcx, rdx      48 89 F2  mov rdx, rsi
//   48 89 FE  mov rsi, rdi      49 8B 3B  mov rdi, [r11]   (the object)
//   41 FF 63 08                 jmp [r11 + 8]              (the function)
// The code is shared because a self-contained entry (28 bytes) would not fit
// the 24-byte slot grid; a pair holds 169 thunks this way. r11 is a scratch
// register that carries no argument.
// Every argument register slides one place to make room for the object in
// rdi (sliding unused ones is harmless, so the code serves any argument
// count up to 5). The thunk leaves the stack, the return address, the
// vector registers and al (the vector-register count of variadic calls)
// alone and jumps, so the target returns straight to the thunk's caller and
// exceptions unwind from the target to that caller. Only integer/pointer
// arguments are counted; floating-point arguments pass through untouched.
// The target must return its result in registers (scalars, pointers, void),
// never through a hidden result pointer.
#include "platform/Exception.h"

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace pybridge {

class EThunkError : public platform::Exception {
public:
    using platform::Exception::Exception;
};

// 0: the callee removes its stack arguments; 1: the caller does. On x86-64
// both have one and the same meaning; they are kept so callers can state
// their convention.
enum TCallType { ctSTDCALL = 0, ctCDECL = 1 };

// The convention of every thunk the bridge makes.
inline constexpr TCallType DefaultCallType = ctCDECL;

inline constexpr std::size_t ThunkPageSize = 4096;
// Integer/pointer registers left after the object takes the first one.
inline constexpr int MaxThunkArguments = 5;

// A bound method: a plain function taking the object first (Code) and the
// object (Data).
struct TMethod {
    void* Code = nullptr;
    void* Data = nullptr;
};

// Carves a block of n bytes from the newest pair and returns the address of
// its code (read-and-execute memory). When code is given, its n bytes are
// copied there: that switches the whole code page to read-write and back, so
// unlike thunks made by MakeCallbackThunk, the page's thunks must not be
// called meanwhile. Throws EThunkError when no page can be obtained or n
// cannot fit into a page.
void* AllocThunkMemory(std::size_t n, const void* code = nullptr);

// Releases every page pair and empties the list. Every thunk made so far is
// invalid afterwards. Also runs at program end.
void FreeThunkMemory();

// Number of page pairs in the list (for diagnostics and tests).
std::size_t ThunkPageCount();

// A plain function pointer that calls code(object, a1, ..., aN) with the
// caller's arguments a1..aN (N = argCount integer/pointer arguments) and
// returns its result. Thread-safe; thunks already made stay callable while
// others are being made.
void* MakeCallbackThunk(void* object, void* code, int argCount, TCallType callType = DefaultCallType);
void* MakeMethodCallbackThunk(const TMethod& method, int argCount, TCallType callType = DefaultCallType);

namespace detail {

template <class A>
inline constexpr bool IsRegisterArgument =
    std::is_lvalue_reference_v<A> || std::is_integral_v<A> || std::is_pointer_v<A> || std::is_enum_v<A> ||
    std::is_null_pointer_v<A> || std::is_floating_point_v<A>;

template <class R>
inline constexpr bool IsRegisterResult = std::is_void_v<R> || std::is_scalar_v<R> || std::is_lvalue_reference_v<R>;

template <class T, class R, class... A>
struct TMethodShape {
    using Class = T;
    using Function = R (*)(A...);

    static_assert(IsRegisterResult<R>, "a thunk target must return its result in registers");
    static_assert((IsRegisterArgument<A> && ...), "thunk arguments must be scalars, pointers or references");

    static constexpr int IntegerArguments = (0 + ... + (std::is_floating_point_v<A> ? 0 : 1));

    template <auto M>
    static R Call(T* self, A... a)
    {
        return (self->*M)(static_cast<A>(a)...);
    }
};

template <class M>
struct TMethodTraits;
template <class T, class R, class... A>
struct TMethodTraits<R (T::*)(A...)> : TMethodShape<T, R, A...> {};
template <class T, class R, class... A>
struct TMethodTraits<R (T::*)(A...) const> : TMethodShape<const T, R, A...> {};
template <class T, class R, class... A>
struct TMethodTraits<R (T::*)(A...) noexcept> : TMethodShape<T, R, A...> {};
template <class T, class R, class... A>
struct TMethodTraits<R (T::*)(A...) const noexcept> : TMethodShape<const T, R, A...> {};

} // namespace detail

// Pairs object with a generated plain function that calls member function M
// on it: MethodOf<&TFoo::Bar>(foo).
template <auto M>
TMethod MethodOf(typename detail::TMethodTraits<decltype(M)>::Class* object)
{
    using Traits = detail::TMethodTraits<decltype(M)>;
    auto* code = &Traits::template Call<M>;
    return TMethod{reinterpret_cast<void*>(code), const_cast<void*>(static_cast<const void*>(object))};
}

// A typed plain function pointer that calls object->M(...):
//   auto fn = MakeMethodThunk<&TFoo::Bar>(foo);   fn(a, b) == foo->Bar(a, b)
template <auto M>
typename detail::TMethodTraits<decltype(M)>::Function MakeMethodThunk(
    typename detail::TMethodTraits<decltype(M)>::Class* object, TCallType callType = DefaultCallType)
{
    using Traits = detail::TMethodTraits<decltype(M)>;
    static_assert(Traits::IntegerArguments <= MaxThunkArguments, "too many register arguments for a thunk");
    void* entry = MakeMethodCallbackThunk(MethodOf<M>(object), Traits::IntegerArguments, callType);
    return reinterpret_cast<typename Traits::Function>(entry);
}

} // namespace pybridge
