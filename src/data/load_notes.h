// What a load has to say on the console besides its failure, in the order it happened:
// the lines of counts for standard output and the warnings for standard error. The
// readers never print: the driver either hands each note to `on_note` as it comes (velk,
// so that a long load shows its first lines at once) or prints the kept `lines` after
// the load (print_console_notes), velk-report without the counts, which are not its
// output.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "base/console.h"

namespace velk {

struct load_notes {
  std::vector<console_note> lines;  // the notes, when there is no on_note
  std::function<void(const console_note&)> on_note;
  // The load failed on a listed genotype file that cannot be opened: its message stands
  // alone, without the driver's closing line (scripts read it as it stands).
  bool unopened_file = false;

  void say(std::string text) { add({false, std::move(text)}); }
  void warn(std::string text) { add({true, std::move(text)}); }
  void add(console_note note) {
    if (on_note)
      on_note(note);
    else
      lines.push_back(std::move(note));
  }
};

}  // namespace velk
