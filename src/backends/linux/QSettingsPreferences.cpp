#include "backends/linux/QSettingsPreferences.hpp"

#include <QSettings>
#include <QString>
#include <QVariant>

namespace orvane::linuxbackend {
namespace {

QString qt(const std::string& text) {
    return QString::fromStdString(text);
}

} // namespace

QSettingsPreferences::QSettingsPreferences(std::optional<std::string> file)
    : settings_(file ? std::make_unique<QSettings>(qt(*file), QSettings::IniFormat)
                     : std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                                   "Orvane", "Orvane")) {}

QSettingsPreferences::~QSettingsPreferences() {
    std::lock_guard lock(mutex_);
    settings_->sync();
}

std::string QSettingsPreferences::fileName() const {
    std::lock_guard lock(mutex_);
    return settings_->fileName().toStdString();
}

void QSettingsPreferences::sync() {
    std::lock_guard lock(mutex_);
    settings_->sync();
}

std::optional<PrefValue> QSettingsPreferences::storedValue(const std::string& key) const {
    std::lock_guard lock(mutex_);
    const QVariant value = settings_->value(qt(key));
    if (!value.isValid()) {
        return std::nullopt;
    }
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return static_cast<std::int64_t>(value.toLongLong());
    case QMetaType::Double:
    case QMetaType::Float:
        return value.toDouble();
    default:
        return value.toString().toStdString();
    }
}

void QSettingsPreferences::store(const std::string& key, const PrefValue& value) {
    const QVariant converted = std::visit(
        [](const auto& v) -> QVariant {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::string>) {
                return qt(v);
            } else if constexpr (std::is_same_v<T, std::int64_t>) {
                return QVariant::fromValue<qlonglong>(v);
            } else {
                return QVariant::fromValue(v);
            }
        },
        value);
    std::lock_guard lock(mutex_);
    settings_->setValue(qt(key), converted);
}

void QSettingsPreferences::erase(const std::string& key) {
    std::lock_guard lock(mutex_);
    settings_->remove(qt(key));
}

} // namespace orvane::linuxbackend
