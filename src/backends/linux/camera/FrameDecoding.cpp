#include "backends/linux/camera/FrameDecoding.hpp"

#include <opencv2/imgproc.hpp>
#include <turbojpeg.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <csetjmp>
#include <cstdio>
// After <cstdio>: libjpeg's header uses FILE and size_t without including their headers.
#include <jpeglib.h>

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

// libjpeg's errors end the decoding through a jump rather than ending the program; its
// warnings (a few stray bytes, a segment ending early) are not printed at every frame, as
// TurboJPEG does not print them either.
struct QuietErrors : jpeg_error_mgr {
    std::jmp_buf failed;
};

[[noreturn]] void jumpOut(j_common_ptr decoder) {
    std::longjmp(static_cast<QuietErrors*>(decoder->err)->failed, 1);
}

void sayNothing(j_common_ptr) {}

// The top `rows` of a grey frame decoded into `image` (sized as the frame at 1/`scale`), the
// rest black. As TurboJPEG decodes it (fast inverse DCT, the same scaled inverse DCTs), so the
// rows decoded are the same to the bit. The rows decoded; 0 when the data turn out to be no
// JPEG of that size.
int decodeTopRows(const std::uint8_t* data, std::size_t size, int scale, int rows, cv::Mat& image) {
    jpeg_decompress_struct decoder{};
    QuietErrors errors;
    decoder.err = jpeg_std_error(&errors);
    errors.error_exit = jumpOut;
    errors.output_message = sayNothing;
    // Everything the jump may skip past is set up before it.
    if (setjmp(errors.failed) != 0) {
        jpeg_destroy_decompress(&decoder);
        return 0;
    }
    jpeg_create_decompress(&decoder);
    jpeg_mem_src(&decoder, data, static_cast<unsigned long>(size));
    if (jpeg_read_header(&decoder, TRUE) != JPEG_HEADER_OK) {
        jpeg_destroy_decompress(&decoder);
        return 0;
    }
    decoder.out_color_space = JCS_GRAYSCALE;
    decoder.scale_num = 1;
    decoder.scale_denom = static_cast<unsigned int>(scale);
    decoder.dct_method = JDCT_IFAST;
    jpeg_start_decompress(&decoder);
    if (static_cast<int>(decoder.output_width) != image.cols ||
        static_cast<int>(decoder.output_height) != image.rows || decoder.output_components != 1) {
        jpeg_destroy_decompress(&decoder);
        return 0;
    }
    while (static_cast<int>(decoder.output_scanline) < rows) {
        JSAMPROW row = image.ptr<std::uint8_t>(static_cast<int>(decoder.output_scanline));
        if (jpeg_read_scanlines(&decoder, &row, 1) != 1) {
            break; // data cut short: what came is kept, as TurboJPEG keeps it
        }
    }
    const int decoded = static_cast<int>(decoder.output_scanline);
    image.rowRange(decoded, image.rows).setTo(0);
    // Leaves the rest of the data unread.
    jpeg_destroy_decompress(&decoder);
    return decoded;
}

} // namespace

cv::Mat decodeMjpeg(const std::uint8_t* data, std::size_t size, PixelFormat format, int scale,
                    double rows, int* pictureRows) {
    if (pictureRows != nullptr) {
        *pictureRows = 0;
    }
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
    // Whole rows of blocks (16 lines at most, fewer in a scaled image): a block row begun
    // costs as much as a whole one.
    const double share = std::isfinite(rows) && rows > 0 ? std::min(rows, 1.0) : 1.0;
    const int block = 16 / scale;
    const int topRows =
        std::min(height, (static_cast<int>(std::ceil(share * height)) + block - 1) / block * block);
    if (gray && topRows < height) {
        const int decoded = decodeTopRows(data, size, scale, topRows, image);
        if (decoded <= 0) {
            return {};
        }
        if (pictureRows != nullptr) {
            *pictureRows = decoded;
        }
        return image;
    }
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
