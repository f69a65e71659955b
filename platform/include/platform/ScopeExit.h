#pragma once
// Runs a function when the scope ends, however it ends (return or exception).
#include <utility>

namespace platform {

template <class F>
class [[nodiscard]] TScopeExit {
public:
    explicit TScopeExit(F f) : FExit(std::move(f)) {}
    ~TScopeExit() { FExit(); }
    TScopeExit(const TScopeExit&) = delete;
    TScopeExit& operator=(const TScopeExit&) = delete;

private:
    F FExit;
};

} // namespace platform
