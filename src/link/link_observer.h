// What the link lets a watcher of the run know: which instrument each search
// chose and what the instrument answered to the identity and version
// queries. The run's log and report are built from it; the link works the
// same whether anyone watches or not.
#pragma once

#include <string>

class LinkObserver {
 public:
  virtual ~LinkObserver() = default;

  // A search chose the instrument rsrc; after_jump is set for the search of
  // a reconnect, when the bootloader answers in place of the main firmware.
  virtual void instrument_chosen(const char* rsrc, bool after_jump) = 0;

  // The instrument answered query ("*IDN?", "syst:info?", "bootloader
  // version", "main version", "control-in") with reply.
  virtual void version_read(const char* query, const char* reply) = 0;

  // Something the run has to record of the job that runs now, which the
  // console does not show (a compatibility check that was skipped).
  virtual void note(const std::string& text) { (void)text; }
};
