// The installed headers, compiled one by one as a client would include them: each stands alone
// under C++17, and under an older standard each stops at once with one message that names the
// standard it needs.

#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "harness.h"

using namespace vctest;

namespace {

const std::string kIncludeDir = VORN_TOOLKIT_DIR "/include/olen-private";

// Every header below `dir`, as the path a client includes ("support/text/StrView.h").
void collectHeaders(const std::string &dir, const std::string &relative, std::vector<std::string> &out) {
  DIR *d = opendir(dir.c_str());
  if (!d) return;
  while (dirent *e = readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    std::string rel = relative.empty() ? name : relative + "/" + name;
    if (name.size() > 2 && name.compare(name.size() - 2, 2, ".h") == 0)
      out.push_back(rel);
    else if (e->d_type == DT_DIR)
      collectHeaders(dir + "/" + name, rel, out);
  }
  closedir(d);
}

std::vector<std::string> installedHeaders() {
  std::vector<std::string> headers;
  collectHeaders(kIncludeDir, "", headers);
  return headers;
}

// Compiles, for every header, a client that includes only that header, with `standard`; the
// compilers run a few at a time.
std::vector<RunResult> compileEachAlone(const std::vector<std::string> &headers, const char *standard) {
  TempDir tmp;
  std::vector<RunResult> results(headers.size());
  std::atomic<size_t> next{0};
  auto worker = [&] {
    for (size_t i; (i = next++) < headers.size();) {
      const std::string source = tmp.path() + "/client" + std::to_string(i) + ".cpp";
      writeFile(source, "#include \"" + headers[i] + "\"\nint main() { return 0; }\n");
      results[i] = run(VORN_CXX_COMPILER, {standard, "-fsyntax-only", "-Wall", "-Wextra", "-I" + kIncludeDir, source});
    }
  };
  unsigned n = std::max(2u, std::thread::hardware_concurrency());
  std::vector<std::thread> workers;
  for (unsigned k = 0; k < n; ++k) workers.emplace_back(worker);
  for (std::thread &t : workers) t.join();
  return results;
}

size_t count(const std::string &text, const std::string &what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(InstalledHeaders, EachCompilesAloneUnderCxx17) {
  std::vector<std::string> headers = installedHeaders();
  ASSERT_GE(headers.size(), 10u) << "no headers found in " << kIncludeDir;
  std::vector<RunResult> results = compileEachAlone(headers, "-std=c++17");
  for (size_t i = 0; i < headers.size(); ++i) {
    EXPECT_EQ(results[i].status, 0) << headers[i] << "\n" << results[i].err;
    EXPECT_EQ(results[i].err, "") << headers[i];
  }
}

TEST(InstalledHeaders, OlderStandardsStopWithOneMessage) {
  std::vector<std::string> headers = installedHeaders();
  for (const char *standard : {"-std=c++14", "-std=c++11"}) {
    std::vector<RunResult> results = compileEachAlone(headers, standard);
    for (size_t i = 0; i < headers.size(); ++i) {
      const std::string &header = headers[i];
      const RunResult &r = results[i];
      EXPECT_NE(r.status, 0) << header << " " << standard;
      EXPECT_EQ(count(r.err, "error: #error \"the vorn support library needs C++17 or later"), 1u)
          << header << "\n" << r.err;
      // The #error, then the compiler's note that it stopped: nothing from inside the headers.
      EXPECT_EQ(count(r.err, "error:"), 2u) << header << " " << standard << "\n" << r.err;
      EXPECT_EQ(count(r.err, "fatal error:"), 1u) << header << "\n" << r.err;
    }
  }
}

} // namespace
