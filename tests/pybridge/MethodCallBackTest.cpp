#include "pybridge/MethodCallBack.h"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace pybridge;

namespace {

struct TCounter {
    std::intptr_t Base = 0;
    std::intptr_t Add1(std::intptr_t a) { return Base + a; }
    std::intptr_t Mix2(std::intptr_t a, std::intptr_t b) { return Base * 1000 + a * 10 + b; }
    const char* Pick3(const char* a, const char* b, int which) const { return which == 0 ? a : which == 1 ? b : nullptr; }
    TCounter* Self2(void*, void*) { return this; }
    double Scale(double x, std::intptr_t k) { return x * double(k) + double(Base); }
    int Throw(int code) { throw std::runtime_error("code " + std::to_string(code + Base)); }
};

std::intptr_t Collect(void* object, std::intptr_t a, std::intptr_t b, std::intptr_t c, std::intptr_t d,
                      std::intptr_t e)
{
    return (*static_cast<std::intptr_t*>(object) * 100000 + a * 10000 + b * 1000 + c * 100 + d * 10 + e);
}

std::intptr_t ObjectOnly(void* object)
{
    return *static_cast<std::intptr_t*>(object);
}

std::uintptr_t WordAt(std::uintptr_t at)
{
    std::uintptr_t v;
    std::memcpy(&v, reinterpret_cast<const void*>(at), sizeof v);
    return v;
}

std::uintptr_t Addr(const void* p) { return reinterpret_cast<std::uintptr_t>(p); }
std::uintptr_t PageOf(const void* p) { return Addr(p) & ~std::uintptr_t(ThunkPageSize - 1); }

struct TMapping {
    std::uintptr_t From, To;
    std::string Perms;
};

std::vector<TMapping> ReadMaps()
{
    std::vector<TMapping> out;
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        std::istringstream in(line);
        std::string range, perms;
        in >> range >> perms;
        const auto dash = range.find('-');
        out.push_back({std::stoull(range.substr(0, dash), nullptr, 16), std::stoull(range.substr(dash + 1), nullptr, 16),
                       perms});
    }
    return out;
}

} // namespace

TEST(MethodCallBack, ThunkCallsMethodWithObjectFirst)
{
    TCounter o{7};
    auto add1 = MakeMethodThunk<&TCounter::Add1>(&o);
    auto mix2 = MakeMethodThunk<&TCounter::Mix2>(&o);
    auto pick3 = MakeMethodThunk<&TCounter::Pick3>(&o, ctSTDCALL);
    auto self2 = MakeMethodThunk<&TCounter::Self2>(&o);
    auto scale = MakeMethodThunk<&TCounter::Scale>(&o);
    EXPECT_EQ(add1(5), 12);
    EXPECT_EQ(mix2(3, 4), 7034);
    EXPECT_EQ(mix2(-1, -2), 7000 - 10 - 2);
    const char* a = "a";
    const char* b = "b";
    EXPECT_EQ(pick3(a, b, 0), a);
    EXPECT_EQ(pick3(a, b, 1), b);
    EXPECT_EQ(pick3(a, b, 2), nullptr);
    EXPECT_EQ(self2(nullptr, nullptr), &o);
    EXPECT_DOUBLE_EQ(scale(1.5, 4), 13.0); // floating-point arguments pass through untouched
    o.Base = 9;                            // bound to the object, not a copy of it
    EXPECT_EQ(add1(1), 10);
}

TEST(MethodCallBack, PlainFunctionFromZeroToFiveArguments)
{
    std::intptr_t object = 4;
    auto none = reinterpret_cast<std::intptr_t (*)()>(MakeCallbackThunk(&object, reinterpret_cast<void*>(&ObjectOnly), 0, ctCDECL));
    EXPECT_EQ(none(), 4);
    auto five = reinterpret_cast<std::intptr_t (*)(std::intptr_t, std::intptr_t, std::intptr_t, std::intptr_t, std::intptr_t)>(
        MakeMethodCallbackThunk(TMethod{reinterpret_cast<void*>(&Collect), &object}, 5, ctCDECL));
    EXPECT_EQ(five(1, 2, 3, 4, 5), 412345);
}

