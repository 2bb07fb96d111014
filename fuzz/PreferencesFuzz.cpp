// The typed reads of the preferences over stored values of any type and content, as another
// program or a hand-edited file may leave them: every read answers, and answers within range.
#include "FuzzChecks.hpp"
#include "orvane/support/Prefs.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>
#include <map>
#include <memory>

namespace {

using namespace orvane;

class FuzzedStore : public PreferencesStore {
public:
    std::map<std::string, PrefValue> values;

protected:
    std::optional<PrefValue> storedValue(const std::string& key) const override {
        const auto found = values.find(key);
        return found == values.end() ? std::nullopt : std::optional(found->second);
    }
    void store(const std::string& key, const PrefValue& value) override { values[key] = value; }
    void erase(const std::string& key) override { values.erase(key); }
};

using fuzz::require;

std::optional<PrefValue> fuzzedValue(FuzzedDataProvider& input) {
    switch (input.ConsumeIntegralInRange(0, 4)) {
    case 1:
        return input.ConsumeBool();
    case 2:
        return input.ConsumeIntegral<std::int64_t>();
    case 3:
        // Any bit pattern: NaNs, infinities and subnormals included.
        return std::bit_cast<double>(input.ConsumeIntegral<std::uint64_t>());
    case 4:
        return input.ConsumeRandomLengthString(40);
    default:
        return std::nullopt;
    }
}

const char* const keys[] = {
    PrefKey::settleMilliseconds, PrefKey::turnThreshold,   PrefKey::paneDelayMilliseconds,
    PrefKey::typingPauseSeconds, PrefKey::learnFromClicks, PrefKey::showGazeDot,
    PrefKey::focusPanes,         PrefKey::moveCursor,      PrefKey::respectMouse,
    PrefKey::edgeMarginPoints,   PrefKey::cameraID,        "other",
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    auto store = std::make_shared<FuzzedStore>();
    if (auto fallback = fuzzedValue(input)) {
        store->registerDefaults({{"other", *fallback}});
    }
    for (const char* key : keys) {
        if (auto value = fuzzedValue(input)) {
            store->values[key] = *value;
        }
    }
    const Prefs prefs(store);

    fuzz::requireReadsInRange(prefs);

    for (const char* key : keys) {
        require(std::isfinite(store->real(key)), "a real read is not finite");
        (void)store->integer(key);
        (void)store->boolean(key);
        (void)store->string(key);
        // What is stored in a type reads back unchanged in that type.
        const auto found = store->values.find(key);
        if (found == store->values.end()) {
            continue;
        }
        const auto& stored = found->second;
        if (const auto* integer = std::get_if<std::int64_t>(&stored)) {
            require(store->integer(key) == *integer, "an integer does not read back");
        } else if (const auto* flag = std::get_if<bool>(&stored)) {
            require(store->boolean(key) == *flag, "a boolean does not read back");
        } else if (const auto* real = std::get_if<double>(&stored); real && std::isfinite(*real)) {
            require(store->real(key) == *real, "a real does not read back");
        } else if (const auto* text = std::get_if<std::string>(&stored)) {
            require(store->string(key) == *text, "a text does not read back");
        }
    }
    return 0;
}
