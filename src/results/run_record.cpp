#include "results/run_record.h"

#include <sys/stat.h>

#include <nlohmann/json.hpp>

namespace velk {

namespace {

using json = nlohmann::ordered_json;

std::string utc_time(time_t t) {
  struct tm parts;
  gmtime_r(&t, &parts);
  char text[32];
  strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

// A key's value as the run used it: an absent bound is the default bound, and an
// absent raw bound is none (null).
json parameter_value(const run_record& r, const char* key) {
  const search_parameters& p = r.params;
  const std::string k = key;
  if (k == "[DISEASEN]") return p.order;
  if (k == "[MULFACTR]") return p.level_factor;
  if (k == "[MAX_PVAL]") return r.bounds.corrected;
  if (k == "[MAXGWPVL]") return r.bounds.raw < 0 ? json(nullptr) : json(r.bounds.raw);
  if (k == "[ALPHA_RF]") return p.tail_level;
  if (k == "[PERMUTES]") return p.permutation_ct;
  if (k == "[PERMSEED]") return p.permutation_seed;
  if (k == "[SETSRULE]") return p.sets_rule;
  if (k == "[MINDISTB]") return p.min_distance;
  return p.exhaustive;
}

}  // namespace

bool record_file(const std::string& name, recorded_file& out) {
  struct stat info;
  if (stat(name.c_str(), &info) != 0) return false;
  out = {name, static_cast<long long>(info.st_size), utc_time(info.st_mtime)};
  return true;
}

std::string run_record_text(const run_record& r) {
  json parameters = json::object();
  parameters["TOP_K"] = {{"value", r.top_k}, {"default", false}};
  for (size_t k = 0; k < kParameterKeyCount; ++k)
    parameters[kParameterKeys[k].name] = {{"value", parameter_value(r, kParameterKeys[k].name)},
                                          {"default", !r.given[k]}};
  json files = json::array();
  for (const recorded_file& f : r.files) files.push_back({{"name", f.name}, {"bytes", f.bytes}, {"modified", f.modified}});
  const json record = {
      {"program", r.program},
      {"version", r.version},
      {"kernel", r.kernel},
      {"search_path", r.path},
      {"threads", r.threads},
      {"ranks", r.ranks},
      {"parameters", parameters},
      {"study",
       {{"files", files},
        {"individuals", r.individuals},
        {"cases", r.cases},
        {"controls", r.controls},
        {"snps", r.snps},
        {"left_out", r.left_out},
        {"allowed_sets", r.allowed_sets < 0 ? json(nullptr) : json(r.allowed_sets)}}},
      {"permutations", {{"count", r.params.permutation_ct}, {"seed", r.params.permutation_seed}, {"strata", r.strata}}},
      {"times",
       {{"start", utc_time(r.start)},
        {"end", utc_time(r.end)},
        {"load_seconds", r.load_seconds},
        {"search_seconds", r.search_seconds},
        {"permutation_seconds", r.permutation_seconds}}},
      {"exit_status", r.exit_status},
  };
  return record.dump(2) + "\n";
}

status parse_run_record(const std::string& text, const char* name, run_record& r) {
  const json record = json::parse(text, nullptr, false);
  const auto refused = [name](const char* why) {
    return failure(status_code::input_error, "File %s is no run record of velk: %s.\n", name, why);
  };
  if (record.is_discarded() || !record.is_object()) return refused("it is not JSON");
  try {
    const json& parameters = record.at("parameters");
    search_parameters& p = r.params;
    const auto value = [&parameters](const char* key) -> const json& { return parameters.at(key).at("value"); };
    p.order = value("[DISEASEN]").get<int>();
    p.level_factor = value("[MULFACTR]").get<int>();
    r.bounds.corrected = value("[MAX_PVAL]").get<double>();
    r.bounds.raw = value("[MAXGWPVL]").is_null() ? -1.0 : value("[MAXGWPVL]").get<double>();
    p.corrected_p_bound = r.bounds.corrected;
    p.raw_p_bound = r.bounds.raw;
    p.tail_level = value("[ALPHA_RF]").get<double>();
    p.permutation_ct = value("[PERMUTES]").get<long long>();
    p.permutation_seed = value("[PERMSEED]").get<long long>();
    p.exhaustive = value("[EXHAUSTV]").get<int>();
    p.sets_rule = value("[SETSRULE]").get<int>();
    p.min_distance = value("[MINDISTB]").get<int>();
    for (size_t k = 0; k < kParameterKeyCount; ++k)
      r.given[k] = !parameters.at(kParameterKeys[k].name).at("default").get<bool>();
    r.top_k = parameters.at("TOP_K").at("value").get<long long>();
    r.strata = record.at("permutations").at("strata").get<int>();
    r.program = record.at("program").get<std::string>();
    r.version = record.at("version").get<std::string>();
    const json& allowed = record.at("study").value("allowed_sets", json(nullptr));
    r.allowed_sets = allowed.is_null() ? -1.0 : allowed.get<double>();
  } catch (const json::exception&) {
    return refused("a field is missing or of another kind");
  }
  return ok_status();
}

}  // namespace velk
