#include "run/checkpoint.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/atomic_file.h"
#include "base/byte_io.h"
#include "base/console.h"
#include "base/text_file.h"
#include "base/version.h"
#include "data/genotype_input.h"
#include "search/exhaustive_search.h"
#include "search/list_image.h"

namespace velk {

namespace {

constexpr char kMagic[8] = {'V', 'E', 'L', 'K', 'C', 'H', 'K', '\n'};
constexpr uint32_t kFormat = 1;
constexpr double kDefaultInterval = 600;

// ---- Writing ---------------------------------------------------------------------------

void put_text(std::string& out, const std::string& text) {
  put_value(out, static_cast<uint32_t>(text.size()));
  out += text;
}

void put_identity(std::string& out, const run_identity& identity) {
  put_text(out, kVersion);
  put_value(out, static_cast<int64_t>(identity.top_k));
  put_value(out, static_cast<uint32_t>(identity.inputs.size()));
  for (const file_fingerprint& f : identity.inputs) {
    put_text(out, f.name);
    put_value(out, static_cast<uint8_t>(f.present));
    put_value(out, f.size);
    put_value(out, f.modified_ns);
    put_value(out, f.hash);
  }
}

// The lists, in the model's order: the final list and the two level lists (when made).
top_k_list* model_list(const search_model& model, int k) { return k == 0 ? model.result_list : model.level_lists[k - 1]; }

// ---- Reading ---------------------------------------------------------------------------

struct reader {
  const unsigned char* at;
  const unsigned char* end;

