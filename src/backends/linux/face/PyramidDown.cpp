// Follows dlib's resize_image for grey images step by step: columns in groups of four while
// the group's last right neighbour is inside the image, with float positions stepped in
// floats and pixels rounded half up; the remaining columns with double positions and a
// truncating store. The build compiles this file with -O3 and without contracting a multiply
// and an add into one rounding (-ffp-contract=off).
#include "backends/linux/face/PyramidDown.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace orvane::linuxbackend {
namespace {

using Lanes = float __attribute__((vector_size(32)));
using IntLanes = int __attribute__((vector_size(32)));
constexpr long laneCount = 8;

template <typename Vector> inline void load(Vector& lanes, const void* from) {
    __builtin_memcpy(&lanes, from, sizeof lanes);
}

template <typename Vector> inline void store(void* to, const Vector& lanes) {
    __builtin_memcpy(to, &lanes, sizeof lanes);
}

long roundedUp(long n) {
    return (n + laneCount - 1) / laneCount * laneCount;
}

} // namespace

PyramidDown::PyramidDown(unsigned n) : n_(n) {
    if (n < 2) {
        throw std::invalid_argument("a pyramid step of less than 2 does not shrink");
    }
}

PyramidDown::Size PyramidDown::sizeFor(long rows, long columns) const {
    const long n = n_;
    return {(n - 1) * rows / n, (n - 1) * columns / n};
}

void PyramidDown::shrink(const unsigned char* image, long rows, long columns, std::size_t step,
                         std::vector<unsigned char>& out) {
    const Size size = sizeFor(rows, columns);
    out.resize(static_cast<std::size_t>(size.rows * size.columns));
    if (size.rows == 0 || size.columns == 0) {
        return;
    }
    const double xScale =
        static_cast<double>(columns - 1) / static_cast<double>(std::max(size.columns - 1, 1L));
    const double yScale =
        static_cast<double>(rows - 1) / static_cast<double>(std::max(size.rows - 1, 1L));

    // The columns dlib computes four at a time, their positions stepped in floats.
    const auto tableSize = static_cast<std::size_t>(roundedUp(size.columns) + laneCount);
    left_.assign(tableSize, 0);
    fraction_.assign(tableSize, 0.0f);
    remainder_.assign(tableSize, 0.0f);
    long wideEnd = 0;
    {
        const double start = -4 * xScale;
        float position[4] = {static_cast<float>(start), static_cast<float>(start + xScale),
                             static_cast<float>(start + 2 * xScale),
                             static_cast<float>(start + 3 * xScale)};
        const auto stride = static_cast<float>(4 * xScale);
        for (long c = 0; c + 4 <= static_cast<long>(tableSize); c += 4) {
            int left[4];
            for (int k = 0; k < 4; ++k) {
                position[k] += stride;
                left[k] = static_cast<int>(position[k]);
            }
            if (left[3] + 1 >= columns) {
                break;
            }
            for (int k = 0; k < 4; ++k) {
                const auto at = static_cast<std::size_t>(c + k);
                left_[at] = left[k];
                fraction_[at] = position[k] - static_cast<float>(left[k]);
                remainder_[at] = 1.0f - fraction_[at];
            }
            wideEnd = c + 4;
        }
    }

    for (auto& pair : gathered_) {
        for (auto& values : pair) {
            values.resize(tableSize);
        }
    }
    gatheredRow_[0] = gatheredRow_[1] = -1;
    // A source row read at every wide column's two neighbours, kept for the next output row.
    const auto gatheredFor = [&](long row, long keep) {
        int slot = gatheredRow_[0] == row ? 0 : gatheredRow_[1] == row ? 1 : -1;
        if (slot < 0) {
            slot = gatheredRow_[0] == keep ? 1 : 0;
            const unsigned char* from = image + static_cast<std::size_t>(row) * step;
            float* lefts = gathered_[slot][0].data();
            float* rights = gathered_[slot][1].data();
            for (long c = 0; c < wideEnd; ++c) {
                lefts[c] = from[left_[static_cast<std::size_t>(c)]];
                rights[c] = from[left_[static_cast<std::size_t>(c)] + 1];
            }
            gatheredRow_[slot] = row;
        }
        return slot;
    };

    unsigned char* const result = out.data();
    double y = -yScale;
    for (long r = 0; r < size.rows; ++r) {
        y += yScale;
        const auto top = static_cast<long>(std::floor(y));
        const long bottom = std::min(top + 1, rows - 1);
        const double tbFraction = y - static_cast<double>(top);
        const auto below = static_cast<float>(tbFraction);
        const auto above = static_cast<float>(1 - tbFraction);
        const int topSlot = gatheredFor(top, bottom);
        const int bottomSlot = gatheredFor(bottom, top);
        const float* topLeft = gathered_[topSlot][0].data();
        const float* topRight = gathered_[topSlot][1].data();
        const float* bottomLeft = gathered_[bottomSlot][0].data();
        const float* bottomRight = gathered_[bottomSlot][1].data();
        unsigned char* to = result + r * size.columns;

        long c = 0;
        for (; c + laneCount <= wideEnd; c += laneCount) {
            Lanes lr, rest, tl, tr, bl, br;
            load(lr, fraction_.data() + c);
            load(rest, remainder_.data() + c);
            load(tl, topLeft + c);
            load(tr, topRight + c);
            load(bl, bottomLeft + c);
            load(br, bottomRight + c);
            const Lanes value =
                (above * rest) * tl + (above * lr) * tr + (below * rest) * bl + (below * lr) * br;
            // Half up, as adding 0.5 in double and truncating does; value is never negative.
            const IntLanes whole = __builtin_convertvector(value, IntLanes);
            const IntLanes rounded =
                whole - ((value - __builtin_convertvector(whole, Lanes)) >= 0.5f);
            for (int i = 0; i < laneCount; ++i) {
                to[c + i] = static_cast<unsigned char>(rounded[i]);
            }
        }
        for (; c < wideEnd; ++c) {
            const auto at = static_cast<std::size_t>(c);
            const float value =
                (above * remainder_[at]) * topLeft[c] + (above * fraction_[at]) * topRight[c] +
                (below * remainder_[at]) * bottomLeft[c] + (below * fraction_[at]) * bottomRight[c];
            to[c] = static_cast<unsigned char>(static_cast<double>(value) + 0.5);
        }

        // The last columns, as dlib's scalar loop computes them.
        const unsigned char* upper = image + static_cast<std::size_t>(top) * step;
        const unsigned char* lower = image + static_cast<std::size_t>(bottom) * step;
        double x = -xScale + static_cast<double>(c) * xScale;
        for (; c < size.columns; ++c) {
            x += xScale;
            const auto left = static_cast<long>(std::floor(x));
            const long right = std::min(left + 1, columns - 1);
            const auto lrFraction = static_cast<float>(x - static_cast<double>(left));
            const float tl = upper[left], tr = upper[right];
            const float bl = lower[left], br = lower[right];
            const auto value =
                static_cast<float>((1 - tbFraction) * ((1 - lrFraction) * tl + lrFraction * tr) +
                                   tbFraction * ((1 - lrFraction) * bl + lrFraction * br));
            to[c] = value >= 255.0f ? 255 : value <= 0.0f ? 0 : static_cast<unsigned char>(value);
        }
    }
}

} // namespace orvane::linuxbackend
