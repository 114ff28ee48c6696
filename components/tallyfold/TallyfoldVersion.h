// The tallyfold library's version block.
#pragma once

namespace tallyfold {
constexpr unsigned short kVersion[4] = {1, 0, 0, 1};
constexpr char kVersionText[] = "1.0.0.1";
constexpr char kFileDescription[] = "Tallyfold Module";
constexpr char kInternalName[] = "Tallyfold";
constexpr char kProjectName[] = "Tallyfold"; // string resource 100
} // namespace tallyfold
