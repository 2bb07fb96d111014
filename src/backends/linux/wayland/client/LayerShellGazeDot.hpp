#pragma once

#include "orvane/platform/DesktopBridge.hpp"
#include "plinth/Geometry.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvane::linuxbackend {

class WaylandClient;
class DotPart;

// Where the dot's surface goes on an output: margins from its top-left corner, keeping the
// whole dot on it.
struct DotPlacement {
    int left = 0;
    int top = 0;
};

// What the compositor made of the dot, as its events told.
struct DotSurfaceState {
    bool mapped = false;    // configured, a buffer attached
    std::string outputName; // the output the compositor says the surface entered
    int diameter = 0;
    DotPlacement placement;
};

// The gaze dot as a layer surface on the overlay layer of the output under the point (KWin,
// sway): no keyboard interactivity and an empty input region, so clicks go through and focus
// stays. Drawn once per size with wl_shm; a move sets the margins and commits. Main-thread
// API; the worker does the Wayland work, the newest request winning.
class LayerShellGazeDot : public GazeDotSurface {
public:
    // The layer surface's namespace, as the compositor lists it.
    static constexpr const char* surfaceNamespace = "orvane-gaze-dot";

    explicit LayerShellGazeDot(std::shared_ptr<WaylandClient> client);
    ~LayerShellGazeDot() override;
    LayerShellGazeDot(const LayerShellGazeDot&) = delete;
    LayerShellGazeDot& operator=(const LayerShellGazeDot&) = delete;

    void show(plinth::Point center, int diameter) override;
    void hide() override;

    // Any thread.
    DotSurfaceState surfaceState() const;

    static DotPlacement place(plinth::Point center, int diameter, const plinth::Rect& output);
    // The dot's pixels, `size` square, premultiplied ARGB as wl_shm's ARGB8888 holds them:
    // a translucent red disc in a white ring with soft edges (as the GNOME shell draws it);
    // `ring` is the ring's width in pixels.
    static std::vector<std::uint32_t> draw(int size, int ring);

private:
    std::shared_ptr<WaylandClient> client_;
    std::shared_ptr<DotPart> part_;
};

} // namespace orvane::linuxbackend
