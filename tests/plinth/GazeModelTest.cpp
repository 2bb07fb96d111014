#include "plinth/GazeModel.hpp"
#include "plinth/HeadPose.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <limits>
#include <vector>

namespace plinth {
namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

CalibrationSample sampleAt(double yaw, double pitch, double centerX, double centerY, double targetX,
                           double targetY, double area = 0.05) {
    return {HeadPose{yaw, pitch, 0.0, centerX, centerY, area, 0.0}.features(), targetX, targetY,
            area};
}

// Five dots of one 1920x1080 display, with the head turned plausibly towards each.
std::vector<CalibrationSample> fiveDots() {
    return {
        sampleAt(0.00, 0.00, 0.50, 0.45, 960, 540),   sampleAt(-0.30, -0.15, 0.42, 0.40, 96, 54),
        sampleAt(0.28, -0.14, 0.57, 0.41, 1824, 54),  sampleAt(-0.31, 0.16, 0.43, 0.52, 96, 1026),
        sampleAt(0.29, 0.15, 0.58, 0.51, 1824, 1026),
    };
}

// Poses spread over two displays; yaw, pitch and centre vary independently of each other.
std::vector<CalibrationSample> spreadPoses(double (*tx)(double, double, double, double),
                                           double (*ty)(double, double, double, double)) {
    std::vector<CalibrationSample> samples;
    for (int i = 0; i < 60; ++i) {
        const double yaw = -0.6 + 0.02 * i;
        const double pitch = 0.3 * std::sin(1.7 * i);
        const double cx = 0.5 + 0.15 * std::cos(2.3 * i);
        const double cy = 0.45 + 0.1 * std::sin(0.9 * i + 1.0);
        samples.push_back(sampleAt(yaw, pitch, cx, cy, tx(yaw, pitch, cx, cy),
                                   ty(yaw, pitch, cx, cy), 0.04 + 0.0001 * i));
    }
    return samples;
}

double linearX(double yaw, double pitch, double cx, double cy) {
    return 1920 + 3000 * yaw - 400 * pitch + 800 * cx - 200 * cy;
}
double linearY(double yaw, double pitch, double cx, double cy) {
    return 540 + 100 * yaw + 2000 * pitch - 150 * cx + 600 * cy;
}
double constantX(double, double, double, double) {
    return 2880;
}

TEST(GazeModelFit, NeedsAtLeastFiveSamples) {
    auto samples = fiveDots();
    const auto model = GazeModel::fit(samples);
    ASSERT_TRUE(model);
    EXPECT_EQ(model->sampleCount, 5);
    EXPECT_EQ(model->weightsX.size(), 5u);
    EXPECT_EQ(model->weightsY.size(), 5u);
    EXPECT_DOUBLE_EQ(model->referenceArea, 0.05);

    samples.pop_back();
    EXPECT_FALSE(GazeModel::fit(samples));
    EXPECT_FALSE(GazeModel::fit({}));
}

TEST(GazeModelFit, RecoversALinearDependence) {
    const auto samples = spreadPoses(linearX, linearY);
    const auto model = GazeModel::fit(samples);
    ASSERT_TRUE(model);

    const std::vector<double> wantX{1920, 3000, -400, 800, -200};
    const std::vector<double> wantY{540, 100, 2000, -150, 600};
    for (std::size_t i = 0; i < 5; ++i) {
        // The ridge term shrinks the slopes a little, most where a feature varies least.
        EXPECT_NEAR(model->weightsX[i], wantX[i], 0.02 * std::abs(wantX[i]) + 5) << i;
        EXPECT_NEAR(model->weightsY[i], wantY[i], 0.02 * std::abs(wantY[i]) + 5) << i;
    }
    EXPECT_LT(model->meanError, 1.0);
    EXPECT_EQ(model->sampleCount, 60);

    const auto& s = samples[17];
    const Point p = model->predict(s.features);
    EXPECT_NEAR(p.x, s.targetX, 2.0);
    EXPECT_NEAR(p.y, s.targetY, 2.0);
}

TEST(GazeModelFit, AConstantTargetBecomesTheIntercept) {
    const auto model = GazeModel::fit(spreadPoses(constantX, linearY));
    ASSERT_TRUE(model);
    EXPECT_NEAR(model->weightsX[0], 2880, 1e-6);
    for (std::size_t i = 1; i < 5; ++i) {
        EXPECT_NEAR(model->weightsX[i], 0, 1e-6) << i;
    }
}

// With one pose repeated, only the ridge term keeps the normal equations solvable.
TEST(GazeModelFit, IdenticalPosesGiveTheMeanTarget) {
    std::vector<CalibrationSample> samples;
    for (int i = 0; i < 5; ++i) {
        samples.push_back(sampleAt(0.1, -0.05, 0.5, 0.4, 100.0 * i, 50.0 * i));
    }
    const auto model = GazeModel::fit(samples);
    ASSERT_TRUE(model);
    EXPECT_NEAR(model->weightsX[0], 200, 1e-6);
    EXPECT_NEAR(model->weightsY[0], 100, 1e-6);
    for (std::size_t i = 1; i < 5; ++i) {
        EXPECT_NEAR(model->weightsX[i], 0, 1e-6) << i;
        EXPECT_NEAR(model->weightsY[i], 0, 1e-6) << i;
    }
    EXPECT_NEAR(model->meanError, 134.16, 0.01);
}

TEST(GazeModelFit, RefusesNonFiniteInput) {
    for (const double bad : {kNaN, kInf, -kInf}) {
        for (std::size_t feature = 0; feature < 5; ++feature) {
            auto samples = fiveDots();
            samples[2].features[feature] = bad;
            EXPECT_FALSE(GazeModel::fit(samples)) << "feature " << feature << " = " << bad;
        }
        auto samples = fiveDots();
        samples[4].targetX = bad;
        EXPECT_FALSE(GazeModel::fit(samples)) << "targetX = " << bad;
        samples = fiveDots();
        samples[0].targetY = bad;
        EXPECT_FALSE(GazeModel::fit(samples)) << "targetY = " << bad;
        samples = fiveDots();
        samples[3].area = bad;
        EXPECT_FALSE(GazeModel::fit(samples)) << "area = " << bad;
    }
}

// Finite targets far beyond any desktop still solve, but their error can overflow.
TEST(GazeModelFit, RefusesAModelWhoseErrorIsNotFinite) {
    const auto alternating = [](double size) {
        std::vector<CalibrationSample> samples = spreadPoses(linearX, linearY);
        for (std::size_t i = 0; i < samples.size(); ++i) {
            samples[i].targetX = i % 2 == 0 ? -size : size;
        }
        return samples;
    };
    EXPECT_FALSE(GazeModel::fit(alternating(1e160)));

    const auto huge = GazeModel::fit(alternating(1e20));
    ASSERT_TRUE(huge);
    EXPECT_TRUE(std::isfinite(huge->meanError));
    EXPECT_GT(huge->meanError, 1e19);

    auto samples = fiveDots();
    samples[0].area = std::numeric_limits<double>::max();
    samples[1].area = std::numeric_limits<double>::max();
    EXPECT_FALSE(GazeModel::fit(samples)) << "the mean area overflows";
}

TEST(GazeModelFit, RefusesARowOfTheWrongLength) {
    for (const std::size_t length : {0u, 4u, 6u}) {
        for (std::size_t row = 0; row < 5; ++row) {
            auto samples = fiveDots();
            samples[row].features.resize(length, 0.3);
            EXPECT_FALSE(GazeModel::fit(samples)) << "row " << row << " length " << length;
        }
    }
}

// The intercept is not regularised, so a bias column that vanishes leaves the system singular.
TEST(GazeModelFit, RefusesASingularOrNearSingularSystem) {
    auto withBias = [](double bias) {
        std::vector<CalibrationSample> samples;
        for (int i = 0; i < 5; ++i) {
            samples.push_back({{bias, 0, 0, 0, 0}, 100.0 * i, 10.0, 0.05});
        }
        return samples;
    };
    EXPECT_FALSE(GazeModel::fit(withBias(0.0)));
    // The leading pivot is 5e-14: below the conditioning limit.
    EXPECT_FALSE(GazeModel::fit(withBias(1e-7)));
    // 5e-12 is just above it, and the intercept then carries the mean target.
    const auto model = GazeModel::fit(withBias(1e-6));
    ASSERT_TRUE(model);
    EXPECT_NEAR(model->predict({1e-6, 0, 0, 0, 0}).x, 200, 1e-6);

    auto samples = fiveDots();
    for (auto& sample : samples) {
        sample.features[0] = 0;
    }
    EXPECT_FALSE(GazeModel::fit(samples));
}

// A tiny bias column makes the leading diagonal entry fall below the conditioning limit while
// the rows beneath it are fine: only a row swap makes the system solvable.
TEST(GazeModelSolver, SwapsRowsToFindAUsablePivot) {
    std::vector<CalibrationSample> samples;
    for (int i = 0; i < 8; ++i) {
        const double yaw = -0.4 + 0.1 * i;
        const double pitch = 0.2 * std::sin(1.3 * i);
        const double cx = 0.5 + 0.2 * std::cos(2.1 * i);
        const double cy = 0.4 + 0.1 * std::sin(0.7 * i + 0.5);
        samples.push_back({{1e-7, yaw, pitch, cx, cy},
                           500 + 800 * yaw + 300 * cx,
                           300 + 600 * pitch - 100 * cy,
                           0.05});
    }
    const auto model = GazeModel::fit(samples);
    ASSERT_TRUE(model);
    for (const auto& sample : samples) {
        const Point p = model->predict(sample.features);
        EXPECT_NEAR(p.x, sample.targetX, 1.0);
        EXPECT_NEAR(p.y, sample.targetY, 1.0);
    }
}

// Refitting stored samples must give the same model in every version, to the bit. Here the yaw
// column equals the bias column, so the first pivot is a tie: keeping the upper row gives an
// exactly zero yaw weight, taking the lower one would not. Expected values come from an
// independent implementation of the same elimination order, in plain double arithmetic: back
// substitution sums the known terms first and subtracts that sum once (subtracting them one by
// one ends the intercept in ...7a2p+12 instead).
TEST(GazeModelSolver, IsBitExactAndKeepsTheUpperRowOnATie) {
    const std::vector<CalibrationSample> samples{
        {{1.0, 1.0, -0.125, 0.75, 0.375}, 100, 0, 0.05},
        {{1.0, 1.0, 0.125, 0.75, 0.625}, 1920, 0, 0.05},
        {{1.0, 1.0, -0.125, 0.25, 0.375}, 1920, 0, 0.05},
        {{1.0, 1.0, 0, 0.625, 0.5}, 1920, 0, 0.05},
        {{1.0, 1.0, 0, 0.75, 0.625}, 400, 0, 0.05},
    };
    const auto model = GazeModel::fit(samples);
    ASSERT_TRUE(model);
    const std::vector<double> want{0x1.a3a5b538447a0p+12, 0x0.0p+0, 0x1.9efa56f7937d3p+13,
                                   -0x1.c734ea79e1237p+11, -0x1.64cae8cb9a4b1p+12};
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(model->weightsX[i], want[i]) << i;
    }
    EXPECT_FALSE(std::signbit(model->weightsX[1]));
}

