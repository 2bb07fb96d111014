#pragma once

namespace orvane {

class SecureInput {
public:
    virtual ~SecureInput() = default;

    // True while some application has claimed the keyboard for itself (a password prompt,
    // a lock screen): synthetic focus changes must not interfere then.
    virtual bool isSecureEventInputEnabled() const = 0;
};

} // namespace orvane
