#pragma once

#include "orvane/platform/CameraService.hpp"

#include <opencv2/core.hpp>

#include <optional>
#include <string>
#include <vector>

// Frames with real faces for the demonstration, the face detector and the camera tests, made
// from photos that Debian packages install: turned heads, several faces, recorded clips.
namespace orvane::demo {

enum class Photo {
    graceHopper, // a face, python-matplotlib-data
    astronaut,   // a face, python3-skimage
    coffee,      // no face, python3-skimage
};

// The photo's file, nullopt when its package is not installed.
std::optional<std::string> photoPath(Photo photo);

// The photo as 8-bit BGR. When it cannot be read: an empty image, and `problem` says which
// package to install.
cv::Mat loadPhoto(Photo photo, std::string* problem = nullptr);

// The photo cut down to the head (the face about 190 by 180 pixels in the Grace Hopper
// photo, 95 by 90 in the astronaut's), to place several faces side by side.
cv::Mat headOf(Photo photo, std::string* problem = nullptr);

// A photo on a mid-gray canvas: scaled by `scale`, its centre at `centre` (fractions of the
// canvas size).
struct Placement {
    cv::Mat photo;
    double scale = 1;
    cv::Point2d centre{0.5, 0.5};
};
cv::Mat composed(cv::Size canvas, const std::vector<Placement>& placements);

// A 1280 x 720 camera frame of the Grace Hopper photo, her face about 270 pixels tall; empty
// when the photo is missing.
cv::Mat standardFaceFrame(std::string* problem = nullptr);

// The focal length the face detector assumes, as a fraction of the image width.
inline constexpr double assumedFocalFactor = 0.71;

// The rotation, in the camera coordinates of the mirrored image (x right, y down, z into the
// scene, the face looking along -z), that turns a head by `yaw`, `pitch` and `roll` in the
// detector's convention (radians): yaw toward the user's own right, pitch up, roll toward the
// right shoulder.
cv::Matx33d headRotation(double yaw, double pitch, double roll);

// `frame` (as the camera delivers it) as the camera would see it had the user turned their
// head by `yaw`, `pitch` and `roll`, made by warping the mirrored image with the homography
// K * R * K^-1 of the rotation R = `headRotation` about the camera's centre.
cv::Mat headTurned(const cv::Mat& frame, double yaw, double pitch, double roll);

// A frame that views `image` (8-bit BGR, BGRA or gray); valid while `image` lives.
PixelBuffer pixelBuffer(const cv::Mat& image);

// The head's yaw in frame `index` of a head-turn clip: one sine period, first to the user's
// right, then to the left, back to the middle.
double headTurnYaw(int index, int frameCount, double amplitude);

// Writes an MJPG AVI clip of `frameCount` frames at `fps` in which the head of `frame` turns
// by `headTurnYaw`. On failure: why.
std::optional<std::string> writeHeadTurnClip(const std::string& path, const cv::Mat& frame,
                                             int frameCount = 60, double fps = 15,
                                             double amplitude = 20 * CV_PI / 180);

// Writes two clips that look as a webcam's stream does, 1280 x 720 MJPG AVI at 15 frames a
// second, `frameCount` frames long: at `facePath` the head of `standardFaceFrame` turns by
// `headTurnYaw` in front of a room, at `emptyPath` the same room has nobody in it. No two
// frames are alike: each is moved by up to 3 pixels and carries fresh sensor noise. On
// failure: why.
std::optional<std::string> writeWebcamClips(const std::string& facePath,
                                            const std::string& emptyPath, int frameCount = 90);

} // namespace orvane::demo
