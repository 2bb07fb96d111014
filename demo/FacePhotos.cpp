#include "demo/FacePhotos.hpp"

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <glob.h>
#include <unistd.h>

namespace orvane::demo {
namespace {

struct PhotoSource {
    const char* path;        // where Debian 12 puts it
    const char* pattern;     // where another Python version would
    const char* packageName; // what to install
};

PhotoSource sourceOf(Photo photo) {
    switch (photo) {
    case Photo::graceHopper:
        return {"/usr/share/matplotlib/mpl-data/sample_data/grace_hopper.jpg",
                "/usr/{share,lib/python3*/dist-packages}/matplotlib/mpl-data/sample_data/"
                "grace_hopper.jpg",
                "python-matplotlib-data"};
    case Photo::astronaut:
        return {"/usr/lib/python3/dist-packages/skimage/data/astronaut.png",
                "/usr/lib/python3*/dist-packages/skimage/data/astronaut.png", "python3-skimage"};
    case Photo::coffee:
        return {"/usr/lib/python3/dist-packages/skimage/data/coffee.png",
                "/usr/lib/python3*/dist-packages/skimage/data/coffee.png", "python3-skimage"};
    }
    return {"", "", ""};
}

std::optional<std::string> firstMatch(const char* pattern) {
    glob_t matches{};
    std::optional<std::string> found;
    if (::glob(pattern, GLOB_BRACE, nullptr, &matches) == 0 && matches.gl_pathc > 0) {
        found = matches.gl_pathv[0];
    }
    ::globfree(&matches);
    return found;
}

cv::Matx33d rotationX(double angle) {
    return {1, 0, 0, 0, std::cos(angle), -std::sin(angle), 0, std::sin(angle), std::cos(angle)};
}

cv::Matx33d rotationY(double angle) {
    return {std::cos(angle), 0, std::sin(angle), 0, 1, 0, -std::sin(angle), 0, std::cos(angle)};
}

cv::Matx33d rotationZ(double angle) {
    return {std::cos(angle), -std::sin(angle), 0, std::sin(angle), std::cos(angle), 0, 0, 0, 1};
}

const cv::Scalar canvasGray(128, 128, 128);

constexpr double webcamFramesPerSecond = 15;
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

std::optional<std::string> writeShakenClip(const std::string& path, const cv::Mat& scene,
                                           int frames, bool turnsHead, std::uint64_t seed) {
    cv::VideoWriter writer(path, cv::CAP_OPENCV_MJPEG, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'),
                           webcamFramesPerSecond, scene.size());
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

std::optional<std::string> photoPath(Photo photo) {
    const auto source = sourceOf(photo);
    if (::access(source.path, R_OK) == 0) {
        return source.path;
    }
    return firstMatch(source.pattern);
}

cv::Mat loadPhoto(Photo photo, std::string* problem) {
    const auto path = photoPath(photo);
    cv::Mat image = path ? cv::imread(*path, cv::IMREAD_COLOR) : cv::Mat();
    if (image.empty() && problem != nullptr) {
        *problem = std::string("the photo ") + sourceOf(photo).path +
                   " is missing or unreadable: install the Debian package " +
                   sourceOf(photo).packageName + " (scripts/install-deps.sh does)";
    }
    return image;
}

cv::Mat headOf(Photo photo, std::string* problem) {
    const auto image = loadPhoto(photo, problem);
    if (image.empty()) {
        return image;
    }
    const cv::Rect head = photo == Photo::graceHopper ? cv::Rect(112, 40, 320, 380)
                          : photo == Photo::astronaut ? cv::Rect(125, 30, 200, 240)
                                                      : cv::Rect(0, 0, image.cols, image.rows);
    return image(head & cv::Rect(0, 0, image.cols, image.rows)).clone();
}

cv::Mat composed(cv::Size canvas, const std::vector<Placement>& placements) {
    cv::Mat result(canvas, CV_8UC3, canvasGray);
    for (const auto& placement : placements) {
        // Scale and move in one affine warp, so parts outside the canvas are simply cut off.
        const double s = placement.scale;
        const cv::Matx23d transform(
            s, 0, placement.centre.x * canvas.width - s * placement.photo.cols / 2.0, 0, s,
            placement.centre.y * canvas.height - s * placement.photo.rows / 2.0);
        cv::warpAffine(placement.photo, result, transform, canvas,
                       s < 1 ? cv::INTER_AREA : cv::INTER_LINEAR, cv::BORDER_TRANSPARENT);
    }
    return result;
}

cv::Mat standardFaceFrame(std::string* problem) {
    const auto photo = loadPhoto(Photo::graceHopper, problem);
    if (photo.empty()) {
        return photo;
    }
    return composed({1280, 720}, {{photo, 1.1, {0.5, 0.5}}});
}

cv::Matx33d headRotation(double yaw, double pitch, double roll) {
    // In the mirrored image the user's own right is the image's right. Turning the head to
    // the right moves the nose toward +x: Ry(-yaw) takes the face's direction (0, 0, -1) to
    // (sin yaw, 0, -cos yaw). Tilting it up moves the nose toward -y: Rx(-pitch) gives
    // (0, -sin pitch, -cos pitch). Leaning toward the right shoulder moves the top of the
    // head, (0, -1, 0), toward +x: Rz(roll) gives (sin roll, -cos roll, 0).
    return rotationY(-yaw) * rotationX(-pitch) * rotationZ(roll);
}

cv::Mat headTurned(const cv::Mat& frame, double yaw, double pitch, double roll) {
    // Rotating the camera about its centre by R shows the head turned by R (and moved about
    // the camera with it) and maps the image by the homography K * R * K^-1.
    const double focal = assumedFocalFactor * frame.cols;
    const cv::Matx33d camera(focal, 0, frame.cols / 2.0, 0, focal, frame.rows / 2.0, 0, 0, 1);
    const cv::Matx33d homography = camera * headRotation(yaw, pitch, roll) * camera.inv();
    cv::Mat mirrored;
    cv::flip(frame, mirrored, 1);
    cv::Mat warped;
    cv::warpPerspective(mirrored, warped, homography, frame.size(), cv::INTER_LINEAR,
                        cv::BORDER_CONSTANT, canvasGray);
    cv::Mat result;
    cv::flip(warped, result, 1); // back to the camera's own view
    return result;
}

PixelBuffer pixelBuffer(const cv::Mat& image) {
    PixelBuffer frame;
    frame.width = image.cols;
    frame.height = image.rows;
    frame.bytesPerRow = image.step[0];
    frame.data = image.data;
    frame.format = image.channels() == 4   ? PixelFormat::bgra32
                   : image.channels() == 3 ? PixelFormat::bgr24
                                           : PixelFormat::gray8;
    return frame;
}

double headTurnYaw(int index, int frameCount, double amplitude) {
    return amplitude * std::sin(2 * CV_PI * index / frameCount);
}

std::optional<std::string> writeHeadTurnClip(const std::string& path, const cv::Mat& frame,
                                             int frameCount, double fps, double amplitude) {
    if (frame.empty() || frame.type() != CV_8UC3) {
        return "a head-turn clip needs an 8-bit BGR frame";
    }
    // OpenCV's own MJPG writer: no codec libraries needed.
    cv::VideoWriter writer(path, cv::CAP_OPENCV_MJPEG, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'),
                           fps, frame.size());
    if (!writer.isOpened()) {
        return "cannot write a video to " + path;
    }
    for (int i = 0; i < frameCount; ++i) {
        writer.write(headTurned(frame, headTurnYaw(i, frameCount, amplitude), 0, 0));
    }
    writer.release();
    return std::nullopt;
}

std::optional<std::string> writeWebcamClips(const std::string& facePath,
                                            const std::string& emptyPath, int frameCount) {
    std::string problem;
    const auto face = loadPhoto(Photo::graceHopper, &problem);
    if (face.empty()) {
        return problem;
    }
    const cv::Size size(1280, 720);
    const cv::Mat empty = room(size);
    // The user as large as in the head-turn clip, seated in front of the same room.
    cv::Mat user;
    cv::resize(face, user, cv::Size(), 1.1, 1.1, cv::INTER_LINEAR);
    if (user.cols > size.width || user.rows > size.height) {
        return "the face photo is larger than the frame";
    }
    cv::Mat withFace = empty.clone();
    user.copyTo(withFace(cv::Rect((size.width - user.cols) / 2, (size.height - user.rows) / 2,
                                  user.cols, user.rows)));
    if (auto failure = writeShakenClip(facePath, withFace, frameCount, true, 1)) {
        return failure;
    }
    return writeShakenClip(emptyPath, empty, frameCount, false, 2);
}

} // namespace orvane::demo
