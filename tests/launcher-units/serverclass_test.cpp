// Server-class detection: the decision on chosen machine facts, and the real sources checked
// against independent readings (the compiler's own cpuid helper, /proc).

#include <cpuid.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "launcher/launcher.h"
#include "launcher/serverclass.h"
#include "tests/common/TestSupport.h"
#include "tests/launcher-units/fake_machine.h"
#include "tests/launcher/harness.h"

namespace {

using units::Outcome;

class ServerClassTest : public ::testing::Test {
protected:
  void SetUp() override {
    _launcher_debug = 0;
    machine_.install();
  }
  void TearDown() override {
    units::FakeMachine::uninstall();
    _launcher_debug = 0;
  }

  // Memory of exactly `bytes`, as 4 KiB pages when it divides evenly.
  void setMemory(unsigned long long bytes) {
    if (bytes % 4096 == 0) {
      machine_.pages = static_cast<long>(bytes / 4096);
      machine_.pageSize = 4096;
    } else {
      machine_.pages = static_cast<long>(bytes);
      machine_.pageSize = 1;
    }
  }

  // Asks for the verdict with the traces on and returns them.
  std::string tracedVerdict(bool *verdict) {
    _launcher_debug = 1;
    Outcome o = units::capture(dir_.path(), [&] { *verdict = isServerClassMachine(); });
    _launcher_debug = 0;
    EXPECT_EQ(o.err, "");
    return o.out;
  }

  units::TempDir dir_;
  units::FakeMachine machine_;
};

TEST_F(ServerClassTest, MemoryThresholdIs1792MiBAndGatesTheProcessorCount) {
  machine_.processors = 2;
  setMemory(0x70000000ull);
  EXPECT_TRUE(isServerClassMachine());
  EXPECT_EQ(machine_.processorQuestions, 1);

  machine_.processorQuestions = 0;
  machine_.cpuidQuestions = 0;
  setMemory(0x6FFFFFFFull);
  EXPECT_EQ(physicalMemory(), 0x6FFFFFFFull);
  EXPECT_FALSE(isServerClassMachine());
  EXPECT_EQ(machine_.processorQuestions, 0) << "processors counted although memory was short";
  EXPECT_EQ(machine_.cpuidQuestions, 0);

  // Memory beyond what 32 bits can count must not wrap: 4 GiB and 24 GiB.
  setMemory(0x100000000ull);
  EXPECT_EQ(physicalMemory(), 0x100000000ull);
  EXPECT_TRUE(isServerClassMachine());
  setMemory(24ull << 30);
  EXPECT_EQ(physicalMemory(), 24ull << 30);

  // A query that fails (-1) means unknown memory, not an enormous amount.
  machine_.pages = -1;
  EXPECT_EQ(physicalMemory(), 0u);
  EXPECT_FALSE(isServerClassMachine());
  machine_.pages = 0x100000;
  machine_.pageSize = -1;
  EXPECT_FALSE(isServerClassMachine());
}

TEST_F(ServerClassTest, HyperThreadingDividesTheConfiguredProcessors) {
  setMemory(4ull << 30);

  machine_.setProcessor("GenuineIntel", 15, 0, true, 2);
  machine_.processors = 4;
  EXPECT_EQ(hyperThreadingSupport(), 1);
  EXPECT_EQ(logicalProcessorsPerPackage(), 2u);
  EXPECT_EQ(physicalProcessors(), 2u);
  EXPECT_TRUE(isServerClassMachine());

  machine_.processors = 2;
  machine_.setProcessor("GenuineIntel", 15, 0, true, 4);
  EXPECT_EQ(physicalProcessors(), 0u);
  EXPECT_FALSE(isServerClassMachine());

  // Rounded down: 6 logical processors in packages of 4.
  machine_.processors = 6;
  EXPECT_EQ(physicalProcessors(), 1u);

  // The whole byte counts: packages of 16 and of 255.
  machine_.setProcessor("GenuineIntel", 15, 0, true, 16);
  machine_.processors = 32;
  EXPECT_EQ(logicalProcessorsPerPackage(), 16u);
  EXPECT_EQ(physicalProcessors(), 2u);
  machine_.setProcessor("GenuineIntel", 15, 0, true, 255);
  machine_.processors = 510;
  EXPECT_EQ(physicalProcessors(), 2u);

  // A count of 0 or 1 per package leaves the processors as they are.
  machine_.setProcessor("GenuineIntel", 15, 0, true, 0);
  machine_.processors = 3;
  EXPECT_EQ(physicalProcessors(), 3u);

  // One configured processor: the package size is not asked for.
  machine_.setProcessor("GenuineIntel", 15, 0, true, 2);
  machine_.processors = 1;
  machine_.cpuidQuestions = 0;
  EXPECT_EQ(physicalProcessors(), 1u);
  EXPECT_EQ(machine_.cpuidQuestions, 0);

  // An unreadable processor count counts as one processor.
  machine_.processors = -1;
  EXPECT_EQ(physicalProcessors(), 1u);
}

TEST_F(ServerClassTest, OnlyReportingProcessorsHaveSeveralLogicalPerPackage) {
  struct Case {
    const char *vendor;
    unsigned family, extended;
    bool ht;
    int support;
    unsigned perPackage;
  } cases[] = {
      {"GenuineIntel", 15, 0, true, 1, 4}, {"GenuineIntel", 15, 0, false, -1, 1},
      {"GenuineIntel", 6, 0, true, -2, 1}, {"GenuineIntel", 6, 1, true, 1, 4},
      {"GenuineIntel", 15, 3, true, 1, 4}, {"QuorvexChips", 15, 8, true, -3, 1},
      {"QuorvexChips", 6, 0, true, -2, 1}, {"GenuineIntem", 15, 0, true, -3, 1},
  };
  machine_.processors = 8;
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.vendor) + " family " + std::to_string(c.family) + " ext " +
                 std::to_string(c.extended) + (c.ht ? " ht" : ""));
    machine_.setProcessor(c.vendor, c.family, c.extended, c.ht, 4);
    EXPECT_EQ(hyperThreadingSupport(), c.support);
    EXPECT_EQ(logicalProcessorsPerPackage(), c.perPackage);
    EXPECT_EQ(physicalProcessors(), 8u / c.perPackage);
  }

  // A processor without the identification instruction reports nothing.
  machine_.hasCpuid = false;
  EXPECT_EQ(hyperThreadingSupport(), -2);
  EXPECT_EQ(logicalProcessorsPerPackage(), 1u);
  EXPECT_EQ(physicalProcessors(), 8u);
}

