#include "support/text/Twine.h"

#include <cstring>

#include "support/streams/OutStream.h"
#include "support/streams/StdStreams.h"

namespace vorn {

// Receives the bytes of a rendering. The number hooks write digits through write() unless a sink
// has a better way.
class TwineSink {
public:
  virtual void write(const char *data, size_t size) = 0;
  virtual void writeUnsigned(uint64_t value);
  virtual void writeSigned(int64_t value);
  // Lower-case hexadecimal digits, no prefix, "0" for zero.
  virtual void writeHex(uint64_t value);

protected:
  ~TwineSink() = default;
};

void TwineSink::writeUnsigned(uint64_t value) {
  char digits[20];
  char *p = digits + sizeof(digits);
  do {
    *--p = char('0' + value % 10);
    value /= 10;
  } while (value);
  write(p, size_t(digits + sizeof(digits) - p));
}

void TwineSink::writeSigned(int64_t value) {
  if (value < 0) {
    write("-", 1);
    // Negate in unsigned arithmetic so that the most negative value survives.
    writeUnsigned(uint64_t(0) - uint64_t(value));
  } else {
    writeUnsigned(uint64_t(value));
  }
}

void TwineSink::writeHex(uint64_t value) {
  char digits[16];
  char *p = digits + sizeof(digits);
  do {
    *--p = "0123456789abcdef"[value & 15];
    value >>= 4;
  } while (value);
  write(p, size_t(digits + sizeof(digits) - p));
}

namespace {

// Renders through a stream's own text and number output.
class StreamSink final : public TwineSink {
public:
  explicit StreamSink(OutStream &os) : os(os) {}
  void write(const char *data, size_t size) override { os.write(data, size); }
  void writeUnsigned(uint64_t value) override { os.writeUnsigned64(value); }
  void writeSigned(int64_t value) override { os.writeSigned64(value); }
  void writeHex(uint64_t value) override { os.writeHexDigits(value); }

private:
  OutStream &os;
};

// Appends to a vector through the appender instantiated for its inline size.
class VectorSink final : public TwineSink {
public:
  using Append = void (*)(void *vector, const char *data, size_t size);
  VectorSink(void *vector, Append append) : vector(vector), append(append) {}
  void write(const char *data, size_t size) override { append(vector, data, size); }

private:
  void *vector;
  Append append;
};

} // namespace

bool Twine::isSingleString() const {
  if (!isUnary()) return false;
  switch (lhsKind) {
  case NodeKind::EmptyKind:
  case NodeKind::CStringKind:
  case NodeKind::StdStringKind:
  case NodeKind::StrViewKind:
    return true;
  default:
    return false;
  }
}

StrView Twine::singleStringView() const {
  switch (lhsKind) {
  case NodeKind::CStringKind:
    return StrView(lhs.cString);
  case NodeKind::StdStringKind:
    return StrView(*lhs.stdString);
  case NodeKind::StrViewKind:
    return *lhs.view;
  default:
    return StrView();
  }
}

Twine Twine::concat(const Twine &suffix) const {
  if (isNull() || suffix.isNull()) return createNull();
  if (isEmpty()) return suffix;
  if (suffix.isEmpty()) return *this;
  // A unary side contributes its child directly; a binary side is referred to as a rope.
  Child newLeft, newRight;
  NodeKind newLeftKind = NodeKind::RopeKind, newRightKind = NodeKind::RopeKind;
  newLeft.twine = this;
  newRight.twine = &suffix;
  if (isUnary()) {
    newLeft = lhs;
    newLeftKind = lhsKind;
  }
  if (suffix.isUnary()) {
    newRight = suffix.lhs;
    newRightKind = suffix.lhsKind;
  }
  return Twine(newLeft, newLeftKind, newRight, newRightKind);
}

void Twine::printChild(TwineSink &sink, Child child, NodeKind kind) {
  switch (kind) {
  case NodeKind::NullKind:
  case NodeKind::EmptyKind:
    break;
  case NodeKind::RopeKind:
    child.twine->render(sink);
    break;
  case NodeKind::CStringKind:
    sink.write(child.cString, std::strlen(child.cString));
    break;
  case NodeKind::StdStringKind:
    sink.write(child.stdString->data(), child.stdString->size());
    break;
  case NodeKind::StrViewKind:
    sink.write(child.view->data(), child.view->size());
    break;
  case NodeKind::CharKind:
    sink.write(&child.character, 1);
    break;
  case NodeKind::DecUIKind:
    sink.writeUnsigned(child.decUI);
    break;
  case NodeKind::DecIKind:
    sink.writeSigned(child.decI);
    break;
  case NodeKind::DecULKind:
    sink.writeUnsigned(*child.decUL);
    break;
  case NodeKind::DecLKind:
    sink.writeSigned(*child.decL);
    break;
  case NodeKind::DecULLKind:
    sink.writeUnsigned(*child.decULL);
    break;
  case NodeKind::DecLLKind:
    sink.writeSigned(*child.decLL);
    break;
  case NodeKind::UHexKind:
    sink.writeHex(*child.uHex);
    break;
  }
}

void Twine::render(TwineSink &sink) const {
  printChild(sink, lhs, lhsKind);
  printChild(sink, rhs, rhsKind);
}

void Twine::appendToVector(void *vector, AppendFn append) const {
  VectorSink sink(vector, append);
  render(sink);
}

void Twine::render(OutStream &os) const {
  StreamSink sink(os);
  render(sink);
}

void Twine::printChildRepr(OutStream &os, Child child, NodeKind kind) {
  switch (kind) {
  case NodeKind::NullKind:
    os << "null";
    break;
  case NodeKind::EmptyKind:
    os << "empty";
    break;
  case NodeKind::RopeKind:
    os << "rope:";
    child.twine->renderDebug(os);
    break;
  case NodeKind::CStringKind:
    os << "cstring:\"" << child.cString << "\"";
    break;
  case NodeKind::StdStringKind:
    os << "std::string:\"" << static_cast<const void *>(child.stdString) << "\"";
    break;
  case NodeKind::StrViewKind:
    os << "stringref:\"" << static_cast<const void *>(child.view) << "\"";
    break;
  case NodeKind::CharKind:
    os << "char:\"" << child.character << "\"";
    break;
  case NodeKind::DecUIKind:
    os << "decUI:\"" << child.decUI << "\"";
    break;
  case NodeKind::DecIKind:
    os << "decI:\"" << child.decI << "\"";
    break;
  case NodeKind::DecULKind:
    os << "decUL:\"" << *child.decUL << "\"";
    break;
  case NodeKind::DecLKind:
    os << "decL:\"" << *child.decL << "\"";
    break;
  case NodeKind::DecULLKind:
    os << "decULL:\"" << *child.decULL << "\"";
    break;
  case NodeKind::DecLLKind:
    os << "decLL:\"" << *child.decLL << "\"";
    break;
  case NodeKind::UHexKind:
    os << "uhex:\"" << static_cast<const void *>(child.uHex) << "\"";
    break;
  }
}

void Twine::renderDebug(OutStream &os) const {
  os << "(Twine ";
  printChildRepr(os, lhs, lhsKind);
  os << " ";
  printChildRepr(os, rhs, rhsKind);
  os << ")";
}

void Twine::debugPrint() const { render(stderrStream()); }

void Twine::debugPrintRepr() const { renderDebug(stderrStream()); }

std::string Twine::toString() const {
  if (isUnary() && lhsKind == NodeKind::StdStringKind) return *lhs.stdString;
  InlineVector<char, 256> scratch;
  StrView text = asView(scratch);
  return text.isNull() ? std::string() : std::string(text.data(), text.size());
}

} // namespace vorn
