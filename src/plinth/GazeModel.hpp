#pragma once

#include "plinth/CalibrationSample.hpp"
#include "plinth/Geometry.hpp"

#include <cstdint>
#include <optional>
#include <vector>

namespace plinth {

// Two linear ridge regressions (x and y) from the head-pose feature vector to a point in the
// global top-left space. Weights apply to the raw features; entry 0 is the intercept.
// Obtain one from fit(); it is never stored, only refitted from samples.
struct GazeModel {
    std::vector<double> weightsX;
    std::vector<double> weightsY;
    double referenceArea = 0; // mean face area of the training samples
    double meanError = 0;     // mean training error, in points
    std::int64_t sampleCount = 0;

    static constexpr double ridgeLambda = 0.0001;

    // Absent with fewer than five samples, a row whose length is not HeadPose::featureCount,
    // a system too badly conditioned to solve (including non-finite input), or a result that
    // is not finite throughout (targets so large that the error overflows).
    static std::optional<GazeModel> fit(const std::vector<CalibrationSample>& samples);

    // (0, 0) when the feature array does not match the weights. Not clamped to any display.
    Point predict(const std::vector<double>& features) const;

    // sqrt(area / referenceArea): above 1 the user sits nearer than during calibration.
    // 1 when either area is not positive.
    double distanceDrift(double area) const;
};

} // namespace plinth
