#include "orvane/calibration/CalibrationFile.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <utility>

namespace orvane::CalibrationFile {
namespace {

// Follows the JSON events and keeps only what a payload needs. Values it has no use for are
// skipped by counting their nesting, so memory does not grow with depth.
class PayloadReader {
public:
    explicit PayloadReader(std::size_t keepNewest) : keep_(keepNewest == 0 ? 1 : keepNewest) {}

    bool null() { return scalar(std::nullopt); }
    bool boolean(bool) { return scalar(std::nullopt); }
    bool number_integer(std::int64_t value) { return scalar(static_cast<double>(value)); }
    bool number_unsigned(std::uint64_t value) { return scalar(static_cast<double>(value)); }
    bool number_float(double value, const std::string&) { return scalar(value); }
    bool string(std::string& value) {
        if (skip_ == 0 && where_ == Where::root && member_ == Member::signature) {
            signature_ = std::move(value);
            hasSignature_ = true;
            return true;
        }
        return scalar(std::nullopt);
    }
    bool binary(nlohmann::json::binary_t&) { return scalar(std::nullopt); }
    bool start_object(std::size_t) { return open(true); }
    bool start_array(std::size_t) { return open(false); }
    bool end_object() { return close(); }
    bool end_array() { return close(); }
    bool key(std::string& name) {
        if (skip_ > 0) {
            return true;
        }
        if (where_ == Where::root) {
            member_ = name == "samples"           ? Member::samples
                      : name == "layoutSignature" ? Member::signature
                                                  : Member::other;
        } else if (where_ == Where::sample) {
            member_ = name == "features"  ? Member::features
                      : name == "targetX" ? Member::targetX
                      : name == "targetY" ? Member::targetY
                      : name == "area"    ? Member::area
                                          : Member::other;
        }
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) {
        valid_ = false;
        return false;
    }

    std::variant<CalibrationPayload, std::string> result() {
        if (!valid_) {
            return std::string("not valid JSON");
        }
        if (!topIsObject_) {
            return std::string("not a JSON object");
        }
        if (!hasSamplesArray_) {
            return std::string("no \"samples\" array");
        }
        if (!hasSignature_) {
            return std::string("no \"layoutSignature\" text");
        }
        if (firstInvalid_) {
            return "sample " + std::to_string(*firstInvalid_) + " is not valid";
        }
        keepOnlyNewest(keep_);
        CalibrationPayload payload;
        payload.samples = std::move(samples_);
        payload.layoutSignature = std::move(signature_);
        payload.sampleCount = count_;
        return payload;
    }

private:
    enum class Where { top, root, samples, sample, features, done };
    enum class Member { other, samples, signature, features, targetX, targetY, area };

    bool scalar(std::optional<double> number) {
        if (skip_ > 0) {
            return true;
        }
        switch (where_) {
        case Where::top:
            topIsObject_ = false;
            where_ = Where::done;
            break;
        case Where::root:
            if (member_ == Member::samples) {
                startSamples(false);
            } else if (member_ == Member::signature) {
                hasSignature_ = false;
            }
            break;
        case Where::samples:
            endSample(false);
            break;
        case Where::sample:
            sampleMember(number);
            break;
        case Where::features:
            if (number) {
                features_.push_back(*number);
            } else {
                featuresValid_ = false;
            }
            break;
        case Where::done:
            break;
        }
        return true;
    }

    bool open(bool object) {
        if (skip_ > 0) {
            ++skip_;
            return true;
        }
        switch (where_) {
        case Where::top:
            topIsObject_ = object;
            where_ = object ? Where::root : Where::done;
            skip_ = object ? 0 : 1;
            return true;
        case Where::root:
            if (member_ == Member::samples) {
                startSamples(!object);
                if (!object) {
                    where_ = Where::samples;
                    return true;
                }
            } else if (member_ == Member::signature) {
                hasSignature_ = false;
            }
            break;
        case Where::samples:
            if (object) {
                features_.clear();
                featuresValid_ = false;
                targetX_ = targetY_ = area_ = std::nullopt;
                member_ = Member::other;
                where_ = Where::sample;
                return true;
            }
            endSample(false);
            break;
        case Where::sample:
            if (member_ == Member::features && !object) {
                features_.clear();
                featuresValid_ = true;
                where_ = Where::features;
                return true;
            }
            sampleMember(std::nullopt);
            break;
        case Where::features:
            featuresValid_ = false;
            break;
        case Where::done:
            break;
        }
        skip_ = 1;
        return true;
    }

