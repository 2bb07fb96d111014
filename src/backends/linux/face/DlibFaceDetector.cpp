// Includes dlib's HOG face detector, template code that is 45 times slower unoptimised: the
// build compiles this file with -O3 in every configuration.
#include "backends/linux/face/DlibFaceDetector.hpp"

#include "backends/linux/face/HeadPoseSolver.hpp"
#include "backends/linux/face/HogFaceScanner.hpp"
#include "backends/linux/face/LandmarkPredictor.hpp"
#include "backends/linux/face/OrientedGray.hpp"

#include <dlib/image_processing/frontal_face_detector.h>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <mutex>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace orvane::linuxbackend {
namespace {

// Full searches run on an image scaled to at most this width (half of a 1280 x 720 frame),
// which finds faces from about 160 pixels of the frame up.
constexpr double searchSide = 640;
// Around a face being followed, a crop this many face sizes wide is scaled so that the face
// measures about `followedFaceSide` pixels: a little above the detector's 80-pixel window.
// Two pyramid levels then see faces from about 80 to 105 pixels: the face may shrink a
// little, grow by a sixth, and stray by a fifth of its size from where its last motion puts
// it before the crop loses it. The crop is placed and scaled anew at every frame, so that is
// plenty from one frame to the next, and a face that outruns it is searched for at once; a
// wider crop or a third level costs a fifth more of the face thread at every frame.
constexpr double cropFactor = 1.4;
constexpr double followedFaceSide = 90;
constexpr unsigned long followPyramidLevels = 2;
// A followed face is read in frames scaled down so long as its box keeps about this many
// pixels: down to there its poses are as steady as in whole frames (below, pitch grows
// noisier), and decoding and cropping cost a fraction. The size asked for changes only once
// the face has grown or shrunk by this factor since it was set, so that a face near the limit
// does not make frames change size back and forth.
constexpr double followedFaceMinimumSide = 96;
constexpr double followSideMargin = 1.05;
// Below a followed face the next frame is needed down to this many of its box's sides under the
// box's top: its crop reaches 1.2 sides below, the landmarks' feature pixels a little beyond;
// the rest, and twice the face's last move down, is room for it moving faster.
constexpr double followedRowsBelow = 1.5;
// Frames of the same camera at another scale keep their aspect ratio to within rounding.
constexpr double sameAspect = 0.02;
// Each level of the detector's pyramid is this much smaller than the one before.
constexpr double searchPyramidStep = 6.0 / 5.0;
// Below this the detector's window and its border no longer fit in a crop.
constexpr int minimumCropSide = 96;
// No face the detector finds is smaller.
constexpr double minimumFaceSide = 40;
// Detections overlapping more than this (intersection over union) are one face.
constexpr double sameFaceOverlap = 0.5;
// A detection overlapping a face of the last frame this much is that face again; this much
// more, and the face has not moved beyond the noise of the detector's boxes.
constexpr double followedOverlap = 0.4;
constexpr double stillOverlap = 0.7;
// The landmarks depend on the box they are looked for in by a few pixels, worth a few degrees
// of yaw: a face keeps its box until its landmarks have moved this far (a fraction of the
// box), so that a still head reads the same pose frame after frame.
constexpr double boxSlack = 0.04;
// The detector's box relative to the landmarks' bounds: a square this much larger than their
// larger side, its centre this fraction of its side higher.
constexpr double boxFromLandmarksScale = 1.04;
constexpr double boxFromLandmarksRaise = 0.065;

struct Detection {
    cv::Rect box; // in the oriented image
    double score = 0;
};

struct FollowedFace {
    cv::Rect box; // where its landmarks were looked for
    std::optional<ModelPose> pose;
    cv::Point motion; // of its box since the frame before
};

cv::Point centreOf(const cv::Rect& box) {
    return {box.x + box.width / 2, box.y + box.height / 2};
}

double overlap(const cv::Rect& a, const cv::Rect& b) {
    const double shared = (a & b).area();
    const double joined = static_cast<double>(a.area()) + b.area() - shared;
    return joined > 0 ? shared / joined : 0;
}

// Adds `detection` unless a better one of the same face is there already.
void addDistinct(std::vector<Detection>& found, const Detection& detection) {
    for (auto& other : found) {
        if (overlap(other.box, detection.box) > sameFaceOverlap) {
            if (detection.score > other.score) {
                other = detection;
            }
            return;
        }
    }
    found.push_back(detection);
}

// A detector's box, found in an image scaled by `scale` and cut out at `offset`.
cv::Rect imageBox(const dlib::rectangle& rect, double scale, cv::Point offset) {
    const int left = static_cast<int>(std::lround(rect.left() / scale));
    const int top = static_cast<int>(std::lround(rect.top() / scale));
    const int right = static_cast<int>(std::lround((rect.right() + 1) / scale));
    const int bottom = static_cast<int>(std::lround((rect.bottom() + 1) / scale));
    return {left + offset.x, top + offset.y, right - left, bottom - top};
}

cv::Rect2d bounds(const LandmarkPredictor::Points& points) {
    double left = points[0].x, right = left, top = points[0].y, bottom = top;
    for (const auto& point : points) {
        left = std::min(left, point.x);
        right = std::max(right, point.x);
        top = std::min(top, point.y);
        bottom = std::max(bottom, point.y);
    }
    return {left, top, right - left, bottom - top};
}

// A box placed on the landmarks found in `box`, when they have moved out of its slack.
std::optional<cv::Rect> movedBox(const cv::Rect& box, const LandmarkPredictor::Points& points) {
    const auto outline = bounds(points);
    const double side = boxFromLandmarksScale * std::max(outline.width, outline.height);
    if (side < minimumFaceSide) {
        return std::nullopt; // landmarks gone astray: keep the detector's box
    }
    const cv::Point2d centre(outline.x + outline.width / 2,
                             outline.y + outline.height / 2 - boxFromLandmarksRaise * side);
    const double boxSide = std::max(box.width, box.height);
    const cv::Point2d boxCentre(box.x + box.width / 2.0, box.y + box.height / 2.0);
    if (cv::norm(centre - boxCentre) <= boxSlack * boxSide &&
        std::abs(side / boxSide - 1) <= boxSlack) {
        return std::nullopt;
    }
    const int rounded = static_cast<int>(std::lround(side));
    return cv::Rect(static_cast<int>(std::lround(centre.x - side / 2)),
                    static_cast<int>(std::lround(centre.y - side / 2)), rounded, rounded);
}

// The landmarks' bounds rather than the detector's box: the detector's boxes jump between the
// sizes of its pyramid levels, the landmarks follow the face smoothly. Normalised, with the
// origin at the lower-left.
plinth::Rect normalisedBox(const LandmarkPredictor::Points& points, cv::Size size) {
    const auto outline = bounds(points);
    const double width = size.width;
    const double height = size.height;
    const double left = std::clamp(outline.x, 0.0, width);
    const double right = std::clamp(outline.x + outline.width, left, width);
    const double top = std::clamp(outline.y, 0.0, height);
    const double bottom = std::clamp(outline.y + outline.height, top, height);
    return {left / width, (height - bottom) / height, (right - left) / width,
            (bottom - top) / height};
}

// What the model file was when it last failed to load; another attempt is worth it only
// once this changes (the package installed, the file replaced).
struct FileIdentity {
    int error = 0;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    std::int64_t modifiedSeconds = 0;
    long modifiedNanoseconds = 0;

