#ifndef QUILLET_SERVERCLASS_H
#define QUILLET_SERVERCLASS_H

// Server-class machine detection: enough physical memory and more than one physical
// processor package. Every step writes a trace line while _launcher_debug is set.
//
// The decision reads its facts (memory pages, page size, configured processors, processor
// identification) through a MachineFacts table, which defaults to the real sources and can be
// replaced, for example by tests.

#include <cstdint>

// The four result registers of the processor identification instruction.
struct CpuidRegisters {
  uint32_t eax;
  uint32_t ebx;
  uint32_t ecx;
  uint32_t edx;
};

// True when the processor has the identification instruction (always on x86-64; on i386
// when the ID flag of EFLAGS can be toggled; never on other processors).
bool cpuidAvailable();

// The registers that the identification instruction returns for `leaf` (sub-leaf 0). The
// caller must make sure that cpuidAvailable() is true; elsewhere all four are 0.
CpuidRegisters cpuidQuery(uint32_t leaf);

// Where the detection gets its facts. Every member must be set.
struct MachineFacts {
  long (*physicalPages)();        // like sysconf(_SC_PHYS_PAGES); negative = unknown
  long (*pageSize)();             // like sysconf(_SC_PAGESIZE); negative = unknown
  long (*configuredProcessors)(); // like sysconf(_SC_NPROCESSORS_CONF); below 1 = unknown
  // Fills `out` for `leaf` and returns true, or returns false on a processor without the
  // identification instruction.
  bool (*cpuid)(uint32_t leaf, CpuidRegisters *out);
};

// The real sources: sysconf and cpuidQuery.
const MachineFacts &realMachineFacts();

// Makes the detection use a copy of `facts` from now on.
void setMachineFacts(const MachineFacts &facts);

// Makes the detection use the real sources again.
void resetMachineFacts();

// True when physicalMemory() exceeds 0x6FFFFFFF bytes and physicalProcessors() exceeds 1; the
// processors are only counted when the memory test passes.
bool isServerClassMachine();

// Physical memory in bytes: pages times page size, 0 when either is unknown.
uint64_t physicalMemory();

// The configured processors divided by the logical processors per package (when both exceed
// 1; rounded down). A processor count that cannot be read counts as 1.
unsigned physicalProcessors();

// Logical processors per physical package: leaf 1's EBX bits 16 to 23 when
// hyperThreadingSupport() is 1, else 1.
unsigned logicalProcessorsPerPackage();

// 1 hyper-threading supported, -1 not supported, -2 neither family 15 nor an extended
// family (also without the identification instruction), -3 not a "GenuineIntel" processor.
int hyperThreadingSupport();

#endif
