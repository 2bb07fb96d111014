#include "plinth/GazeModel.hpp"

#include "plinth/HeadPose.hpp"

#include <array>
#include <cmath>
#include <cstddef>
#include <utility>

namespace plinth {

namespace {

constexpr std::size_t kN = HeadPose::featureCount;
using Weights = std::array<double, kN>;

// Solves (XᵀX + Λ)·w = Xᵀy by Gaussian elimination with partial pivoting, Λ being
// ridgeLambda on every feature but the intercept. The order of every operation is fixed so
// that refitting the same samples always yields bit-identical weights.
std::optional<Weights> solveRidge(const std::vector<CalibrationSample>& samples,
                                  double CalibrationSample::*target) {
    for (const auto& sample : samples) {
        if (sample.features.size() != kN) {
            return std::nullopt;
        }
    }

    // Normal equations with the right-hand side as the last column.
    std::array<std::array<double, kN + 1>, kN> a{};
    for (const auto& sample : samples) {
        const double* r = sample.features.data();
        const double t = sample.*target;
        for (std::size_t i = 0; i < kN; ++i) {
            for (std::size_t j = 0; j < kN; ++j) {
                a[i][j] += r[i] * r[j];
            }
            a[i][kN] += r[i] * t;
        }
    }
    // The intercept is not shrunk.
    for (std::size_t i = 1; i < kN; ++i) {
        a[i][i] += GazeModel::ridgeLambda;
    }

    for (std::size_t c = 0; c < kN; ++c) {
        // Strictly larger replaces, so the uppermost row wins a tie.
        std::size_t pivot = c;
        double largest = std::fabs(a[c][c]);
        for (std::size_t k = c + 1; k < kN; ++k) {
            const double candidate = std::fabs(a[k][c]);
            if (candidate > largest) {
                largest = candidate;
                pivot = k;
            }
        }
        if (pivot != c) {
            std::swap(a[pivot], a[c]);
        }
        const double p = a[c][c];
        // Written so that a NaN pivot is refused as well.
        if (!(std::fabs(p) > 1e-12)) {
            return std::nullopt;
        }
        for (std::size_t k = c + 1; k < kN; ++k) {
            const double f = a[k][c] / p;
            if (f == 0.0) {
                continue;
            }
            for (std::size_t j = c; j <= kN; ++j) {
                a[k][j] -= f * a[c][j];
            }
        }
    }

    // The known terms are summed first and subtracted once.
    Weights w{};
    for (std::size_t i = kN; i-- > 0;) {
        double known = 0.0;
        for (std::size_t j = i + 1; j < kN; ++j) {
            known += a[i][j] * w[j];
        }
        w[i] = (a[i][kN] - known) / a[i][i];
    }
    for (const double value : w) {
        if (!std::isfinite(value)) {
            return std::nullopt;
        }
    }
    return w;
}

double dot(const Weights& w, const std::vector<double>& features) {
    double sum = 0.0;
    for (std::size_t i = 0; i < kN; ++i) {
        sum += w[i] * features[i];
    }
    return sum;
}

} // namespace

std::optional<GazeModel> GazeModel::fit(const std::vector<CalibrationSample>& samples) {
    if (samples.size() < 5) {
        return std::nullopt;
    }
    const auto wx = solveRidge(samples, &CalibrationSample::targetX);
    if (!wx) {
        return std::nullopt;
    }
    const auto wy = solveRidge(samples, &CalibrationSample::targetY);
    if (!wy) {
        return std::nullopt;
    }

    // Both solves have checked that every row has exactly kN entries.
    double errorSum = 0.0;
    double areaSum = 0.0;
    for (const auto& sample : samples) {
        const double dx = dot(*wx, sample.features) - sample.targetX;
        const double dy = dot(*wy, sample.features) - sample.targetY;
        errorSum += std::sqrt(dx * dx + dy * dy);
    }
    for (const auto& sample : samples) {
        areaSum += sample.area;
    }
    const auto n = static_cast<double>(samples.size());

    // Finite but absurd targets can still overflow the error sum, and absurd areas their mean;
    // such a model would only feed infinities into the engine and the log.
    const double referenceArea = areaSum / n;
    const double meanError = errorSum / n;
    if (!std::isfinite(referenceArea) || !std::isfinite(meanError)) {
        return std::nullopt;
    }

    GazeModel model;
    model.weightsX.assign(wx->begin(), wx->end());
    model.weightsY.assign(wy->begin(), wy->end());
    model.referenceArea = referenceArea;
    model.meanError = meanError;
    model.sampleCount = static_cast<std::int64_t>(samples.size());
    return model;
}

Point GazeModel::predict(const std::vector<double>& features) const {
    const auto combine = [&features](const std::vector<double>& weights) {
        if (weights.empty() || weights.size() != features.size()) {
            return 0.0;
        }
        double sum = 0.0;
        for (std::size_t i = 0; i < weights.size(); ++i) {
            sum += weights[i] * features[i];
        }
        return sum;
    };
    return {combine(weightsX), combine(weightsY)};
}

double GazeModel::distanceDrift(double area) const {
    if (referenceArea > 0 && area > 0) {
        return std::sqrt(area / referenceArea);
    }
    return 1.0;
}

} // namespace plinth
