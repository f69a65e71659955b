#pragma once
// The message of the registry error a call throws, or "(no error)".
#include "platform/Registry.h"

#include <QString>
#include <functional>

inline QString ErrorOf(const std::function<void()>& call)
{
    try {
        call();
    } catch (const platform::ERegistryException& e) {
        return e.Message();
    }
    return QStringLiteral("(no error)");
}
