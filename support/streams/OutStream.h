#ifndef VORN_SUPPORT_STREAMS_OUTSTREAM_H
#define VORN_SUPPORT_STREAMS_OUTSTREAM_H

#include "support/runtime/Compiler.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <tuple>
#include <type_traits>

#include "support/text/StrView.h"

namespace vorn {

// The ECMA-48 colour numbers; KeepColor keeps the current colour and only switches to bold.
enum class TerminalColor : unsigned {
  Black = 0,
  Red = 1,
  Green = 2,
  Yellow = 3,
  Blue = 4,
  Magenta = 5,
  Cyan = 6,
  White = 7,
  KeepColor = 8,
};

// printf-style output: a format string plus arguments, printed into a caller-supplied buffer.
class Formatter {
public:
  // `format` must stay valid for the formatter's lifetime.
  explicit Formatter(const char *format) : format(format) {}
  virtual ~Formatter() = default;

  // Prints into `buffer` (at most `size` bytes, the terminating NUL included) and returns the C
  // library's result: the length of the full output, or a negative value on an error.
  virtual int formatInto(char *buffer, size_t size) const = 0;

  // Prints into `buffer` and returns the number of bytes the output needs: the length itself when
  // it fitted, one more than the length when it did not (room for the NUL), and twice `size` when
  // the C library reported an error (some C libraries do that on truncation).
  size_t neededSize(char *buffer, size_t size) const;

  // The rule of neededSize() applied to a result of formatInto() for a buffer of `size` bytes.
  static size_t neededSizeFor(int result, size_t size);

protected:
  const char *format;
};

// A formatter for one double; the stream's double output uses it with "%e".
class DoubleFormatter : public Formatter {
public:
  DoubleFormatter(const char *format, double value) : Formatter(format), value(value) {}
  int formatInto(char *buffer, size_t size) const override;

private:
  double value;
};

// A formatter for any fixed list of arguments that the C library's snprintf accepts; made by
// format(). The arguments are copied, so temporaries may be passed.
template <typename... Ts>
class FormatObject : public Formatter {
  static_assert((std::is_scalar<Ts>::value && ...), "printf arguments are numbers and pointers");

public:
  FormatObject(const char *format, const Ts &...values) : Formatter(format), values(values...) {}
  int formatInto(char *buffer, size_t size) const override {
    return std::apply(
        [&](const Ts &...args) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"
          return std::snprintf(buffer, size, format, args...);
#pragma GCC diagnostic pop
        },
        values);
  }

private:
  std::tuple<Ts...> values;
};

// Makes a formatter: `stream << format("%5.2f|%s", x, name)`. The caller guarantees that the
// arguments match the format (the compiler does not check it here).
template <typename... Ts>
FormatObject<std::decay_t<Ts>...> format(const char *fmt, Ts &&...values) {
  return FormatObject<std::decay_t<Ts>...>(fmt, values...);
}

// The buffered output stream base. It owns the buffer logic and the formatting; a derived class
// supplies the sink (sinkWrite, sinkPosition) and may choose the buffer size. Writing a string or
// a character that fits into the buffer is an inline copy with no virtual call.
//
// A derived class must flush in its own destructor (the base destructor cannot reach the sink) if
// pending bytes are to reach the sink. A stream is used by one thread at a time; an unbuffered
// descriptor stream (FdOutStream), the standard error stream among them, may be written from
// several threads at once, since writing to a stream without a buffer changes none of the
// buffer's state.
class OutStream {
public:
  // Who owns the buffer.
  enum BufferOwner {
    NoBuffer = 0,       // every write goes straight to the sink
    OwnBuffer = 1,      // a heap array of the stream, allocated at the first write
    BorrowedBuffer = 2, // memory that belongs to somebody else; never freed by the stream
  };

  OutStream(const OutStream &) = delete;
  OutStream &operator=(const OutStream &) = delete;

  // Frees the buffer when the stream owns it. Does not flush.
  virtual ~OutStream();

  // Switches the output colour where the sink is a colour terminal; does nothing here.
  virtual OutStream &setColor(TerminalColor color, bool bold = false, bool background = false);
  // Returns to the terminal's default colours; does nothing here.
  virtual OutStream &restoreColor();
  // Switches to reverse video; does nothing here.
  virtual OutStream &setReverseVideo();
  // True when the output is shown on a terminal; false here.
  virtual bool showsOnTerminal() const;
  // True when colour changes would show; here the same as showsOnTerminal().
  virtual bool supportsColors() const;

  // Appends `size` bytes at `data`. The bytes must not lie in the stream's own buffer.
  OutStream &write(const char *data, size_t size) {
    if (size_t(bufLimit - bufNext) >= size) {
      appendToBuffer(data, size);
      return *this;
    }
    return writeSlow(data, size);
  }
  // Appends one byte.
  OutStream &write(char c) {
    if (bufNext < bufLimit) {
      *bufNext++ = c;
      return *this;
    }
    return writeCharSlow(c);
  }

