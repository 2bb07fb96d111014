#pragma once

#include "orvane/platform/UiToolkit.hpp"

#include <memory>

namespace orvane {
class CalibrationController;
}

namespace orvane::ui {

// The calibration windows drawn with Qt: one black full-screen window per display above every
// other window and on every workspace, each showing a CalibrationScreenView of `controller`.
// While they are up, Escape pressed in any window of ours cancels the run. The application
// installs it as platform().uiToolkit once the controller exists.
std::shared_ptr<UiToolkit> makeQtUiToolkit(std::weak_ptr<CalibrationController> controller);

} // namespace orvane::ui
