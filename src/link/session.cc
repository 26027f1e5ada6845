#include "link/session.h"

#include <cstring>
#include <string>

#include "base/console.h"
#include "base/messages.h"
#include "base/results.h"
#include "link/queries.h"
#include "link/visa_ready.h"

namespace {

// Answers in a row that choose nothing (no number, or a number the list
// does not offer) after which the run stops as when the input has ended:
// whatever feeds them is no operator who will ever choose.
constexpr int kMaxAnswersInARow = 1000;

// Reads the operator's answer into *selection. A line that is no number
// leaves it unchanged, so the prompt repeats. *asked counts the answers of
// this dialogue so far. Returns false when the input has ended, or when
// kMaxAnswersInARow answers have chosen nothing: no answer will ever come,
// and the caller must give up rather than prompt for ever.
bool ask(InstrumentLink& u, int* selection, int* asked) {
  if (*asked >= kMaxAnswersInARow) {
    printf_color(u.os, kColourRed, msg::kOperatorInputEnded);
    printf_note(u.os, "%d answers in a row chose no instrument\n", kMaxAnswersInARow);
    return false;
  }
  ++*asked;
  printf_color(u.os, kColourCyan, msg::kPleaseSelect);
  int answer = 0;
  switch (u.os.read_number(&answer)) {
    case InputResult::kNumber: *selection = answer; return true;
    case InputResult::kNotNumber: return true;
    case InputResult::kEnd: break;
  }
  printf_color(u.os, kColourRed, msg::kOperatorInputEnded);
  return false;
}

// Nothing found: only "Search again", and only 0 is an answer.
bool ask_search_again(InstrumentLink& u, int* selection) {
  printf_color(u.os, kColourCyan, msg::kUsbList);
  printf_color(u.os, kColourBlue, msg::kSearchAgain, 0);
  *selection = kSelectionUnanswered;
  int asked = 0;
  while (*selection != 0) {
    if (!ask(u, selection, &asked)) return false;
  }
  *selection = kSelectionNone;
  return true;
}

// --select=N answers the list as the operator would. An answer that names
// no instrument stops the run: repeating it, or searching again for ever,
// would never end.
bool answer_by_rule(InstrumentLink& u, int count, int* selection) {
  printf_color(u.os, kColourCyan, msg::kPleaseSelect);
  if (u.choice.select >= count) {
    report_failure(u.os, msg::kSelectBeyondList, rule_text(u.choice).c_str(), count);
    return false;
  }
  *selection = u.choice.select;
  return true;
}

// Lists the count matches of the find list (the first is already in desc) and
// asks for one of them or "Search again" (count).
bool list_and_ask(InstrumentLink& u, ViFindList list, int count, char* desc, int* selection) {
  printf_color(u.os, kColourCyan, msg::kUsbList);
  printf_color(u.os, kColourMagenta, msg::kListEntry, 0, desc);
  int i = 1;
  for (; i < count; ++i) {
    if (u.visa->viFindNext(list, desc) != VI_SUCCESS) break;
    printf_color(u.os, kColourMagenta, msg::kListEntry, i, desc);
  }
  printf_color(u.os, kColourBlue, msg::kSearchAgain, i);
  if (u.choice.select >= 0) return answer_by_rule(u, i, selection);
  *selection = kSelectionUnanswered;
  int asked = 0;
  while (*selection < 0 || *selection > count) {
    if (!ask(u, selection, &asked)) return false;
  }
  return true;
}

// Searches again and walks the new find list to the chosen position; desc
// then holds that instrument's resource string. Returns the position reached.
int walk_to(InstrumentLink& u, int selection, char* desc) {
  ViFindList list = 0;
  u.link.status = u.visa->viFindRsrc(u.link.defaultRM, u.link.UsbStrFilter, &list,
                                     &u.link.retCnt, desc);
  int count = static_cast<int>(u.link.retCnt);
  int i = 0;
  while (i != selection && i < count) {
    if (u.visa->viFindNext(list, desc) != VI_SUCCESS) break;
    ++i;
  }
  if (u.link.status == VI_SUCCESS) u.visa->viClose(list);
  return i;
}

// --serial=SN: the instrument whose resource string carries the serial,
// wherever it stands among the count matches of the find list (the first is
// already in desc). Leaves its resource string in desc and its position in
// *selection; false after a message that names what was found instead.
bool choose_by_serial(InstrumentLink& u, ViFindList list, int count, char* desc, int* selection) {
  std::string found;
  for (int i = 0; i < count; ++i) {
    if (i > 0 && u.visa->viFindNext(list, desc) != VI_SUCCESS) break;
    if (serial_of(desc) == u.choice.serial) {
      *selection = i;
      return true;
    }
    found += (found.empty() ? "" : ", ") + std::string(desc);
  }
  report_failure(u.os, msg::kSerialNotFound, rule_text(u.choice).c_str(), found.c_str());
  return false;
}

// A resource manager that could not be opened leaves no session, and every
// search through it fails: the operator's "Search again" could never find
// anything however often it is answered. So a failed open leaves VI_NULL,
// and each search first opens the resource manager again while there is
// none; a run whose first open succeeds makes no extra call.
void open_resource_manager(InstrumentLink& u) {
  if (u.visa->viOpenDefaultRM(&u.link.defaultRM) != VI_SUCCESS) u.link.defaultRM = VI_NULL;
}

void warn_if_different(InstrumentLink& u, const char* desc) {
  if (strcmp(desc, u.link.UsbStr) == 0) return;
  printf_color(u.os, kColourRed, msg::kDifferentFrom, desc, u.link.UsbStr);
  printf_color(u.os, kColourCyan, msg::kPleaseEnter);
  pause(u.os);
}

}  // namespace

