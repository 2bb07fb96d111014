// Runs dlib's own detector as the reference: template code, far too slow unoptimised, so the
// build compiles this file with -O2.
#include "backends/linux/face/HogFaceScanner.hpp"

#include "linux/support/FacePhotos.hpp"

#include <dlib/opencv/cv_image.h>
#include <opencv2/imgproc.hpp>

#include <gtest/gtest.h>

namespace orvane::linuxbackend {
namespace {

cv::Mat gray(const cv::Mat& image) {
    cv::Mat result;
    cv::cvtColor(image, result, cv::COLOR_BGR2GRAY);
    return result;
}

cv::Mat scaledTo(const cv::Mat& image, double width) {
    cv::Mat result;
    const double scale = width / image.cols;
    cv::resize(image, result, cv::Size(), scale, scale, cv::INTER_AREA);
    return result;
}

class HogFaceScannerTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        reference =
            std::make_unique<dlib::frontal_face_detector>(dlib::get_frontal_face_detector());
        scanner = std::make_unique<HogFaceScanner>(*reference);
    }
    static void TearDownTestSuite() {
        scanner.reset();
        reference.reset();
    }

    static cv::Mat photo(test::Photo which) {
        std::string problem;
        auto image = test::loadPhoto(which, &problem);
        EXPECT_FALSE(image.empty()) << problem;
        return image;
    }

    static inline std::unique_ptr<dlib::frontal_face_detector> reference;
    static inline std::unique_ptr<HogFaceScanner> scanner;
};

// The same boxes with the same confidence, best first, on images with one face, two, none,
// at the edge, and of sizes the filters' vectors do not divide.
TEST_F(HogFaceScannerTest, FindsWhatDlibsDetectorFinds) {
    std::string problem;
    const auto grace = test::headOf(test::Photo::graceHopper, &problem);
    const auto astronaut = test::headOf(test::Photo::astronaut, &problem);
    ASSERT_FALSE(grace.empty() || astronaut.empty()) << problem;
    const std::vector<cv::Mat> images{
        gray(scaledTo(test::standardFaceFrame(), 640)),
        gray(photo(test::Photo::astronaut)),
        gray(photo(test::Photo::coffee)),
        gray(test::composed({643, 361}, {{grace, 0.6, {0.3, 0.5}}, {astronaut, 1.3, {0.7, 0.4}}})),
        gray(test::composed({500, 333}, {{grace, 0.7, {0.05, 0.5}}})),
        gray(test::composed({151, 149}, {{grace, 0.45, {0.5, 0.5}}})),
    };
    std::size_t faces = 0;
    for (std::size_t i = 0; i < images.size(); ++i) {
        SCOPED_TRACE(i);
        std::vector<dlib::rect_detection> expected;
        (*reference)(dlib::cv_image<unsigned char>(images[i]), expected);
        const auto found = scanner->detect(images[i]);
        ASSERT_EQ(found.size(), expected.size());
        for (std::size_t j = 0; j < found.size(); ++j) {
            EXPECT_EQ(found[j].rect, expected[j].rect);
            EXPECT_NEAR(found[j].confidence, expected[j].detection_confidence, 1e-4);
        }
        faces += found.size();
    }
    EXPECT_GE(faces, 5u); // the frames do show faces
}

// A search that leaves out the levels whose windows fit a small face finds the large face in
// the same box, and not the small one; one that stops before the large face's levels finds
// only the small one.
TEST_F(HogFaceScannerTest, LevelsLeftOutMissOnlyFacesOfTheirSizes) {
    std::string problem;
    const auto grace = test::headOf(test::Photo::graceHopper, &problem);
    ASSERT_FALSE(grace.empty()) << problem;
    // A face of about 85 and one of about 210 pixels.
    const auto image =
        gray(test::composed({640, 360}, {{grace, 0.45, {0.25, 0.5}}, {grace, 1.1, {0.7, 0.5}}}));
    const auto all = scanner->detect(image);
    ASSERT_EQ(all.size(), 2u);
    const auto& small = all[0].rect.width() < all[1].rect.width() ? all[0] : all[1];
    const auto& large = all[0].rect.width() < all[1].rect.width() ? all[1] : all[0];
    ASSERT_LT(small.rect.width(), 1.2 * scanner->windowSide());
    ASSERT_GT(large.rect.width(), 2.0 * scanner->windowSide());

    const auto largeOnly = scanner->detect(image, 3);
    ASSERT_EQ(largeOnly.size(), 1u);
    EXPECT_EQ(largeOnly[0].rect, large.rect);
    EXPECT_DOUBLE_EQ(largeOnly[0].confidence, large.confidence);

    const auto smallOnly = scanner->detect(image, 0, 3);
    ASSERT_EQ(smallOnly.size(), 1u);
    EXPECT_EQ(smallOnly[0].rect, small.rect);

    EXPECT_TRUE(scanner->detect(image, 100).empty());
    EXPECT_TRUE(scanner->detect(cv::Mat()).empty());
    EXPECT_TRUE(HogFaceScanner().detect(image).empty());
}

} // namespace
} // namespace orvane::linuxbackend
