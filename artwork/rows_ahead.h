#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace vardelle::artwork {

using RowCallback = std::function<void(std::uint32_t y, const unsigned char* row)>;

/// Runs `produce` on a thread of its own, a few rows ahead of `onRow`, which is called on the
/// calling thread for every row `produce` hands over, in order and with the same `y`: decoding a
/// large image (inflate is one stream, one core) then overlaps with what is done with its rows.
/// Rows are `rowBytes` long and copied; the rows in flight take about 4 MiB whatever the image.
/// What either side throws reaches the caller, and the other side stops. Where no thread can be
/// had, `produce` runs on the calling thread straight into `onRow`.
void forEachRowAhead(std::size_t rowBytes, const std::function<void(const RowCallback&)>& produce,
                     const RowCallback& onRow);

}  // namespace vardelle::artwork