TEST(MethodCallBack, ExceptionsFromTheMethodReachTheCaller)
{
    TCounter o{1};
    auto thrower = MakeMethodThunk<&TCounter::Throw>(&o);
    try {
        thrower(41);
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "code 42");
    }
}

TEST(MethodCallBack, BadRequestsAreRejected)
{
    std::intptr_t object = 0;
    void* code = reinterpret_cast<void*>(&Collect);
    EXPECT_THROW(MakeCallbackThunk(&object, code, 6, ctCDECL), EThunkError);
    EXPECT_THROW(MakeCallbackThunk(&object, code, -1, ctCDECL), EThunkError);
    EXPECT_THROW(MakeCallbackThunk(&object, code, 2, static_cast<TCallType>(7)), EThunkError);
    EXPECT_THROW(MakeCallbackThunk(&object, nullptr, 2, ctCDECL), EThunkError);
    try {
        AllocThunkMemory(ThunkPageSize - 24);
        FAIL() << "a block larger than a page was carved";
    } catch (const platform::Exception& e) {
        EXPECT_EQ(e.Message(), "A callback thunk of 4072 bytes does not fit into a code page of 4096 bytes");
    }
    EXPECT_NO_THROW(AllocThunkMemory(ThunkPageSize - 25)); // the largest block a fresh page takes
}

TEST(MethodCallBack, BlocksAreCarvedDownwardInTheDataPageWithTheirEndWordBeforeThem)
{
    FreeThunkMemory();
    auto* a = static_cast<std::uint8_t*>(AllocThunkMemory(29));
    const std::uintptr_t page = PageOf(a);
    const std::uintptr_t data = page + ThunkPageSize;
    EXPECT_EQ(Addr(a), page + ThunkPageSize - 29);
    EXPECT_EQ(WordAt(Addr(a) + ThunkPageSize - 8), data + ThunkPageSize);
    auto* b = static_cast<std::uint8_t*>(AllocThunkMemory(32));
    EXPECT_EQ(Addr(b), Addr(a) - 8 - 32);
    EXPECT_EQ(WordAt(Addr(b) + ThunkPageSize - 8), Addr(a) + ThunkPageSize - 8);
    EXPECT_EQ(WordAt(data), 0u);                              // no older pair
    EXPECT_EQ(WordAt(data + 8), Addr(b) + ThunkPageSize - 8); // top

    // A thunk's slot (object, function) is padded down to the next multiple of
    // 24 from the page start, where the code page has an entry for it.
    std::intptr_t object = 6;
    void* t1 = MakeCallbackThunk(&object, reinterpret_cast<void*>(&ObjectOnly), 0, ctCDECL);
    const std::uintptr_t top = Addr(b) - 8 - page; // 4019
    EXPECT_EQ(Addr(t1) - page, (top - 16) / 24 * 24);
    EXPECT_EQ(WordAt(Addr(t1) + ThunkPageSize - 8), data + top);
    EXPECT_EQ(WordAt(Addr(t1) + ThunkPageSize), Addr(&object));
    EXPECT_EQ(WordAt(Addr(t1) + ThunkPageSize + 8), Addr(reinterpret_cast<void*>(&ObjectOnly)));
    TCounter counter{6};
    auto t2 = MakeMethodThunk<&TCounter::Mix2>(&counter);
    EXPECT_EQ(Addr(reinterpret_cast<void*>(t2)), Addr(t1) - 24); // on the grid: slot and word, nothing more
    EXPECT_EQ(reinterpret_cast<std::intptr_t (*)()>(t1)(), 6);
    EXPECT_EQ(t2(1, 2), 6012);

    // Thunks made one after another from a fresh pair.
    FreeThunkMemory();
    void* f1 = MakeCallbackThunk(&object, reinterpret_cast<void*>(&ObjectOnly), 0, ctCDECL);
    void* f2 = MakeCallbackThunk(&object, reinterpret_cast<void*>(&ObjectOnly), 3, ctSTDCALL);
    EXPECT_EQ(Addr(f1), PageOf(f1) + ThunkPageSize - 16);
    EXPECT_EQ(Addr(f2), Addr(f1) - 24);
}

