// Replaces every form of operator new and delete of a test program with ones that take
// their blocks from malloc, give them back with free, and report each allocation to
// countAllocation(), which the program defines. Include it in exactly one source file
// of a test program: replacement allocation functions are defined once per program.
#pragma once

#include <cstdlib>
#include <new>

// Called on every allocation, on the allocating thread, before the block is taken.
void countAllocation();

namespace kelvatone::testsupport {

inline void* allocate(std::size_t size) {
    countAllocation();
    if (void* block = std::malloc(size == 0 ? 1 : size))
        return block;
    throw std::bad_alloc();
}

inline void* allocateOrNull(std::size_t size) noexcept {
    try {
        return allocate(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

} // namespace kelvatone::testsupport

void* operator new(std::size_t size) {
    return kelvatone::testsupport::allocate(size);
}
void* operator new[](std::size_t size) {
    return kelvatone::testsupport::allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return kelvatone::testsupport::allocateOrNull(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return kelvatone::testsupport::allocateOrNull(size);
}
void operator delete(void* block) noexcept {
    std::free(block);
}
void operator delete[](void* block) noexcept {
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    std::free(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
    std::free(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
    std::free(block);
}
