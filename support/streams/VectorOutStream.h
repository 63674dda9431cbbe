#ifndef VORN_SUPPORT_STREAMS_VECTOROUTSTREAM_H
#define VORN_SUPPORT_STREAMS_VECTOROUTSTREAM_H

#include "support/runtime/Compiler.h"

#include <cstddef>

#include "support/streams/OutStream.h"
#include "support/text/InlineVector.h"
#include "support/text/StrView.h"

namespace vorn {

// An output stream that appends to an InlineVector of char, writing buffered bytes straight into
// the vector's spare capacity; the vector's size grows when they are flushed. The stream keeps at
// least 64 bytes of spare capacity, doubling the vector when it runs short.
//
// While bytes are pending they sit past the vector's end: the caller must not change the vector
// then, nor write bytes that lie inside the vector to the stream (a growth of the vector may move
// them). After changing the vector behind the stream's back, call rebindBuffer().
class VectorOutStream : public OutStream {
public:
  // Appends to the existing contents of `target`, which must outlive the stream. Gives the vector
  // at least 128 bytes of spare capacity first.
  template <unsigned N>
  explicit VectorOutStream(InlineVector<char, N> &target)
      : VectorOutStream(&target, &Access<N>::table) {}
  // Flushes, so the vector holds everything written.
  ~VectorOutStream() override;

  // Flushes, then views the whole vector (valid until the vector changes).
  StrView view();
  // Takes the vector's current end and spare capacity as the buffer again, after the vector was
  // changed behind the stream's back. The caller guarantees nothing is pending.
  void rebindBuffer();

protected:
  void sinkWrite(const char *data, size_t size) override;
  uint64_t sinkPosition() const override;

private:
  // The operations the stream needs on an InlineVector<char, N> of any N.
  struct TargetOps {
    char *(*data)(void *vector);
    size_t (*size)(const void *vector);
    size_t (*capacity)(const void *vector);
    void (*reserve)(void *vector, size_t count);
    void (*setSize)(void *vector, size_t count);
  };
  template <unsigned N> struct Access {
    using Vector = InlineVector<char, N>;
    static char *data(void *v) { return static_cast<Vector *>(v)->data(); }
    static size_t size(const void *v) { return static_cast<const Vector *>(v)->size(); }
    static size_t capacity(const void *v) { return static_cast<const Vector *>(v)->capacity(); }
    static void reserve(void *v, size_t n) { static_cast<Vector *>(v)->reserve(n); }
    static void setSize(void *v, size_t n) { static_cast<Vector *>(v)->setSizeInPlace(n); }
    static constexpr TargetOps table = {&data, &size, &capacity, &reserve, &setSize};
  };

  VectorOutStream(void *target, const TargetOps *ops);

  char *vectorEnd() const { return ops->data(target) + ops->size(target); }
  size_t spareCapacity() const { return ops->capacity(target) - ops->size(target); }

  void *target;
  const TargetOps *ops;
};

} // namespace vorn

#endif
