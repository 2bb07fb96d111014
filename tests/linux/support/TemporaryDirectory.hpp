#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace orvane::linuxbackend::test {

// A directory of the test's own (mode 0700, as mkdtemp makes it) under the system's temporary
// directory, removed with all it holds when the object goes. Its path is empty when none could
// be made.
struct TemporaryDirectory {
    explicit TemporaryDirectory(const std::string& prefix = "orvane") {
        std::string pattern = std::filesystem::temp_directory_path() / (prefix + "-XXXXXX");
        if (::mkdtemp(pattern.data()) != nullptr) {
            path = pattern;
        }
    }
    ~TemporaryDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    std::filesystem::path path;
};

} // namespace orvane::linuxbackend::test
