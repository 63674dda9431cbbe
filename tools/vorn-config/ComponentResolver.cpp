#include "tools/vorn-config/ComponentCatalogue.h"

#include <cstdlib>

#include "support/streams/StdStreams.h"
#include "support/text/StrHashMap.h"

namespace vorn {

namespace {

using RecordMap = StrHashMap<const ComponentRecord *>;

struct Resolution {
  const RecordMap &byName;
  // Indexed by catalogue position: a record's place in the table is its identity.
  InlineVector<unsigned char, 64> &visited;
  NameList &libraries;
  bool alsoUninstalled;

  // Post-order walk: a library is appended after everything it requires.
  void visit(StrView name) {
    const ComponentRecord *record = byName.find(name)->value;
    unsigned char &seen = visited[size_t(record - componentCatalogue)];
    if (seen) return;
    seen = 1;
    if (!record->inInstall && !alsoUninstalled) return;
    for (const char *const *req = record->requiredNames; *req; ++req) visit(StrView(*req));
    if (record->libraryFile) libraries.push_back(StrView(record->libraryFile));
  }
};

} // namespace

void resolveComponentLibraries(const NameList &names, NameList &libraries, bool alsoUninstalled) {
  RecordMap byName;
  for (uint32_t i = 0; i < componentCount; ++i)
    byName.insert(StrView(componentCatalogue[i].name)).entry->value = &componentCatalogue[i];

  InlineVector<unsigned char, 64> visited;
  visited.resize(componentCount);
  Resolution walk{byName, visited, libraries, alsoUninstalled};
  InlineString<64> lowered;
  for (StrView name : names) {
    lowered.clear();
    for (char c : name) lowered.push_back(c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c);
    if (!byName.contains(lowered.view())) {
      stderrStream() << "vorn-config: unknown component name: " << name << '\n';
      std::exit(1);
    }
    walk.visit(lowered.view());
  }

  // Reversing the post-order puts every library before the ones it depends on, the order a
  // single-pass static linker needs.
  StrView *lo = libraries.begin(), *hi = libraries.end();
  while (lo < hi && lo < --hi) {
    StrView t = *lo;
    *lo++ = *hi;
    *hi = t;
  }
}

} // namespace vorn
