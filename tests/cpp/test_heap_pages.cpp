// The heap settings the engine relies on to keep a long run's resident memory near what it
// holds. Both are glibc calls; where the C library is another, or a sanitizer stands in for
// malloc, there is nothing to check.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "check.hpp"
#include "core/session/heap_pages.hpp"

#if defined(__GLIBC__) && defined(__linux__) && !defined(__SANITIZE_ADDRESS__)
#include <malloc.h>
#include <unistd.h>

namespace {

// Touches every page, so the buffer is resident and the compiler keeps the allocation.
void* touched(std::size_t bytes) {
    auto* buffer = static_cast<volatile char*>(std::malloc(bytes));
    for (std::size_t at = 0; at < bytes; at += 4096) buffer[at] = 1;
    return const_cast<char*>(buffer);
}

std::size_t resident_bytes() {
    long pages = 0, resident = 0;
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr) return 0;
    if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(statm);
    return static_cast<std::size_t>(resident) * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

}  // namespace

TEST("a buffer of a megabyte is mapped apart from the heap even after a larger one was freed") {
    gridfold::pf::keep_large_buffers_out_of_the_heap();
    // Left to itself, glibc raises its threshold for mapped buffers to the size of the last one
    // freed, and the next megabyte would come from the heap and stay there.
    std::free(touched(8 << 20));
    const std::size_t mapped_before = mallinfo2().hblkhd;
    void* megabyte = touched(1 << 20);
    CHECK(mallinfo2().hblkhd >= mapped_before + (1 << 20));
    std::free(megabyte);
}

TEST("returning free heap pages lowers the resident memory a freed case left in the heap") {
    // 32 MiB of small allocations, as a case's names and index tables are, with the last one kept
    // so the heap cannot shrink from its top by itself.
    std::vector<void*> small;
    for (int i = 0; i < 32 * 1024; ++i) small.push_back(touched(1000));
    for (std::size_t i = 0; i + 1 < small.size(); ++i) std::free(small[i]);
    const std::size_t held = resident_bytes();
    gridfold::pf::return_free_heap_pages();
    CHECK(resident_bytes() + (16 << 20) < held);
    std::free(small.back());
}

#endif
