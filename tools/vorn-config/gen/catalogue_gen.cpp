// vorn-catalogue-gen DESCRIPTION OUTPUT
//
// Reads the component description file (see components.txt for its form), checks that it makes
// a sound catalogue and writes the C++ table that vorn-config is compiled with. Any fault stops
// with a message naming the file, the line and the row, exit status 1, and no output file.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr size_t kMaxRequirements = 13; // the record has 14 slots, the last always null

struct Row {
  std::string name;
  std::string library; // empty for a group
  bool installed = true;
  std::vector<std::string> requires_;
  int line = 0;
};

std::string gInput;
bool gFailed = false;

void fail(int line, const std::string &row, const std::string &message) {
  std::fprintf(stderr, "vorn-catalogue-gen: %s:%d: ", gInput.c_str(), line);
  if (!row.empty()) std::fprintf(stderr, "component '%s': ", row.c_str());
  std::fprintf(stderr, "%s\n", message.c_str());
  gFailed = true;
}

bool isNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' ||
         c == '+';
}

// Why `name` cannot be a component name, or "" when it can. A name may not start with "-",
// since vorn-config would take it for an option.
std::string badName(const std::string &name) {
  if (name.empty()) return "the name is empty";
  for (char c : name) {
    if (c >= 'A' && c <= 'Z') return "the name must be lower case";
    if (!isNameChar(c)) return std::string("the name holds the character '") + c + "'";
  }
  if (!((name[0] >= 'a' && name[0] <= 'z') || (name[0] >= '0' && name[0] <= '9')))
    return "the name must start with a letter or a digit";
  return "";
}

// Why `file` cannot be a library file name, or "".
std::string badLibrary(const std::string &file) {
  if (file.size() < 6 || file.compare(0, 3, "lib") != 0 || file.compare(file.size() - 2, 2, ".a") != 0)
    return "the library file '" + file + "' is not of the form lib<NAME>.a";
  for (char c : file) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '-' || c == '_' || c == '.' || c == '+';
    if (!ok) return "the library file '" + file + "' holds the character '" + c + "'";
  }
  return "";
}

std::vector<std::string> splitWords(const std::string &text) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r')) ++i;
    size_t start = i;
    while (i < text.size() && text[i] != ' ' && text[i] != '\t' && text[i] != '\r') ++i;
    if (i > start) words.push_back(text.substr(start, i - start));
  }
  return words;
}

bool readRows(const std::string &path, std::vector<Row> &rows) {
  FILE *f = std::fopen(path.c_str(), "rb");
  if (!f) {
    std::fprintf(stderr, "vorn-catalogue-gen: cannot read %s: %s\n", path.c_str(), std::strerror(errno));
    return false;
  }
  std::string text;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  std::fclose(f);

  bool rowOpen = false; // a continuation line may follow
  int lineNo = 0;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    ++lineNo;
    size_t hash = line.find('#');
    if (hash != std::string::npos) line.erase(hash);
    std::vector<std::string> words = splitWords(line);
    if (words.empty()) {
      // A blank line ends a row; a line holding only a comment does not.
      if (hash == std::string::npos) rowOpen = false;
      continue;
    }
    if (line[0] == ' ' || line[0] == '\t') {
      if (!rowOpen) {
        fail(lineNo, "", "a continuation line (starting with white space) follows no row");
        continue;
      }
      for (auto &w : words) rows.back().requires_.push_back(w);
      continue;
    }
    if (words.size() < 3) {
      fail(lineNo, words[0], "a row needs a name, a library file (or \"-\") and \"installed\" or \"dev-only\"");
      rowOpen = false;
      continue;
    }
    Row row;
    row.line = lineNo;
    row.name = words[0];
    row.library = words[1] == "-" ? "" : words[1];
    if (words[2] == "installed") {
      row.installed = true;
    } else if (words[2] == "dev-only") {
      row.installed = false;
    } else {
      fail(lineNo, row.name, "the third field must be \"installed\" or \"dev-only\", not '" + words[2] + "'");
    }
    row.requires_.assign(words.begin() + 3, words.end());
    rows.push_back(row);
    rowOpen = true;
  }
  return true;
}

