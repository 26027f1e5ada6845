// The two I/O primitives every exchange with the instrument goes through,
// and the checks the bootloader handshake runs around the jump: is the main
// firmware or the bootloader running, and are the bootloader, hardware and
// main-firmware versions ones the update accepts.
//
// The version queries are framed by the command encoding of the update that
// runs (script/version_query.h) and the accepted versions come from its
// settings; both are handed in, so the link knows neither.
//
// Every VISA result is kept in u.link.status. Nothing here pauses, except
// the release warning of Bootloader_version; callers pause.
#pragma once

#include "base/results.h"
#include "link/instrument_link.h"

constexpr ViUInt32 kReplyMax = 100;        // bytes read per exchange
constexpr int kReplySize = kReplyMax + 1;  // a reply buffer: the bytes and their NUL
constexpr char kIdnQuery[] = "*IDN?\n";
constexpr int kIdnQueryLength = sizeof kIdnQuery - 1;

// visa_query's report: whether a failed read is reported with "(6)".
constexpr int kQuietReadFailure = 0;
constexpr int kReportReadFailure = 1;

// Writes length bytes of frame, then reads at most 100 bytes into reply
// (kReplySize bytes at least) and ends it with a NUL after the bytes read.
// Returns 0 when both succeeded with status 0. Returns 1 after
// "Device is failed connected. (5)" when the write failed, or after "(6)"
// (only when report is kReportReadFailure) when the read did not return
// status 0, which includes a reply cut at 100 bytes. Sessions stay open.
int visa_query(InstrumentLink& u, const char* frame, char* reply, int length, int report);

// Writes the text's bytes up to its NUL, nothing appended, nothing read.
// Returns 0; or 1 after "Device is failed connected. (5)" with both sessions
// closed (the caller pauses).
int visa_write(InstrumentLink& u, const char* text);

// A query whose reply may begin with "f" for a refusal: the identity probes
// and the package's information queries.
struct Probe {
  const char* query;
  int length;               // bytes of query to send
  int report;               // visa_query's report
  const char* failed;       // printed after the query's own message when it failed; may be null
  const char* refused;      // printed when the reply begins with "f"
};

// Sends probe.query and reads the reply into reply (kReplySize bytes).
// Returns 0 with the reply; kQueryFailed after the query's own message and
// probe.failed; kProbeRefused after probe.refused. All in colour 12.
int run_probe(InstrumentLink& u, const Probe& probe, char* reply);

// Mode 0 probe by "*IDN?". Returns kProbeMain or kProbeBootloader (reply
// beginning "boot"); kQueryFailed after the query's (5)/(6), or after "(4)"
// for a reply beginning "f". Echoes "main *IDN = %s" on attempt 0.
int main_now_version(InstrumentLink& u, int attempt);

// Mode 1 probe by the vendor control-IN request. Returns kProbeBootloader
// when the reply begins "bt_", kProbeMain otherwise (a failed request
// included: nothing was received). Echoes "now version = %s" on attempt 0
// when the request succeeded. Prints nothing else.
int comm_now_version(InstrumentLink& u, int attempt);

// Modes 2 and 3 probe by "*IDN?". Returns 0 when the main firmware answers;
// 1 after "(3)" (query failed, after the query's own message), "(4)" (reply
// begins "f") or "(2)" (the bootloader is already running).
int ask_idn(InstrumentLink& u);

// A version query as the command encoding framed it: length bytes of frame.
struct VersionQuery {
  const char* frame;
  int length;
};

// The versions an update accepts. Each is a text that accepts anything when
// it is empty or begins with "ALL":
//   boot_version   the bootloader's major part (text before the first '.')
//   HW_version     a text the hardware version must occur in
//   main_version   a list such as ",1.02,1.03," the main version must occur in
struct VersionRules {
  const char* boot_version;
  const char* HW_version;
  const char* main_version;
};

// True when the accepted-version text accepts anything: empty, or "ALL...".
bool accepts_any(const char* accepted);

// Sends a version query and reads its reply into reply (kReplySize bytes).
// Returns 0; kQueryFailed after the query's (5)/(6) and "Device is failed
// connected. (1)".
int version_query(InstrumentLink& u, const VersionQuery& query, char* reply);

// Sends the bootloader version query ("Bootloader version=%s") and checks
// the reply's major part against rules.boot_version, its hardware against
// rules.HW_version, and its release flag (warning and pause when it is not
// "0..."). Returns 0 when accepted; 1 after "Not support this bootloader.
// (1)" or "(2)"; kQueryFailed when the query failed.
int Bootloader_version(InstrumentLink& u, const VersionQuery& query, const VersionRules& rules);

// Checks the main-firmware version against rules.main_version, with no query
// at all when that accepts any. Returns 0 when accepted; 1 after "main
// version don't support"; kQueryFailed when the query failed.
int MAIN_version(InstrumentLink& u, const VersionQuery& query, const VersionRules& rules);