  OutStream &operator<<(char c) { return write(c); }
  OutStream &operator<<(unsigned char c) { return write(char(c)); }
  OutStream &operator<<(signed char c) { return write(char(c)); }
  // A NUL-terminated text; the caller guarantees `text` is not null.
  OutStream &operator<<(const char *text) { return write(text, std::strlen(text)); }
  OutStream &operator<<(StrView text) { return write(text.data(), text.size()); }
  OutStream &operator<<(const std::string &text) { return write(text.data(), text.size()); }

  // Integers in decimal; a negative value gets a leading '-'.
  OutStream &operator<<(int value) { return writeSigned32(value); }
  OutStream &operator<<(unsigned value) { return writeUnsigned32(value); }
  OutStream &operator<<(long value) {
    return sizeof(long) == 4 ? writeSigned32(int32_t(value)) : writeSigned64(value);
  }
  OutStream &operator<<(unsigned long value) {
    return sizeof(long) == 4 ? writeUnsigned32(uint32_t(value)) : writeUnsigned64(value);
  }
  OutStream &operator<<(long long value) { return writeSigned64(value); }
  OutStream &operator<<(unsigned long long value) { return writeUnsigned64(value); }

  // "%e" of the value, as printf gives it.
  OutStream &operator<<(double value);
  // "0x" and the lower-case hexadecimal digits of the address ("0x0" for null).
  OutStream &operator<<(const void *pointer);
  // The formatter's output.
  OutStream &operator<<(const Formatter &formatter);

  // Decimal output of fixed-width integers.
  OutStream &writeUnsigned32(uint32_t value);
  OutStream &writeSigned32(int32_t value);
  OutStream &writeUnsigned64(uint64_t value);
  OutStream &writeSigned64(int64_t value);
  // Lower-case hexadecimal digits of `value`, no prefix, no leading zeros ("0" for zero).
  OutStream &writeHexDigits(uint64_t value);
  // `count` spaces.
  OutStream &writeSpaces(unsigned count);
  // `text` with tab, newline, '"' and '\' written as C escapes, other printable ASCII bytes as they
  // are, and every other byte as "\xHH" (upper-case hex) when `hexEscapes` is set, else as "\ooo".
  OutStream &writeCEscaped(StrView text, bool hexEscapes = false);

  // Hands the pending bytes to the sink.
  OutStream &flush() {
    if (bufNext != bufBegin) drainBuffer();
    return *this;
  }

  // Bytes written to the stream so far: those the sink received plus those pending.
  uint64_t position() const { return sinkPosition() + pendingBytes(); }
  // Bytes written but not yet handed to the sink.
  size_t pendingBytes() const { return size_t(bufNext - bufBegin); }
  // Size of the current buffer; 0 while there is none.
  size_t bufferSize() const { return size_t(bufLimit - bufBegin); }
  BufferOwner bufferOwner() const { return bufOwner; }

protected:
  // A stream with no buffer yet, in mode `owner`; a stream that borrows its buffer installs it
  // right after.
  explicit OutStream(BufferOwner owner = OwnBuffer) : bufOwner(owner) {}

  // Hands `size` bytes at `data` to the sink. `data` may be the start of the stream's own buffer
  // (whose pending count is already zero when this runs).
  virtual void sinkWrite(const char *data, size_t size) = 0;
  // How many bytes the sink has received.
  virtual uint64_t sinkPosition() const = 0;
  // The buffer size to allocate at the first write in OwnBuffer mode; 0 turns the stream
  // unbuffered for good.
  virtual size_t defaultBufferSize() const;

  // Marks the buffer empty, then hands what was pending to the sink.
  void drainBuffer();
  // Copies `size` bytes to the buffer; the caller guarantees they fit. An empty piece leaves the
  // stream untouched (it is the one write that fits a stream without a buffer).
  void appendToBuffer(const char *data, size_t size) {
    switch (size) {
    case 0: return;
    case 4: bufNext[3] = data[3]; [[fallthrough]];
    case 3: bufNext[2] = data[2]; [[fallthrough]];
    case 2: bufNext[1] = data[1]; [[fallthrough]];
    case 1: bufNext[0] = data[0]; break;
    default: std::memcpy(bufNext, data, size); break;
    }
    bufNext += size;
  }
  // Flushes, then installs a new owned buffer of defaultBufferSize() bytes, or turns the stream
  // unbuffered when that size is 0.
  void allocateBuffer();
  // Frees an owned buffer, then makes `buffer` (of `size` bytes, may be null with size 0) the
  // empty buffer in mode `owner`. The caller guarantees nothing is pending.
  void installBuffer(char *buffer, size_t size, BufferOwner owner);

  char *bufBegin = nullptr; // null while there is no buffer
  char *bufLimit = nullptr; // one past the buffer's last byte
  char *bufNext = nullptr;  // next free byte; [bufBegin, bufNext) is pending
  BufferOwner bufOwner;

private:
  OutStream &writeSlow(const char *data, size_t size);
  OutStream &writeCharSlow(char c);
};

} // namespace vorn

#endif
