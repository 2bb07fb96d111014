#include "HyprlandFakeSockets.hpp"

#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace orvane::linuxbackend::test {
namespace {

constexpr std::size_t eventSocket = 1; // .socket2.sock

} // namespace
std::string hyprlandTranscript(const std::string& name) {
    std::ifstream in(std::string(ORVANE_HYPRLAND_TRANSCRIPTS) + "/" + name, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    std::string all = text.str();
    std::size_t start = 0;
    while (start < all.size() && all[start] == '#') {
        const auto end = all.find('\n', start);
        start = end == std::string::npos ? all.size() : end + 1;
    }
    return all.substr(start);
}

std::vector<std::string> hyprlandEventLines(const std::string& name) {
    std::istringstream text(hyprlandTranscript(name));
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(text, line)) {
        lines.push_back(line + "\n");
    }
    return lines;
}

namespace {

std::filesystem::path madePrivate(std::filesystem::path folder) {
    std::filesystem::create_directories(folder);
    ::chmod(folder.c_str(), 0700);
    return folder;
}

} // namespace

HyprlandFakeSockets::HyprlandFakeSockets(std::filesystem::path folder)
    : folder_(madePrivate(std::move(folder))),
      server_({folder_ / ".socket.sock", folder_ / ".socket2.sock"},
              [this](FakeSocketServer::Client& client) { handle(client); }) {}

void HyprlandFakeSockets::answer(const std::string& request, std::string reply) {
    std::lock_guard lock(server_.mutex());
    answers_[request] = std::move(reply);
}

void HyprlandFakeSockets::setSilent(bool silent) {
    std::lock_guard lock(server_.mutex());
    silent_ = silent;
}

void HyprlandFakeSockets::setLuaConfig(bool lua) {
    std::lock_guard lock(server_.mutex());
    lua_ = lua;
}

void HyprlandFakeSockets::setFollowDispatches(bool follow) {
    std::lock_guard lock(server_.mutex());
    follow_ = follow;
}

void HyprlandFakeSockets::sendEvents(const std::string& bytes) {
    std::lock_guard lock(server_.mutex());
    for (auto& client : server_.clients()) {
        if (client.socket == eventSocket) {
            FakeSocketServer::sendAll(client.fd, bytes);
        }
    }
}

std::size_t HyprlandFakeSockets::listeners() const {
    std::lock_guard lock(server_.mutex());
    std::size_t count = 0;
    for (const auto& client : server_.clients()) {
        count += client.socket == eventSocket ? 1 : 0;
    }
    return count;
}

std::vector<std::string> HyprlandFakeSockets::requests() const {
    std::lock_guard lock(server_.mutex());
    return requests_;
}

void HyprlandFakeSockets::dispatch(const std::string& what, std::string& reply) {
    // A Lua config reads a dispatch as Lua; a classic one as a dispatcher and its argument.
    const bool lua = what.rfind("hl.", 0) == 0;
    if (lua != lua_) {
        reply = lua_ ? "[string \"" + what + "\"]:1: syntax error" : "Invalid dispatcher";
        return;
    }
    reply = "ok";
    if (!follow_) {
        return;
    }
    const std::string focus = lua ? "hl.dsp.focus({ window = \"address:" : "focuswindow address:";
    const std::string move = "movecursor ";
    if (what.rfind(focus, 0) == 0) {
        const auto address =
            what.substr(focus.size(), what.find_first_of("\" ", focus.size()) - focus.size());
        answers_["j/activewindow"] = R"({"address":")" + address + R"(","title":"x"})";
    } else if (!lua && what.rfind(move, 0) == 0) {
        std::istringstream at(what.substr(move.size()));
        int x = 0;
        int y = 0;
        at >> x >> y;
        answers_["j/cursorpos"] =
            R"({"x":)" + std::to_string(x) + R"(,"y":)" + std::to_string(y) + "}";
    }
}

void HyprlandFakeSockets::handle(FakeSocketServer::Client& client) {
    if (client.socket == eventSocket) {
        client.buffer.clear(); // Hyprland reads nothing there
        return;
    }
    // A request is what one write brings, as Hyprland reads it.
    const std::string request = std::exchange(client.buffer, {});
    requests_.push_back(request);
    if (silent_) {
        return;
    }
    std::string reply;
    if (const auto found = answers_.find(request); found != answers_.end()) {
        reply = found->second;
    } else if (request.rfind("dispatch ", 0) == 0) {
        dispatch(request.substr(9), reply);
    } else {
        reply = "unknown request";
    }
    FakeSocketServer::sendAll(client.fd, reply);
    ::close(client.fd);
    client.fd = -1;
}

} // namespace orvane::linuxbackend::test
