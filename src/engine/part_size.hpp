// The size of a part: the bytes that are read, searched or marked and then
// read again in one go, so that they are still in cache the second time.
// Both tools and the reading thread cut their text into parts of this size.
#pragma once

#include <cstddef>

namespace hittab {

constexpr std::size_t part_size = 128 * 1024;

}  // namespace hittab
