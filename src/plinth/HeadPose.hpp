#pragma once

#include <vector>

namespace plinth {

// One reading of the head from one camera frame. Values are carried as measured, unchecked.
struct HeadPose {
    double yaw = 0;     // radians, left/right
    double pitch = 0;   // radians, up/down
    double roll = 0;    // radians, tilt
    double centerX = 0; // face box centre, normalised image coordinates
    double centerY = 0;
    double area = 0;      // face box area as a fraction of the image; a proxy for distance
    double timestamp = 0; // wall-clock seconds

    static constexpr int featureCount = 5;

    // [1, yaw, pitch, centerX, centerY]. The order is what stored samples and fitted weights
    // mean, so it must never change. Roll and area are deliberately left out.
    std::vector<double> features() const;
};

} // namespace plinth
