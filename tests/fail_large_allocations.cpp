// Loaded into the program under test with LD_PRELOAD, makes every allocation
// of PCM_ENCODER_TEST_FAILED_ALLOCATION bytes or more fail with
// std::bad_alloc, as a memory limit would, and leaves smaller ones be.
#include <cstdint>
#include <cstdlib>
#include <new>

namespace {

std::size_t SmallestFailed() {
    static const std::size_t smallest = [] {
        const char* bytes = std::getenv("PCM_ENCODER_TEST_FAILED_ALLOCATION");
        return bytes ? static_cast<std::size_t>(std::strtoull(bytes, nullptr, 10)) : SIZE_MAX;
    }();
    return smallest;
}

}  // namespace

void* operator new(std::size_t size) {
    void* memory = size < SmallestFailed() ? std::malloc(size == 0 ? 1 : size) : nullptr;
    if (!memory) throw std::bad_alloc();
    return memory;
}

void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
