#pragma once

#include "FakeSocketServer.hpp"

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace orvane::linuxbackend::test {

// The text of a recorded transcript in tests/linux/data/hyprland, its leading '#' lines (which
// name the release it follows) left out.
std::string hyprlandTranscript(const std::string& name);

// The event lines of a recorded transcript, each with its "\n".
std::vector<std::string> hyprlandEventLines(const std::string& name);

// A stand-in for one Hyprland instance's two sockets in `folder`: answers each request on
// `.socket.sock` with the text set for it and closes, as Hyprland does ("dispatch ..." with
// "ok" unless told otherwise), keeps the requests, and writes event lines to every connection
// of `.socket2.sock`. A focuswindow dispatch moves the focus when `followDispatches`. Serves on
// a thread of its own.
class HyprlandFakeSockets {
public:
    explicit HyprlandFakeSockets(std::filesystem::path folder);

    const std::filesystem::path& folder() const { return folder_; }

    void answer(const std::string& request, std::string reply);
    // Requests get no answer (the connection stays open) while silent.
    void setSilent(bool silent);
    // A focuswindow dispatch answers "ok" and, when `follow`, makes its window the active one;
    // a movecursor dispatch moves the pointer.
    void setFollowDispatches(bool follow);
    // Dispatches are taken as Lua (as a Hyprland configured in Lua takes them), not as
    // dispatchers and their arguments.
    void setLuaConfig(bool lua);
    // Raw bytes to every event connection: whole lines, parts of them, garbage.
    void sendEvents(const std::string& bytes);
    // Closes every connection and both sockets (Hyprland exiting); `start` opens them again.
    void hangUp() { server_.hangUp(); }
    void start() { server_.start(); }
    // The event connections open now.
    std::size_t listeners() const;

    std::vector<std::string> requests() const;

private:
    void handle(FakeSocketServer::Client& client);
    void dispatch(const std::string& what, std::string& reply);

    std::filesystem::path folder_;
    // Under server_.mutex():
    std::map<std::string, std::string> answers_;
    std::vector<std::string> requests_;
    bool silent_ = false;
    bool follow_ = false;
    bool lua_ = false;
    FakeSocketServer server_; // last: serves until the rest goes
};

} // namespace orvane::linuxbackend::test
