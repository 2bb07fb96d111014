#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace orvane::linuxbackend {

// The copy of Orvane's KWin script that KWin loads: made for one run, in a folder of its own
// that nobody else may enter, and removed with that folder when it goes.
class KWinScriptFile {
public:
    // Writes `text` to a new file in a new private folder (mkdtemp, 0700) under
    // `runtimeFolder`, else under /tmp. The file is made exclusively and never through a
    // symbolic link (0600). Null when neither works, with why in `problem`.
    static std::unique_ptr<KWinScriptFile>
    create(std::string_view text, const std::string& runtimeFolder, std::string* problem);
    ~KWinScriptFile();
    KWinScriptFile(const KWinScriptFile&) = delete;
    KWinScriptFile& operator=(const KWinScriptFile&) = delete;

    const std::string& path() const { return path_; }
    const std::string& folder() const { return folder_; }

private:
    KWinScriptFile(std::string folder, std::string path)
        : folder_(std::move(folder)), path_(std::move(path)) {}

    std::string folder_;
    std::string path_;
};

// The script `source` with the connection it must call, the key its calls carry and the name
// KWin knows it by written in. nullopt when a mark is missing from `source` or a value is not
// plain enough to stand in a JavaScript string.
std::optional<std::string> kwinScriptFor(std::string_view source, const std::string& service,
                                         const std::string& key, const std::string& plugin);

// A new key of 256 bits from the kernel's random source, as 64 hex digits; nullopt when there
// is none.
std::optional<std::string> randomKey();

// Whether `given` is `key`, in a time that does not tell how much of it matched.
bool sameKey(std::string_view given, std::string_view key);

} // namespace orvane::linuxbackend
