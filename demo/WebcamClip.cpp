// Writes two clips that look to the decoder and the face pipeline as a webcam's stream does, for
// measuring what Orvane costs:
//   orvane_webcam_clip FACE.avi EMPTY.avi [FRAMES]
// Both are 1280 x 720 Motion-JPEG at 15 frames a second, FRAMES long (default 90). FACE.avi
// shows the head turning right and left in front of a room; EMPTY.avi the same room with
// nobody in it. A camera held still still shakes and its sensor is noisy, so no two frames are
// alike: each one is moved by up to 3 pixels and carries fresh noise. A clip of identical
// frames would let caches and the encoder flatter every figure.

#include "demo/FacePhotos.hpp"

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <tuple>

namespace {

using namespace orvane::demo;

constexpr double framesPerSecond = 15;
constexpr double maximumShake = 3;  // pixels, either way on each axis
constexpr double sensorNoise = 3.5; // standard deviation of a grey level, per channel
constexpr int jpegQuality = 85;     // what webcams commonly send

// A room behind the user: a photo with no face filling the frame, out of focus as the
// background of a webcam picture is. A plain grey one when the photo is not installed.
cv::Mat room(cv::Size size) {
    const auto photo = loadPhoto(Photo::coffee);
    if (photo.empty()) {
        return cv::Mat(size, CV_8UC3, cv::Scalar(128, 128, 128));
    }
    const double scale = std::max(static_cast<double>(size.width) / photo.cols,
                                  static_cast<double>(size.height) / photo.rows);
    cv::Mat scaled;
    cv::resize(photo, scaled, cv::Size(), scale, scale, cv::INTER_LINEAR);
    const cv::Rect middle((scaled.cols - size.width) / 2, (scaled.rows - size.height) / 2,
                          size.width, size.height);
    cv::Mat blurred;
    cv::GaussianBlur(scaled(middle), blurred, cv::Size(0, 0), 3);
    return blurred;
}

// The frame as one from a slightly shaking, noisy camera.
cv::Mat asCameraSees(const cv::Mat& frame, cv::RNG& random) {
    const cv::Matx23d shift(1, 0, random.uniform(-maximumShake, maximumShake), 0, 1,
                            random.uniform(-maximumShake, maximumShake));
    cv::Mat moved;
    cv::warpAffine(frame, moved, shift, frame.size(), cv::INTER_LINEAR, cv::BORDER_REFLECT);
    cv::Mat noise(frame.size(), CV_16SC3);
    random.fill(noise, cv::RNG::NORMAL, 0, sensorNoise);
    cv::Mat noisy;
    moved.convertTo(noisy, CV_16SC3);
    noisy += noise;
    noisy.convertTo(moved, CV_8UC3); // saturates
    return moved;
}

std::optional<std::string> writeClip(const std::string& path, const cv::Mat& scene, int frames,
                                     bool turnsHead, std::uint64_t seed) {
    cv::VideoWriter writer(path, cv::CAP_OPENCV_MJPEG, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'),
                           framesPerSecond, scene.size());
    if (!writer.isOpened()) {
        return "cannot write a video to " + path;
    }
    writer.set(cv::VIDEOWRITER_PROP_QUALITY, jpegQuality);
    cv::RNG random(seed);
    for (int i = 0; i < frames; ++i) {
        const cv::Mat posed =
            turnsHead ? headTurned(scene, headTurnYaw(i, frames, 20 * CV_PI / 180), 0, 0) : scene;
        writer.write(asCameraSees(posed, random));
    }
    writer.release();
    return std::nullopt;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s FACE.avi EMPTY.avi [FRAMES]\n", argv[0]);
        return 2;
    }
    const int frames = argc > 3 ? std::atoi(argv[3]) : 90;
    if (frames <= 0) {
        std::fprintf(stderr, "FRAMES must be positive\n");
        return 2;
    }
    std::string problem;
    const auto face = loadPhoto(Photo::graceHopper, &problem);
    if (face.empty()) {
        std::fprintf(stderr, "%s\n", problem.c_str());
        return 1;
    }
    const cv::Size size(1280, 720);
    const cv::Mat empty = room(size);
    // The user as large as in the tests' clip, seated in front of the same room.
    cv::Mat user;
    cv::resize(face, user, cv::Size(), 1.1, 1.1, cv::INTER_LINEAR);
    if (user.cols > size.width || user.rows > size.height) {
        std::fprintf(stderr, "the face photo is larger than the frame\n");
        return 1;
    }
    cv::Mat withFace = empty.clone();
    user.copyTo(withFace(cv::Rect((size.width - user.cols) / 2, (size.height - user.rows) / 2,
                                  user.cols, user.rows)));
    for (const auto& [path, scene, turns, seed] :
         {std::tuple{argv[1], withFace, true, 1u}, std::tuple{argv[2], empty, false, 2u}}) {
        if (const auto failure = writeClip(path, scene, frames, turns, seed)) {
            std::fprintf(stderr, "%s\n", failure->c_str());
            return 1;
        }
    }
    return 0;
}
