// The arithmetic follows dlib's extract_fhog_features step by step (its operand order, its
// float and double constants, its two vote orders) so that the filters see the numbers they
// were trained on. The build compiles this file with -O3, without contracting a multiply and
// an add into one rounding (-ffp-contract=off) and with sqrt free of errno, so it vectorises.
#include "backends/linux/face/HogFeatures.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace orvane::linuxbackend {
namespace {

// Built twice on x86-64, for the baseline and for AVX2 (without FMA, which would round
// differently), and chosen at the first call by the processor, as the scanner's filters are.
#if defined(__x86_64__) && !defined(__clang__)
#define ORVANE_WIDE_VECTORS 1
#endif
#define ORVANE_ALWAYS_INLINE inline __attribute__((always_inline))

using Lanes = float __attribute__((vector_size(32)));
using IntLanes = int __attribute__((vector_size(32)));
using ByteLanes = unsigned char __attribute__((vector_size(8)));
constexpr long laneCount = 8;
constexpr int bins = 18;

// dlib's nine unit directions, as floats.
constexpr float directionX[9] = {1.0000f,  0.9397f,  0.7660f,  0.500f,  0.1736f,
                                 -0.1736f, -0.5000f, -0.7660f, -0.9397f};
constexpr float directionY[9] = {0.0000f, 0.3420f, 0.6428f, 0.8660f, 0.9848f,
                                 0.9848f, 0.8660f, 0.6428f, 0.3420f};

constexpr float epsilon = 0.0001f;
constexpr float clampScale = static_cast<float>(0.2);
constexpr float normScale = static_cast<float>(0.1);
constexpr float textureScale = static_cast<float>(2 * 0.2357);

// By reference: a vector passed by value would take a different calling convention in the
// AVX2 build.
template <typename Vector> ORVANE_ALWAYS_INLINE void load(Vector& lanes, const void* from) {
    __builtin_memcpy(&lanes, from, sizeof lanes);
}

template <typename Vector> ORVANE_ALWAYS_INLINE void store(void* to, const Vector& lanes) {
    __builtin_memcpy(to, &lanes, sizeof lanes);
}

ORVANE_ALWAYS_INLINE void loadPixels(IntLanes& lanes, const unsigned char* from) {
    ByteLanes bytes;
    load(bytes, from);
    lanes = __builtin_convertvector(bytes, IntLanes);
}

ORVANE_ALWAYS_INLINE void minimum(Lanes& out, const Lanes& a, const Lanes& b) {
    out = a < b ? a : b;
}

struct Job {
    const unsigned char* image;
    std::size_t step;
    int cellSize;
    long cellRows, cellColumns, hogRows, hogColumns;
    long visibleRows, visibleColumns;
    long wideEnd; // columns before this one vote in dlib's vector order, the rest in its scalar one
    const int* voteColumn;
    const float *columnWeight0, *columnWeight1;
    int* bin;
    float *vote11, *vote01, *vote10, *vote00;
    float* histogram; // per row of cells (border included): `bins` planes of `width` floats
    float *energy, *blockScale, *blockNorm; // rows of `width` floats
    float* rowOut;                          // planeCount rows of `width` floats
    long width;
    float* planes;
    std::size_t planeStride;
    long stride, rowOffset, columnOffset;
};

// Gradient, orientation and the four bilinear votes of pixels [x, x + 8) of row y, as dlib's
// vector loop computes them.
ORVANE_ALWAYS_INLINE void votesOf8(const Job& job, const unsigned char* row, long x, float vy0,
                                   float vy1) {
    IntLanes left, right, top, bottom;
    loadPixels(left, row + x - 1);
    loadPixels(right, row + x + 1);
    loadPixels(top, row - job.step + x);
    loadPixels(bottom, row + job.step + x);
    const Lanes gx = __builtin_convertvector(right - left, Lanes);
    const Lanes gy = __builtin_convertvector(bottom - top, Lanes);
    const Lanes squared = gx * gx + gy * gy;
    Lanes length;
    for (int i = 0; i < laneCount; ++i) {
        length[i] = __builtin_sqrtf(squared[i]);
    }
    Lanes best{};
    IntLanes bestBin{};
    for (int o = 0; o < 9; ++o) {
        Lanes dot = gx * directionX[o] + gy * directionY[o];
        IntLanes better = dot > best;
        best = better ? dot : best;
        bestBin = better ? (IntLanes{} + o) : bestBin;
        dot = -dot;
        better = dot > best;
        best = better ? dot : best;
        bestBin = better ? (IntLanes{} + (o + 9)) : bestBin;
    }
    Lanes w0, w1;
    load(w0, job.columnWeight0 + x);
    load(w1, job.columnWeight1 + x);
    w1 *= length;
    w0 *= length;
    store(job.bin + x, bestBin);
    store(job.vote11 + x, vy1 * w1);
    store(job.vote01 + x, vy0 * w1);
    store(job.vote10 + x, vy1 * w0);
    store(job.vote00 + x, vy0 * w0);
}

// The same for one pixel, as dlib's scalar loop computes it.
ORVANE_ALWAYS_INLINE void voteOf1(const Job& job, const unsigned char* row, long x, float vy0,
                                  float vy1) {
    const float gx = static_cast<float>(int{row[x + 1]} - int{row[x - 1]});
    const float gy = static_cast<float>(int{row[x + static_cast<long>(job.step)]} -
                                        int{row[x - static_cast<long>(job.step)]});
    const float length = std::sqrt(gx * gx + gy * gy);
    float best = 0;
    int bestBin = 0;
    for (int o = 0; o < 9; ++o) {
        const float dot = directionX[o] * gx + directionY[o] * gy;
        if (dot > best) {
            best = dot;
            bestBin = o;
        } else if (-dot > best) {
            best = -dot;
            bestBin = o + 9;
        }
    }
    const float w0 = job.columnWeight0[x];
    const float w1 = job.columnWeight1[x];
    job.bin[x] = bestBin;
    job.vote11[x] = vy1 * w1 * length;
    job.vote01[x] = vy0 * w1 * length;
    job.vote10[x] = vy1 * w0 * length;
    job.vote00[x] = vy0 * w0 * length;
}

// One feature of one cell for 8 cells at once: the value clamped and scaled by each of the
// cell's four blocks, the four summed in dlib's order; `parts` keeps the four.
ORVANE_ALWAYS_INLINE void normalised(Lanes& sum, const Lanes& value, const Lanes* clamp,
                                     const Lanes* scale, Lanes* parts) {
    for (int l = 0; l < 4; ++l) {
        minimum(parts[l], value, clamp[l]);
        parts[l] *= scale[l];
    }
    sum = (parts[0] + parts[2]) + (parts[1] + parts[3]);
}

ORVANE_ALWAYS_INLINE void extractBody(const Job& job) {
    const long width = job.width;
    const long histogramRow = bins * width;

    // Votes, pixel by pixel in dlib's order, so that every bin sums in the same order.
    for (long y = 1; y < job.visibleRows; ++y) {
        const float yp = static_cast<float>(
            (static_cast<float>(y) + 0.5) / static_cast<float>(job.cellSize) - 0.5);
        const int iyp = static_cast<int>(std::floor(yp));
        const float vy0 = yp - static_cast<float>(iyp);
        const float vy1 = static_cast<float>(1.0 - vy0);
        const unsigned char* row = job.image + static_cast<std::size_t>(y) * job.step;
        long x = 1;
        for (; x + laneCount - 1 < job.visibleColumns; x += laneCount) {
            votesOf8(job, row, x, vy0, vy1);
        }
        // The columns dlib's vector loop leaves to its scalar one.
        for (; x < job.visibleColumns; ++x) {
            voteOf1(job, row, x, vy0, vy1);
        }
        float* upper = job.histogram + (iyp + 1) * histogramRow;
        float* lower = upper + histogramRow;
        for (x = 1; x < job.visibleColumns; ++x) {
            const long at = job.bin[x] * width + job.voteColumn[x];
            upper[at] += job.vote11[x];
            upper[at + 1] += job.vote10[x];
            lower[at] += job.vote01[x];
            lower[at + 1] += job.vote00[x];
        }
    }

    // Each cell's energy: its two opposite orientations summed, squared, added up.
    for (long r = 0; r < job.cellRows; ++r) {
        const float* cells = job.histogram + (r + 1) * histogramRow + 1;
        float* energy = job.energy + r * width;
        for (long c = 0; c < job.cellColumns; c += laneCount) {
            Lanes sum{};
            for (int o = 0; o < 9; ++o) {
                Lanes a, b;
                load(a, cells + o * width + c);
                load(b, cells + (o + 9) * width + c);
                const Lanes both = a + b;
                sum += both * both;
            }
            store(energy + c, sum);
        }
    }

    // Each block of 2 x 2 cells: the clamp and the scale of the cells it normalises.
    for (long r = 0; r + 1 < job.cellRows; ++r) {
        const float* above = job.energy + r * width;
        const float* below = above + width;
        for (long c = 0; c + 1 < job.cellColumns; c += laneCount) {
            Lanes a, b, d, e;
            load(a, above + c);
            load(b, above + c + 1);
            load(d, below + c);
            load(e, below + c + 1);
            const Lanes sum = a + b + d + e + epsilon;
            Lanes root;
            for (int i = 0; i < laneCount; ++i) {
                root[i] = __builtin_sqrtf(sum[i]);
            }
            const Lanes clamp = clampScale * root;
            store(job.blockScale + r * width + c, clamp);
            store(job.blockNorm + r * width + c, normScale / clamp);
        }
    }

    // Features of each cell inside the border, normalised by each of its four blocks.
    const long outWidth = width;
    for (long y = 0; y < job.hogRows; ++y) {
        const float* cells = job.histogram + (y + 2) * histogramRow + 2;
        for (long x = 0; x < job.hogColumns; x += laneCount) {
            // dlib's four lanes: the blocks below right, above right, below left, above left.
            Lanes clamp[4], scale[4];
            const long blocks[4] = {(y + 1) * width + x + 1, y * width + x + 1, (y + 1) * width + x,
                                    y * width + x};
            for (int l = 0; l < 4; ++l) {
                load(clamp[l], job.blockScale + blocks[l]);
                load(scale[l], job.blockNorm + blocks[l]);
            }
            Lanes texture[4] = {};
            for (int o = 0; o < bins; o += 3) {
                Lanes parts[3][4];
                for (int k = 0; k < 3; ++k) {
                    Lanes value, sum;
                    load(value, cells + (o + k) * width + x);
                    normalised(sum, value, clamp, scale, parts[k]);
                    store(job.rowOut + (o + k) * outWidth + x, sum);
                }
                for (int l = 0; l < 4; ++l) {
                    texture[l] += parts[0][l] + parts[1][l] + parts[2][l];
                }
            }
            for (int l = 0; l < 4; ++l) {
                store(job.rowOut + (27 + l) * outWidth + x, texture[l] * textureScale);
            }
            for (int o = 0; o < 9; ++o) {
                Lanes a, b, sum, parts[4];
                load(a, cells + o * width + x);
                load(b, cells + (o + 9) * width + x);
                normalised(sum, a + b, clamp, scale, parts);
                store(job.rowOut + (18 + o) * outWidth + x, sum);
            }
        }
        for (int plane = 0; plane < HogFeatures::planeCount; ++plane) {
            float* to = job.planes + plane * job.planeStride + (y + job.rowOffset) * job.stride +
                        job.columnOffset;
            std::memcpy(to, job.rowOut + plane * outWidth,
                        static_cast<std::size_t>(job.hogColumns) * sizeof(float));
        }
    }
}

using Extract = void (*)(const Job&);

void extractBaseline(const Job& job) {
    extractBody(job);
}

#ifdef ORVANE_WIDE_VECTORS
__attribute__((target("avx2"))) void extractWide(const Job& job) {
    extractBody(job);
}
#endif

Extract chooseExtract() {
#ifdef ORVANE_WIDE_VECTORS
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) {
        return extractWide;
    }
#endif
    return extractBaseline;
}

