// The fleet's one search: every instrument the list file's search
// expression finds, each to be pinned by its serial number.
#pragma once

#include <string>
#include <vector>

#include "visa/visa_types.h"

// Lists every resource string that expr finds through api (a resource
// manager of its own, closed again). Returns true with *rsrcs (empty when
// nothing matches); false with *why when the resource manager cannot be
// opened.
bool find_instruments(const VisaApi& api, const char* expr, std::vector<std::string>* rsrcs, std::string* why);

// Whether each instrument can be told apart by its serial number. Returns ""
// when it can; otherwise one line naming every resource string without a
// serial number and every serial number that more than one resource string
// carries, with those strings.
std::string serial_faults(const std::vector<std::string>& rsrcs);