    static FileIdentity of(const std::string& path) {
        FileIdentity identity;
        struct stat info {};
        if (::stat(path.c_str(), &info) != 0) {
            identity.error = errno;
            return identity;
        }
        identity.device = info.st_dev;
        identity.inode = info.st_ino;
        identity.size = info.st_size;
        identity.modifiedSeconds = info.st_mtim.tv_sec;
        identity.modifiedNanoseconds = info.st_mtim.tv_nsec;
        return identity;
    }

    bool operator==(const FileIdentity&) const = default;
};

// The first line of an exception's text, which for dlib can run over many lines.
std::string firstLine(const char* text) {
    std::string line(text);
    line.erase(std::find(line.begin(), line.end(), '\n'), line.end());
    return line;
}

// Everything read from the model file, made ready away from the detector's lock.
struct Models {
    HogFaceScanner faces;
    LandmarkPredictor landmarks;
};

// The thread reading the models yields to everything else: it must not slow the start-up it
// runs beside.
void lowerThreadPriority() {
    ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 10);
}

} // namespace

class DlibFaceDetector::Impl {
public:
    explicit Impl(std::string modelPath) : modelPath_(std::move(modelPath)) {}

    ~Impl() {
        // A program that ends before the models are read (--diagnose, an early quit) does
        // not wait for the rest of them.
        stopLoading_ = true;
        if (loader_.joinable()) {
            loader_.join();
        }
    }