void checkRows(const std::vector<Row> &rows) {
  if (rows.empty()) {
    fail(1, "", "the catalogue has no rows");
    return;
  }
  std::map<std::string, size_t> byName;
  std::map<std::string, size_t> byLibrary;
  for (size_t i = 0; i < rows.size(); ++i) {
    const Row &r = rows[i];
    std::string why = badName(r.name);
    if (!why.empty()) fail(r.line, r.name, why);
    auto seen = byName.find(r.name);
    if (seen != byName.end())
      fail(r.line, r.name, "the name is already used by the row on line " + std::to_string(rows[seen->second].line));
    else
      byName[r.name] = i;
    if (!r.library.empty()) {
      why = badLibrary(r.library);
      if (!why.empty()) fail(r.line, r.name, why);
      auto lib = byLibrary.find(r.library);
      if (lib != byLibrary.end())
        fail(r.line, r.name, "the library file '" + r.library + "' already belongs to component '" +
                                 rows[lib->second].name + "'");
      else
        byLibrary[r.library] = i;
    } else if (!r.installed) {
      fail(r.line, r.name, "a group (library \"-\") cannot be dev-only");
    }
    if (r.requires_.size() > kMaxRequirements)
      fail(r.line, r.name, "it names " + std::to_string(r.requires_.size()) + " requirements; at most " +
                               std::to_string(kMaxRequirements) + " fit in a row");
  }
  if (rows[0].name != "all") fail(rows[0].line, rows[0].name, "the first row must be the group 'all'");
  else if (!rows[0].library.empty()) fail(rows[0].line, "all", "'all' must be a group (library \"-\")");
  if (gFailed) return;

  for (const Row &r : rows) {
    for (const std::string &req : r.requires_) {
      auto it = byName.find(req);
      if (it == byName.end()) {
        fail(r.line, r.name, "it requires '" + req + "', which is not in the catalogue");
        continue;
      }
      // An installed component that needs a library an installation lacks would link short.
      // Only "all" may gather dev-only components, which installed trees then leave out.
      if (r.installed && !rows[it->second].installed && &r != &rows[0])
        fail(r.line, r.name, "it is installed but requires the dev-only component '" + req + "'");
    }
  }
  if (gFailed) return;

  // Cycle search: depth-first, colouring rows; the path in progress names the cycle.
  std::vector<int> state(rows.size(), 0); // 0 new, 1 on the path, 2 done
  bool cycle = false;
  struct Frame {
    size_t row;
    size_t next;
  };
  for (size_t start = 0; start < rows.size() && !cycle; ++start) {
    if (state[start]) continue;
    std::vector<Frame> stack{{start, 0}};
    state[start] = 1;
    while (!stack.empty() && !cycle) {
      Frame &top = stack.back();
      const Row &r = rows[top.row];
      if (top.next == r.requires_.size()) {
        state[top.row] = 2;
        stack.pop_back();
        continue;
      }
      size_t to = byName[r.requires_[top.next++]];
      if (state[to] == 1) {
        std::string text;
        size_t from = 0;
        while (stack[from].row != to) ++from;
        for (size_t k = from; k < stack.size(); ++k) text += rows[stack[k].row].name + " -> ";
        text += rows[to].name;
        fail(rows[to].line, rows[to].name, "it is part of a requirement cycle: " + text);
        cycle = true;
      } else if (state[to] == 0) {
        state[to] = 1;
        stack.push_back({to, 0});
      }
    }
  }
  if (gFailed) return;

  // Resolving "all" in a build tree must yield every library, so every row with a library is
  // reachable from it (a group need not be).
  std::vector<bool> reached(rows.size(), false);
  std::vector<size_t> todo{0};
  reached[0] = true;
  while (!todo.empty()) {
    size_t i = todo.back();
    todo.pop_back();
    for (const std::string &req : rows[i].requires_) {
      size_t j = byName[req];
      if (!reached[j]) reached[j] = true, todo.push_back(j);
    }
  }
  for (size_t i = 0; i < rows.size(); ++i)
    if (!reached[i] && !rows[i].library.empty())
      fail(rows[i].line, rows[i].name, "its library cannot be reached from 'all'");
}

std::string render(const std::vector<Row> &rows, const std::string &inputName) {
  std::string out;
  out += "// Generated from " + inputName + " by vorn-catalogue-gen; do not edit.\n";
  out += "#include \"tools/vorn-config/ComponentCatalogue.h\"\n\nnamespace vorn {\n\n";
  out += "const ComponentRecord componentCatalogue[] = {\n";
  for (const Row &r : rows) {
    out += "    {\"" + r.name + "\", ";
    out += r.library.empty() ? "nullptr" : "\"" + r.library + "\"";
    out += r.installed ? ", 1, {" : ", 0, {";
    for (const std::string &req : r.requires_) out += "\"" + req + "\", ";
    out += "nullptr}},\n";
  }
  out += "};\n\nconst uint32_t componentCount = " + std::to_string(rows.size()) + ";\n\n";
  out += "} // namespace vorn\n";
  return out;
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: vorn-catalogue-gen DESCRIPTION OUTPUT\n");
    return 2;
  }
  gInput = argv[1];
  std::vector<Row> rows;
  if (!readRows(gInput, rows)) return 1;
  if (!gFailed) checkRows(rows);
  if (gFailed) {
    std::remove(argv[2]);
    return 1;
  }
  std::string base = gInput.substr(gInput.rfind('/') == std::string::npos ? 0 : gInput.rfind('/') + 1);
  std::string text = render(rows, base);
  FILE *f = std::fopen(argv[2], "wb");
  bool written = f && std::fwrite(text.data(), 1, text.size(), f) == text.size();
  if (f && std::fclose(f) != 0) written = false;
  if (!written) {
    std::fprintf(stderr, "vorn-catalogue-gen: cannot write %s\n", argv[2]);
    std::remove(argv[2]);
    return 1;
  }
  return 0;
}
