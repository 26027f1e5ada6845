// Where the ten VISA functions come from. main() picks a backend from the
// command line; the first job that needs the instrument asks it for its table,
// so that a run of shell commands never loads VISA at all.
#pragma once

#include <string>

#include "visa/visa_types.h"

class VisaBackend {
 public:
  virtual ~VisaBackend() = default;

  // Loads the implementation once. On success returns its table (the same one
  // on every call). On failure returns nullptr and sets *why to one line that
  // says what was tried and what went wrong.
  virtual const VisaApi* load(std::string* why) = 0;
};

// A backend that cannot be had, for a choice this build cannot serve; every
// load() fails with the same reason.
class UnavailableVisa : public VisaBackend {
 public:
  explicit UnavailableVisa(std::string reason) : reason_(std::move(reason)) {}
  const VisaApi* load(std::string* why) override {
    *why = reason_;
    return nullptr;
  }

 private:
  std::string reason_;
};