TEST(MethodCallBack, CallerCodeIsCopiedAndRunsBesideThunks)
{
    FreeThunkMemory();
    TCounter o{5};
    auto before = MakeMethodThunk<&TCounter::Add1>(&o);
    static const std::uint8_t kReturn42[] = {0xB8, 0x2A, 0x00, 0x00, 0x00, 0xC3}; // mov eax, 42; ret
    auto code = reinterpret_cast<int (*)()>(AllocThunkMemory(sizeof kReturn42, kReturn42));
    EXPECT_EQ(PageOf(reinterpret_cast<void*>(code)), PageOf(reinterpret_cast<void*>(before)));
    EXPECT_EQ(std::memcmp(reinterpret_cast<const void*>(code), kReturn42, sizeof kReturn42), 0);
    auto after = MakeMethodThunk<&TCounter::Add1>(&o);
    EXPECT_EQ(code(), 42);
    EXPECT_EQ(before(1), 6);
    EXPECT_EQ(after(2), 7);
}

TEST(MethodCallBack, NewPageWhenRoomLeftIsNotGreaterThanRequestPlus24)
{
    FreeThunkMemory();
    void* first = AllocThunkMemory(1000); // room left: 4096 - 1008 = 3088
    const std::uintptr_t page = PageOf(first);
    void* fits = AllocThunkMemory(3088 - 25);
    EXPECT_EQ(PageOf(fits), page);
    EXPECT_EQ(Addr(fits) - 8, page + 17); // one byte left above the header

    FreeThunkMemory();
    first = AllocThunkMemory(1000);
    const std::uintptr_t old = PageOf(first);
    // n + 8 bytes would still fit above the header, but the rule asks for more.
    void* next = AllocThunkMemory(3088 - 24);
    EXPECT_NE(PageOf(next), old);
    EXPECT_EQ(WordAt(PageOf(next) + ThunkPageSize), old); // linked in front of the old pair
    EXPECT_EQ(ThunkPageCount(), 2u);
    // Space left in the older pair is never used again.
    EXPECT_EQ(PageOf(AllocThunkMemory(1)), PageOf(next));

    // 169 thunks to a pair: the last one leaves 40 bytes, which is not more
    // than 16 + 24.
    FreeThunkMemory();
    std::intptr_t object = 0;
    std::vector<void*> thunks;
    for (int i = 0; i < 170; ++i)
        thunks.push_back(MakeCallbackThunk(&object, reinterpret_cast<void*>(&ObjectOnly), 0, ctCDECL));
    EXPECT_EQ(Addr(thunks[168]), PageOf(thunks[0]) + 48);
    EXPECT_EQ(PageOf(thunks[168]), PageOf(thunks[0]));
    EXPECT_NE(PageOf(thunks[169]), PageOf(thunks[0]));
    EXPECT_EQ(ThunkPageCount(), 2u);
    for (void* t : thunks)
        ASSERT_EQ(reinterpret_cast<std::intptr_t (*)()>(t)(), 0);
}

TEST(MethodCallBack, FreeReleasesEveryPageAndAllocationStartsOver)
{
    FreeThunkMemory();
    std::vector<std::uintptr_t> pages;
    for (int i = 0; i < 3; ++i)
        pages.push_back(PageOf(AllocThunkMemory(3000)));
    EXPECT_EQ(ThunkPageCount(), 3u);
    FreeThunkMemory();
    EXPECT_EQ(ThunkPageCount(), 0u);
    for (std::uintptr_t page : pages)
        for (std::uintptr_t at : {page, page + ThunkPageSize}) {
            EXPECT_EQ(msync(reinterpret_cast<void*>(at), ThunkPageSize, MS_ASYNC), -1);
            EXPECT_EQ(errno, ENOMEM) << "page still mapped";
        }
    TCounter o{3};
    EXPECT_EQ(MakeMethodThunk<&TCounter::Add1>(&o)(4), 7);
    EXPECT_EQ(ThunkPageCount(), 1u);
}

