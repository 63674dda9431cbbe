#ifndef VORN_SUPPORT_TEXT_TWINE_H
#define VORN_SUPPORT_TEXT_TWINE_H

#include "support/runtime/Compiler.h"

#include <cstddef>
#include <cstdint>
#include <string>

#include "support/text/InlineVector.h"
#include "support/text/StrView.h"

namespace vorn {

class OutStream;
class TwineSink;

// A lazy, non-owning concatenation of at most two pieces: C strings, standard strings, StrViews,
// characters, integers or other twines. A twine only refers to its pieces, so it must be used
// before any of them goes away: build it in an argument expression and do not store it.
// Building one allocates nothing and copies no characters.
class Twine {
public:
  // The kinds of child, numbered as they are stored.
  enum class NodeKind : unsigned char {
    NullKind = 0,   // nothing; marks an invalid result
    EmptyKind,      // nothing
    RopeKind,       // another Twine
    CStringKind,    // a NUL-terminated string
    StdStringKind,  // a std::string
    StrViewKind,    // a StrView
    CharKind,       // one character
    DecUIKind,      // unsigned int, by value
    DecIKind,       // int, by value
    DecULKind,      // unsigned long, by pointer
    DecLKind,       // long, by pointer
    DecULLKind,     // unsigned long long, by pointer
    DecLLKind,      // long long, by pointer
    UHexKind,       // uint64_t by pointer, rendered in lower-case hexadecimal
  };

  // The empty twine.
  Twine() : lhsKind(NodeKind::EmptyKind), rhsKind(NodeKind::EmptyKind) {}
  Twine(const Twine &) = default;
  Twine &operator=(const Twine &) = delete;

  // A C string (a null pointer gives the empty twine).
  Twine(const char *text) : rhsKind(NodeKind::EmptyKind) {
    if (text) {
      lhs.cString = text;
      lhsKind = NodeKind::CStringKind;
    } else {
      lhsKind = NodeKind::EmptyKind;
    }
  }
  Twine(const std::string &text) : lhsKind(NodeKind::StdStringKind), rhsKind(NodeKind::EmptyKind) {
    lhs.stdString = &text;
  }
  Twine(const StrView &text) : lhsKind(NodeKind::StrViewKind), rhsKind(NodeKind::EmptyKind) {
    lhs.view = &text;
  }
  explicit Twine(char c) : lhsKind(NodeKind::CharKind), rhsKind(NodeKind::EmptyKind) {
    lhs.character = c;
  }
  explicit Twine(unsigned value) : lhsKind(NodeKind::DecUIKind), rhsKind(NodeKind::EmptyKind) {
    lhs.decUI = value;
  }
  explicit Twine(int value) : lhsKind(NodeKind::DecIKind), rhsKind(NodeKind::EmptyKind) {
    lhs.decI = value;
  }
  explicit Twine(const unsigned long &value)
      : lhsKind(NodeKind::DecULKind), rhsKind(NodeKind::EmptyKind) {
    lhs.decUL = &value;
  }
  explicit Twine(const long &value) : lhsKind(NodeKind::DecLKind), rhsKind(NodeKind::EmptyKind) {
    lhs.decL = &value;
  }
  explicit Twine(const unsigned long long &value)
      : lhsKind(NodeKind::DecULLKind), rhsKind(NodeKind::EmptyKind) {
    lhs.decULL = &value;
  }
  explicit Twine(const long long &value)
      : lhsKind(NodeKind::DecLLKind), rhsKind(NodeKind::EmptyKind) {
    lhs.decLL = &value;
  }
  // Two pieces at once, so that "text" + view needs no intermediate twine.
  Twine(const char *left, const StrView &right)
      : lhsKind(NodeKind::CStringKind), rhsKind(NodeKind::StrViewKind) {
    lhs.cString = left;
    rhs.view = &right;
  }
  Twine(const StrView &left, const char *right)
      : lhsKind(NodeKind::StrViewKind), rhsKind(NodeKind::CStringKind) {
    lhs.view = &left;
    rhs.cString = right;
  }

