// The command line of velk: the number of locus sets to report, or a request for help.
#pragma once

namespace velk {

enum class command_kind { search, help, usage_error };

struct command_line {
  command_kind kind = command_kind::usage_error;
  long top_k = 0;  // for a search
};

// One argument: -h or --help asks for help; otherwise it is TOP_K, read like strtol
// (blanks, one sign, then digits up to the first other character: "10abc" is 10). An
// argument in which strtol reads no digit, and any other argument count, is the
// usage error.
command_line parse_command_line(int argc, char** argv);

// The short help on standard output: what velk reads and writes, where the manual is;
// its usage lines name `program` ("velk" or "velk-mpi").
void print_help(const char* program);

}  // namespace velk