TEST(MethodCallBack, PagesAreNeverWritableAndExecutableAtOnce)
{
    // A watcher reads the memory map while thunks are being added; any
    // writable-and-executable mapping it sees must not hold one of our pages.
    std::atomic<bool> done{false};
    std::vector<TMapping> seen;
    std::thread watcher([&] {
        while (!done.load()) {
            for (const TMapping& m : ReadMaps())
                if (m.Perms.find('w') != std::string::npos && m.Perms.find('x') != std::string::npos)
                    seen.push_back(m);
        }
    });
    // Blocks with copied code, which switch their code page, are mixed in.
    static const std::uint8_t kReturn42[] = {0xB8, 0x2A, 0x00, 0x00, 0x00, 0xC3};
    std::vector<TCounter> objects(3000);
    std::vector<std::intptr_t (*)(std::intptr_t)> thunks;
    for (auto& o : objects) {
        thunks.push_back(MakeMethodThunk<&TCounter::Add1>(&o));
        if (thunks.size() % 100 == 0)
            AllocThunkMemory(sizeof kReturn42, kReturn42);
    }
    done = true;
    watcher.join();

    for (const TMapping& m : seen)
        for (auto t : thunks)
            ASSERT_FALSE(Addr(reinterpret_cast<void*>(t)) >= m.From && Addr(reinterpret_cast<void*>(t)) < m.To);
    // Code pages are read-and-execute, their data pages read-write only.
    const auto maps = ReadMaps();
    auto permsAt = [&](std::uintptr_t at) {
        for (const TMapping& m : maps)
            if (at >= m.From && at < m.To)
                return m.Perms.substr(0, 3);
        return std::string("unmapped");
    };
    for (auto t : thunks) {
        const std::uintptr_t at = Addr(reinterpret_cast<void*>(t));
        ASSERT_EQ(permsAt(at), "r-x");
        ASSERT_EQ(permsAt(at + ThunkPageSize), "rw-");
    }
}

TEST(MethodCallBack, ThunksStayCallableWhileOthersAreMade)
{
    FreeThunkMemory();
    std::vector<TCounter> objects(8);
    std::vector<std::intptr_t (*)(std::intptr_t, std::intptr_t)> early;
    for (std::size_t i = 0; i < objects.size(); ++i) {
        objects[i].Base = std::intptr_t(i);
        early.push_back(MakeMethodThunk<&TCounter::Mix2>(&objects[i]));
    }
    std::atomic<bool> done{false};
    std::atomic<long> wrong{0};
    std::atomic<long> calls{0};
    std::thread caller([&] {
        while (!done.load())
            for (std::size_t i = 0; i < early.size(); ++i) {
                if (early[i](3, 4) != std::intptr_t(i) * 1000 + 34)
                    ++wrong;
                ++calls;
            }
    });
    std::vector<TCounter> more(5000);
    for (auto& o : more)
        MakeMethodThunk<&TCounter::Add1>(&o);
    while (calls.load() == 0)
        std::this_thread::yield();
    done = true;
    caller.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST(MethodCallBack, TenThousandThunksFromFourThreads)
{
    FreeThunkMemory();
    constexpr int kPerThread = 2500;
    std::vector<TCounter> objects(4 * kPerThread);
    std::vector<std::intptr_t (*)(std::intptr_t, std::intptr_t)> thunks(objects.size());
    std::vector<std::thread> makers;
    for (int t = 0; t < 4; ++t)
        makers.emplace_back([&, t] {
            for (int i = t * kPerThread; i < (t + 1) * kPerThread; ++i) {
                objects[i].Base = i;
                thunks[i] = MakeMethodThunk<&TCounter::Mix2>(&objects[i]);
            }
        });
    for (auto& m : makers)
        m.join();
    for (std::size_t i = 0; i < thunks.size(); ++i)
        ASSERT_EQ(thunks[i](1, 2), std::intptr_t(i) * 1000 + 12) << i;
    // 169 thunks to a pair, whatever their argument count.
    EXPECT_EQ(ThunkPageCount(), (thunks.size() + 168) / 169);
}

TEST(MethodCallBack, NoCodePageIsAClearError)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer runtime cannot live under a tight address-space limit";
#else
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        FreeThunkMemory();
        free(malloc(1 << 16)); // leave the heap some room for the exception itself
        rlimit limit{0, 0};
        std::ifstream status("/proc/self/statm");
        unsigned long pages = 0;
        status >> pages;
        limit.rlim_cur = limit.rlim_max = pages * sysconf(_SC_PAGESIZE);
        setrlimit(RLIMIT_AS, &limit);
        try {
            AllocThunkMemory(10);
        } catch (const EThunkError& e) {
            _exit(e.Message().startsWith("Could not obtain a code page for callback thunks: ") ? 0 : 2);
        }
        _exit(1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
#endif
}