    bool close() {
        if (skip_ > 0) {
            --skip_;
            return true;
        }
        switch (where_) {
        case Where::features:
            where_ = Where::sample;
            break;
        case Where::sample:
            where_ = Where::samples;
            endSample(featuresValid_ && targetX_ && targetY_ && area_);
            break;
        case Where::samples:
            where_ = Where::root;
            break;
        default:
            where_ = Where::done;
            break;
        }
        return true;
    }

    void sampleMember(std::optional<double> number) {
        switch (member_) {
        case Member::features:
            featuresValid_ = false;
            break;
        case Member::targetX:
            targetX_ = number;
            break;
        case Member::targetY:
            targetY_ = number;
            break;
        case Member::area:
            area_ = number;
            break;
        default:
            break;
        }
    }

    // A repeated "samples" member replaces what an earlier one gave.
    void startSamples(bool isArray) {
        hasSamplesArray_ = isArray;
        samples_.clear();
        count_ = 0;
        firstInvalid_.reset();
    }

    void endSample(bool valid) {
        if (!valid && !firstInvalid_) {
            firstInvalid_ = count_;
        }
        ++count_;
        if (!valid || firstInvalid_) {
            return;
        }
        samples_.push_back({std::move(features_), *targetX_, *targetY_, *area_});
        features_ = {};
        // Trimmed in batches so that a long list costs neither memory nor quadratic time.
        if (samples_.size() >= 64 && samples_.size() / 2 >= keep_) {
            keepOnlyNewest(keep_);
        }
    }

    void keepOnlyNewest(std::size_t keep) {
        if (samples_.size() > keep) {
            samples_.erase(samples_.begin(), samples_.end() - static_cast<std::ptrdiff_t>(keep));
        }
    }

    const std::size_t keep_;
    Where where_ = Where::top;
    Member member_ = Member::other;
    std::size_t skip_ = 0;

    bool valid_ = true;
    bool topIsObject_ = true;
    bool hasSamplesArray_ = false;
    bool hasSignature_ = false;
    std::string signature_;
    std::vector<plinth::CalibrationSample> samples_;
    std::size_t count_ = 0;
    std::optional<std::size_t> firstInvalid_;

    std::vector<double> features_;
    bool featuresValid_ = false;
    std::optional<double> targetX_, targetY_, area_;
};

void appendNumber(std::string& out, double value) {
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    char buffer[32];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
    const std::string_view text(buffer, error == std::errc() ? end - buffer : 0);
    out += text;
    if (text.find_first_of(".e") == std::string_view::npos) {
        out += ".0";
    }
}

} // namespace

std::variant<CalibrationPayload, std::string> decode(std::string_view text,
                                                     std::size_t keepNewest) {
    PayloadReader reader(keepNewest);
    // An empty text is the parser's business too: "not valid JSON".
    nlohmann::json::sax_parse(text, &reader);
    return reader.result();
}

void appendSample(std::string& out, const plinth::CalibrationSample& sample) {
    out += R"({"features":[)";
    for (std::size_t i = 0; i < sample.features.size(); ++i) {
        if (i > 0) {
            out.push_back(',');
        }
        appendNumber(out, sample.features[i]);
    }
    out += R"(],"targetX":)";
    appendNumber(out, sample.targetX);
    out += R"(,"targetY":)";
    appendNumber(out, sample.targetY);
    out += R"(,"area":)";
    appendNumber(out, sample.area);
    out.push_back('}');
}

std::string assemble(const std::vector<std::string>& encodedSamples,
                     const std::string& layoutSignature) {
    std::size_t size = layoutSignature.size() + 64;
    for (const auto& sample : encodedSamples) {
        size += sample.size() + 1;
    }
    std::string text;
    text.reserve(size);
    text += R"({"samples":[)";
    for (std::size_t i = 0; i < encodedSamples.size(); ++i) {
        if (i > 0) {
            text.push_back(',');
        }
        text += encodedSamples[i];
    }
    text += R"(],"layoutSignature":)";
    // Bytes that are not UTF-8 are replaced, not refused.
    text += nlohmann::json(layoutSignature)
                .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    text.push_back('}');
    return text;
}

std::string encode(const std::vector<plinth::CalibrationSample>& samples,
                   const std::string& layoutSignature) {
    std::vector<std::string> encoded(samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i) {
        appendSample(encoded[i], samples[i]);
    }
    return assemble(encoded, layoutSignature);
}

} // namespace orvane::CalibrationFile
