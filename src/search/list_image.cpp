#include "search/list_image.h"

#include "base/byte_io.h"
#include "base/status.h"

#include <cstdint>

namespace velk {


void append_list_image(const top_k_list& list, std::vector<unsigned char>& out) {
  put_value(out, static_cast<int32_t>(list.order));
  put_value(out, static_cast<int32_t>(list.count));
  for (int i = 0; i < list.count; ++i) {
    const multi_locus_node& node = list.nodes[i];
    put_value(out, node.chisq);
    put_value(out, static_cast<int32_t>(node.case_major_ct));
    for (int k = 0; k < list.order; ++k) put_value(out, static_cast<int64_t>(node.loci[k]));
  }
}

bool read_list_image(top_k_list& list, const unsigned char*& at, const unsigned char* end, long snps) {
  int32_t order, count;
  if (!take_value(at, end, order) || !take_value(at, end, count) || order < 1 || order > 4 || count < 0 ||
      count > list.capacity) {
    refresh_top_k_list(&list, list.order);
    return false;
  }
  refresh_top_k_list(&list, order);
  int64_t loci[4];
  for (int i = 0; i < count; ++i) {
    multi_locus_node node{0.0, loci, 0};
    int32_t case_major_ct;
    bool ok = take_value(at, end, node.chisq) && take_value(at, end, case_major_ct);
    for (int k = 0; ok && k < order; ++k)
      ok = take_value(at, end, loci[k]) && loci[k] >= 0 && loci[k] < snps && (k == 0 || loci[k] > loci[k - 1]);
    if (ok && !top_k_list_holds(&list, loci)) {
      node.case_major_ct = case_major_ct;
      append_top_k_list_node(&list, &node);
    } else {
      refresh_top_k_list(&list, order);
      return false;
    }
  }
  return true;
}

void share_list(const team& t, top_k_list& list) {
  if (t.size == 1) return;
  std::vector<unsigned char> image;
  if (leads(t)) append_list_image(list, image);
  uint64_t bytes = image.size();
  share(t, bytes);
  image.resize(bytes);
  share_bytes(t, image.data(), bytes);
  if (leads(t)) return;
  const unsigned char* at = image.data();
  read_list_image(list, at, image.data() + image.size(), INT64_MAX);
  // Without every parent this rank would screen other parents than rank 0 offers, and
  // rank 0 would write a wrong result: the rank ends alone, at once, and the launcher
  // ends the others, which wait for it in the band walk.
  if (const status taken = top_k_list_status(list); !taken.ok()) end_run_with(taken);
}

}  // namespace velk
