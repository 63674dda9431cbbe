// A real client: the toolkit installed with "cmake --install" into a temporary prefix, a small
// program compiled and linked against it with nothing but vorn-config's answers, then run.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness.h"

using namespace vctest;

namespace {

std::vector<std::string> flagWords(const std::string &answer) {
  std::vector<std::string> out;
  for (auto &w : words(answer.substr(0, answer.size() - 1)))
    if (!w.empty()) out.push_back(w);
  return out;
}

TEST(InstalledToolkit, BuildsAndRunsAClientFromItsOwnAnswers) {
  TempDir tmp;
  const std::string prefix = tmp.path() + "/toolkit";
  RunResult install = run(VORN_CMAKE_COMMAND, {"--install", VORN_BINARY_DIR, "--prefix", prefix, "--component", "toolkit"});
  ASSERT_EQ(install.status, 0) << install.out << install.err;
  const std::string vc = prefix + "/bin/vorn-config";
  ASSERT_TRUE(exists(vc));
  EXPECT_TRUE(exists(prefix + "/lib/libVornSupport.a"));
  EXPECT_TRUE(exists(prefix + "/include/olen-private/support/text/StrHashMap.h"));
  EXPECT_TRUE(exists(prefix + "/include/olen-private/support/streams/StdStreams.h"));

  RunResult libs = run(vc, {"--libs", "support"});
  ASSERT_EQ(libs.out, "-lVornSupport\n");
  RunResult includeDir = run(vc, {"--includedir"});
  ASSERT_EQ(includeDir.out, prefix + "/include/olen-private\n");

  std::vector<std::string> args = flagWords(run(vc, {"--cxxflags"}).out);
  args.push_back(VORN_SOURCE_DIR "/tools/vorn-config/demo/client.cpp");
  args.push_back("-o");
  args.push_back(tmp.path() + "/client");
  for (auto &w : flagWords(run(vc, {"--ldflags"}).out)) args.push_back(w);
  for (auto &w : flagWords(libs.out)) args.push_back(w);
  for (auto &w : flagWords(std::string(VORN_CLIENT_EXTRA_LDFLAGS) + "\n")) args.push_back(w);
  RunResult compile = run(VORN_CXX_COMPILER, args);
  ASSERT_EQ(compile.status, 0) << compile.err;
  EXPECT_EQ(compile.err, "") << "the installed headers must compile cleanly with the reported flags";

  const std::string lib = prefix + "/lib/libVornSupport.a";
  RunResult client = run(tmp.path() + "/client", {lib, prefix + "/include/olen-private/nothing-here"});
  EXPECT_EQ(client.status, 0) << client.err;
  EXPECT_EQ(client.err, "");
  const std::string expected = "this program: " + tmp.path() + "/client\n" +
                               "  parent     " + tmp.path() + "\n" +
                               "  file name  client\n"
                               "  stem       client\n"
                               "  extension  \n"
                               "  exists     yes\n" +
                               lib + "\n" +
                               "  parent     " + prefix + "/lib\n" +
                               "  file name  libVornSupport.a\n"
                               "  stem       libVornSupport\n"
                               "  extension  .a\n"
                               "  exists     yes\n" +
                               prefix + "/include/olen-private/nothing-here\n" +
                               "  parent     " + prefix + "/include/olen-private\n" +
                               "  file name  nothing-here\n"
                               "  stem       nothing-here\n"
                               "  extension  \n"
                               "  exists     no\n";
  EXPECT_EQ(client.out.substr(0, expected.size()), expected);
  EXPECT_NE(client.out.find(" distinct path components, "), std::string::npos);
}

} // namespace
