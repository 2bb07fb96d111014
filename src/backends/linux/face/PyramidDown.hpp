#pragma once

#include <cstddef>
#include <vector>

namespace orvane::linuxbackend {

// One step down dlib's pyramid_down<N> for 8-bit grey images: (N - 1) / N of the size,
// bilinear, the same pixels as dlib's resize gives (its float weights, its rounding, and its
// scalar arithmetic for the last columns), so that the face detector's boxes stay the same.
// Cheaper than dlib's: the weights of each column are worked out once per level and each
// source row is read once.
class PyramidDown {
public:
    explicit PyramidDown(unsigned n);

    struct Size {
        long rows = 0, columns = 0;
    };
    Size sizeFor(long rows, long columns) const;

    // Writes the smaller image, rows sizeFor(...).columns bytes apart, to `out`.
    // Keeps its buffers for the next call: not for two threads at once.
    void shrink(const unsigned char* image, long rows, long columns, std::size_t step,
                std::vector<unsigned char>& out);

private:
    unsigned n_;
    // Per output column: the source column on its left, and its weights.
    std::vector<int> left_;
    std::vector<float> fraction_, remainder_;
    // Two source rows, read at each output column's left and right source columns.
    std::vector<float> gathered_[2][2];
    long gatheredRow_[2] = {-1, -1};
};

} // namespace orvane::linuxbackend
