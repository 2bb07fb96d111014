// Compares with dlib's own shape predictor, so this file includes dlib and is built at -O2.
#include "backends/linux/face/LandmarkPredictor.hpp"

#include "backends/linux/face/DlibFaceDetector.hpp"
#include "linux/support/FacePhotos.hpp"

#include <dlib/image_processing/shape_predictor.h>
#include <dlib/opencv/cv_image.h>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace orvane::linuxbackend {
namespace {

TEST(LandmarkPredictor, FindsTheLandmarksOfDlibsShapePredictor) {
    const std::string path = DlibFaceDetector::defaultModelPath;
    LandmarkPredictor ours;
    ASSERT_EQ(ours.load(path), std::nullopt);
    dlib::shape_predictor theirs;
    dlib::deserialize(path) >> theirs;

    std::string problem;
    const auto grace = test::loadPhoto(test::Photo::graceHopper, &problem);
    const auto astronaut = test::loadPhoto(test::Photo::astronaut, &problem);
    ASSERT_FALSE(grace.empty() || astronaut.empty()) << problem;
    struct Case {
        cv::Mat photo;
        cv::Rect box;
    };
    // Boxes around the faces as the detector finds them, one of them off-centre and too big,
    // and one reaching out of the image.
    for (const auto& [photo, box] :
         {Case{grace, {146, 160, 190, 190}}, Case{grace, {120, 140, 260, 240}},
          Case{astronaut, {170, 80, 110, 110}}, Case{astronaut, {440, -30, 120, 120}}}) {
        cv::Mat gray;
        cv::cvtColor(photo, gray, cv::COLOR_BGR2GRAY);
        const auto points = ours.predict(gray, box);
        const auto reference =
            theirs(dlib::cv_image<unsigned char>(gray),
                   dlib::rectangle(box.x, box.y, box.x + box.width - 1, box.y + box.height - 1));
        ASSERT_EQ(reference.num_parts(), static_cast<unsigned long>(points.size()));
        for (std::size_t i = 0; i < points.size(); ++i) {
            // dlib rounds its points to whole pixels; ours keep the leaves to 16 bits.
            EXPECT_NEAR(points[i].x, reference.part(i).x(), 0.51) << "point " << i;
            EXPECT_NEAR(points[i].y, reference.part(i).y(), 0.51) << "point " << i;
        }
    }
}

TEST(LandmarkPredictor, RefusesFilesThatAreNotALandmarkModel) {
    const auto directory =
        std::filesystem::temp_directory_path() / ("orvane-landmarks-" + std::to_string(::getpid()));
    std::filesystem::create_directories(directory);
    const auto write = [&](const std::string& name, const std::string& bytes) {
        std::ofstream(directory / name, std::ios::binary) << bytes;
        return (directory / name).string();
    };
    LandmarkPredictor predictor;
    EXPECT_NE(predictor.load((directory / "absent.dat").string()), std::nullopt);
    EXPECT_NE(predictor.load(write("empty.dat", "")), std::nullopt);
    EXPECT_NE(predictor.load(write("text.dat", "a text file, not a model\n")), std::nullopt);
    EXPECT_NE(predictor.load(directory.string()), std::nullopt);
    // The start of the real model: the file ends in the middle of the trees.
    std::ifstream model(DlibFaceDetector::defaultModelPath, std::ios::binary);
    std::string start(1 << 20, '\0');
    model.read(start.data(), static_cast<std::streamsize>(start.size()));
    EXPECT_NE(predictor.load(write("truncated.dat", start)), std::nullopt);
    EXPECT_FALSE(predictor.loaded());
    std::filesystem::remove_all(directory);
}

} // namespace
} // namespace orvane::linuxbackend
