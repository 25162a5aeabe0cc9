#include "core/session/heap_pages.hpp"

// Any C library header defines __GLIBC__ where the C library is glibc; without one the
// checks below would always be false and both calls silently do nothing.
#include <cstdlib>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace gridfold::pf {

void keep_large_buffers_out_of_the_heap() {
#if defined(__GLIBC__)
    // Setting the threshold also turns off its automatic raising.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
#endif
}

void return_free_heap_pages() {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

}  // namespace gridfold::pf
