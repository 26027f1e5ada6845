#include "record/run_record.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include <nlohmann/json.hpp>

#include "platform/native.h"
#include "platform/native_path.h"

using nlohmann::json;

// Field names are the member names; a reader tolerates missing fields.
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(VersionReading, query, reply)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(InstrumentRecord, resource, serial, resources,
                                                versions_before, versions_after)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(JobRecord, slot, kind, argument, started, duration_ms,
                                                result, message, number, notes)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(RunRecord, format, tmflash_version, command_line,
                                                list_file, started, ended, duration_ms, result,
                                                exit_status, message, number, instrument, jobs, notes)

std::string report_json(const RunRecord& rec) {
  return json(rec).dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

bool parse_report(const std::string& text, RunRecord* rec, std::string* why) {
  json parsed = json::parse(text, nullptr, false);
  if (parsed.is_discarded() || !parsed.is_object()) {
    *why = "not JSON";
    return false;
  }
  try {
    if (parsed.value("format", "") != kReportFormat) {
      *why = "not a tmflash report (format " + parsed.value("format", json("missing")).dump() + ")";
      return false;
    }
    *rec = parsed.get<RunRecord>();
  } catch (const json::exception& e) {
    *why = e.what();
    return false;
  }
  return true;
}

std::string message_number(std::string_view line) {
  if (!line.ends_with(')')) return "";
  size_t open = line.rfind('(');
  if (open == std::string_view::npos) return "";
  std::string_view inside = line.substr(open + 1, line.size() - open - 2);
  if (inside.empty() || inside.front() < '0' || inside.front() > '9') return "";
  for (char c : inside) {
    if ((c < '0' || c > '9') && c != '-') return "";
  }
  return std::string(inside);
}

bool replace_file(const std::string& path, const std::string& text, std::string* why) {
  std::error_code ec;
  bool direct = std::filesystem::exists(file_path(path), ec) && !std::filesystem::is_regular_file(file_path(path), ec);
  std::string target = direct ? path : path + ".tmp";
  FILE* file = open_file(target.c_str(), "wb");
  if (file == nullptr) {
    *why = path + ": " + strerror(errno);
    return false;
  }
  bool written = fwrite(text.data(), 1, text.size(), file) == text.size();
  written = (fclose(file) == 0) && written;
  if (!written) {
    *why = target + ": cannot write the report";
    return false;
  }
  if (direct) return true;
  std::filesystem::rename(file_path(target), file_path(path), ec);
  if (ec) {
    *why = path + ": " + ec.message();
    return false;
  }
  return true;
}
