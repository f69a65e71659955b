// Making callback thunks and calling each once, beside the same work with
// self-contained thunk code copied in block by block through
// AllocThunkMemory (two protection changes per block).
#include "pybridge/MethodCallBack.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

using namespace pybridge;

namespace {

constexpr int kThunks = 10000;

struct TCounter {
    std::intptr_t Base = 0;
    std::intptr_t Mix2(std::intptr_t a, std::intptr_t b) { return Base * 1000 + a * 10 + b; }
};

std::vector<TCounter>& Objects()
{
    static std::vector<TCounter> objects = [] {
        std::vector<TCounter> v(kThunks);
        for (int i = 0; i < kThunks; ++i)
            v[i].Base = i;
        return v;
    }();
    return objects;
}

// Thunks made, called once each and released, all inside the timing.
void BM_MakeAndCallTenThousandThunks(benchmark::State& state)
{
    auto& objects = Objects();
    FreeThunkMemory();
    for (auto _ : state) {
        std::intptr_t sum = 0;
        for (auto& o : objects)
            sum += MakeMethodThunk<&TCounter::Mix2>(&o)(1, 2);
        benchmark::DoNotOptimize(sum);
        FreeThunkMemory();
    }
    state.counters["pairs"] = double((kThunks + 168) / 169);
}
BENCHMARK(BM_MakeAndCallTenThousandThunks)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// Reference: a self-contained thunk copied into a code page per bound method
// (shift two registers, load object and function as immediates, jump).
void BM_CopiedCodeTenThousandThunks(benchmark::State& state)
{
    auto& objects = Objects();
    auto mix2 = MethodOf<&TCounter::Mix2>(&objects[0]).Code;
    FreeThunkMemory();
    for (auto _ : state) {
        std::intptr_t sum = 0;
        for (auto& o : objects) {
            std::uint8_t bytes[29] = {0x48, 0x89, 0xF2, 0x48, 0x89, 0xFE, 0x48, 0xBF};
            const std::uintptr_t object = reinterpret_cast<std::uintptr_t>(&o);
            const std::uintptr_t code = reinterpret_cast<std::uintptr_t>(mix2);
            std::memcpy(bytes + 8, &object, 8);
            bytes[16] = 0x49;
            bytes[17] = 0xBB;
            std::memcpy(bytes + 18, &code, 8);
            bytes[26] = 0x41;
            bytes[27] = 0xFF;
            bytes[28] = 0xE3;
            auto thunk = reinterpret_cast<std::intptr_t (*)(std::intptr_t, std::intptr_t)>(
                AllocThunkMemory(sizeof bytes, bytes));
            sum += thunk(1, 2);
        }
        benchmark::DoNotOptimize(sum);
        FreeThunkMemory();
    }
}
BENCHMARK(BM_CopiedCodeTenThousandThunks)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// Calling 10,000 ready thunks once each, for scale.
void BM_CallTenThousandReadyThunks(benchmark::State& state)
{
    auto& objects = Objects();
    FreeThunkMemory();
    std::vector<std::intptr_t (*)(std::intptr_t, std::intptr_t)> thunks;
    for (auto& o : objects)
        thunks.push_back(MakeMethodThunk<&TCounter::Mix2>(&o));
    for (auto _ : state) {
        std::intptr_t sum = 0;
        for (auto t : thunks)
            sum += t(1, 2);
        benchmark::DoNotOptimize(sum);
    }
    FreeThunkMemory();
}
BENCHMARK(BM_CallTenThousandReadyThunks)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
