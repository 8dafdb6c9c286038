#pragma once
#include <cstdint>

namespace qv {

using WindowRef = std::uintptr_t;  // a window handle; 0 is none (no owner)

struct Point {
    std::int32_t x = 0;
    std::int32_t y = 0;
};

}  // namespace qv
