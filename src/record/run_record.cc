#include "record/run_record.h"

#include <nlohmann/json.hpp>

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