int search_machine(InstrumentLink& u, int* selection, int compare) {
  char desc[VI_FIND_BUFLEN + 1] = {};
  for (;;) {
    if (u.link.defaultRM == VI_NULL) open_resource_manager(u);
    ViFindList list = 0;
    u.link.status = u.visa->viFindRsrc(u.link.defaultRM, u.link.UsbStrFilter, &list,
                                       &u.link.retCnt, desc);
    desc[VI_FIND_BUFLEN] = '\0';
    if (u.link.status != VI_SUCCESS) {
      // Nobody is there to search again: the run stops within the waits
      // the search already had.
      if (u.choice.unattended()) {
        return report_failure(u.os, msg::kNoInstrumentFound, rule_text(u.choice).c_str(), u.link.UsbStrFilter);
      }
      if (!ask_search_again(u, selection)) return kFailed;
      continue;
    }
    int count = static_cast<int>(u.link.retCnt);
    bool by_serial = !u.choice.serial.empty();
    bool answered = true;
    if (by_serial) {
      answered = choose_by_serial(u, list, count, desc, selection);
    } else if (*selection == kSelectionNone) {
      answered = list_and_ask(u, list, count, desc, selection);
    }
    u.visa->viClose(list);
    if (!answered) return kFailed;
    if (*selection >= count) {  // "Search again", or a position the search no longer reaches
      *selection = kSelectionNone;
      continue;
    }
    // A serial is chosen by what desc holds now; a position is walked to in
    // a new search.
    int i = by_serial ? *selection : walk_to(u, *selection, desc);
    printf_color(u.os, kColourMagenta, msg::kSelect, i, desc);
    if (strlen(desc) >= sizeof u.link.UsbStr) {
      return report_failure(u.os, msg::kResourceTooLong, kUsbStrSize - 1, desc);
    }
    if (compare != 0) warn_if_different(u, desc);
    strcpy(u.link.UsbStr, desc);  // fits: checked above
    if (u.observer != nullptr) u.observer->instrument_chosen(u.link.UsbStr, compare != 0);
    return kOk;
  }
}

int open_machine(InstrumentLink& u, int* selection) {
  if (ensure_visa(u) != kOk) return kFailed;
  open_resource_manager(u);  // a failure shows as an empty search
  if (search_machine(u, selection, kSelectOnly) != kOk) {
    usb_close(u);
    return kFailed;
  }
  u.link.status = u.visa->viOpen(u.link.defaultRM, u.link.UsbStr, VI_NULL, kOpenTimeoutMs, &u.link.vi);
  if (u.link.status != VI_SUCCESS) {
    printf_color(u.os, kColourRed, msg::kDeviceFailed7);
    usb_close(u);
    pause(u.os);
    return kFailed;
  }
  u.visa->viSetAttribute(u.link.vi, VI_ATTR_TMO_VALUE, kIoTimeoutMs);
  return kOk;
}

int reconnect(InstrumentLink& u, int* selection) {
  u.visa->viClose(u.link.vi);
  // A delay that decodes negative would be a wait of weeks; it waits nothing.
  u.os.sleep_ms(u.link.jump_dealy > 0 ? static_cast<uint32_t>(u.link.jump_dealy) : 0);
  if (search_machine(u, selection, kCompareWithBefore) != kOk) return kFailed;
  printf_plain(u.os, msg::kBootloaderRsrc, u.link.UsbStr);
  u.link.status = u.visa->viOpen(u.link.defaultRM, u.link.UsbStr, VI_NULL, kOpenTimeoutMs, &u.link.vi);
  if (u.link.status != VI_SUCCESS) return report_failure_and_pause(u.os, msg::kDeviceFailed7);
  return kOk;
}

void usb_close(InstrumentLink& u) {
  if (u.visa == nullptr) return;  // VISA never loaded: nothing was opened
  u.visa->viClose(u.link.defaultRM);
  u.visa->viClose(u.link.vi);
}

int write_machine_command(InstrumentLink& u, const char* text, int* selection) {
  printf_color(u.os, kColourGreen, msg::kMachineCmd, text);
  if (open_machine(u, selection) != kOk) return kFailed;
  if (visa_write(u, text) != kOk) return kMachineWriteFailed;
  usb_close(u);
  return kOk;
}
