#ifndef QUILLET_TESTS_UNITS_ORU_ALLOCATOR_H
#define QUILLET_TESTS_UNITS_ORU_ALLOCATOR_H

// The unit tests link the launcher's phases without liboru: oru_allocator.cpp stands in for its
// allocator and counts the blocks, so that the tests can find leaks.

// The number of blocks from the stand-in allocator not yet freed.
long oruLiveBlocks();

#endif
