#include "launcher/serverclass.h"

#include <unistd.h>

#include <cstring>

#include "launcher/launcher.h"

namespace {

long sysPhysicalPages() { return sysconf(_SC_PHYS_PAGES); }
long sysPageSize() { return sysconf(_SC_PAGESIZE); }
long sysConfiguredProcessors() { return sysconf(_SC_NPROCESSORS_CONF); }

bool realCpuid(uint32_t leaf, CpuidRegisters *out) {
  if (!cpuidAvailable())
    return false;
  *out = cpuidQuery(leaf);
  return true;
}

const MachineFacts kRealFacts = {sysPhysicalPages, sysPageSize, sysConfiguredProcessors, realCpuid};
MachineFacts facts = kRealFacts;

const uint64_t kServerClassMemory = 0x70000000ull;
const uint32_t kHyperThreadingBit = 1u << 28;

} // namespace

bool cpuidAvailable() {
#if defined(__x86_64__)
  return true;
#elif defined(__i386__)
  // Processors before the identification instruction cannot toggle EFLAGS bit 21 (ID).
  uint32_t before, after;
  __asm__ volatile("pushfl\n\t"
                   "popl %0\n\t"
                   "movl %0, %1\n\t"
                   "xorl $0x200000, %1\n\t"
                   "pushl %1\n\t"
                   "popfl\n\t"
                   "pushfl\n\t"
                   "popl %1\n\t"
                   "pushl %0\n\t"
                   "popfl"
                   : "=&r"(before), "=&r"(after)
                   :
                   : "cc");
  return ((before ^ after) & 0x200000) != 0;
#else
  return false;
#endif
}

CpuidRegisters cpuidQuery(uint32_t leaf) {
  CpuidRegisters r = {0, 0, 0, 0};
#if defined(__i386__)
  // EBX may hold the GOT pointer in position-independent code, so the instruction's EBX
  // result is swapped out through another register and EBX is restored.
  __asm__ volatile("xchgl %%ebx, %1\n\t"
                   "cpuid\n\t"
                   "xchgl %%ebx, %1"
                   : "=a"(r.eax), "=&r"(r.ebx), "=c"(r.ecx), "=d"(r.edx)
                   : "a"(leaf), "c"(0));
#elif defined(__x86_64__)
  uint64_t rbx;
  __asm__ volatile("xchgq %%rbx, %1\n\t"
                   "cpuid\n\t"
                   "xchgq %%rbx, %1"
                   : "=a"(r.eax), "=&r"(rbx), "=c"(r.ecx), "=d"(r.edx)
                   : "a"(leaf), "c"(0));
  r.ebx = static_cast<uint32_t>(rbx);
#else
  (void)leaf;
#endif
  return r;
}

const MachineFacts &realMachineFacts() { return kRealFacts; }

void setMachineFacts(const MachineFacts &replacement) { facts = replacement; }

void resetMachineFacts() { facts = kRealFacts; }

bool isServerClassMachine() {
  bool result = physicalMemory() >= kServerClassMemory && physicalProcessors() > 1;
  trace("linux_i386_ServerClassMachine: %s\n", result ? "true" : "false");
  return result;
}

uint64_t physicalMemory() {
  int64_t pages = facts.physicalPages();
  int64_t pageSize = facts.pageSize();
  // A failed query (-1) would otherwise wrap into an enormous byte count.
  uint64_t bytes = pages < 0 || pageSize < 0
                       ? 0
                       : static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize);
  trace("pages: %llu  page_size: %llu  physical memory: %llu (%.3fGB)\n",
        static_cast<unsigned long long>(pages), static_cast<unsigned long long>(pageSize),
        static_cast<unsigned long long>(bytes),
        static_cast<double>(bytes) / (1024.0 * 1024.0 * 1024.0));
  return bytes;
}

unsigned physicalProcessors() {
  long configured = facts.configuredProcessors();
  trace("sysconf(_SC_NPROCESSORS_CONF): %lu\n", static_cast<unsigned long>(configured));
  unsigned n = configured < 1 ? 1u : static_cast<unsigned>(configured);
  if (n > 1) {
    unsigned perPackage = logicalProcessorsPerPackage();
    if (perPackage > 1)
      n /= perPackage;
  }
  trace("physical processors: %lu\n", static_cast<unsigned long>(n));
  return n;
}

unsigned logicalProcessorsPerPackage() {
  unsigned result = 1;
  CpuidRegisters leaf1;
  if (hyperThreadingSupport() == 1 && facts.cpuid(1, &leaf1))
    result = (leaf1.ebx >> 16) & 0xFF;
  trace("logical processors per package: %u\n", result);
  return result;
}

int hyperThreadingSupport() {
  CpuidRegisters leaf0, leaf1;
  if (!facts.cpuid(0, &leaf0) || !facts.cpuid(1, &leaf1)) {
    trace("not Pentium 4 or extended\n");
    return -2;
  }

  char vendor[12];
  memcpy(vendor, &leaf0.ebx, 4);
  memcpy(vendor + 4, &leaf0.edx, 4);
  memcpy(vendor + 8, &leaf0.ecx, 4);
  trace("vendor: %c %c %c %c %c %c %c %c %c %c %c %c \n", vendor[0], vendor[1], vendor[2],
        vendor[3], vendor[4], vendor[5], vendor[6], vendor[7], vendor[8], vendor[9], vendor[10],
        vendor[11]);
  trace("value_of_eax: 0x%x  value_of_edx: 0x%x\n", leaf1.eax, leaf1.edx);

  unsigned family = (leaf1.eax >> 8) & 0xF;
  unsigned extendedFamily = (leaf1.eax >> 20) & 0xF;
  if (family != 15 && extendedFamily == 0) {
    trace("not Pentium 4 or extended\n");
    return -2;
  }
  if (memcmp(vendor, "GenuineIntel", 12) != 0) {
    trace("Not GenuineIntel\n");
    return -3;
  }
  if (leaf1.edx & kHyperThreadingBit) {
    trace("Hyperthreading supported\n");
    return 1;
  }
  trace("Hyperthreading not supported\n");
  return -1;
}
