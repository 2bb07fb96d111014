#include "backends/linux/camera/FrameDecoding.hpp"

#include <opencv2/imgproc.hpp>
#include <turbojpeg.h>

#include <climits>

namespace orvane::linuxbackend::FrameDecoding {

namespace {

// Far beyond any camera: a header claiming more is refused before its pixels are allocated.
constexpr int maximumSide = 16384;

// One decompressor a thread, kept: making one costs more than decoding a small frame.
struct Decompressor {
    tjhandle handle = tjInitDecompress();
    Decompressor() = default;
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;
    ~Decompressor() {
        if (handle != nullptr) {
            tjDestroy(handle);
        }
    }
};

} // namespace

cv::Mat decodeMjpeg(const std::uint8_t* data, std::size_t size, PixelFormat format, int scale) {
    if (data == nullptr || size == 0 || size > ULONG_MAX ||
        (scale != 1 && scale != 2 && scale != 4 && scale != 8)) {
        return {};
    }
    thread_local Decompressor decompressor;
    tjhandle handle = decompressor.handle;
    if (handle == nullptr) {
        return {};
    }
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    if (tjDecompressHeader3(handle, data, static_cast<unsigned long>(size), &width, &height,
                            &subsampling, &colourspace) != 0 ||
        width <= 0 || height <= 0 || width > maximumSide || height > maximumSide) {
        return {};
    }
    // Decoding straight to grey skips the chroma planes and the colour conversion, and the
    // fast inverse DCT costs a fraction of a grey level where the face pipeline needs none of
    // that precision. Warnings (a few stray bytes, a segment ending early) still give a usable
    // frame, and unlike libjpeg's default handler TurboJPEG does not print them on stderr at
    // every frame.
    // A scaled decode works out only the coarser frequencies of each block: the inverse DCT,
    // upsampling and colour work shrink with the image.
    const tjscalingfactor factor{1, scale};
    width = TJSCALED(width, factor);
    height = TJSCALED(height, factor);
    const bool gray = format == PixelFormat::gray8;
    cv::Mat image(height, width, gray ? CV_8UC1 : CV_8UC3);
    if (tjDecompress2(handle, data, static_cast<unsigned long>(size), image.data, width,
                      static_cast<int>(image.step), height, gray ? TJPF_GRAY : TJPF_BGR,
                      TJFLAG_FASTDCT) != 0 &&
        tjGetErrorCode(handle) != TJERR_WARNING) {
        return {};
    }
    return image;
}

cv::Mat decodeYuyv(const std::uint8_t* data, std::size_t size, int width, int height,
                   std::size_t bytesPerLine, PixelFormat format) {
    if (data == nullptr || width <= 0 || height <= 0 || width % 2 != 0 ||
        bytesPerLine < static_cast<std::size_t>(width) * 2 ||
        size / bytesPerLine < static_cast<std::size_t>(height)) {
        return {};
    }
    const cv::Mat packed(height, width, CV_8UC2, const_cast<std::uint8_t*>(data), bytesPerLine);
    cv::Mat image;
    cv::cvtColor(packed, image,
                 format == PixelFormat::gray8 ? cv::COLOR_YUV2GRAY_YUYV : cv::COLOR_YUV2BGR_YUYV);
    return image;
}

} // namespace orvane::linuxbackend::FrameDecoding
