#ifndef QUILLET_TESTS_UNITS_FAKE_MACHINE_H
#define QUILLET_TESTS_UNITS_FAKE_MACHINE_H

// A machine with chosen facts for the server-class detection, counting every question asked.
// Install one with FakeMachine::install(); uninstall() brings the real sources back.

#include <cstring>

#include "launcher/serverclass.h"

namespace units {

struct FakeMachine {
  long pages = 0x40000; // 1 GiB in 4 KiB pages: not server class
  long pageSize = 4096;
  long processors = 1;
  bool hasCpuid = true;
  CpuidRegisters leaf0 = {0, 0, 0, 0};
  CpuidRegisters leaf1 = {0, 0, 0, 0};

  int memoryQuestions = 0;
  int processorQuestions = 0;
  int cpuidQuestions = 0;

  // Leaf 0 reports `vendor` (12 characters); leaf 1 the given family bits and features.
  void setProcessor(const char *vendor, unsigned family, unsigned extendedFamily,
                    bool hyperThreading, unsigned logicalPerPackage) {
    leaf0.eax = 1;
    memcpy(&leaf0.ebx, vendor, 4);
    memcpy(&leaf0.edx, vendor + 4, 4);
    memcpy(&leaf0.ecx, vendor + 8, 4);
    leaf1.eax = (extendedFamily & 0xFF) << 20 | (family & 0xF) << 8 | 0x21;
    leaf1.ebx = (logicalPerPackage & 0xFF) << 16 | 0x0800;
    leaf1.ecx = 0;
    leaf1.edx = hyperThreading ? (1u << 28) | 0x1 : 0x1;
  }

  static FakeMachine *&current() {
    static FakeMachine *machine = nullptr;
    return machine;
  }

  void install() {
    current() = this;
    MachineFacts facts = {
        [] {
          ++current()->memoryQuestions;
          return current()->pages;
        },
        [] {
          ++current()->memoryQuestions;
          return current()->pageSize;
        },
        [] {
          ++current()->processorQuestions;
          return current()->processors;
        },
        [](uint32_t leaf, CpuidRegisters *out) {
          FakeMachine *m = current();
          ++m->cpuidQuestions;
          if (!m->hasCpuid)
            return false;
          *out = leaf == 0 ? m->leaf0 : leaf == 1 ? m->leaf1 : CpuidRegisters{0, 0, 0, 0};
          return true;
        },
    };
    setMachineFacts(facts);
  }

  static void uninstall() {
    resetMachineFacts();
    current() = nullptr;
  }
};

} // namespace units

#endif
