// Every fixed text the updater shows the operator, in one place. Operators'
// procedures, their scripts that watch the console and the golden tests
// compare these texts byte for byte (grammar included): a change here is a
// change to what they match, never a clean-up.
#pragma once

namespace msg {

// Command line and list file.
constexpr char kParametersError[] = "parameters error\n";
constexpr char kListFile1[] = "Update file is not complete. (1)\n";  // cannot be opened
constexpr char kListFile3[] = "Update file is not complete. (3)\n";  // total over 20
constexpr char kListFile4[] = "Update file is not complete. (4)\n";  // slot out of range

// Job runner and job operations.
constexpr char kSystemCmd[] = "system cmd:%s\n";
constexpr char kMachineCmd[] = "machine cmd:%s\n";
constexpr char kFileUpdating[] = "file(%s) updating...\n";
constexpr char kUpdateToVersion[] = "  update to version(%s)\n";
constexpr char kUpdateOk[] = "\nUpdate Ok\n";
constexpr char kProgress[] = "update...%.2f%%\r";

// Instrument link.
constexpr char kDeviceFailed1[] = "Device is failed connected. (1)\n";  // version query failed
constexpr char kDeviceFailed2[] = "Device is failed connected. (2)\n";  // already in bootloader (modes 2, 3)
constexpr char kDeviceFailed3[] = "Device is failed connected. (3)\n";  // identity query failed
constexpr char kDeviceFailed4[] = "Device is failed connected. (4)\n";  // identity begins with "f"
constexpr char kDeviceFailed5[] = "Device is failed connected. (5)\n";  // a write failed
constexpr char kDeviceFailed6[] = "Device is failed connected. (6)\n";  // a read failed
constexpr char kDeviceFailed7[] = "Device is failed connected. (7)\n";  // an open failed
constexpr char kDeviceFailed8[] = "Device is failed connected. (8)\n";  // a script or package job failed

// Instrument selection dialogue.
constexpr char kUsbList[] = "USB:LIST\n";
constexpr char kListEntry[] = " %d:%s\n";
constexpr char kSearchAgain[] = " %d:Search again\n";
constexpr char kPleaseSelect[] = "please select:";
constexpr char kSelect[] = "select %d:%s\n";
constexpr char kDifferentFrom[] = "different from \n%s\n%s\n";
constexpr char kPleaseEnter[] = "please ENTER continue\n";
constexpr char kBootloaderRsrc[] = "Bootloader VisaRsrc=%s\n";

// Queries and version checks.
constexpr char kMainIdn[] = "main *IDN = %s\n";
constexpr char kNowVersion[] = "now version = %s\n";
constexpr char kBootloaderVersion[] = "Bootloader version=%s\n";
constexpr char kNotSupportBootloader1[] =
    "Hardware version is %s.\nBootloader version is %s.\nNot support this bootloader. (1)\n";
constexpr char kNotSupportBootloader2[] =
    "Hardware version is %s.\nBootloader version is %s.\nNot support this bootloader. (2)\n";
constexpr char kBootloaderNotRelease[] = "bootloader isn't release's version\n";
constexpr char kMainVersionUnsupported[] = "main version don't support\n";
constexpr char kJumpBootloader[] = "jump bootloader....\n";

// Update files: framing, handshake and packages.
constexpr char kCorrupted1[] = "Corrupted Update File. (1)\n";  // binary frame: line ends before "$"
constexpr char kCorrupted2[] = "Corrupted Update File. (2)\n";  // text mode: line fails the check
constexpr char kCorrupted3[] = "Corrupted Update File. (3)\n";  // "t" with an unknown entry mode
constexpr char kCorrupted5[] = "Corrupted Update File. (5)\n";  // job file cannot be opened
constexpr char kCorrupted9[] = "Corrupted Update File. (9-%d)\n";  // package does not suit the instrument
constexpr char kCorrupted10_1[] = "Corrupted Update File. (10-1)\n";  // package header
constexpr char kCorrupted10_2[] = "Corrupted Update File. (10-2)\n";  // framed record length
constexpr char kCorrupted10_3[] = "Corrupted Update File. (10-3)\n";  // framed record prefix
constexpr char kCorrupted10_4[] = "Corrupted Update File. (10-4)\n";  // binary sub-header never ends
constexpr char kCorrupted10_5[] = "Corrupted Update File. (10-5)\n";  // a section command failed
constexpr char kCorrupted10_6[] = "Corrupted Update File. (10-6)\n";  // command section of another kind
// The integrity checks of update files, before the instrument is opened.
constexpr char kCorrupted10_7[] = "Corrupted Update File. (10-7)\n";  // package integrity trailer does not match
constexpr char kCorrupted10_8[] = "Corrupted Update File. (10-8)\n";  // --strict: package without the trailer
constexpr char kCorrupted11[] = "Corrupted Update File. (11)\n";      // script checksum does not hold
constexpr char kCorrupted12[] = "Corrupted Update File. (12)\n";      // --strict: script without a checksum line
constexpr char kNoIdn[] = "Device isn't get idn\n";
constexpr char kNoInfo1[] = "Device isn't get info(1)\n";
constexpr char kNoInfo2[] = "Device isn't get info(2)\n";

// Our own, where the updater stops instead of hanging or overflowing.
constexpr char kVisaUnavailable[] = "VISA is not available: %s\n";
constexpr char kOperatorInputEnded[] = "No instrument chosen: the operator's input has ended.\n";
// The station's rule in place of the instrument dialogue (--select, --serial),
// where it cannot choose: the run stops.
constexpr char kNoInstrumentFound[] = "%s: the search %s found no instrument\n";
constexpr char kSelectBeyondList[] = "%s: the search found %d instrument(s)\n";
constexpr char kSerialNotFound[] = "%s: no instrument with this serial number; found %s\n";
constexpr char kResourceTooLong[] = "Resource string too long (more than %d characters): %s\n";

}  // namespace msg
