#include "base/team.h"

namespace velk {

const team& single_process() {
  static const team one;
  return one;
}

}  // namespace velk