void extractChosen(const Job& job) {
    static const Extract chosen = chooseExtract();
    chosen(job);
}

long cellsAlong(long pixels, int cellSize) {
    return static_cast<long>(static_cast<float>(pixels) / static_cast<float>(cellSize) + 0.5);
}

long roundedUp(long n) {
    return (n + laneCount - 1) / laneCount * laneCount;
}

} // namespace

HogFeatures::HogFeatures(int cellSize, int filterRows, int filterColumns)
    : cellSize_(cellSize), filterRows_(filterRows), filterColumns_(filterColumns) {
    if (cellSize < 2 || filterRows < 1 || filterColumns < 1) {
        throw std::invalid_argument("HOG cells of fewer than 2 pixels or an empty filter");
    }
}

HogFeatures::Size HogFeatures::sizeFor(long imageRows, long imageColumns) const {
    const long hogRows = cellsAlong(imageRows, cellSize_) - 2;
    const long hogColumns = cellsAlong(imageColumns, cellSize_) - 2;
    if (hogRows <= 0 || hogColumns <= 0) {
        return {};
    }
    return {hogRows + filterRows_ - 1, hogColumns + filterColumns_ - 1};
}

void HogFeatures::extract(const unsigned char* image, long rows, long columns, std::size_t step,
                          float* planes, std::size_t planeStride, long stride) {
    const Size size = sizeFor(rows, columns);
    if (size.rows == 0) {
        return;
    }
    Job job{};
    job.image = image;
    job.step = step;
    job.cellSize = cellSize_;
    job.cellRows = cellsAlong(rows, cellSize_);
    job.cellColumns = cellsAlong(columns, cellSize_);
    job.hogRows = job.cellRows - 2;
    job.hogColumns = job.cellColumns - 2;
    job.visibleRows = std::min(job.cellRows * cellSize_, rows) - 1;
    job.visibleColumns = std::min(job.cellColumns * cellSize_, columns) - 1;
    // dlib's vector loop steps x = 1, 9, 17, ... while x < visible columns - 7.
    job.wideEnd = 1;
    while (job.wideEnd < job.visibleColumns - 7) {
        job.wideEnd += laneCount;
    }
    job.rowOffset = (filterRows_ - 1) / 2;
    job.columnOffset = (filterColumns_ - 1) / 2;

    // Rows of every buffer hold whole vectors past their last cell (and the border's two).
    const long width = roundedUp(job.cellColumns + 2) + laneCount;
    job.width = width;
    const auto pixelRow = static_cast<std::size_t>(roundedUp(job.visibleColumns + 1) + laneCount);
    voteColumn_.resize(pixelRow);
    columnWeight0_.resize(pixelRow);
    columnWeight1_.resize(pixelRow);
    for (long x = 1; x < job.visibleColumns; ++x) {
        const auto at = static_cast<std::size_t>(x);
        if (x < job.wideEnd) {
            const float xp = (static_cast<float>(x) + 0.5f) / static_cast<float>(cellSize_) + 0.5f;
            voteColumn_[at] = static_cast<int>(xp);
            columnWeight0_[at] = xp - static_cast<float>(voteColumn_[at]);
            columnWeight1_[at] = 1.0f - columnWeight0_[at];
        } else {
            const auto xp = static_cast<float>(
                (static_cast<double>(x) + 0.5) / static_cast<double>(cellSize_) - 0.5);
            const int ixp = static_cast<int>(std::floor(xp));
            voteColumn_[at] = ixp + 1;
            columnWeight0_[at] = xp - static_cast<float>(ixp);
            columnWeight1_[at] = static_cast<float>(1.0 - columnWeight0_[at]);
        }
    }
    bin_.resize(pixelRow);
    vote11_.resize(pixelRow);
    vote01_.resize(pixelRow);
    vote10_.resize(pixelRow);
    vote00_.resize(pixelRow);
    histogram_.assign(static_cast<std::size_t>((job.cellRows + 2) * bins * width), 0.0f);
    const auto cellsSize = static_cast<std::size_t>(job.cellRows * width);
    energy_.assign(cellsSize, 0.0f);
    blockScale_.assign(cellsSize, 1.0f);
    blockNorm_.assign(cellsSize, 0.0f);
    rowOut_.resize(static_cast<std::size_t>(planeCount * width));

    job.voteColumn = voteColumn_.data();
    job.columnWeight0 = columnWeight0_.data();
    job.columnWeight1 = columnWeight1_.data();
    job.bin = bin_.data();
    job.vote11 = vote11_.data();
    job.vote01 = vote01_.data();
    job.vote10 = vote10_.data();
    job.vote00 = vote00_.data();
    job.histogram = histogram_.data();
    job.energy = energy_.data();
    job.blockScale = blockScale_.data();
    job.blockNorm = blockNorm_.data();
    job.rowOut = rowOut_.data();
    job.planes = planes;
    job.planeStride = planeStride;
    job.stride = stride;

    // The border the filter needs, and the rows' ends past the features, are zero.
    for (int plane = 0; plane < planeCount; ++plane) {
        float* base = planes + plane * planeStride;
        for (long r = 0; r < size.rows; ++r) {
            float* row = base + r * stride;
            if (r < job.rowOffset || r >= job.rowOffset + job.hogRows) {
                std::fill(row, row + stride, 0.0f);
            } else {
                std::fill(row, row + job.columnOffset, 0.0f);
                std::fill(row + job.columnOffset + job.hogColumns, row + stride, 0.0f);
            }
        }
    }
    extractChosen(job);
}

} // namespace orvane::linuxbackend
