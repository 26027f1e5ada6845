// The two I/O primitives every exchange with the instrument goes through,
// and the checks the bootloader handshake runs around the jump: is the main
// firmware or the bootloader running, and are the bootloader, hardware and
// main-firmware versions ones the update accepts.
//
// Every VISA result is kept in u.link.status. Nothing here pauses, except
// the release warning of Bootloader_version; callers pause.
#pragma once

#include "updater.h"

constexpr ViUInt32 kReplyMax = 100;        // bytes read per exchange
constexpr int kReplySize = kReplyMax + 1;  // a reply buffer: the bytes and their NUL
constexpr char kIdnQuery[] = "*IDN?\n";

// Results of the probes and checks, as their callers test them.
constexpr int kProbeMain = 0;        // the main firmware answers
constexpr int kProbeBootloader = 1;  // the bootloader answers
constexpr int kQueryFailed = 3;      // a version query or identity probe failed (reported)

// Writes length bytes of frame, then reads at most 100 bytes into reply
// (kReplySize bytes at least) and ends it with a NUL after the bytes read.
// Returns 0 when both succeeded with status 0. Returns 1 after
// "Device is failed connected. (5)" when the write failed, or after "(6)"
// (only when report is set) when the read did not return status 0, which
// includes a reply cut at 100 bytes. Sessions stay open.
int visa_query(Updater& u, const char* frame, char* reply, int length, int report);

// Writes the text's bytes up to its NUL, nothing appended, nothing read.
// Returns 0; or 1 after "Device is failed connected. (5)" with both sessions
// closed (the caller pauses).
int visa_write(Updater& u, const char* text);

// Mode 0 probe by "*IDN?". Returns kProbeMain or kProbeBootloader (reply
// beginning "boot"); kQueryFailed after the query's (5)/(6), or after "(4)"
// for a reply beginning "f". Echoes "main *IDN = %s" on attempt 0.
int main_now_version(Updater& u, int attempt);

// Mode 1 probe by the vendor control-IN request. Returns kProbeBootloader
// when the reply begins "bt_", kProbeMain otherwise (a failed request
// included: nothing was received). Echoes "now version = %s" on attempt 0
// when the request succeeded. Prints nothing else.
int comm_now_version(Updater& u, int attempt);

// Modes 2 and 3 probe by "*IDN?". Returns 0 when the main firmware answers;
// 1 after "(3)" (query failed, after the query's own message), "(4)" (reply
// begins "f") or "(2)" (the bootloader is already running).
int ask_idn(Updater& u);

// The version queries, built in frame (des_data) behind the command header
// over the transfer command's frame, keeping its prefix character. Return 0
// with the reply in reply (kReplySize bytes); kQueryFailed after the
// query's (5)/(6) and "Device is failed connected. (1)".
int get_bootloader_version(Updater& u, char* frame, char* reply);
int get_main_version(Updater& u, char* frame, char* reply);

// Queries the bootloader version ("Bootloader version=%s") and checks its
// major part against boot_version, the hardware against HW_version, and the
// release flag (warning and pause when it is not "0..."). Returns 0 when
// accepted; 1 after "Not support this bootloader. (1)" or "(2)";
// kQueryFailed when the query failed.
int Bootloader_version(Updater& u, char* frame);

// Checks the main-firmware version against main_version (",1.02,1.03,"), with
// no query at all when that is empty or begins "ALL". Returns 0 when
// accepted; 1 after "main version don't support"; kQueryFailed when the
// query failed.
int MAIN_version(Updater& u, char* frame);