    void loadInBackground() {
        std::lock_guard lock(mutex_);
        background_ = true;
        ensureModel();
    }

    FaceDetectionResult detect(const PixelBuffer& frame, int orientation) {
        std::lock_guard lock(mutex_);
        if (auto problem = ensureModel()) {
            return {std::move(problem), {}};
        }
        if (loading_) {
            return {}; // not analysed: the models are still being read
        }
        try {
            // Following a face reads a few regions of the frame: they are oriented as they
            // are needed, from the caller's buffer, let go of before returning.
            if (auto problem = gray_.borrow(frame, orientation)) {
                return {std::move(problem), {}};
            }
            if (orientation != lastOrientation_ || !rescaleFollowed(gray_.size())) {
                forget();
            }
            lastSize_ = gray_.size();
            lastOrientation_ = orientation;
            // Only frames read upright keep their rows where the camera has them.
            complete_ = frame.pictureRows <= 0 || frame.pictureRows >= frame.height ||
                        (orientation != 1 && orientation != 2 && orientation != 5);
            auto result = findFaces(gray_);
            gray_.release();
            return result;
        } catch (const std::exception& error) {
            gray_.release();
            forget();
            return {"face detection failed: " + firstLine(error.what()), {}};
        }
    }

    void forgetFaces() {
        std::lock_guard lock(mutex_);
        forget();
    }

    bool isLoading() const {
        std::lock_guard lock(mutex_);
        return loading_;
    }

    std::int64_t fullSearches() const { return fullSearches_.load(); }

    double followFrameRows() const {
        std::lock_guard lock(mutex_);
        return followRows_;
    }

    int followFrameSide() const {
        std::lock_guard lock(mutex_);
        if (followSide_ <= 0) {
            return 0;
        }
        return static_cast<int>(std::ceil(std::max(searchSide, followSide_)));
    }

private:
    // No face followed any more: the next frame searches the whole image. Holds `mutex_`.
    void forget() {
        followed_.clear();
        followSide_ = 0;
        followRows_ = 1;
        framesSinceSearch_ = searchInterval;
    }

    // The faces followed in frames of `lastSize_`, carried over to frames of `size`: true when
    // faces are followed and these are the same view at another scale (the camera asked for
    // smaller frames, or for whole ones again). Holds `mutex_`.
    bool rescaleFollowed(cv::Size size) {
        if (size == lastSize_) {
            return true;
        }
        if (followed_.empty() || lastSize_.empty() || size.empty()) {
            return false;
        }
        const double x = static_cast<double>(size.width) / lastSize_.width;
        const double y = static_cast<double>(size.height) / lastSize_.height;
        if (std::abs(x / y - 1) > sameAspect) {
            return false;
        }
        const auto scaled = [&](double value, double by) {
            return static_cast<int>(std::lround(value * by));
        };
        for (auto& face : followed_) {
            face.box = cv::Rect(scaled(face.box.x, x), scaled(face.box.y, y),
                                scaled(face.box.width, x), scaled(face.box.height, y));
            face.motion = cv::Point(scaled(face.motion.x, x), scaled(face.motion.y, y));
        }
        return true;
    }

