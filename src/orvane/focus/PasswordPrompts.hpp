#pragma once

#include <string>
#include <vector>

namespace orvane {

// What Orvane cannot tell about the password prompts of the programs on screen, for Settings
// and --diagnose: rather than pretend, it names them.
namespace PasswordPrompts {

// One sentence each: the terminals on screen whose sessions share one process (a prompt in
// any of them holds focus in all); the programs on screen that keep their password fields from
// Orvane; and, when a terminal is on screen, the prompts no terminal shows to Orvane.
std::vector<std::string> limits();

} // namespace PasswordPrompts

} // namespace orvane
