#include "backends/linux/wayland/client/LayerShellGazeDot.hpp"

#include "backends/linux/wayland/client/LayerShellProtocol.hpp"
#include "backends/linux/wayland/client/WaylandClient.hpp"

#include <wayland-client.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <sys/mman.h>
#include <unistd.h>

namespace orvane::linuxbackend {
namespace {

struct Premultiplied {
    double a, r, g, b;
};

// The GNOME shell's dot: rgba(255, 80, 64, 0.55) in a 2 px rgba(255, 255, 255, 0.7) ring.
constexpr Premultiplied fill = {0.55, 1.0 * 0.55, 80 / 255.0 * 0.55, 64 / 255.0 * 0.55};
constexpr Premultiplied ring = {0.7, 0.7, 0.7, 0.7};
constexpr int ringWidth = 2;

// How much of a pixel `distance` from the centre lies within `radius`, over a soft pixel.
double coverage(double radius, double distance) {
    return std::clamp(radius - distance + 0.5, 0.0, 1.0);
}

std::uint32_t channel(double value) {
    return static_cast<std::uint32_t>(std::lround(std::clamp(value, 0.0, 1.0) * 255));
}

} // namespace

DotPlacement LayerShellGazeDot::place(plinth::Point center, int diameter,
                                      const plinth::Rect& output) {
    const auto along = [diameter](double point, double origin, double length) {
        const double offset = std::round(point - diameter / 2.0 - origin);
        return static_cast<int>(std::clamp(offset, 0.0, std::max(length - diameter, 0.0)));
    };
    return {along(center.x, output.x, output.width), along(center.y, output.y, output.height)};
}

std::vector<std::uint32_t> LayerShellGazeDot::draw(int size, int ringPixels) {
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(size) * size, 0);
    const double radius = size / 2.0;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const double distance = std::hypot(x + 0.5 - radius, y + 0.5 - radius);
            const double outer = coverage(radius, distance);
            const double inner = coverage(radius - ringPixels, distance);
            const double ringPart = outer - inner;
            const double a = fill.a * inner + ring.a * ringPart;
            const double r = fill.r * inner + ring.r * ringPart;
            const double g = fill.g * inner + ring.g * ringPart;
            const double b = fill.b * inner + ring.b * ringPart;
            pixels[static_cast<std::size_t>(y) * size + x] =
                channel(a) << 24 | channel(r) << 16 | channel(g) << 8 | channel(b);
        }
    }
    return pixels;
}

// The dot's surface on the worker, and what the main thread last asked of it.
class DotPart : public WaylandPart {
public:
    struct Wanted {
        bool visible = false;
        plinth::Point center;
        int diameter = 0;
    };

    // Main thread: the newest request wins; one worker task carries any number of them.
    bool want(const Wanted& wanted) {
        std::lock_guard lock(mutex_);
        wanted_ = wanted;
        return !std::exchange(applyQueued_, true);
    }

    void applyQueued() {
        {
            std::lock_guard lock(mutex_);
            applyQueued_ = false;
        }
        apply();
    }

    DotSurfaceState surfaceState() const {
        std::lock_guard lock(mutex_);
        return state_;
    }

    void connected(WaylandGlobals& globals) override {
        globals_ = &globals;
        applyQueued(); // a request made while there was no connection was dropped
    }

    void outputsChanged(WaylandGlobals& globals) override {
        globals_ = &globals;
        const bool kept =
            std::any_of(globals.outputs.begin(), globals.outputs.end(),
                        [this](const auto& output) { return output.output == output_; });
        if (!kept) {
            destroySurface(); // its output went: made again on one that is there
        }
        apply();
    }

    void disconnecting() override {
        destroySurface();
        for (auto* buffer : retired_) {
            wl_buffer_destroy(buffer);
        }
        retired_.clear();
        globals_ = nullptr;
    }

private:
    static DotPart& of(void* data) { return *static_cast<DotPart*>(data); }

    void apply() {
        Wanted wanted;
        {
            std::lock_guard lock(mutex_);
            wanted = wanted_;
        }
        if (!globals_ || !globals_->layerShell || !globals_->compositor || !globals_->shm) {
            return;
        }
        if (!wanted.visible || wanted.diameter <= 0) {
            destroySurface();
            return;
        }
        const auto* output = globals_->outputAt(wanted.center);
        if (!output) {
            return;
        }
        // A layer surface stays on the output it was made for.
        if (surface_ && output_ != output->output) {
            destroySurface();
        }
        const DotPlacement placement =
            LayerShellGazeDot::place(wanted.center, wanted.diameter, output->info.logical);
        const int scale = std::max(output->info.scale, 1);
        if (!surface_) {
            create(*output);
        }
        if (wanted.diameter != diameter_ || scale != scale_) {
            diameter_ = wanted.diameter;
            scale_ = scale;
            zwlr_layer_surface_v1_set_size(layer_, diameter_, diameter_);
            if (configured_) {
                attachBuffer();
            }
        }
        zwlr_layer_surface_v1_set_margin(layer_, placement.top, 0, 0, placement.left);
        wl_surface_commit(surface_);
        std::lock_guard lock(mutex_);
        state_.diameter = diameter_;
        state_.placement = placement;
    }

