// The face landmark model as read from disk: any bytes are either refused, leaving the
// predictor unloaded, or read into a model whose predictions stay inside the model and the
// image (AddressSanitizer watches both) and are numbers wherever the image is.
#include "FuzzChecks.hpp"
#include "backends/linux/face/LandmarkPredictor.hpp"

#include <cstdint>
#include <opencv2/core.hpp>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    orvane::linuxbackend::LandmarkPredictor predictor;
    if (predictor.load(in)) {
        orvane::fuzz::require(!predictor.loaded(), "a refused model is not loaded");
        return 0;
    }
    orvane::fuzz::require(predictor.loaded(), "a read model is loaded");
    cv::Mat gray(48, 64, CV_8UC1);
    cv::randu(gray, 0, 256);
    // A box inside the image, one reaching out of it, and an empty one.
    for (const cv::Rect box : {cv::Rect(8, 8, 40, 32), cv::Rect(-20, 30, 50, 40), cv::Rect()}) {
        const auto points = predictor.predict(gray, box);
        (void)points;
    }
    return 0;
}