    // The longer side of the frames that keep the largest face followed with a pose at
    // `followedFaceMinimumSide` pixels; 0 with no such face. Holds `mutex_`.
    void updateFollowSide(cv::Size size) {
        int side = 0;
        for (const auto& face : followed_) {
            if (face.pose) {
                side = std::max({side, face.box.width, face.box.height});
            }
        }
        if (side <= 0) {
            followSide_ = 0;
            return;
        }
        const double needed =
            followedFaceMinimumSide * std::max(size.width, size.height) / static_cast<double>(side);
        if (followSide_ <= 0 || needed > followSide_ * followSideMargin ||
            needed * followSideMargin < followSide_) {
            followSide_ = needed;
        }
    }

    // The top rows of the next frame that following the faces reads, as a fraction; the whole
    // frame when no face is followed with a pose, when the next frame is due a search for
    // newcomers, or when the frames are turned. Holds `mutex_`.
    void updateFollowRows(cv::Size size) {
        const bool upright =
            lastOrientation_ == 1 || lastOrientation_ == 2 || lastOrientation_ == 5;
        if (followSide_ <= 0 || !upright || framesSinceSearch_ + 1 >= searchInterval ||
            size.height <= 0) {
            followRows_ = 1;
            return;
        }
        double bottom = 0;
        for (const auto& face : followed_) {
            const double side = std::max(face.box.width, face.box.height);
            bottom = std::max(bottom, face.box.y + followedRowsBelow * side +
                                          2.0 * std::max(0, face.motion.y));
        }
        followRows_ = std::clamp(bottom / size.height, 0.0, 1.0);
    }

    // nullopt when the models are ready or being read in the background (`loading_`); else
    // what is wrong, in words for the user. Holds `mutex_`.
    std::optional<std::string> ensureModel() {
        if (landmarks_.loaded() || loading_) {
            return std::nullopt;
        }
        const auto identity = FileIdentity::of(modelPath_);
        if (problem_ && identity == failedIdentity_) {
            return problem_;
        }
        failedIdentity_ = identity;
        if (background_) {
            if (loader_.joinable()) {
                loader_.join(); // finished: it cleared `loading_` as its last step
            }
            loading_ = true;
            loader_ = std::thread([this, identity] {
                lowerThreadPriority();
                Models models;
                auto problem = loadModels(modelPath_, identity, models, &stopLoading_);
                std::lock_guard lock(mutex_);
                install(std::move(problem), models);
                loading_ = false;
            });
            return std::nullopt;
        }
        Models models;
        auto problem = loadModels(modelPath_, identity, models, nullptr);
        install(std::move(problem), models);
        return problem_;
    }

    // Holds `mutex_`.
    void install(std::optional<std::string> problem, Models& models) {
        // Not logged here: the caller is told at every frame, and says so once.
        problem_ = std::move(problem);
        if (problem_) {
            return;
        }
        // One each for the whole image and the crops: each keeps buffers of its own sizes.
        searcher_ = models.faces;
        follower_ = std::move(models.faces);
        landmarks_ = std::move(models.landmarks);
    }

    static std::optional<std::string> loadModels(const std::string& modelPath,
                                                 const FileIdentity& identity, Models& models,
                                                 const std::atomic<bool>* stop) {
        if (identity.error != 0) {
            return "face model missing: " + modelPath + " (" + std::strerror(identity.error) +
                   "); it comes with the libdlib-data package";
        }
        if (auto problem = models.landmarks.load(modelPath, stop)) {
            return "face model unreadable: " + modelPath + " (" + *problem +
                   "); reinstall the libdlib-data package";
        }
        try {
            models.faces = HogFaceScanner(dlib::get_frontal_face_detector());
        } catch (const std::exception& error) {
            return "face detector unusable: " + firstLine(error.what());
        }
        return std::nullopt;
    }

