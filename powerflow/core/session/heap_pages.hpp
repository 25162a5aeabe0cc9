// How the process's heap gives memory back to the system: large cases come and go in a
// run (reads, saves, solver problems), and without these the resident memory would stay
// at the highest it has been.
#pragma once

namespace gridfold::pf {

// Large buffers (case texts, element vectors of a large case) are given back to the system
// when freed instead of staying in the heap. The C library otherwise raises its threshold
// for such buffers after the first one is freed, and the heap then grows by every case read
// and written: a merge of a 10,000-bus case held some 20 MB more at its peak for it. Called
// when the engine is initialised; a no-op where the C library has no such setting.
void keep_large_buffers_out_of_the_heap();

// Gives the free pages of the heap back to the system. A case freed leaves its many small
// allocations (names, identifiers, index tables) spread over the heap, whose pages the C
// library keeps for later allocations; the process's resident memory then stays as high as
// if the case were still held. Called before a large read (caspy.Savecase, psspy.case) and
// before the solver builds a new problem, so that neither adds to pages the heap keeps idle;
// a no-op where the C library has no such call.
void return_free_heap_pages();

}  // namespace gridfold::pf
