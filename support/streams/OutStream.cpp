#include "support/streams/OutStream.h"

#include "support/text/InlineVector.h"

namespace vorn {

size_t Formatter::neededSizeFor(int result, size_t size) {
  if (result < 0) return size * 2;
  if (size_t(result) >= size) return size_t(result) + 1;
  return size_t(result);
}

size_t Formatter::neededSize(char *buffer, size_t size) const {
  return neededSizeFor(formatInto(buffer, size), size);
}

int DoubleFormatter::formatInto(char *buffer, size_t size) const {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  return std::snprintf(buffer, size, format, value);
#pragma GCC diagnostic pop
}

OutStream::~OutStream() {
  if (bufOwner == OwnBuffer) delete[] bufBegin;
}

OutStream &OutStream::setColor(TerminalColor, bool, bool) { return *this; }
OutStream &OutStream::restoreColor() { return *this; }
OutStream &OutStream::setReverseVideo() { return *this; }
bool OutStream::showsOnTerminal() const { return false; }
bool OutStream::supportsColors() const { return showsOnTerminal(); }
size_t OutStream::defaultBufferSize() const { return 8192; }

void OutStream::drainBuffer() {
  char *start = bufBegin;
  size_t length = size_t(bufNext - bufBegin);
  // Empty before the sink runs, so that a sink which writes to this stream again (or fails and
  // reports through it) never sees these bytes a second time.
  bufNext = bufBegin;
  sinkWrite(start, length);
}

void OutStream::allocateBuffer() {
  size_t size = defaultBufferSize();
  flush();
  if (size > 0)
    installBuffer(new char[size], size, OwnBuffer);
  else
    installBuffer(nullptr, 0, NoBuffer);
}

void OutStream::installBuffer(char *buffer, size_t size, BufferOwner owner) {
  if (bufOwner == OwnBuffer && bufBegin) delete[] bufBegin;
  bufBegin = bufNext = buffer;
  bufLimit = buffer + size;
  bufOwner = owner;
}

OutStream &OutStream::writeSlow(const char *data, size_t size) {
  for (;;) {
    size_t room = size_t(bufLimit - bufNext);
    if (room >= size) {
      appendToBuffer(data, size);
      return *this;
    }
    if (!bufBegin) {
      if (bufOwner == NoBuffer) {
        sinkWrite(data, size);
        return *this;
      }
      allocateBuffer();
      continue;
    }
    if (bufNext == bufBegin) {
      size_t whole = size_t(bufLimit - bufBegin);
      if (whole == 0) { // a borrowed buffer with no room at all
        sinkWrite(data, size);
        return *this;
      }
      // Large writes bypass the buffer; only the remainder is copied.
      size_t direct = size - size % whole;
      sinkWrite(data, direct);
      data += direct;
      size -= direct;
      continue;
    }
    appendToBuffer(data, room);
    data += room;
    size -= room;
    drainBuffer();
  }
}

OutStream &OutStream::writeCharSlow(char c) {
  for (;;) {
    if (bufNext < bufLimit) {
      *bufNext++ = c;
      return *this;
    }
    if (bufBegin && bufBegin != bufLimit) {
      drainBuffer();
      continue;
    }
    if (bufBegin || bufOwner == NoBuffer) {
      sinkWrite(&c, 1);
      return *this;
    }
    allocateBuffer();
  }
}

OutStream &OutStream::writeUnsigned32(uint32_t value) {
  if (value == 0) return write('0');
  char digits[10];
  char *p = digits + sizeof(digits);
  do {
    *--p = char('0' + value % 10);
    value /= 10;
  } while (value);
  return write(p, size_t(digits + sizeof(digits) - p));
}

OutStream &OutStream::writeSigned32(int32_t value) {
  if (value < 0) {
    write('-');
    return writeUnsigned32(0u - uint32_t(value));
  }
  return writeUnsigned32(uint32_t(value));
}

OutStream &OutStream::writeUnsigned64(uint64_t value) {
  // 64-bit division is a library call on 32-bit targets; most values do not need it.
  if ((value >> 32) == 0) return writeUnsigned32(uint32_t(value));
  char digits[20];
  char *p = digits + sizeof(digits);
  do {
    *--p = char('0' + value % 10);
    value /= 10;
  } while (value);
  return write(p, size_t(digits + sizeof(digits) - p));
}

OutStream &OutStream::writeSigned64(int64_t value) {
  if (value < 0) {
    write('-');
    return writeUnsigned64(0u - uint64_t(value));
  }
  return writeUnsigned64(uint64_t(value));
}

OutStream &OutStream::writeHexDigits(uint64_t value) {
  static const char hexDigits[] = "0123456789abcdef";
  char digits[16];
  char *p = digits + sizeof(digits);
  do {
    *--p = hexDigits[value & 15];
    value >>= 4;
  } while (value);
  return write(p, size_t(digits + sizeof(digits) - p));
}

OutStream &OutStream::operator<<(const void *pointer) {
  write("0x", 2);
  return writeHexDigits(uintptr_t(pointer));
}

OutStream &OutStream::operator<<(double value) { return *this << DoubleFormatter("%e", value); }

OutStream &OutStream::operator<<(const Formatter &formatter) {
  size_t sizeToTry = 127;
  size_t room = size_t(bufLimit - bufNext);
  if (room > 3) {
    size_t needed = formatter.neededSize(bufNext, room);
    if (needed <= room) {
      bufNext += needed;
      return *this;
    }
    sizeToTry = needed;
  }

  // A C library that reports an error (a negative result) for every size would make the doubling
  // go on until memory runs out; past this size such an error is taken as final and nothing is
  // written, as printf itself would print nothing.
  const size_t errorRetryLimit = size_t(1) << 20;
  InlineVector<char, 128> scratch;
  for (;;) {
    scratch.resize(sizeToTry);
    int result = formatter.formatInto(scratch.data(), sizeToTry);
    size_t needed = Formatter::neededSizeFor(result, sizeToTry);
    if (needed <= sizeToTry) return write(scratch.data(), needed);
    if (result < 0 && sizeToTry >= errorRetryLimit) return *this;
    sizeToTry = needed;
  }
}

OutStream &OutStream::writeSpaces(unsigned count) {
  static const char spaces[81] =
      "                                                                                ";
  while (count > 0) {
    unsigned piece = count < 80 ? count : 80;
    write(spaces, piece);
    count -= piece;
  }
  return *this;
}

OutStream &OutStream::writeCEscaped(StrView text, bool hexEscapes) {
  static const char upperHex[] = "0123456789ABCDEF";
  for (uint32_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    switch (c) {
    case '\t': write("\\t", 2); break;
    case '\n': write("\\n", 2); break;
    case '"': write("\\\"", 2); break;
    case '\\': write("\\\\", 2); break;
    default:
      // Printable ASCII, tested without the locale (the C locale's isprint).
      if (c >= 0x20 && c < 0x7f) {
        write(char(c));
      } else if (hexEscapes) {
        char escape[4] = {'\\', 'x', upperHex[c >> 4], upperHex[c & 15]};
        write(escape, 4);
      } else {
        char escape[4] = {'\\', char('0' + (c >> 6)), char('0' + ((c >> 3) & 7)),
                          char('0' + (c & 7))};
        write(escape, 4);
      }
      break;
    }
  }
  return *this;
}

} // namespace vorn