    void create(const WaylandGlobals::Output& output) {
        surface_ = wl_compositor_create_surface(globals_->compositor);
        wl_surface_add_listener(surface_, &surfaceListener, this);
        // An empty input region: clicks reach the windows below.
        wl_region* empty = wl_compositor_create_region(globals_->compositor);
        wl_surface_set_input_region(surface_, empty);
        wl_region_destroy(empty);
        output_ = output.output;
        layer_ = zwlr_layer_shell_v1_get_layer_surface(globals_->layerShell, surface_, output_,
                                                       ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY,
                                                       LayerShellGazeDot::surfaceNamespace);
        zwlr_layer_surface_v1_add_listener(layer_, &layerListener, this);
        zwlr_layer_surface_v1_set_anchor(layer_, ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP |
                                                     ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT);
        // Placed against the whole output, whatever panels reserve.
        zwlr_layer_surface_v1_set_exclusive_zone(layer_, -1);
        zwlr_layer_surface_v1_set_keyboard_interactivity(
            layer_, ZWLR_LAYER_SURFACE_V1_KEYBOARD_INTERACTIVITY_NONE);
        diameter_ = 0;
        scale_ = 0;
        configured_ = false;
    }

    void destroySurface() {
        if (layer_) {
            zwlr_layer_surface_v1_destroy(layer_);
            layer_ = nullptr;
        }
        if (surface_) {
            wl_surface_destroy(surface_);
            surface_ = nullptr;
        }
        if (buffer_) {
            // Freed once the compositor is done with it (or with the connection).
            retired_.push_back(buffer_);
            buffer_ = nullptr;
        }
        output_ = nullptr;
        configured_ = false;
        diameter_ = 0;
        std::lock_guard lock(mutex_);
        state_ = DotSurfaceState{};
    }

    void attachBuffer() {
        const int size = diameter_ * scale_;
        const std::size_t bytes = static_cast<std::size_t>(size) * size * 4;
        const int fd = ::memfd_create("orvane-gaze-dot", MFD_CLOEXEC);
        if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(bytes)) < 0) {
            if (fd >= 0) {
                ::close(fd);
            }
            return;
        }
        void* memory = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (memory == MAP_FAILED) {
            ::close(fd);
            return;
        }
        const auto pixels = LayerShellGazeDot::draw(size, ringWidth * scale_);
        std::memcpy(memory, pixels.data(), bytes);
        ::munmap(memory, bytes);
        wl_shm_pool* pool = wl_shm_create_pool(globals_->shm, fd, static_cast<int>(bytes));
        wl_buffer* buffer =
            wl_shm_pool_create_buffer(pool, 0, size, size, size * 4, WL_SHM_FORMAT_ARGB8888);
        wl_shm_pool_destroy(pool);
        ::close(fd);
        wl_buffer_add_listener(buffer, &bufferListener, this);
        if (buffer_) {
            retired_.push_back(buffer_);
        }
        buffer_ = buffer;
        wl_surface_attach(surface_, buffer_, 0, 0);
        wl_surface_set_buffer_scale(surface_, scale_);
        wl_surface_damage(surface_, 0, 0, diameter_, diameter_);
        std::lock_guard lock(mutex_);
        state_.mapped = true;
    }

    void released(wl_buffer* buffer) {
        if (auto found = std::find(retired_.begin(), retired_.end(), buffer);
            found != retired_.end()) {
            retired_.erase(found);
            wl_buffer_destroy(buffer);
        }
    }

    void configure(std::uint32_t serial) {
        zwlr_layer_surface_v1_ack_configure(layer_, serial);
        if (!configured_) {
            configured_ = true;
            attachBuffer();
            wl_surface_commit(surface_);
        }
    }

    void entered(wl_output* output) {
        if (!globals_) {
            return;
        }
        for (const auto& known : globals_->outputs) {
            if (known.output == output) {
                std::lock_guard lock(mutex_);
                state_.outputName = known.info.name;
            }
        }
    }

    static constexpr zwlr_layer_surface_v1_listener layerListener = {
        [](void* data, zwlr_layer_surface_v1*, std::uint32_t serial, std::uint32_t, std::uint32_t) {
            of(data).configure(serial);
        },
        // The compositor took the surface away (its output went): made again where wanted.
        [](void* data, zwlr_layer_surface_v1*) {
            of(data).destroySurface();
            of(data).apply();
        },
    };

    static constexpr wl_surface_listener surfaceListener = {
        [](void* data, wl_surface*, wl_output* output) { of(data).entered(output); },
        [](void*, wl_surface*, wl_output*) {},
    };

    static constexpr wl_buffer_listener bufferListener = {
        [](void* data, wl_buffer* buffer) { of(data).released(buffer); },
    };

    mutable std::mutex mutex_;
    Wanted wanted_;            // guarded by mutex_
    bool applyQueued_ = false; // guarded by mutex_
    DotSurfaceState state_;    // guarded by mutex_
    // The worker's.
    WaylandGlobals* globals_ = nullptr;
    wl_surface* surface_ = nullptr;
    zwlr_layer_surface_v1* layer_ = nullptr;
    wl_output* output_ = nullptr;
    wl_buffer* buffer_ = nullptr;
    std::vector<wl_buffer*> retired_;
    bool configured_ = false;
    int diameter_ = 0;
    int scale_ = 0;
};

LayerShellGazeDot::LayerShellGazeDot(std::shared_ptr<WaylandClient> client)
    : client_(std::move(client)), part_(std::make_shared<DotPart>()) {
    client_->attach(part_);
}

LayerShellGazeDot::~LayerShellGazeDot() {
    client_->detach(part_);
}

void LayerShellGazeDot::show(plinth::Point center, int diameter) {
    if (part_->want({true, center, diameter})) {
        client_->onWorker([part = part_](WaylandGlobals&) { part->applyQueued(); });
    }
}

void LayerShellGazeDot::hide() {
    if (part_->want({false, {}, 0})) {
        client_->onWorker([part = part_](WaylandGlobals&) { part->applyQueued(); });
    }
}

DotSurfaceState LayerShellGazeDot::surfaceState() const {
    return part_->surfaceState();
}

} // namespace orvane::linuxbackend
