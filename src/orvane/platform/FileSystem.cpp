#include "orvane/platform/FileSystem.hpp"

namespace orvane {

std::optional<std::filesystem::path> moveAside(FileSystem& fileSystem,
                                               const std::filesystem::path& file, int nameCount) {
    for (int attempt = 0; attempt < nameCount; ++attempt) {
        auto aside = file;
        aside += attempt == 0 ? std::string(".bad") : ".bad." + std::to_string(attempt);
        if (fileSystem.renameIfFree(file, aside)) {
            return aside;
        }
    }
    return std::nullopt;
}

} // namespace orvane
