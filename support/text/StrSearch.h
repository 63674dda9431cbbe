// Internal to the support library and not installed: only StrView.cpp includes it.
#ifndef VORN_SUPPORT_TEXT_STRSEARCH_H
#define VORN_SUPPORT_TEXT_STRSEARCH_H

#include "support/runtime/Compiler.h"

#include <cstdint>

#include "support/text/StrView.h"

// The substring search behind StrView's find, rfind and count (StrSearch.cpp). StrView settles
// the empty needle, the needle longer than the text and, for find and rfind, the one-byte needle
// itself; these take the rest. Whichever way they go, they report the same positions.

namespace vorn {
namespace detail {

// The first position where `needle` occurs in `text`, or StrView::npos. The caller guarantees
// 2 <= needle.size() <= text.size().
uint32_t findFirstMatch(StrView text, StrView needle);

// The last position where `needle` occurs in `text`, or StrView::npos. The caller guarantees
// 2 <= needle.size() <= text.size().
uint32_t findLastMatch(StrView text, StrView needle);

// The number of positions where `needle` occurs in `text`, overlapping occurrences included. The
// caller guarantees 2 <= needle.size() <= text.size().
uint32_t countMatches(StrView text, StrView needle);

// The number of `c` bytes in `text`.
uint32_t countByte(StrView text, unsigned char c);

} // namespace detail
} // namespace vorn

#endif
