// Benchmarks of the X11 + AT-SPI backend on a live desktop. Run them on the test desktop:
//   scripts/test-desktop.sh build/bench/orvane_x11_bench

#include <benchmark/benchmark.h>

#include "linux/x11/X11Clients.hpp"

#include "backends/linux/atspi/AtspiAccessibility.hpp"
#include "backends/linux/x11/X11Connection.hpp"
#include "backends/linux/x11/X11SecureInput.hpp"
#include "backends/linux/x11/X11WindowCache.hpp"
#include "backends/linux/x11/X11WindowList.hpp"
#include "backends/linux/x11/X11WindowServer.hpp"
#include "backends/linux/x11/X11Workspace.hpp"

#include "orvane/focus/FocusSwitcher.hpp"
#include "orvane/focus/WindowFinder.hpp"
#include "orvane/guards/SystemGuards.hpp"
#include "orvane/platform/SecureInput.hpp"
#include "orvane/support/Prefs.hpp"

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace orvane::linuxbackend::test {
namespace {

// Eleven windows: ten xterms spread over the three monitors and gtk3-widget-factory.
struct BenchDesktop {
    TestDesktop desktop;
    std::vector<RunningClient> xterms;
    RunningClient factory;
    std::optional<plinth::Point> entry;

    BenchDesktop() {
        for (int i = 0; i < 10; ++i) {
            xterms.push_back(startXterm(desktop, "bench-" + std::to_string(i),
                                        100 + 1280 * (i % 3) + 40 * (i / 3), 100 + 60 * (i / 3)));
        }
        factory = startWidgetFactory(desktop, 1400, 300);
        desktop.desktop().workspace()->activateWindow(factory.window);
        desktop.waiter().until([&] {
            entry = findShowingEntry(factory.pid());
            return entry.has_value();
        });
    }
};

BenchDesktop* bench = nullptr;

void windowList(benchmark::State& state) {
    auto& server = *platform().windowServer;
    std::size_t count = 0;
    for (auto _ : state) {
        auto list = server.onScreenWindows();
        count = list ? list->size() : 0;
        benchmark::DoNotOptimize(list);
    }
    state.counters["windows"] = static_cast<double>(count);
}
BENCHMARK(windowList)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();

// What a listing costs when something changed: every window read from the server.
void windowListRead(benchmark::State& state) {
    auto& connection = *bench->desktop.desktop().connection();
    std::size_t count = 0;
    for (auto _ : state) {
        auto list = X11WindowList::query(connection);
        count = list ? list->size() : 0;
        benchmark::DoNotOptimize(list);
    }
    state.counters["windows"] = static_cast<double>(count);
}
BENCHMARK(windowListRead)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();

void windowAt(benchmark::State& state) {
    for (auto _ : state) {
        auto window = WindowFinder::windowAt({1500, 400});
        benchmark::DoNotOptimize(window);
    }
}
BENCHMARK(windowAt)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();

void atspiHitTest(benchmark::State& state) {
    auto& accessibility = *platform().accessibility;
    if (!bench->entry) {
        state.SkipWithError("gtk3-widget-factory exposes no entry");
        return;
    }
    for (auto _ : state) {
        auto application = accessibility.applicationElement(bench->factory.pid());
        auto hit = accessibility.elementAt(application, *bench->entry);
        benchmark::DoNotOptimize(hit);
    }
}
BENCHMARK(atspiHitTest)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();

void focusSwitch(benchmark::State& state) {
    auto screens = platform().displays->screens();
    if (screens.size() < 3) {
        state.SkipWithError("needs the three monitors of the test desktop");
        return;
    }
    FocusSwitcher switcher;
    bool right = false;
    for (auto _ : state) {
        // Alternate between an xterm on the left and one on the right monitor.
        right = !right;
        auto focused = right ? switcher.focus(screens[2], {2700, 200})
                             : switcher.focus(screens[0], {200, 200});
        if (!focused) {
            state.SkipWithError("focus failed");
            return;
        }
    }
}
BENCHMARK(focusSwitch)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();

// Where a focus switch spends its time, step by step (milliseconds per switch), and how often
// the window list had to be read again.
void focusParts(benchmark::State& state) {
    double t[5] = {0, 0, 0, 0, 0};
    bool right = false;
    const auto reads = bench->desktop.desktop().windowCache()->reads();
    using C = std::chrono::steady_clock;
    auto ms = [](C::duration d) {
        return std::chrono::duration<double, std::milli>(d).count();
    };
    for (auto _ : state) {
        right = !right;
        const plinth::Point gaze = right ? plinth::Point{2700, 200} : plinth::Point{200, 200};
        auto a = C::now();
        auto target = WindowFinder::windowAt(gaze);
        auto b = C::now();
        if (!target) {
            state.SkipWithError("no window under the gaze");
            return;
        }
        platform().workspace->runningApplication(target->pid);
        auto c = C::now();
        auto element = WindowFinder::accessibleWindow(*target);
        auto d = C::now();
        platform().workspace->activate(target->pid);
        auto e = C::now();
        platform().windowServer->warpPointer(gaze);
        auto f = C::now();
        t[0] += ms(b - a);
        t[1] += ms(c - b);
        t[2] += ms(d - c);
        t[3] += ms(e - d);
        t[4] += ms(f - e);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["reads"] =
        static_cast<double>(bench->desktop.desktop().windowCache()->reads() - reads) / n;
    state.counters["at"] = t[0] / n;
    state.counters["running"] = t[1] / n;
    state.counters["ax"] = t[2] / n;
    state.counters["activate"] = t[3] / n;
    state.counters["warp"] = t[4] / n;
}
BENCHMARK(focusParts)->Unit(benchmark::kMillisecond);

// Every system-state question the engine asks for one pose: menus, the overview and launchers
// against one shared window listing, and secure input.
void guardQuestions(benchmark::State& state) {
    auto& secureInput = *platform().secureInput;
    for (auto _ : state) {
        const auto windows = SystemGuards::snapshot();
        bool held = SystemGuards::isMenuOpen(windows);
        held = SystemGuards::isMissionControlActive(windows) || held;
        held = SystemGuards::activeLauncher().has_value() || held;
        held = secureInput.isSecureEventInputEnabled() || held;
        benchmark::DoNotOptimize(held);
    }
}
BENCHMARK(guardQuestions)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly();

// The same questions, each with a listing of its own.
void guardQuestionsUnshared(benchmark::State& state) {
    auto& secureInput = *platform().secureInput;
    for (auto _ : state) {
        bool held = SystemGuards::isMenuOpen();
        held = SystemGuards::isMissionControlActive() || held;
        held = SystemGuards::activeLauncher().has_value() || held;
        held = secureInput.isSecureEventInputEnabled() || held;
        benchmark::DoNotOptimize(held);
    }
}
BENCHMARK(guardQuestionsUnshared)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly();

// What the password checks add to secure input on each pose: the focused element through
// AT-SPI focus events, and the terminal's pty. Argument 0: gtk3-widget-factory has focus (no
// terminal, an AT-SPI application); 1: an xterm has focus (a terminal, echo on).
void passwordCheck(benchmark::State& state) {
    auto& desktop = bench->desktop;
    const unsigned long window =
        state.range(0) == 0 ? bench->factory.window : bench->xterms.front().window;
    desktop.desktop().workspace()->activateWindow(window);
    desktop.waiter().until([&] { return desktop.activeWindow() == window; });
    auto& secureInput = *desktop.desktop().secureInput();
    secureInput.isPasswordFocused(); // starts following focus
    for (auto _ : state) {
        benchmark::DoNotOptimize(secureInput.isPasswordFocused());
    }
    desktop.desktop().workspace()->activateWindow(bench->factory.window);
}
BENCHMARK(passwordCheck)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly();

} // namespace
} // namespace orvane::linuxbackend::test

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (!std::getenv("DISPLAY")) {
        std::puts("orvane_x11_bench: no X display; run it through scripts/test-desktop.sh");
        return 0;
    }
    orvane::linuxbackend::test::BenchDesktop desktop;
    orvane::linuxbackend::test::bench = &desktop;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
