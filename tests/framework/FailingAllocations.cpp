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

// Every other form of new and delete goes through the two above, so that no allocation comes
// from the runtime's own new while its memory goes back through free (the address sanitizer
// replaces all of them and would see new paired with free).
void* operator new[](std::size_t size) {
    return ::operator new(size);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return ::operator new(size, std::nothrow);
}

void operator delete[](void* memory) noexcept {
    ::operator delete(memory);
}

void operator delete[](void* memory, std::size_t) noexcept {
    ::operator delete(memory);
}

void operator delete(void* memory, const std::nothrow_t&) noexcept {
    ::operator delete(memory);
}

void operator delete[](void* memory, const std::nothrow_t&) noexcept {
    ::operator delete(memory);
}
