#pragma once

#include <cstddef>
#include <vector>

namespace orvane::linuxbackend {

// The 31 planes of felzenszwalb HOG features the face detector's filters were trained on: 18
// contrast-sensitive orientations, 9 insensitive ones and 4 texture sums per cell, laid out as
// dlib's extract_fhog_features lays them out (a border of zeros wide enough for the filter)
// and equal to its numbers within float rounding. Written straight into the planes the
// filters read, each row of which may be longer than the features.
class HogFeatures {
public:
    static constexpr int planeCount = 31;

    struct Size {
        long rows = 0, columns = 0; // 0 x 0 for an image too small to give one whole cell
    };

    // `cellSize` of at least 2; filters of at least 1 x 1 cells.
    HogFeatures(int cellSize, int filterRows, int filterColumns);

    Size sizeFor(long imageRows, long imageColumns) const;

    // Fills `planes` (planeCount planes, `planeStride` floats apart, rows `stride` floats long,
    // stride >= sizeFor(...).columns) with the features of `image`: 8-bit grey, `rows` x
    // `columns`, rows `step` bytes apart. Floats past a row's features are set to zero.
    // Keeps its buffers for the next call: not for two threads at once.
    void extract(const unsigned char* image, long rows, long columns, std::size_t step,
                 float* planes, std::size_t planeStride, long stride);

private:
    int cellSize_;
    int filterRows_, filterColumns_;

    // Per image column: the histogram column it votes into first, and its two weights.
    std::vector<int> voteColumn_;
    std::vector<float> columnWeight0_, columnWeight1_;
    // Per pixel of the current row: orientation bin and the four votes.
    std::vector<int> bin_;
    std::vector<float> vote11_, vote01_, vote10_, vote00_;
    // Orientation histograms, one plane per bin for each row of cells, and the cells' energy.
    std::vector<float> histogram_, energy_, blockScale_, blockNorm_, rowOut_;
};

} // namespace orvane::linuxbackend
