#include "data/sets_file.h"

#include <algorithm>
#include <map>

#include "data/text_rows.h"

namespace velk {

namespace {

std::string shown(std::string_view token) {
  return token_for_message(token.data(), std::min(token.size(), kTokenPreview), token.size());
}

}  // namespace

status parse_sets_file(const std::string& text, const char* name,
                       const std::function<long(std::string_view)>& index_of, std::vector<snp_set>& sets) {
  sets.clear();
  std::map<std::string, long, std::less<>> named;  // set name -> its line
  bool open = false;  // within a set, after its name
  long line = 1;
  for (size_t at = 0; at < text.size();) {
    const char c = text[at];
    if (c == '\n') ++line;
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f') {
      ++at;
      continue;
    }
    const size_t end = text.find_first_of(" \t\r\n\v\f", at);
    const std::string_view token(text.data() + at, (end == std::string::npos ? text.size() : end) - at);
    at += token.size();
    if (!open) {
      if (const auto seen = named.find(token); seen != named.end())
        return failure(status_code::input_error, "File %s, line %ld: set %s is named twice (first on line %ld).\n",
                       name, line, shown(token).c_str(), seen->second);
      named.emplace(std::string(token), line);
      sets.push_back({std::string(token), {}, line});
      open = true;
      continue;
    }
    snp_set& set = sets.back();
    if (token == "END") {
      if (set.snps.empty())
        return failure(status_code::input_error, "File %s, line %ld: set %s holds no SNP.\n", name, set.line,
                       shown(set.name).c_str());
      std::sort(set.snps.begin(), set.snps.end());
      set.snps.erase(std::unique(set.snps.begin(), set.snps.end()), set.snps.end());
      open = false;
      continue;
    }
    const long snp = index_of(token);
    if (snp < 0)
      return failure(status_code::input_error, "File %s, line %ld: SNP %s of set %s is not in the study.\n", name,
                     line, shown(token).c_str(), shown(set.name).c_str());
    set.snps.push_back(static_cast<int>(snp));
  }
  if (open)
    return failure(status_code::input_error, "File %s, line %ld: set %s has no END.\n", name, sets.back().line,
                   shown(sets.back().name).c_str());
  if (sets.empty()) return failure(status_code::input_error, "File %s holds no set.\n", name);
  return ok_status();
}

}  // namespace velk