TEST(GazeModelPredict, IsZeroWhenTheFeaturesDoNotMatchTheWeights) {
    const GazeModel model{{10, 1, 1, 1, 1}, {20, 2, 2, 2, 2}, 0.05, 0, 5};
    EXPECT_EQ(model.predict({1, 1, 1, 1, 1}), (Point{14, 28}));
    EXPECT_EQ(model.predict({1, 1, 1, 1}), (Point{0, 0}));
    EXPECT_EQ(model.predict({1, 1, 1, 1, 1, 1}), (Point{0, 0}));
    EXPECT_EQ(GazeModel{}.predict({}), (Point{0, 0}));
}

TEST(GazeModelDrift, IsTheSquareRootOfTheAreaRatio) {
    const GazeModel model{{}, {}, 0.04, 0, 5};
    EXPECT_DOUBLE_EQ(model.distanceDrift(0.09), 1.5);
    EXPECT_DOUBLE_EQ(model.distanceDrift(0.01), 0.5);
    EXPECT_EQ(model.distanceDrift(0.0), 1.0);
    EXPECT_EQ(model.distanceDrift(-0.09), 1.0);
    EXPECT_EQ(model.distanceDrift(kNaN), 1.0);
    EXPECT_EQ((GazeModel{{}, {}, 0.0, 0, 5}.distanceDrift(0.09)), 1.0);
    EXPECT_EQ((GazeModel{{}, {}, kNaN, 0, 5}.distanceDrift(0.09)), 1.0);
}

} // namespace
} // namespace plinth