    FaceDetectionResult findFaces(const OrientedGray& image) {
        std::vector<Detection> found;
        ++framesSinceSearch_;
        if (followed_.empty()) {
            // Nobody in view at the last search.
            thumbnailOf(image.image(), thumbnail_);
            if (framesSinceSearch_ < idleSearchInterval && !viewChanged()) {
                return {};
            }
            std::swap(searchedView_, thumbnail_);
        }
        if (!followed_.empty()) {
            found = follow(image);
            // Now and then a look for a newcomer: only one at least as large as the largest
            // face followed could be chosen over it, so smaller faces are not looked for.
            // It waits for a whole frame: a newcomer may be anywhere in it.
            if (framesSinceSearch_ >= searchInterval && complete_ &&
                found.size() >= followed_.size()) {
                const auto followedCount = found.size();
                for (const auto& detection : search(image.image(), newcomerLevel(image.size()))) {
                    // A window of a coarser level may find a followed face in a larger box.
                    const cv::Point centre = centreOf(detection.box);
                    if (std::none_of(
                            found.begin(), found.begin() + followedCount,
                            [&](const Detection& face) { return face.box.contains(centre); })) {
                        found.push_back(detection);
                    }
                }
                framesSinceSearch_ = 0;
            }
        }
        // Losing any face calls for a look at the whole image.
        if (found.empty() || found.size() < followed_.size()) {
            found = search(image.image());
            framesSinceSearch_ = 0;
        }
        std::sort(found.begin(), found.end(),
                  [](const Detection& a, const Detection& b) { return a.score > b.score; });

        FaceDetectionResult result;
        std::vector<FollowedFace> followed;
        for (const auto& detection : found) {
            // A new face is read in the detector's box, as the landmark model was trained.
            // A followed face that is still where it was keeps its box; one that moved gets
            // a box placed on its landmarks and a second, better placed reading.
            const FollowedFace* previous = followedAt(detection.box);
            const bool still = previous && overlap(previous->box, detection.box) > stillOverlap;
            auto box = still ? previous->box : detection.box;
            auto points = readLandmarks(image, box);
            if (const auto moved = previous ? movedBox(box, points) : std::nullopt) {
                box = *moved;
                points = readLandmarks(image, box);
            }
            std::array<cv::Point2d, HeadPoseSolver::pointCount> modelPoints;
            for (std::size_t i = 0; i < modelPoints.size(); ++i) {
                modelPoints[i] = points[HeadPoseSolver::landmarkIndices()[i]];
            }
            const auto pose = HeadPoseSolver::solve(modelPoints, image.size(),
                                                    previous ? previous->pose : std::nullopt);
            FaceObservation face;
            face.boundingBox = normalisedBox(points, image.size());
            if (const auto angles = pose ? HeadPoseSolver::angles(*pose) : std::nullopt) {
                face.yaw = angles->yaw;
                face.pitch = angles->pitch;
                face.roll = angles->roll;
            }
            result.faces.push_back(face);
            const cv::Point motion =
                previous ? centreOf(box) - centreOf(previous->box) : cv::Point();
            followed.push_back({box, pose, motion});
        }
        followed_ = std::move(followed);
        updateFollowSide(image.size());
        updateFollowRows(image.size());
        return result;
    }

    LandmarkPredictor::Points readLandmarks(const OrientedGray& image, const cv::Rect& box) const {
        return image.mirrored() ? landmarks_.predictMirrored(image.pixels(), box)
                                : landmarks_.predict(image.pixels(), box);
    }

