// The instrument link's access to VISA, loaded when the first job needs it.
#pragma once

#include "link/instrument_link.h"

// Makes u.visa usable. Returns 0 when it is; 1 after printing in colour 12
// why no VISA implementation could be had (what was tried) and pausing.
int ensure_visa(InstrumentLink& u);
