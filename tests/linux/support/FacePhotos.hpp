#pragma once

// The demonstration's face frames serve the face and camera tests as `test::` helpers.
#include "demo/FacePhotos.hpp"

namespace orvane::linuxbackend::test {
using namespace ::orvane::demo;
} // namespace orvane::linuxbackend::test
