// The installed headers, compiled one by one as a client would include them: each stands alone
// under C++17, and under an older standard each stops at once with one message that names the
// standard it needs.

#include <gtest/gtest.h>

#include <dirent.h>

#include <string>
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

RunResult compileAlone(const TempDir &tmp, const std::string &header, const char *standard) {
  const std::string source = tmp.path() + "/client.cpp";
  writeFile(source, "#include \"" + header + "\"\nint main() { return 0; }\n");
  return run(VORN_CXX_COMPILER, {standard, "-fsyntax-only", "-Wall", "-Wextra", "-I" + kIncludeDir, source});
}

size_t count(const std::string &text, const std::string &what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(InstalledHeaders, EachCompilesAloneUnderCxx17) {
  std::vector<std::string> headers = installedHeaders();
  ASSERT_GE(headers.size(), 10u) << "no headers found in " << kIncludeDir;
  TempDir tmp;
  for (const std::string &header : headers) {
    RunResult r = compileAlone(tmp, header, "-std=c++17");
    EXPECT_EQ(r.status, 0) << header << "\n" << r.err;
    EXPECT_EQ(r.err, "") << header;
  }
}

TEST(InstalledHeaders, OlderStandardsStopWithOneMessage) {
  TempDir tmp;
  for (const std::string &header : installedHeaders()) {
    for (const char *standard : {"-std=c++14", "-std=c++11"}) {
      RunResult r = compileAlone(tmp, header, standard);
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
