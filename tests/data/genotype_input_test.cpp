#include "data/genotype_input.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "data/text_rows.h"

namespace velk {
namespace {

struct row {
  long line;
  std::vector<int> values;
  bool operator==(const row&) const = default;
};

std::ostream& operator<<(std::ostream& os, const row& r) {
  os << "line " << r.line << ":";
  for (int v : r.values) os << ' ' << v;
  return os;
}

// Records every token class and every row end.
struct recording_sink {
  std::vector<row> rows;
  std::vector<int> pending;
  bool token(long index, int value) {
    EXPECT_EQ(index, static_cast<long>(pending.size()));
    pending.push_back(value);
    return true;
  }
  bool end_row(long line, long values) {
    EXPECT_EQ(values, static_cast<long>(pending.size()));
    rows.push_back({line, pending});
    pending.clear();
    return true;
  }
};

struct scan_outcome {
  bool ok;
  std::vector<row> rows;
  std::string err;
};

scan_outcome scan(const std::string& text, bool check_tokens) {
  FILE* file = tmpfile();
  fwrite(text.data(), 1, text.size(), file);
  rewind(file);
  recording_sink sink;
  const status scanned = scan_rows(file, "g.txt", check_tokens, sink);
  fclose(file);
  return {scanned.ok(), sink.rows, scanned.message};
}

TEST(ScanRows, TokenClassesAreByValue) {
  const struct {
    const char* token;
    int value_class;
  } cases[] = {
      {"0", 0},     {"1", 1},     {"2", 2},   {"01", 1},    {"+2", 2},   {"-0", 0},  {"000", 0},
      {"+0", 0},    {"002", 2},   {"-1", kOtherInteger},      {"3", kOtherInteger},
      {"10", kOtherInteger},      {"-9", kOtherInteger},      {"99999999999999999999", kOtherInteger},
      {"1,0", kNotInteger},       {"--1", kNotInteger},       {"+", kNotInteger},
      {"-", kNotInteger},         {"x", kNotInteger},         {"1-", kNotInteger},
      {"1.0", kNotInteger},       {"+-1", kNotInteger},       {"2x", kNotInteger},
  };
  for (const auto& c : cases) {
    const scan_outcome got = scan(std::string("5 ") + c.token + "\n", false);
    EXPECT_TRUE(got.ok) << c.token;
    EXPECT_EQ(got.rows, (std::vector<row>{{1, {kOtherInteger, c.value_class}}})) << c.token;
  }
}

TEST(ScanRows, BlankLinesAreNotRowsButCountAsLines) {
  const struct {
    const char* text;
    std::vector<row> rows;
  } cases[] = {
      {"", {}},
      {"\n\n \t\n\r\n", {}},
      {"1 0\n0 2\n", {{1, {1, 0}}, {2, {0, 2}}}},
      {"1 0\n0 2", {{1, {1, 0}}, {2, {0, 2}}}},  // last line without line feed
      {"\n1 0\r\n\r\n \v\f\n\t0\t2 \r\n\r", {{2, {1, 0}}, {5, {0, 2}}}},
      {"1\n\n\n0 1 2 9", {{1, {1}}, {4, {0, 1, 2, 3}}}},
  };
  for (const auto& c : cases) {
    const scan_outcome got = scan(c.text, true);
    EXPECT_TRUE(got.ok) << c.text;
    EXPECT_EQ(got.rows, c.rows) << c.text;
    EXPECT_EQ(got.err, "");
  }
}

TEST(ScanRows, FirstBadTokenEndsTheScanWithItsLine) {
  const struct {
    std::string text;
    const char* message;
    size_t rows_before;
    const char* where;  // the start of the hint
  } cases[] = {
      {"1 0\n\n0 1,0 2\n", "File g.txt, line 3: \"1,0\" is not an integer.\n", 1, "column 2, the file's 1st SNP;"},
      {"0 x y\n", "File g.txt, line 1: \"x\" is not an integer.\n", 0, "column 2, the file's 1st SNP;"},
      {"1 0\r\n0 --1", "File g.txt, line 2: \"--1\" is not an integer.\n", 1, "column 2, the file's 1st SNP;"},
      {"+ 0\n", "File g.txt, line 1: \"+\" is not an integer.\n", 0, "column 1, the status;"},
      {"0 1 2\ta\tb\n", "File g.txt, line 1: \"a\" is not an integer.\n", 0, "column 4, the file's 3rd SNP;"},
      {"0 1 1 1 1 1 1 1 1 1 1 1 NA\n", "File g.txt, line 1: \"NA\" is not an integer.\n", 0,
       "column 13, the file's 12th SNP;"},
      {"0 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 .\n", "File g.txt, line 1: \".\" is not an integer.\n", 0,
       "column 24, the file's 23rd SNP;"},
  };
  for (const auto& c : cases) {
    FILE* file = tmpfile();
    fwrite(c.text.data(), 1, c.text.size(), file);
    rewind(file);
    recording_sink sink;
    const status got = scan_rows(file, "g.txt", true, sink);
    fclose(file);
    EXPECT_FALSE(got.ok()) << c.text;
    EXPECT_EQ(got.message, c.message);
    EXPECT_EQ(got.hint.rfind(std::string("it stands in ") + c.where, 0), 0u) << got.hint;
    EXPECT_EQ(sink.rows.size(), c.rows_before) << c.text;
  }
}

// The file is read in blocks; a token or a line cut by a block end must read as if
// it were whole.
TEST(ScanRows, TokensSplitAcrossTheBlockBoundary) {
  const std::string head = "0 1\n";
  std::string text = head + std::string(kScanBlock - 1 - head.size(), ' ');
  ASSERT_EQ(text.size(), kScanBlock - 1);
  const scan_outcome whole = scan(text + "01 2\n1 +2", true);  // "01" straddles the end
  EXPECT_TRUE(whole.ok);
  EXPECT_EQ(whole.rows, (std::vector<row>{{1, {0, 1}}, {2, {1, 2}}, {3, {1, 2}}}));

  const scan_outcome bad = scan(text + "+x 2\n", true);
  EXPECT_FALSE(bad.ok);
  EXPECT_EQ(bad.err, "File g.txt, line 2: \"+x\" is not an integer.\n");

  // A line feed as the last byte of the first block.
  const scan_outcome split_line = scan(text + "\n2 9\n", true);
  EXPECT_EQ(split_line.rows, (std::vector<row>{{1, {0, 1}}, {3, {2, kOtherInteger}}}));
}

TEST(ScanRows, ReadErrorIsReported) {
  FILE* dir = fopen("/", "r");  // opens, but every read fails
  ASSERT_NE(dir, nullptr);
  recording_sink sink;
  const status scanned = scan_rows(dir, "/", true, sink);
  EXPECT_EQ(scanned.code, status_code::input_error);
  EXPECT_EQ(scanned.message, "Can't read the input file /\n");
  fclose(dir);
}

TEST(ListNames, WhiteSpaceSeparatedInOrder) {
  const std::string long_name(5000, 'n');
  const struct {
    std::string text;
    std::vector<std::string> names;
  } cases[] = {
      {"", {}},
      {" \n\t\r\n\n", {}},
      {"a.txt\nb.txt\n", {"a.txt", "b.txt"}},
      {"a.txt b.txt\tc.txt\r\n\n\nd.txt", {"a.txt", "b.txt", "c.txt", "d.txt"}},
      {"a.txt\na.txt\n\n", {"a.txt", "a.txt"}},
      {"  dir/x.txt  ", {"dir/x.txt"}},
      {long_name + "\n", {long_name}},
  };
  for (const auto& c : cases) EXPECT_EQ(list_names(c.text), c.names) << c.text;
}

// The store indexes SNPs with an int: a study one SNP beyond has a message of its own,
// not the one for memory.
TEST(StudySnpCount, BeyondAnIntIsRefused) {
  const struct {
    std::vector<int> snp_cts;
    bool counted;
  } cases[] = {{{2147483647}, true},
               {{2147483646, 1}, true},
               {{2147483647, 1}, false},
               {{1 << 30, 1 << 30, 1 << 30}, false}};
  for (const auto& c : cases) {
    int snp_ct = -1;
    const status counted = study_snp_count(c.snp_cts, snp_ct);
    EXPECT_EQ(counted.ok(), c.counted);
    if (c.counted) {
      EXPECT_EQ(snp_ct, 2147483647);
    } else {
      EXPECT_EQ(counted.code, status_code::fatal);
      EXPECT_EQ(counted.message, "The study has more SNPs than velk can index (2147483647 at most)!\n");
      EXPECT_EQ(counted.hint, "list fewer or smaller genotype files in VELKinputfiles.txt.");
    }
  }
}

}  // namespace
}  // namespace velk
