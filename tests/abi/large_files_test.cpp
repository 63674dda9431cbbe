// Every program and library of the i686 build must call the C library's 64-bit file-offset and
// 64-bit time interfaces (readdir64, open64, __stat64_time64, __time64, ...): the 32-bit ones
// fail with EOVERFLOW on large files, large inode numbers and directory offsets, and go wrong
// after January 2038. The check reads the undefined symbols of the built products with nm and
// flags every name for which the C library also defines a wider variant.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

// The standard output of a shell command, and whether it exited with status 0.
bool capture(const std::string &command, std::string &out) {
  out.clear();
  FILE *pipe = popen(command.c_str(), "r");
  if (!pipe) return false;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  return pclose(pipe) == 0;
}

std::vector<std::string> lines(const std::string &text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) out.push_back(line);
  return out;
}

// "name@@GLIBC_2.34" and "name@GLIBC_2.0" are both "name".
std::string withoutVersion(const std::string &symbol) { return symbol.substr(0, symbol.find('@')); }

// The symbol column of nm's output lines.
std::set<std::string> symbolNames(const std::string &nmOutput) {
  std::set<std::string> names;
  for (const std::string &line : lines(nmOutput)) {
    std::istringstream fields(line);
    std::vector<std::string> f;
    for (std::string w; fields >> w;) f.push_back(w);
    if (f.empty() || line.back() == ':') continue; // an archive member's heading
    names.insert(withoutVersion(f.back()));
  }
  return names;
}

const std::set<std::string> &libcNames() {
  static const std::set<std::string> names = [] {
    std::string out;
    EXPECT_TRUE(capture(std::string(VORN_NM) + " -D --defined-only '" VORN_ABI_LIBC "'", out));
    return symbolNames(out);
  }();
  return names;
}

// The wider variant the C library offers for `name`, or "" when `name` is not a 32-bit offset or
// 32-bit time interface. The C library's own naming: open/open64, stat/__stat64_time64,
// stat64/__stat64_time64, time/__time64, localtime_r/__localtime64_r, fcntl64/__fcntl_time64.
std::string widerVariant(const std::string &name, const std::set<std::string> &libc) {
  // Functions on the 64-bit floating type share the suffix and have nothing to do with sizes.
  static const std::set<std::string> floating = {"strtof", "wcstof", "strfromf"};
  if (floating.count(name)) return "";
  std::vector<std::string> candidates = {name + "64", "__" + name + "64", "__" + name + "_time64",
                                         "__" + name + "64_time64"};
  if (name.size() > 2 && name.compare(name.size() - 2, 2, "_r") == 0)
    candidates.push_back("__" + name.substr(0, name.size() - 2) + "64_r");
  if (name.size() > 2 && name.compare(name.size() - 2, 2, "64") == 0) {
    std::string base = name.substr(0, name.size() - 2);
    candidates.push_back("__" + base + "64_time64");
    candidates.push_back("__" + base + "_time64");
  }
  for (const std::string &c : candidates)
    if (c != name && libc.count(c)) return c;
  return "";
}

struct Product {
  std::string kind; // "dynamic" or "static"
  std::string path;
};

std::vector<Product> products() {
  std::vector<Product> out;
  std::ifstream in(VORN_ABI_PRODUCTS);
  for (std::string kind, path; in >> kind >> path;) out.push_back({kind, path});
  return out;
}

TEST(LargeFileInterfaces, TheCheckKnowsBothKindsOfName) {
  const auto &libc = libcNames();
  ASSERT_GT(libc.size(), 1000u) << "could not read the C library's symbols";
  for (const char *narrow : {"open", "lseek", "readdir", "stat", "fstat", "lstat", "fstatat", "stat64",
                             "fstat64", "fcntl64", "mmap", "ftruncate", "fopen", "time", "gettimeofday",
                             "clock_gettime", "localtime_r", "utimensat", "getrusage", "setrlimit"})
    EXPECT_NE(widerVariant(narrow, libc), "") << narrow << " must count as a 32-bit interface";
  for (const char *wide : {"open64", "lseek64", "readdir64", "__stat64_time64", "__fstat64_time64",
                           "__fcntl_time64", "mmap64", "__time64", "__gettimeofday64", "__localtime64_r",
                           "__utimensat64", "memcpy", "write", "getpid", "strtof", "pthread_create"})
    EXPECT_EQ(widerVariant(wide, libc), "") << wide << " must count as a wide interface";
}

class ProductSymbols : public ::testing::TestWithParam<Product> {};

TEST_P(ProductSymbols, OnlyTheWideInterfacesAreUsed) {
  const Product &p = GetParam();
  std::string out;
  std::string options = p.kind == "dynamic" ? " -D --undefined-only '" : " --undefined-only '";
  ASSERT_TRUE(capture(std::string(VORN_NM) + options + p.path + "'", out)) << p.path;
  std::set<std::string> undefined = symbolNames(out);
  ASSERT_FALSE(undefined.empty()) << p.path << " uses nothing from outside: nothing was checked";
  std::string narrow;
  for (const std::string &name : undefined) {
    std::string wide = widerVariant(name, libcNames());
    if (!wide.empty()) narrow += "  " + name + " (the wide one is " + wide + ")\n";
  }
  EXPECT_EQ(narrow, "") << p.path << " calls 32-bit file-offset or time interfaces:\n" << narrow;
}

std::string productName(const ::testing::TestParamInfo<Product> &info) {
  std::string name = info.param.path.substr(info.param.path.rfind('/') + 1);
  for (char &c : name)
    if (!isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Built, ProductSymbols, ::testing::ValuesIn(products()), productName);

} // namespace
