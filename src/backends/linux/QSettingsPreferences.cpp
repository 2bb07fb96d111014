#include "backends/linux/QSettingsPreferences.hpp"

#include "backends/posix/PosixFileSystem.hpp"
#include "orvane/platform/Platform.hpp"

#include <QSettings>
#include <QStandardPaths>
#include <QString>
#include <QVariant>
#include <fcntl.h>
#include <stdio.h>

namespace orvane::linuxbackend {
namespace {

QString qt(const std::string& text) {
    return QString::fromStdString(text);
}

// Named here rather than by organisation and application, which in the INI format would give
// "Orvane.ini", and so that the file is looked at before QSettings reads it.
std::string defaultFile() {
    const auto folder =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/Orvane/";
    const auto file = (folder + "Orvane.conf").toStdString();
    // Earlier versions kept the settings in Orvane.ini: carry them over, never over a newer file.
    const auto earlier = (folder + "Orvane.ini").toStdString();
    ::renameat2(AT_FDCWD, earlier.c_str(), AT_FDCWD, file.c_str(), RENAME_NOREPLACE);
    return file;
}

} // namespace

QSettingsPreferences::QSettingsPreferences(std::optional<std::string> file, Reporter report)
    : file_(file ? *file : defaultFile()), report_(report ? std::move(report) : logPlatformError) {}

QSettingsPreferences::~QSettingsPreferences() {
    std::lock_guard lock(mutex_);
    if (settings_) {
        settings_->sync();
    }
}

QSettings* QSettingsPreferences::settings() const {
    if (opened_) {
        return settings_.get();
    }
    opened_ = true;
    posix::PosixFileSystem fileSystem(std::nullopt);
    const auto found = fileSystem.read(file_, fileSizeLimit);
    switch (found.outcome) {
    case FileRead::Outcome::read:
    case FileRead::Outcome::missing:
        break;
    case FileRead::Outcome::directory:
        // QSettings reads nothing from it, and nothing can be saved there either.
        report_("settings file " + file_ + " is a directory: settings are not saved");
        break;
    case FileRead::Outcome::notARegularFile:
    case FileRead::Outcome::tooLarge:
    case FileRead::Outcome::failed:
        if (const auto aside = moveAside(fileSystem, file_, asideNameCount)) {
            report_("settings file " + file_ + " cannot be used (" + found.problem +
                    "): moved aside to " + aside->string());
            break;
        }
        report_("settings file " + file_ + " cannot be used (" + found.problem +
                ") nor moved aside: settings are kept in memory only");
        return nullptr;
    }
    settings_ = std::make_unique<QSettings>(qt(file_), QSettings::IniFormat);
    return settings_.get();
}

std::string QSettingsPreferences::fileName() const {
    return file_;
}

void QSettingsPreferences::sync() {
    std::lock_guard lock(mutex_);
    if (auto* stored = settings()) {
        stored->sync();
    }
}

std::optional<PrefValue> QSettingsPreferences::storedValue(const std::string& key) const {
    std::lock_guard lock(mutex_);
    auto* stored = settings();
    if (!stored) {
        const auto found = memoryOnly_.find(key);
        return found == memoryOnly_.end() ? std::nullopt : std::optional(found->second);
    }
    const QVariant value = stored->value(qt(key));
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
    if (auto* stored = settings()) {
        stored->setValue(qt(key), converted);
    } else {
        memoryOnly_[key] = value;
    }
}

void QSettingsPreferences::erase(const std::string& key) {
    std::lock_guard lock(mutex_);
    if (auto* stored = settings()) {
        stored->remove(qt(key));
    } else {
        memoryOnly_.erase(key);
    }
}

} // namespace orvane::linuxbackend
