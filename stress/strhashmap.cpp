// StrHashMap driven by a stream of insertions, look-ups, erasures, clears and walks, against
// std::unordered_map. Entries must keep their address, the table its load and tombstone limits,
// and every value must be destroyed exactly once.

#include <string>
#include <unordered_map>
#include <vector>

#include "stress/StressDriver.h"
#include "support/text/StrHashMap.h"

using vorn::StrView;

namespace {

long liveValues = 0;

struct Tracked {
  int value = 0;
  Tracked() { ++liveValues; }
  ~Tracked() { --liveValues; }
  Tracked(const Tracked &) = delete;
  Tracked &operator=(const Tracked &) = delete;
};

using Map = vorn::StrHashMap<Tracked>;

// Keys from a small pool, so that operations meet the same keys again; some differ only after a
// NUL byte, some collide in the hash (h * 33 + byte: "Ab" and "BA" hash alike).
std::string key(stress::Input &in) {
  static const char *const fixed[] = {"", "a", "b", "Ab", "BA", "component", "x86", "all"};
  switch (in.below(4)) {
  case 0: return in.pick(fixed);
  case 1: return std::string("k\0", 2) + char('a' + in.below(4));
  case 2: return in.text(3, "ab");
  default: return "key" + std::to_string(in.below(200)) + (in.oneIn(8) ? std::string(40, 'z') : "");
  }
}

void checkInvariants(const Map &map, const std::unordered_map<std::string, int> &model) {
  uint32_t b = map.numBuckets();
  STRESS_CHECK(map.size() == model.size(), "size %u, want %zu", map.size(), model.size());
  STRESS_CHECK((b & (b - 1)) == 0, "%u buckets is not a power of two", b);
  if (b) {
    STRESS_CHECK(uint64_t(map.size()) * 4 <= uint64_t(b) * 3, "%u entries in %u buckets", map.size(), b);
    STRESS_CHECK(map.size() + map.numTombstones() < b, "no empty bucket left (%u live, %u tombstones, %u buckets)",
                 map.size(), map.numTombstones(), b);
  }
}

} // namespace

STRESS_TARGET("stress-strhashmap", 1024, 2000, nullptr) {
  static const uint32_t initial[] = {0, 0, 1, 2, 16, 64, 3, 100};
  {
    Map map(in.pick(initial));
    std::unordered_map<std::string, int> model;
    std::unordered_map<std::string, Map::Entry *> where;
    int next = 1;
    while (!in.exhausted()) {
      std::string k = key(in);
      StrView kv(k);
      switch (in.below(10)) {
      case 0:
      case 1:
      case 2: { // insert
        Map::InsertResult r = map.insert(kv);
        bool fresh = model.find(k) == model.end();
        STRESS_CHECK(r.inserted == fresh, "insert of a key %s", fresh ? "not there" : "already there");
        STRESS_CHECK(r.entry->key().sameText(kv) && r.entry->key().data()[k.size()] == '\0',
                     "the entry holds another key");
        if (fresh) {
          STRESS_CHECK(r.entry->value.value == 0, "a new value is not value-initialised");
          r.entry->value.value = next;
          model[k] = next++;
          where[k] = r.entry;
        } else {
          STRESS_CHECK(r.entry == where[k], "an entry moved");
        }
        uint32_t b = map.numBuckets();
        STRESS_CHECK(map.size() + map.numTombstones() + b / 8 < b,
                     "after an insertion: %u live, %u tombstones, %u buckets", map.size(),
                     map.numTombstones(), b);
        break;
      }
      case 3: { // operator[]
        Tracked &v = map[kv];
        if (model.find(k) == model.end()) {
          model[k] = 0;
          where[k] = map.find(kv);
        }
        STRESS_CHECK(v.value == model[k], "operator[] gave %d, want %d", v.value, model[k]);
        break;
      }
      case 4:
      case 5: { // find and contains
        Map::Entry *e = map.find(kv);
        auto m = model.find(k);
        STRESS_CHECK((e != nullptr) == (m != model.end()) && map.contains(kv) == (e != nullptr),
                     "find and the model disagree on a key of %zu bytes", k.size());
        if (e) STRESS_CHECK(e == where[k] && e->value.value == m->second, "find gave another entry");
        break;
      }
      case 6: { // erase by key
        bool had = model.erase(k) > 0;
        where.erase(k);
        STRESS_CHECK(map.erase(kv) == had, "erase answered %d", int(!had));
        break;
      }
      case 7: { // erase by entry
        if (model.empty()) break;
        auto victim = where.begin();
        std::advance(victim, in.below(uint32_t(where.size())));
        map.erase(victim->second);
        model.erase(victim->first);
        where.erase(victim);
        break;
      }
      case 8: { // walk: every live entry once, erasing some on the way
        size_t seen = 0;
        bool eraseSome = in.coin();
        for (auto it = map.begin(); it != map.end();) {
          Map::Entry &e = *it;
          std::string ek = e.key().str();
          auto m = model.find(ek);
          STRESS_CHECK(m != model.end() && m->second == e.value.value && where[ek] == &e,
                       "the walk met an entry the model does not have");
          ++seen;
          ++it;
          if (eraseSome && (e.value.value & 1)) {
            map.erase(&e);
            model.erase(ek);
            where.erase(ek);
          }
        }
        STRESS_CHECK(eraseSome || seen == model.size(), "the walk met %zu entries, want %zu", seen,
                     model.size());
        break;
      }
      default:
        if (in.oneIn(8)) {
          map.clear();
          model.clear();
          where.clear();
          STRESS_CHECK(map.numTombstones() == 0, "tombstones after clear");
        }
        break;
      }
      checkInvariants(map, model);
    }
    STRESS_CHECK(liveValues == long(model.size()), "%ld values alive for %zu entries", liveValues,
                 model.size());
  }
  STRESS_CHECK(liveValues == 0, "%ld values outlived their map", liveValues);
}