TEST_F(ServerClassTest, EveryStepIsTraced) {
  setMemory(0x80000000ull);
  machine_.processors = 4;
  machine_.setProcessor("GenuineIntel", 15, 0, true, 2);
  bool verdict = false;
  std::string out = tracedVerdict(&verdict);
  EXPECT_TRUE(verdict);
  char leaf1[64];
  snprintf(leaf1, sizeof leaf1, "value_of_eax: 0x%x  value_of_edx: 0x%x\n", machine_.leaf1.eax,
           machine_.leaf1.edx);
  EXPECT_EQ(out, "pages: 524288  page_size: 4096  physical memory: 2147483648 (2.000GB)\n"
                 "sysconf(_SC_NPROCESSORS_CONF): 4\n"
                 "vendor: G e n u i n e I n t e l \n" +
                     std::string(leaf1) +
                     "Hyperthreading supported\n"
                     "logical processors per package: 2\n"
                     "physical processors: 2\n"
                     "linux_i386_ServerClassMachine: true\n");

  // Another vendor, an old family, no hyper-threading: each has its own line.
  machine_.setProcessor("QuorvexChips", 15, 8, true, 2);
  out = tracedVerdict(&verdict);
  EXPECT_NE(out.find("vendor: Q u o r v e x C h i p s \nvalue_of_eax: 0x800f21  value_of_edx: "
                     "0x10000001\nNot GenuineIntel\nlogical processors per package: 1\n"),
            std::string::npos)
      << out;
  machine_.setProcessor("GenuineIntel", 6, 0, true, 2);
  out = tracedVerdict(&verdict);
  EXPECT_NE(out.find("0x10000001\nnot Pentium 4 or extended\nlogical processors per package: 1\n"),
            std::string::npos)
      << out;
  machine_.setProcessor("GenuineIntel", 15, 0, false, 2);
  out = tracedVerdict(&verdict);
  EXPECT_NE(out.find("0x1\nHyperthreading not supported\nlogical processors per package: 1\n"),
            std::string::npos)
      << out;

  // Short memory: one line for the memory and the verdict.
  setMemory(0x6FFFF000ull);
  out = tracedVerdict(&verdict);
  EXPECT_FALSE(verdict);
  EXPECT_EQ(out, "pages: 458751  page_size: 4096  physical memory: 1879044096 (1.750GB)\n"
                 "linux_i386_ServerClassMachine: false\n");

  // A failed query shows the value as sysconf gave it, widened with its sign.
  machine_.pages = -1;
  out = tracedVerdict(&verdict);
  EXPECT_EQ(out, "pages: 18446744073709551615  page_size: 4096  physical memory: 0 (0.000GB)\n"
                 "linux_i386_ServerClassMachine: false\n");

  // Without traces nothing is written.
  Outcome o = units::capture(dir_.path(), [&] { isServerClassMachine(); });
  EXPECT_EQ(o.out, "");
}

