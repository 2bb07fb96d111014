#pragma once

#include <string>
#include <vector>

namespace orvane {

// Programs with windows on screen that the accessibility interface does not reach although
// their toolkit speaks it: started before it was switched on, they will not join it until
// they are restarted. Relaunching Orvane cannot help with those.
namespace UnreachablePrograms {

// Their names, frontmost first, each once; Orvane itself left out. Empty while the interface
// is not trusted (then nothing is reachable yet, whatever is restarted) or cannot be asked.
std::vector<std::string> list();

// "Restart these programs so Orvane can see their windows and password fields: gedit, Files"
// (browsers read the accessibility switch only when they start). Empty for none.
std::string restartAdvice(const std::vector<std::string>& names);

} // namespace UnreachablePrograms

} // namespace orvane
