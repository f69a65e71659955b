#include "platform/ExecutableMemory.h"

#include <cerrno>
#include <sys/mman.h>

namespace platform {

void* ReservePages(std::size_t size, int* error)
{
    void* area = mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (area != MAP_FAILED)
        return area;
    if (error)
        *error = errno;
    return nullptr;
}

bool SetPageAccess(void* at, std::size_t size, PageAccess access, int* error)
{
    int protection = PROT_NONE;
    if (access == PageAccess::ReadWrite)
        protection = PROT_READ | PROT_WRITE;
    else if (access == PageAccess::ReadExecute)
        protection = PROT_READ | PROT_EXEC;
    if (mprotect(at, size, protection) == 0)
        return true;
    if (error)
        *error = errno;
    return false;
}

void FlushInstructionCache(void* at, std::size_t size)
{
    char* begin = static_cast<char*>(at);
    __builtin___clear_cache(begin, begin + size);
}

void ReleasePages(void* at, std::size_t size) { munmap(at, size); }

} // namespace platform
