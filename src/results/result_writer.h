// The result table: the header line, then one row per held node, best first.
#pragma once

#include <cstdio>

#include "search/top_k_list.h"

namespace velk {

inline constexpr const char* kResultFileName = "VELKResult.txt";

// Writes `list` to `stream` (standard output when null), `order` indices per row.
// Rows stand in descending rank order; tied nodes in descending order of their heap
// positions. The list itself is not changed. Neither flushes nor closes the stream.
void print_top_k_list(const top_k_list* list, FILE* stream, int order);

}  // namespace velk
