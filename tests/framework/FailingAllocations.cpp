// The program's replacement of the global allocation functions (see FailingAllocations.h). In
// a file of its own, so that no caller inlines the pairing of new with free.

#include "FailingAllocations.h"

#include <cstdlib>
#include <new>

long g_allocationsBeforeFailure = -1;

void* operator new(std::size_t size) {
    if (g_allocationsBeforeFailure == 0) {
        g_allocationsBeforeFailure = -1;
        throw std::bad_alloc();
    }
    if (g_allocationsBeforeFailure > 0) --g_allocationsBeforeFailure;
    if (void* memory = std::malloc(size != 0 ? size : 1)) return memory;
    throw std::bad_alloc();
}

void operator delete(void* memory) noexcept {
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}