// ---------------------------------------------------------------------------------------------
// The real sources

std::string procField(const char *file, const std::string &field) {
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    if (line.compare(0, field.size(), field) == 0) {
      size_t colon = line.find(':');
      if (colon == std::string::npos)
        continue;
      size_t start = line.find_first_not_of(" \t", colon + 1);
      return start == std::string::npos ? "" : line.substr(start);
    }
  }
  return "";
}

TEST(RealMachine, CpuidAgreesWithTheCompilersHelperAndProc) {
  units::FakeMachine::uninstall();
  ASSERT_TRUE(cpuidAvailable());
  unsigned a, b, c, d;
  ASSERT_NE(__get_cpuid(0, &a, &b, &c, &d), 0);
  // Called repeatedly: a clobbered base register would corrupt this frame or the GOT access.
  for (int i = 0; i < 100; ++i) {
    CpuidRegisters r = cpuidQuery(0);
    ASSERT_EQ(r.eax, a);
    ASSERT_EQ(r.ebx, b);
    ASSERT_EQ(r.ecx, c);
    ASSERT_EQ(r.edx, d);
  }
  char vendor[13] = {};
  memcpy(vendor, &b, 4);
  memcpy(vendor + 4, &d, 4);
  memcpy(vendor + 8, &c, 4);
  std::string procVendor = procField("/proc/cpuinfo", "vendor_id");
  if (!procVendor.empty()) {
    EXPECT_EQ(procVendor, vendor);
  }

  ASSERT_NE(__get_cpuid(1, &a, &b, &c, &d), 0);
  CpuidRegisters r = cpuidQuery(1);
  EXPECT_EQ(r.eax, a);
  // Bits 24 to 31 of EBX are the APIC id of whichever processor ran the instruction.
  EXPECT_EQ(r.ebx & 0x00FFFFFF, b & 0x00FFFFFF);
  EXPECT_EQ(r.edx, d);

  CpuidRegisters viaFacts;
  ASSERT_TRUE(realMachineFacts().cpuid(1, &viaFacts));
  EXPECT_EQ(viaFacts.eax, a);

  // The verdict on the real machine follows from its own facts.
  int support = hyperThreadingSupport();
  bool intel = strcmp(vendor, "GenuineIntel") == 0;
  unsigned family = (a >> 8) & 0xF, extended = (a >> 20) & 0xF;
  int expected = family != 15 && extended == 0 ? -2 : !intel ? -3 : (d & (1u << 28)) ? 1 : -1;
  EXPECT_EQ(support, expected);
}

TEST(RealMachine, PhysicalMemoryMatchesProcMeminfo) {
  units::FakeMachine::uninstall();
  std::string total = procField("/proc/meminfo", "MemTotal");
  if (total.empty())
    GTEST_SKIP() << "no /proc/meminfo";
  unsigned long long kib = std::stoull(total);
  unsigned long long bytes = physicalMemory();
  EXPECT_EQ(isServerClassMachine(), bytes >= 0x70000000ull && physicalProcessors() > 1);
  // Both come from the kernel's count of usable pages. A real kernel scales sysinfo's counts
  // for a 32-bit program until they fit; a user-mode emulator hands on the host's counts cut
  // to 32 bits, which is wrong from 4 GiB on.
  if (kib * 1024 >= (1ull << 32))
    VORN_SKIP_UNDER_EMULATION("the emulator cuts sysinfo's memory size to 32 bits");
  EXPECT_EQ(bytes, kib * 1024) << "MemTotal: " << total;
}

} // namespace
