// Fuzz target: the rows of one genotype file. The block scanner, with and without the
// token check, against the reference reading; then the whole load (sizing, counting
// and loading passes, batched simple rows included) of the file listed once or twice.
//
// Input: a flags byte, then the file's bytes. Flag 1 lists the file twice. Flags 0xFF
// instead place the bytes across the scanner's first block boundary, behind a row that
// fills the block (scanner only: a megabyte per input is slow to load).
#include <cstdint>
#include <string>
#include <vector>

#include "base/memory_budget.h"
#include "data/genotype_input.h"
#include "data/text_rows.h"
#include "harness.h"

namespace {

using namespace velk::fuzz;

const char* const kList = "VELKinputfiles.txt";
const char* const kName = "g";

const work_dir& folder() {
  static const work_dir dir;
  return dir;
}

struct scanned_row {
  long line;
  std::vector<int> values;
  bool operator==(const scanned_row&) const = default;
};

// Records what the scanner offers and checks the order of its calls. A simple row is
// taken whole, as the loading sinks take it; the padding row of a boundary input only
// has its value count checked.
struct recording_sink {
  long padding_values = 0;  // values of line 1 when it is the padding row
  std::vector<scanned_row> rows;
  std::vector<int> pending;
  bool simple_row(long line, const unsigned char* text, long values) {
    FUZZ_CHECK(pending.empty() && values > 0, "simple row inside a row");
    if (line == 1 && padding_values > 0) {
      FUZZ_CHECK(values == padding_values, "padding row");
      rows.push_back({line, {}});
      return true;
    }
    for (long k = 0; k < values; ++k) {
      const int digit = text[2 * k] - '0';
      FUZZ_CHECK(digit >= 0 && digit <= 9, "simple row digit");
      pending.push_back(digit <= 2 ? digit : velk::kOtherInteger);
    }
    return end_row(line, values);
  }
  bool token(long index, int value) {
    FUZZ_CHECK(index == static_cast<long>(pending.size()), "token index");
    pending.push_back(value);
    return true;
  }
  bool end_row(long line, long values) {
    FUZZ_CHECK(values == static_cast<long>(pending.size()) && values > 0, "row value count");
    FUZZ_CHECK(rows.empty() || line > rows.back().line, "line numbers rise");
    rows.push_back({line, pending});
    pending.clear();
    return true;
  }
};

std::vector<scanned_row> expected_rows(const std::vector<ref_row>& rows) {
  std::vector<scanned_row> out;
  for (const ref_row& r : rows) {
    scanned_row s{r.line, {}};
    for (const std::string& t : r.tokens) s.values.push_back(ref_class(t));
    out.push_back(std::move(s));
  }
  return out;
}

// Scans `text`, or with `padding` a simple row of that many zeros and a line feed before
// it (the boundary inputs: the row fills most of the first block and passes the fast
// path, so that the text straddles the block boundary at little cost).
void check_scanner(const std::string& text, long padding = 0) {
  const work_dir& dir = folder();
  std::vector<ref_row> want = ref_rows(text);
  std::vector<scanned_row> want_rows = expected_rows(want);
  if (padding > 0) {
    // "0 0 0 ... 0": made once; a row is a prefix of it and a line feed.
    static const std::string zeros = [] {
      std::string z(velk::kScanBlock, ' ');
      for (size_t k = 0; k < z.size(); k += 2) z[k] = '0';
      return z;
    }();
    FILE* file = fopen(dir.file(kName).c_str(), "w");
    fwrite(zeros.data(), 1, static_cast<size_t>(2 * padding - 1), file);
    fputc('\n', file);
    fwrite(text.data(), 1, text.size(), file);
    FUZZ_CHECK(fclose(file) == 0, "write the padded file");
    for (ref_row& r : want) ++r.line;
    for (scanned_row& r : want_rows) ++r.line;
    want.insert(want.begin(), ref_row{1, {"0"}});  // never a bad token
    want_rows.insert(want_rows.begin(), scanned_row{1, {}});
  } else {
    dir.write(kName, text);
  }

  {  // Every token reaches the sink, classified.
    FILE* file = fopen(dir.file(kName).c_str(), "r");
    recording_sink sink;
    sink.padding_values = padding;
    FUZZ_CHECK(velk::scan_rows(file, kName, false, sink).ok(), "unchecked scan ends");
    fclose(file);
    FUZZ_CHECK(sink.pending.empty() && sink.rows == want_rows, "rows differ from the reference");
  }
  {  // With the token check: the same rows up to the first bad token, then its message.
    std::string message;
    std::vector<scanned_row> before = want_rows;
    std::vector<int> partial;
    for (size_t r = 0; r < want.size() && message.empty(); ++r) {
      for (size_t k = 0; k < want[r].tokens.size(); ++k) {
        if (ref_class(want[r].tokens[k]) == kRefNotInteger) {
          message = ref_bad_token(kName, want[r].line, want[r].tokens[k]);
          before.resize(r);
          partial.assign(want_rows[r].values.begin(), want_rows[r].values.begin() + static_cast<long>(k));
          break;
        }
      }
    }
    FILE* file = fopen(dir.file(kName).c_str(), "r");
    recording_sink sink;
    sink.padding_values = padding;
    const velk::status scanned = velk::scan_rows(file, kName, true, sink);
    fclose(file);
    FUZZ_CHECK(scanned.ok() == message.empty() && scanned.message == message,
               scanned.message + " / expected: " + message);
    FUZZ_CHECK(sink.rows == before && sink.pending == partial, "rows before the bad token");
  }
}

void check_load(const std::string& text, bool twice) {
  const work_dir& dir = folder();
  dir.write(kName, text);
  dir.write(kList, twice ? "g\ng\n" : "g\n");
  std::vector<ref_file> listed(twice ? 2 : 1, ref_file{kName, true, text});
  const bool predictable = !(text.size() >= 2 && text[0] == 0x6C && text[1] == 0x1B);  // a PLINK .bed

  dir.enter();
  velk::memory_budget budget;
  velk::study got;
  velk::load_notes notes;
  const velk::status read = velk::load_study(kList, budget, got, notes);
  const bool loaded = read.ok();
  const std::string err = load_err(notes, read);
  dir.leave();

  if (predictable) {
    const ref_study want = ref_load(listed);
    FUZZ_CHECK(loaded == want.loaded && err == want.err, err + " / expected: " + want.err);
    if (want.loaded) check_store(got, want);
  } else if (loaded) {
    check_store_shape(got);
  } else {
    check_one_message(err);
  }
  got.store.release();
  FUZZ_CHECK(budget.claimed() == 0, "a claim outlived its block");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  folder();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const unsigned flags = data[0];
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (flags == 0xFF) {
    // The block boundary falls in the middle of the text (the padding row and its line
    // feed take 2 * padding bytes).
    if (text.size() >= velk::kScanBlock) return 0;
    check_scanner(text, static_cast<long>((velk::kScanBlock - text.size() / 2) / 2));
    return 0;
  }
  check_scanner(text);
  check_load(text, (flags & 1) != 0);
  return 0;
}
