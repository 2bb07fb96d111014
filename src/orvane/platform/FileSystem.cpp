#include "orvane/platform/FileSystem.hpp"

namespace orvane {
namespace {

std::filesystem::path asideName(const std::filesystem::path& file, int index) {
    auto aside = file;
    aside += index == 0 ? std::string(".bad") : ".bad." + std::to_string(index);
    return aside;
}

} // namespace

std::optional<std::filesystem::path> moveAside(FileSystem& fileSystem,
                                               const std::filesystem::path& file, int nameCount) {
    if (nameCount < 1) {
        return std::nullopt;
    }
    // Room at the front: the oldest goes, every other moves one name back. A full set of
    // names must never stop the next save.
    fileSystem.remove(asideName(file, nameCount - 1));
    for (int index = nameCount - 1; index > 0; --index) {
        fileSystem.renameIfFree(asideName(file, index - 1), asideName(file, index));
    }
    // Something that cannot be moved or removed (a directory) may still hold a name.
    for (int index = 0; index < nameCount; ++index) {
        const auto aside = asideName(file, index);
        if (fileSystem.renameIfFree(file, aside)) {
            return aside;
        }
    }
    return std::nullopt;
}

} // namespace orvane