    static void thumbnailOf(const cv::Mat& image, cv::Mat& thumbnail) {
        const double scale =
            presenceThumbnailSide / static_cast<double>(std::max(image.cols, image.rows));
        const cv::Size size(std::max(1, static_cast<int>(std::lround(image.cols * scale))),
                            std::max(1, static_cast<int>(std::lround(image.rows * scale))));
        cv::resize(image, thumbnail, size, 0, 0, cv::INTER_AREA);
    }

    // Whether `thumbnail_` differs from the view last searched by more than noise.
    bool viewChanged() const {
        if (searchedView_.size() != thumbnail_.size()) {
            return true;
        }
        const double shift = cv::mean(thumbnail_)[0] - cv::mean(searchedView_)[0];
        double sum = 0;
        for (int row = 0; row < thumbnail_.rows; ++row) {
            const auto* now = thumbnail_.ptr<std::uint8_t>(row);
            const auto* then = searchedView_.ptr<std::uint8_t>(row);
            for (int column = 0; column < thumbnail_.cols; ++column) {
                sum += std::abs(static_cast<double>(now[column]) - then[column] - shift);
            }
        }
        return sum / static_cast<double>(thumbnail_.total()) > presenceChange;
    }

    static double searchScale(cv::Size image) {
        return std::min(1.0, searchSide / static_cast<double>(std::max(image.width, image.height)));
    }

    // The crop around a face of `side` pixels is scaled so that the face measures about
    // `followedFaceSide`, by one of the scales the full search's pyramid uses: the detector's
    // boxes then come in the same sizes whether a face is searched for or followed, rather
    // than drifting with the box of the frame before.
    static double followScale(cv::Size image, double side) {
        const double base = searchScale(image);
        const double steps =
            std::round(std::log(side * base / followedFaceSide) / std::log(searchPyramidStep));
        return base * std::pow(1 / searchPyramidStep, steps);
    }

    // The first pyramid level of a full search whose window fits the largest followed face
    // that has a pose, or a larger one.
    unsigned long newcomerLevel(cv::Size image) const {
        int side = 0;
        for (const auto& face : followed_) {
            if (face.pose) {
                side = std::max({side, face.box.width, face.box.height});
            }
        }
        const double level = std::log(side * searchScale(image) / searcher_.windowSide()) /
                             std::log(searchPyramidStep);
        return level > 0 ? static_cast<unsigned long>(level) : 0;
    }

    // Faces in the whole image, from pyramid level `firstLevel` up.
    std::vector<Detection> search(const cv::Mat& image, unsigned long firstLevel = 0) {
        ++fullSearches_;
        const double scale = searchScale(image.size());
        const cv::Mat* searched = &image;
        if (scale < 1.0) {
            cv::resize(image, scaled_, cv::Size(), scale, scale, cv::INTER_AREA);
            searched = &scaled_;
        }
        std::vector<Detection> found;
        const double actualScale = static_cast<double>(searched->cols) / image.cols;
        for (const auto& detection : searcher_.detect(*searched, firstLevel)) {
            addDistinct(found,
                        {imageBox(detection.rect, actualScale, {0, 0}), detection.confidence});
        }
        return found;
    }

    // Each face of the last frame, looked for in a crop around where it was.
    std::vector<Detection> follow(const OrientedGray& image) {
        std::vector<Detection> found;
        const cv::Rect imageBounds(cv::Point(), image.size());
        for (const auto& face : followed_) {
            const double side = std::max(face.box.width, face.box.height);
            const int cropSide = static_cast<int>(std::lround(side * cropFactor));
            // Where the face would be if it kept moving as it did.
            const cv::Point centre = centreOf(face.box) + face.motion;
            const cv::Rect crop =
                cv::Rect(centre.x - cropSide / 2, centre.y - cropSide / 2, cropSide, cropSide) &
                imageBounds;
            const double scale = followScale(image.size(), side);
            const cv::Size size(static_cast<int>(std::lround(crop.width * scale)),
                                static_cast<int>(std::lround(crop.height * scale)));
            if (size.width < minimumCropSide || size.height < minimumCropSide) {
                continue;
            }
            cv::resize(image.region(crop), scaled_, size, 0, 0,
                       scale < 1.0 ? cv::INTER_AREA : cv::INTER_LINEAR);
            const double actualScale = static_cast<double>(size.width) / crop.width;
            for (const auto& detection : follower_.detect(scaled_, 0, followPyramidLevels)) {
                addDistinct(found, {imageBox(detection.rect, actualScale, crop.tl()),
                                    detection.confidence});
            }
        }
        return found;
    }

