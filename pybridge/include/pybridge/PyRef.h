#pragma once
// An owning reference to a Python object: released on every path, moved but
// never copied, so that no exception path leaks an object.
#include "pybridge/PythonInterface.h"

#include <utility>

namespace pybridge {

class TPyRef {
public:
    TPyRef() = default;
    // Takes over a new reference (may be null).
    static TPyRef Steal(const TPythonInterface& api, PPyObject object) { return TPyRef(api, object); }
    // Adds a reference to a borrowed object and owns that one.
    static TPyRef Borrow(const TPythonInterface& api, PPyObject object)
    {
        api.Py_XINCREF(object);
        return TPyRef(api, object);
    }

    TPyRef(TPyRef&& other) noexcept : FApi(other.FApi), FObject(std::exchange(other.FObject, nullptr)) {}
    TPyRef& operator=(TPyRef&& other) noexcept
    {
        if (this != &other) {
            Reset();
            FApi = other.FApi;
            FObject = std::exchange(other.FObject, nullptr);
        }
        return *this;
    }
    TPyRef(const TPyRef&) = delete;
    TPyRef& operator=(const TPyRef&) = delete;
    ~TPyRef() { Reset(); }

    PPyObject Get() const { return FObject; }
    PPyObject operator->() const { return FObject; }
    // A further reference for a caller that keeps its own (null stays null).
    [[nodiscard]] PPyObject NewRef() const
    {
        if (FObject)
            FApi->Py_INCREF(FObject);
        return FObject;
    }
    explicit operator bool() const { return FObject != nullptr; }
    // Hands the reference to the caller.
    [[nodiscard]] PPyObject Release() { return std::exchange(FObject, nullptr); }
    void Reset()
    {
        if (FObject)
            FApi->Py_DECREF(std::exchange(FObject, nullptr));
    }

private:
    TPyRef(const TPythonInterface& api, PPyObject object) : FApi(&api), FObject(object) {}

    const TPythonInterface* FApi = nullptr;
    PPyObject FObject = nullptr;
};

} // namespace pybridge
