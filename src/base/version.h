// The program's version: a checkpoint is only resumed by the version that wrote it.
#pragma once

namespace velk {

inline constexpr const char* kVersion = "VELK 2026.12";

}  // namespace velk
