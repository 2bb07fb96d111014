// Decoding one 1280 x 720 webcam frame, as the V4L2 camera and the clip path do for every frame
// they deliver.
#include "backends/linux/camera/FrameDecoding.hpp"

#include <benchmark/benchmark.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <turbojpeg.h>
#include <vector>

namespace {

using orvane::PixelFormat;
namespace FrameDecoding = orvane::linuxbackend::FrameDecoding;

// A photo at 720p with sensor-like noise: flat synthetic images compress (and decode) far
// more easily than what a webcam sends.
cv::Mat webcamLikeFrame() {
    cv::Mat photo = cv::imread("/usr/share/matplotlib/mpl-data/sample_data/grace_hopper.jpg");
    if (photo.empty()) {
        photo = cv::Mat(600, 512, CV_8UC3);
        cv::randu(photo, 0, 255);
        cv::GaussianBlur(photo, photo, cv::Size(31, 31), 0);
    }
    cv::Mat frame;
    cv::resize(photo, frame, cv::Size(1280, 720));
    cv::Mat noise(frame.size(), CV_16SC3);
    cv::randn(noise, 0, 4);
    frame.convertTo(frame, CV_16SC3);
    frame += noise;
    frame.convertTo(frame, CV_8UC3);
    return frame;
}

const std::vector<std::uint8_t>& mjpegFrame() {
    static const std::vector<std::uint8_t> bytes = [] {
        std::vector<std::uint8_t> encoded;
        cv::imencode(".jpg", webcamLikeFrame(), encoded, {cv::IMWRITE_JPEG_QUALITY, 85});
        return encoded;
    }();
    return bytes;
}

const cv::Mat& yuyvFrame() {
    static const cv::Mat packed = [] {
        cv::Mat yuv;
        cv::cvtColor(webcamLikeFrame(), yuv, cv::COLOR_BGR2YUV);
        cv::Mat result(720, 1280, CV_8UC2);
        for (int y = 0; y < 720; ++y) {
            for (int x = 0; x < 1280; x += 2) {
                const auto a = yuv.at<cv::Vec3b>(y, x);
                const auto b = yuv.at<cv::Vec3b>(y, x + 1);
                result.at<cv::Vec2b>(y, x) = {a[0], static_cast<std::uint8_t>((a[1] + b[1]) / 2)};
                result.at<cv::Vec2b>(y, x + 1) = {b[0],
                                                  static_cast<std::uint8_t>((a[2] + b[2]) / 2)};
            }
        }
        return result;
    }();
    return packed;
}

// Full size, as the camera and the clip path decode a face too small for half-size frames and
// a face just found; the face pipeline asks for grey.
void decodeMjpeg(benchmark::State& state, PixelFormat format) {
    const auto& bytes = mjpegFrame();
    for (auto _ : state) {
        auto image = FrameDecoding::decodeMjpeg(bytes.data(), bytes.size(), format);
        benchmark::DoNotOptimize(image.data);
    }
    state.counters["jpegKiB"] = static_cast<double>(bytes.size()) / 1024.0;
    if (format == PixelFormat::gray8) {
        state.SetLabel("1280x720, a small or new face");
    }
}
BENCHMARK_CAPTURE(decodeMjpeg, bgr24, PixelFormat::bgr24)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(decodeMjpeg, gray8, PixelFormat::gray8)->Unit(benchmark::kMillisecond);

// TurboJPEG's scaled decode to grey (1/2 and 1/4 of each side), which skips most of the inverse
// DCT: beside the full-size one, what a pipeline that wanted fewer pixels would pay.
void decodeMjpegScaled(benchmark::State& state) {
    const auto& bytes = mjpegFrame();
    const int denominator = static_cast<int>(state.range(0));
    tjhandle handle = tjInitDecompress();
    const int width = (1280 + denominator - 1) / denominator;
    const int height = (720 + denominator - 1) / denominator;
    cv::Mat image(height, width, CV_8UC1);
    for (auto _ : state) {
        if (tjDecompress2(handle, bytes.data(), static_cast<unsigned long>(bytes.size()),
                          image.data, width, static_cast<int>(image.step), height, TJPF_GRAY,
                          TJFLAG_FASTDCT) != 0 &&
            tjGetErrorCode(handle) != TJERR_WARNING) {
            state.SkipWithError(tjGetErrorStr2(handle));
            break;
        }
        benchmark::DoNotOptimize(image.data);
    }
    tjDestroy(handle);
    // Half size is what frames kept while nobody is in view are decoded at, and those of a
    // face close enough to the camera (most at a desk).
    state.SetLabel(std::to_string(width) + "x" + std::to_string(height) +
                   (denominator == 2 ? ", nobody in view or a near face" : ", not used"));
}
BENCHMARK(decodeMjpegScaled)
    ->ArgName("gray8_1_over")
    ->Arg(2)
    ->Arg(4)
    ->Unit(benchmark::kMillisecond);

void decodeYuyv(benchmark::State& state, PixelFormat format) {
    const auto& packed = yuyvFrame();
    for (auto _ : state) {
        auto image = FrameDecoding::decodeYuyv(packed.data, packed.total() * packed.elemSize(),
                                               1280, 720, packed.step, format);
        benchmark::DoNotOptimize(image.data);
    }
}
BENCHMARK_CAPTURE(decodeYuyv, bgr24, PixelFormat::bgr24)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(decodeYuyv, gray8, PixelFormat::gray8)->Unit(benchmark::kMillisecond);

// What a consumer of colour frames pays to get to grey, for comparison with decoding to grey.
void bgrToGray(benchmark::State& state) {
    const cv::Mat frame = webcamLikeFrame();
    cv::Mat gray;
    for (auto _ : state) {
        cv::cvtColor(frame, gray, cv::COLOR_BGR2GRAY);
        benchmark::DoNotOptimize(gray.data);
    }
}
BENCHMARK(bgrToGray)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