  template <class T>
  bool take(T& value) {
    return take_value(at, end, value);
  }
  bool take_text(std::string& text) {
    uint32_t length;
    if (!take(length) || end - at < static_cast<long>(length)) return false;
    text.assign(reinterpret_cast<const char*>(at), length);
    at += length;
    return true;
  }
};

// The first input that differs, or "" when the identity matches.
bool read_identity(reader& in, const run_identity& identity, std::string& differs) {
  std::string version;
  int64_t top_k;
  uint32_t count;
  if (!in.take_text(version) || !in.take(top_k) || !in.take(count)) return false;
  if (version != kVersion) {
    differs = "another version of the program";
    return true;
  }
  if (top_k != identity.top_k) {
    differs = "another TOP_K";
    return true;
  }
  std::vector<file_fingerprint> inputs(count);
  for (file_fingerprint& f : inputs) {
    uint8_t present;
    if (!in.take_text(f.name) || !in.take(present) || !in.take(f.size) || !in.take(f.modified_ns) || !in.take(f.hash))
      return false;
    f.present = present != 0;
  }
  for (size_t i = 0; i < identity.inputs.size() || i < inputs.size(); ++i) {
    if (i >= identity.inputs.size() || i >= inputs.size() || !(inputs[i] == identity.inputs[i])) {
      differs = i < identity.inputs.size() ? identity.inputs[i].name : inputs[i].name;
      differs += " has changed";
      return true;
    }
  }
  differs.clear();
  return true;
}

// Whether a mark names a position this run's search can resume at: a band of the
// search, or (one order past the search) its permutations.
bool mark_fits(const level_mark& mark, const search_model& model, int snp_ct, size_t maxima) {
  if (std::isnan(mark.bound)) return false;
  if (mark.order == model.params.order + 1)
    return maxima == static_cast<size_t>(model.params.permutation_ct) && mark.next == 0;
  if (maxima != 0 && maxima != static_cast<size_t>(model.params.permutation_ct)) return false;
  // An exhaustive search's position is the number of its parents done.
  if (is_exhaustive(model.params))
    return mark.order == model.params.order && mark.next >= 0 &&
           mark.next <= exhaustive_parent_count(snp_ct, model.params.order);
  if (mark.order < 2 || mark.order > model.params.order) return false;
  if (mark.order == 2) return mark.next >= 0 && mark.next <= snp_ct;
  const top_k_list* parents = model.level_lists[mark.order % 2];
  return parents != nullptr && mark.next >= -1 && mark.next < parents->count;
}

void empty_lists(search_model& model) {
  for (int k = 0; k < 3; ++k)
    if (top_k_list* list = model_list(model, k)) refresh_top_k_list(list, list->order);
}

}  // namespace

run_identity identify_run(long top_k, const std::vector<std::string>& input_files) {
  run_identity identity;
  identity.top_k = top_k;
  for (const std::string& name : input_files) identity.inputs.push_back(fingerprint_file(name));
  return identity;
}

bool save_checkpoint(const run_identity& identity, const search_model& model, const search_state& state) {
  // A list that refused a node for want of memory is not the list the search would
  // hold: the checkpoint on disk stays as it was, and the run ends with the failure
  // after the search.
  for (int k = 0; k < 3; ++k)
    if (const top_k_list* list = model_list(model, k); list != nullptr && !top_k_list_status(*list).ok()) return false;
  std::string out(kMagic, sizeof kMagic);
  put_value(out, kFormat);
  put_identity(out, identity);
  put_value(out, static_cast<int32_t>(state.mark.order));
  put_value(out, static_cast<int64_t>(state.mark.next));
  put_value(out, state.mark.bound);
  std::vector<unsigned char> image;
  for (int k = 0; k < 3; ++k) {
    const top_k_list* list = model_list(model, k);
    put_value(out, static_cast<uint8_t>(list != nullptr));
    if (list == nullptr) continue;
    image.clear();
    append_list_image(*list, image);
    put_value(out, static_cast<uint64_t>(image.size()));
    out.append(reinterpret_cast<const char*>(image.data()), image.size());
  }
  put_value(out, static_cast<uint64_t>(state.permutation_maxima.size()));
  for (double m : state.permutation_maxima) put_value(out, m);
  put_value(out, hash_bytes(out.data(), out.size()));
  bool created;
  return write_whole_file(kCheckpointFileName, out, created);
}

bool load_checkpoint(const run_identity& identity, int snp_ct, search_model& model, search_state& state) {
  std::string text;
  const text_file outcome = read_text_file(kCheckpointFileName, text);
  if (outcome == text_file::cannot_open) return false;
  const bool read = outcome == text_file::read;
  const auto ignore = [&](const char* why) {
    empty_lists(model);
    warn("%s %s; the search starts from the beginning.", kCheckpointFileName, why);
    return false;
  };
  if (!read) return ignore("cannot be read");
  // The checksum first: nothing of a damaged or cut file is looked at.
  uint64_t stored;
  if (text.size() < sizeof kMagic + sizeof stored || memcmp(text.data(), kMagic, sizeof kMagic) != 0)
    return ignore("is not a checkpoint of this program");
  memcpy(&stored, text.data() + text.size() - sizeof stored, sizeof stored);
  if (hash_bytes(text.data(), text.size() - sizeof stored) != stored) return ignore("is damaged (cut short or changed)");
  reader in{reinterpret_cast<const unsigned char*>(text.data()) + sizeof kMagic,
            reinterpret_cast<const unsigned char*>(text.data()) + text.size() - sizeof stored};
  uint32_t format;
  std::string differs;
  if (!in.take(format) || format != kFormat) return ignore("is of another format");
  if (!read_identity(in, identity, differs)) return ignore("is damaged");
  if (!differs.empty()) {
    const std::string why = "belongs to another run (" + differs + ")";
    return ignore(why.c_str());
  }
  search_state got;
  int32_t order;
  int64_t next;
  if (!in.take(order) || !in.take(next) || !in.take(got.mark.bound)) return ignore("is damaged");
  got.mark.order = order;
  got.mark.next = static_cast<long>(next);
  for (int k = 0; k < 3; ++k) {
    top_k_list* list = model_list(model, k);
    uint8_t present;
    uint64_t bytes;
    if (!in.take(present) || (present != 0) != (list != nullptr)) return ignore("is damaged");
    if (list == nullptr) continue;
    if (!in.take(bytes) || static_cast<uint64_t>(in.end - in.at) < bytes) return ignore("is damaged");
    const unsigned char* at = in.at;
    if (!read_list_image(*list, at, in.at + bytes, snp_ct) || at != in.at + bytes) return ignore("is damaged");
    in.at += bytes;
  }
  uint64_t maxima;
  if (!in.take(maxima) || maxima > static_cast<uint64_t>(in.end - in.at) / sizeof(double)) return ignore("is damaged");
  got.permutation_maxima.resize(maxima);
  for (double& m : got.permutation_maxima) in.take(m);
  if (in.at != in.end || !mark_fits(got.mark, model, snp_ct, got.permutation_maxima.size())) return ignore("is damaged");
  state = got;
  return true;
}

void remove_checkpoint() { remove_if_present(kCheckpointFileName); }

checkpoint_clock::checkpoint_clock() : interval_(kDefaultInterval), last_(clock::now()) {
  const char* text = getenv("VELK_CHECKPOINT_SECONDS");
  if (text == nullptr) return;
  char* end;
  const double seconds = strtod(text, &end);
  if (end == text || *end != '\0' || !(seconds >= 0)) {
    warn("VELK_CHECKPOINT_SECONDS=%s is not a number of seconds; checkpoints every %.0f s.", text,
           kDefaultInterval);
    return;
  }
  interval_ = seconds;
}

bool checkpoint_clock::due() {
  if (interval_ <= 0) return false;
  const clock::time_point now = clock::now();
  if (std::chrono::duration<double>(now - last_).count() < interval_) return false;
  last_ = now;
  return true;
}

}  // namespace velk
