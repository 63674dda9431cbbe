// The pieces of the launcher's main flow that stand alone: environment entry removal, the VM
// thread runner and loading the VM library.

#include <dlfcn.h>
#include <pthread.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "launcher/launch.h"
#include "launcher/launcher.h"
#include "tests/launcher/harness.h"

extern char **environ;

namespace {

// Replaces the process environment by a private array for the life of the object.
class PrivateEnvironment {
public:
  explicit PrivateEnvironment(const std::vector<std::string> &entries) : texts_(entries) {
    for (std::string &t : texts_)
      array_.push_back(&t[0]);
    array_.push_back(nullptr);
    // A guard entry after the terminator shows whether removal reads or moves past it.
    array_.push_back(guard_);
    saved_ = environ;
    environ = array_.data();
  }
  ~PrivateEnvironment() { environ = saved_; }

  std::vector<std::string> current() const {
    std::vector<std::string> v;
    for (char **p = environ; *p; ++p)
      v.push_back(*p);
    return v;
  }
  size_t terminatorIndex() const {
    size_t i = 0;
    while (environ[i])
      ++i;
    return i;
  }
  bool guardIntact() const { return array_.back() == guard_; }

private:
  std::vector<std::string> texts_;
  std::vector<char *> array_;
  char **saved_;
  char guard_[6] = "GUARD";
};

TEST(RemoveEnvEntry, RefusesNamesThatCannotBeEntries) {
  PrivateEnvironment env({"A=1", "B=2"});
  EXPECT_EQ(removeEnvEntry(nullptr), -1);
  EXPECT_EQ(removeEnvEntry(""), -1);
  EXPECT_EQ(removeEnvEntry("A=1"), -1);
  EXPECT_EQ(removeEnvEntry("="), -1);
  EXPECT_EQ(env.current(), (std::vector<std::string>{"A=1", "B=2"}));
}

TEST(RemoveEnvEntry, AgreesWithAListModelOnRandomRemovals) {
  const unsigned seed = 4242;
  std::mt19937 random(seed);
  const char *names[] = {"A", "AB", "B", "_TESK_VERSION_SET", "C"};
  for (int round = 0; round < 2000; ++round) {
    std::vector<std::string> model;
    int n = int(random() % 7);
    for (int i = 0; i < n; ++i)
      model.push_back(std::string(names[random() % 5]) + "=" + std::to_string(i));
    PrivateEnvironment env(model);
    for (int step = 0; step < 4; ++step) {
      std::string name = names[random() % 5];
      for (size_t i = 0; i < model.size(); ++i) {
        if (model[i].compare(0, name.size() + 1, name + "=") == 0) {
          model.erase(model.begin() + long(i));
          break;
        }
      }
      ASSERT_EQ(removeEnvEntry(name.c_str()), 0);
      ASSERT_EQ(env.current(), model) << "seed " << seed << ", round " << round;
      ASSERT_EQ(env.terminatorIndex(), model.size());
      ASSERT_TRUE(env.guardIntact());
    }
  }
}

// What a thread run by runInNewThread saw of itself.
struct Seen {
  pthread_t self;
  size_t stackSize;
  int result;
};

int recordThread(void *p) {
  Seen *seen = static_cast<Seen *>(p);
  seen->self = pthread_self();
  pthread_attr_t attr;
  seen->stackSize = 0;
  if (pthread_getattr_np(pthread_self(), &attr) == 0) {
    pthread_attr_getstacksize(&attr, &seen->stackSize);
    pthread_attr_destroy(&attr);
  }
  return seen->result;
}

size_t stackOfNewThread(int64_t requested) {
  Seen seen = {};
  runInNewThread(recordThread, requested, &seen, 0);
  EXPECT_FALSE(pthread_equal(seen.self, pthread_self()));
  return seen.stackSize;
}

TEST(RunInNewThread, RequestsTheLow32BitsOfTheStackSize) {
  const int64_t twoMiB = 2 << 20;
  size_t two = stackOfNewThread(twoMiB);
  EXPECT_GE(two, size_t(twoMiB));
  EXPECT_LT(two, size_t(twoMiB) + (256 << 10));
  EXPECT_EQ(stackOfNewThread((int64_t(1) << 32) + twoMiB), two);
  EXPECT_EQ(stackOfNewThread((int64_t(5) << 32) + twoMiB), two);
  size_t three = stackOfNewThread(3 << 20);
  EXPECT_GE(three, size_t(3 << 20));
  EXPECT_NE(three, two);
}

TEST(RunInNewThread, ResultPresetStatusAndFallbackToTheCallingThread) {
  Seen seen = {};
  seen.result = 7;
  EXPECT_EQ(runInNewThread(recordThread, 0, &seen, 0), 7);
  EXPECT_FALSE(pthread_equal(seen.self, pthread_self()));
  EXPECT_EQ(runInNewThread(recordThread, 0, &seen, 1), 1) << "a preset status wins";
  seen.result = 0;
  EXPECT_EQ(runInNewThread(recordThread, 0, &seen, 1), 1);

  // A stack larger than the address space leaves: the thread cannot be created, so the
  // function runs right here.
  seen.result = 5;
  EXPECT_EQ(runInNewThread(recordThread, int64_t(0xFFF00000u), &seen, 0), 5);
  EXPECT_TRUE(pthread_equal(seen.self, pthread_self()));
}

TEST(LoadVmLibrary, ReportsWhyTheLibraryCannotBeUsed) {
  units::TempDir dir;
  std::string bogus = dir.path() + "/librask.so";
  units::writeWholeFile(bogus, "this is not a shared object\n");
  // The loader's own reason, asked independently.
  ASSERT_EQ(dlopen(bogus.c_str(), RTLD_NOW | RTLD_GLOBAL), nullptr);
  std::string reason = dlerror();

  VmEntryPoints entries = {nullptr, nullptr};
  bool loaded = true;
  units::Outcome o =
      units::capture(dir.path(), [&] { loaded = loadVmLibrary(bogus.c_str(), &entries); });
  EXPECT_FALSE(loaded);
  EXPECT_EQ(o.err, "dl failure on line 718Error: failed " + bogus + ", because " + reason + "\n");
  EXPECT_EQ(o.out, "");

  // A real library without the entry points: no "dl failure" line, the look-up's reason.
  std::string oru = std::string(VORN_RUNTIME_DIR) + "/lib/i386/oru/liboru.so";
  o = units::capture(dir.path(), [&] { loaded = loadVmLibrary(oru.c_str(), &entries); });
  EXPECT_FALSE(loaded);
  EXPECT_EQ(o.err.rfind("Error: failed " + oru + ", because ", 0), 0u) << o.err;
  EXPECT_NE(o.err.find("KRU_CreateTeskVM"), std::string::npos) << o.err;

  _launcher_debug = 1;
  o = units::capture(dir.path(), [&] { loaded = loadVmLibrary(bogus.c_str(), &entries); });
  _launcher_debug = 0;
  EXPECT_EQ(o.out, "RASK path is " + bogus + "\n");
}

} // namespace
