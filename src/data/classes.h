// The two classes of a case/control study, as every reader stores them per individual.
#pragma once

namespace velk {

inline constexpr unsigned char kControl = 0;
inline constexpr unsigned char kCase = 1;

}  // namespace velk