  // The null twine: an invalid result; concatenating anything with it gives null again.
  static Twine createNull() { return Twine(NodeKind::NullKind); }
  // `value` in lower-case hexadecimal without prefix.
  static Twine hex(const uint64_t &value) {
    Twine t(NodeKind::UHexKind);
    t.lhs.uHex = &value;
    return t;
  }

  bool isNull() const { return lhsKind == NodeKind::NullKind; }
  bool isEmpty() const { return lhsKind == NodeKind::EmptyKind; }
  // Null or empty by kind (whatever the text of the pieces).
  bool isTriviallyEmpty() const { return isNull() || isEmpty(); }
  bool isUnary() const { return rhsKind == NodeKind::EmptyKind; }
  bool isBinary() const { return !isUnary(); }
  // Unary with an empty, C string, standard string or StrView child: text without rendering.
  bool isSingleString() const;
  // The text of a single-string twine (the empty twine gives the null view). The caller
  // guarantees isSingleString().
  StrView singleStringView() const;
  NodeKind leftKind() const { return lhsKind; }
  NodeKind rightKind() const { return rhsKind; }

  // The concatenation of this twine and `suffix`; it refers to both.
  Twine concat(const Twine &suffix) const;

  // Writes the rendering: the left child, then the right child.
  void render(OutStream &os) const;
  // Appends the rendering to `out`.
  template <unsigned N> void appendTo(InlineVector<char, N> &out) const {
    appendToVector(&out, &appendChars<N>);
  }
  // The text: direct when the twine is a single string, else rendered and appended to `scratch`
  // and the view covers all of `scratch` (including what it held before).
  template <unsigned N> StrView asView(InlineVector<char, N> &scratch) const {
    if (isSingleString()) return singleStringView();
    appendTo(scratch);
    return StrView(scratch.data(), checkedLength(scratch.size(), "Twine::asView"));
  }
  // As asView, but the character just past the end of the view is a NUL.
  template <unsigned N> StrView asTerminatedView(InlineVector<char, N> &scratch) const {
    if (isUnary() && lhsKind == NodeKind::CStringKind) return StrView(lhs.cString);
    if (isUnary() && lhsKind == NodeKind::StdStringKind) return StrView(*lhs.stdString);
    appendTo(scratch);
    scratch.push_back('\0');
    scratch.pop_back();
    return StrView(scratch.data(), checkedLength(scratch.size(), "Twine::asTerminatedView"));
  }
  // The rendering as a standard string.
  std::string toString() const;

  // Writes the structure: "(Twine " left " " right ")", each child by kind and content.
  void renderDebug(OutStream &os) const;
  // render and renderDebug on the standard error stream.
  void debugPrint() const;
  void debugPrintRepr() const;

private:
  union Child {
    const Twine *twine;
    const char *cString;
    const std::string *stdString;
    const StrView *view;
    char character;
    unsigned decUI;
    int decI;
    const unsigned long *decUL;
    const long *decL;
    const unsigned long long *decULL;
    const long long *decLL;
    const uint64_t *uHex;
  };

  // Appends bytes to the InlineVector<char, N> at `vector`.
  using AppendFn = void (*)(void *vector, const char *data, size_t size);
  template <unsigned N> static void appendChars(void *vector, const char *data, size_t size) {
    static_cast<InlineVector<char, N> *>(vector)->append(data, data + size);
  }
  void appendToVector(void *vector, AppendFn append) const;

  explicit Twine(NodeKind kind) : lhsKind(kind), rhsKind(NodeKind::EmptyKind) {}
  Twine(Child left, NodeKind leftKind, Child right, NodeKind rightKind)
      : lhs(left), rhs(right), lhsKind(leftKind), rhsKind(rightKind) {}

  static void printChild(TwineSink &sink, Child child, NodeKind kind);
  void render(TwineSink &sink) const;
  static void printChildRepr(OutStream &os, Child child, NodeKind kind);

  Child lhs = Child();
  Child rhs = Child();
  NodeKind lhsKind;
  NodeKind rhsKind;
};

inline Twine operator+(const Twine &a, const Twine &b) { return a.concat(b); }
inline Twine operator+(const char *a, const StrView &b) { return Twine(a, b); }
inline Twine operator+(const StrView &a, const char *b) { return Twine(a, b); }

} // namespace vorn

#endif
