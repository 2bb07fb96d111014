#include "plinth/HeadPose.hpp"

namespace plinth {

std::vector<double> HeadPose::features() const {
    return {1.0, yaw, pitch, centerX, centerY};
}

} // namespace plinth
