#pragma once

// The generated layer-shell header names an argument `namespace`, a C++ keyword: renamed for
// its inclusion only (the name is not on the wire).
#include <wayland-client.h>

#define namespace layer_namespace
#include "wlr-layer-shell-unstable-v1-client-protocol.h"
#undef namespace
