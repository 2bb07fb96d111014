#pragma once

#include <optional>
#include <string>

namespace orvane {

// A window the window manager would not focus although it was asked for it and is still on
// screen (its focus-stealing prevention, or a rule of its own). The latest is kept in a note
// beside the calibration, so that `--diagnose`, another process, can say so too.
namespace FocusRefusals {

// "the window manager refused to focus Files: …", the program's name made printable and
// bounded (it comes from the program's own window properties).
std::string sentence(const std::string& program);

// Logs the sentence and replaces the note with it, dated. Main thread.
void report(const std::string& program);

// The note's text, if there is one.
std::optional<std::string> latest();

} // namespace FocusRefusals

} // namespace orvane