    // The face of the last frame that `box` finds again, if any.
    const FollowedFace* followedAt(const cv::Rect& box) const {
        const FollowedFace* best = nullptr;
        double bestOverlap = followedOverlap;
        for (const auto& face : followed_) {
            const double shared = overlap(face.box, box);
            if (shared > bestOverlap) {
                bestOverlap = shared;
                best = &face;
            }
        }
        return best;
    }

    mutable std::mutex mutex_;
    const std::string modelPath_;
    // Models read on a thread of their own (`loader_`) rather than by the first frame.
    bool background_ = false;
    bool loading_ = false;
    std::thread loader_;
    // Set as the detector goes: the loader gives up.
    std::atomic<bool> stopLoading_{false};
    std::optional<std::string> problem_;
    FileIdentity failedIdentity_;
    HogFaceScanner searcher_;
    HogFaceScanner follower_;
    LandmarkPredictor landmarks_;

    OrientedGray gray_;
    cv::Mat scaled_;
    cv::Size lastSize_;
    int lastOrientation_ = 0;
    std::vector<FollowedFace> followed_;
    // What `followFrameSide` answers, before rounding and the search's own side; 0 while no
    // face is followed with a pose.
    double followSide_ = 0;
    // What `followFrameRows` answers.
    double followRows_ = 1;
    // Whether the frame at hand holds its whole picture (see PixelBuffer::pictureRows).
    bool complete_ = true;
    // While nobody is in view: the thumbnail of the frame at hand and of the last one searched.
    cv::Mat thumbnail_;
    cv::Mat searchedView_;
    std::atomic<std::int64_t> fullSearches_{0};
    // Starts at the interval, so that the first frame (and the first after forgetting) is
    // searched.
    int framesSinceSearch_ = searchInterval;
};

DlibFaceDetector::DlibFaceDetector(std::string modelPath)
    : impl_(std::make_unique<Impl>(std::move(modelPath))) {}

DlibFaceDetector::~DlibFaceDetector() = default;

FaceDetectionResult DlibFaceDetector::detect(const PixelBuffer& frame, int orientation) {
    return impl_->detect(frame, orientation);
}

void DlibFaceDetector::loadInBackground() {
    impl_->loadInBackground();
}

bool DlibFaceDetector::isLoading() const {
    return impl_->isLoading();
}

int DlibFaceDetector::searchFrameSide() const {
    return static_cast<int>(searchSide);
}

int DlibFaceDetector::followFrameSide() const {
    return impl_->followFrameSide();
}

double DlibFaceDetector::followFrameRows() const {
    return impl_->followFrameRows();
}

std::int64_t DlibFaceDetector::fullSearches() const {
    return impl_->fullSearches();
}

void DlibFaceDetector::forgetFaces() {
    impl_->forgetFaces();
}

std::shared_ptr<FaceDetector> makeLinuxFaceDetector() {
    // A frame's resizes are too small to share out: OpenCV's worker threads cost more in
    // waking and spinning than they save, and the face thread has a core to itself anyway.
    cv::setNumThreads(0);
    auto detector = std::make_shared<DlibFaceDetector>();
    detector->loadInBackground();
    return detector;
}

} // namespace orvane::linuxbackend
