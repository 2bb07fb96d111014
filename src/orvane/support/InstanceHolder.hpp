#pragma once

#include <optional>
#include <string>
#include <sys/types.h>

namespace orvane::InstanceHolder {

// Whether `executable` (a process's executable as the system names it) is an Orvane: any
// installed copy counts, also one replaced on disk while it runs (an upgrade).
bool isOrvane(const std::string& executable);

// The single-instance name's owner in one phrase for the diagnostics: who holds it, and
// whether that is an Orvane ("free", "held by Orvane (pid 42)", "HELD BY /usr/bin/x (pid 7),
// which is not Orvane"). `executable` nullopt: the owner's executable cannot be read.
std::string describe(std::optional<pid_t> owner, const std::optional<std::string>& executable);

// The sentence a start says when another program holds the name, so nothing takes it over
// unnoticed.
std::string heldByAnotherProgram(pid_t owner, const std::optional<std::string>& executable);

} // namespace orvane::InstanceHolder
