#pragma once
// Pages of memory whose access the program sets itself: never writable and
// executable at once is the caller's rule; these only carry it out.
#include <cstddef>

namespace platform {

enum class PageAccess { None, ReadWrite, ReadExecute };

// Reserves size bytes of inaccessible pages; null on failure, with errno in *error.
void* ReservePages(std::size_t size, int* error);
// Changes the access of whole pages; false on failure, with errno in *error.
bool SetPageAccess(void* at, std::size_t size, PageAccess access, int* error);
// Makes freshly written machine code visible to instruction fetch.
void FlushInstructionCache(void* at, std::size_t size);
void ReleasePages(void* at, std::size_t size);

} // namespace platform
