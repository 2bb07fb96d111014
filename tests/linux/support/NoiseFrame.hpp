#pragma once

#include <opencv2/core.hpp>

#include <random>

namespace orvane::linuxbackend::test {

// A gray frame of uniform noise, the same for the same seed: no face in it, and every pixel
// unlike its neighbours.
inline cv::Mat noise(int rows, int columns, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> pixel(0, 255);
    cv::Mat image(rows, columns, CV_8UC1);
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) {
            image.at<unsigned char>(r, c) = static_cast<unsigned char>(pixel(random));
        }
    }
    return image;
}

} // namespace orvane::linuxbackend::test
