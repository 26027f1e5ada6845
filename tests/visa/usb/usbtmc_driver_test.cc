// The built-in USBTMC driver through the transport seam, against the
// in-process USB device serving a simulated instrument.
#include <gtest/gtest.h>

#include "visa/usb/usb_fixture.h"

namespace usbtmc {
namespace {

std::vector<uint8_t> bytes_of(std::initializer_list<int> values) {
  std::vector<uint8_t> out;
  for (int v : values) out.push_back(static_cast<uint8_t>(v));
  return out;
}

class UsbDriver : public UsbFixture {};

// --- Search and open -----------------------------------------------------------

TEST_F(UsbDriver, SearchNamesTheInstrumentAndFiltersByTheExpression) {
  start();
  EXPECT_EQ(find(), std::vector<std::string>{kUsbMain});
  EXPECT_EQ(find("USB[0-9]*::0x1234::?*::INSTR"), std::vector<std::string>{kUsbMain});
  ViStatus status = VI_SUCCESS;
  EXPECT_TRUE(find("USB0::0x9999::?*", &status).empty());
  EXPECT_EQ(status, VI_ERROR_RSRC_NFOUND);
  find("USB(0", &status);
  EXPECT_EQ(status, VI_ERROR_INV_EXPR);
}

TEST_F(UsbDriver, AnInstrumentWhoseSerialCannotBeReadIsLeftOutAndSaidOnce) {
  UsbQuirks quirks;
  quirks.serial_unreadable = true;
  start(quirks);
  ViStatus status = VI_SUCCESS;
  EXPECT_TRUE(find("?*", &status).empty());
  EXPECT_EQ(status, VI_ERROR_RSRC_NFOUND);
  find("?*");
  EXPECT_EQ(notes, std::vector<std::string>{"USB instrument /dev/bus/usb/001/001: its serial number cannot be read, "
                                            "so it is not listed (check its permissions)"});
}

TEST_F(UsbDriver, AnInterfaceOtherThanZeroIsNamedInTheResourceString) {
  UsbQuirks quirks;
  quirks.interface_number = 2;
  start(quirks);
  const std::string rsrc = "USB0::0x1234::0x5678::SIM0001::2::INSTR";
  EXPECT_EQ(find(), std::vector<std::string>{rsrc});
  ViSession vi = open(rsrc);
  EXPECT_EQ(query(vi, "*IDN?").bytes, "TMSIM,TM1000,SIM0001,1.03\n");
  ViSession other = 0;
  EXPECT_EQ(driver->viOpen(open_rm(), kUsbMain, VI_NULL, 0, &other), VI_ERROR_RSRC_NFOUND);
}

TEST_F(UsbDriver, OpenTakesTheInterfaceFromTheKernelDriverAndGivesItBackAtClose) {
  UsbQuirks quirks;
  quirks.kernel_driver = true;
  start(quirks);
  ViSession vi = open();
  EXPECT_FALSE(usb->kernel_driver_bound());
  EXPECT_TRUE(usb->claimed());
  EXPECT_EQ(usb->detaches(), 1);
  // GET_CAPABILITIES, and no INITIATE_CLEAR: some instruments hang on it.
  EXPECT_EQ(class_requests(), std::vector<int>{GET_CAPABILITIES});
  ASSERT_NE(driver->session(vi), nullptr);
  EXPECT_TRUE(driver->session(vi)->capabilities().valid);
  EXPECT_EQ(driver->session(vi)->capabilities().bcdUSBTMC, 0x0100);
  EXPECT_EQ(driver->viClose(vi), VI_SUCCESS);
  EXPECT_FALSE(usb->claimed());
  EXPECT_TRUE(usb->kernel_driver_bound());
  EXPECT_EQ(usb->attaches(), 1);
}

TEST_F(UsbDriver, AnInterfaceNoKernelDriverHadIsNotGivenToIt) {
  start();
  EXPECT_EQ(driver->viClose(open()), VI_SUCCESS);
  EXPECT_EQ(usb->detaches(), 0);
  EXPECT_EQ(usb->attaches(), 0);
  EXPECT_FALSE(usb->kernel_driver_bound());
}

TEST_F(UsbDriver, OpenTakesHexInAnyCaseAndDecimalIds) {
  start();
  for (const char* rsrc : {"usb0::0x1234::0x5678::SIM0001::instr", "USB::4660::22136::SIM0001", "USB0::0X1234::0X5678::SIM0001::0::INSTR"}) {
    ViSession vi = open(rsrc);
    EXPECT_EQ(query(vi, "*IDN?").bytes, "TMSIM,TM1000,SIM0001,1.03\n") << rsrc;
    driver->viClose(vi);
  }
}

TEST_F(UsbDriver, OpenFailuresGiveTheirStatusAndTellTheOperatorWhatToDo) {
  start();
  ViSession rm = open_rm();
  ViSession vi = 0;
  EXPECT_EQ(driver->viOpen(rm, "GPIB0::2::INSTR", VI_NULL, 0, &vi), VI_ERROR_INV_RSRC_NAME);
  EXPECT_EQ(driver->viOpen(rm, "USB0::0x1234::0x5678::OTHER::INSTR", VI_NULL, 0, &vi), VI_ERROR_RSRC_NFOUND);
  EXPECT_EQ(driver->viOpen(rm, "USB1::0x1234::0x5678::SIM0001::INSTR", VI_NULL, 0, &vi), VI_ERROR_RSRC_NFOUND);
  EXPECT_EQ(driver->viOpen(rm + 100, kUsbMain, VI_NULL, 0, &vi), VI_ERROR_INV_OBJECT);
  EXPECT_TRUE(notes.empty());

  UsbQuirks denied;
  denied.access_denied = true;
  start(denied);
  EXPECT_EQ(driver->viOpen(open_rm(), kUsbMain, VI_NULL, 0, &vi), VI_ERROR_NPERMISSION);
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0], std::string(kUsbMain) +
                          ": permission denied on /dev/bus/usb/001/001; install the udev rule "
                          "70-tmflash.rules that comes with tmflash, add this user to its group usbtmc, "
                          "then plug the instrument in again (see the README, \"Real instruments\")");

  UsbQuirks busy;
  busy.other_program = true;
  busy.kernel_driver = true;
  start(busy);
  notes.clear();
  EXPECT_EQ(driver->viOpen(open_rm(), kUsbMain, VI_NULL, 0, &vi), VI_ERROR_RSRC_BUSY);
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0], std::string(kUsbMain) +
                          ": interface 0 of /dev/bus/usb/001/001 is in use by another program (another VISA "
                          "session or script); close it and try again");
  // What open undid: the kernel's driver has its interface back.
  EXPECT_TRUE(usb->kernel_driver_bound());
}

// --- Write -----------------------------------------------------------------------

TEST_F(UsbDriver, WriteSendsOneDevDepMsgOutWithTagSizeEomAndPadding) {
  start();
  ViSession vi = open();
  ASSERT_EQ(write(vi, "*idn?\n"), VI_SUCCESS);
  auto out = sent(DEV_DEP_MSG_OUT);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0], bytes_of({0x01, 0x01, 0xFE, 0x00, 0x06, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x2A, 0x69,
                              0x64, 0x6E, 0x3F, 0x0A, 0x00, 0x00}));
}

TEST_F(UsbDriver, TagsRunFrom1To255ThenWrapTo1) {
  start();
  ViSession vi = open();
  for (int i = 0; i < 300; ++i) ASSERT_EQ(write(vi, "X"), VI_SUCCESS);
  auto out = sent(DEV_DEP_MSG_OUT);
  ASSERT_EQ(out.size(), 300u);
  for (size_t i = 0; i < out.size(); ++i) {
    int expected = static_cast<int>(i % 255) + 1;
    ASSERT_EQ(out[i][1], expected) << i;
    ASSERT_EQ(out[i][2], static_cast<uint8_t>(~expected)) << i;
  }
}

TEST_F(UsbDriver, ALongWriteGoesOutInTransfersWithEomOnTheLastOnly) {
  start();
  ViSession vi = open();
  std::string message(kMaxTransferSize * 2 + 5, 'a');
  for (size_t i = 0; i < message.size(); ++i) message[i] = static_cast<char>('a' + i % 26);
  ASSERT_EQ(write(vi, message), VI_SUCCESS);
  auto out = sent(DEV_DEP_MSG_OUT);
  ASSERT_EQ(out.size(), 3u);
  std::string joined;
  const uint32_t sizes[] = {kMaxTransferSize, kMaxTransferSize, 5};
  for (size_t i = 0; i < 3; ++i) {
    Header h;
    ASSERT_TRUE(get_header(out[i].data(), &h));
    EXPECT_EQ(h.TransferSize, sizes[i]);
    EXPECT_EQ(h.bmTransferAttributes, i == 2 ? kAttrEom : 0);
    EXPECT_EQ(out[i].size() % 4, 0u);
    EXPECT_EQ(out[i].size(), padded_size(sizes[i]));
    joined.append(out[i].begin() + kHeaderSize, out[i].begin() + kHeaderSize + sizes[i]);
  }
  EXPECT_EQ(joined, message);
  // The instrument got it as one message.
  ASSERT_FALSE(simulator->machine_commands(0).empty());
  EXPECT_EQ(simulator->machine_commands(0).back(), message);
}

// --- Read ------------------------------------------------------------------------

TEST_F(UsbDriver, ReadEndsAtEomOrWhenCountIsFilled) {
  start();
  ViSession vi = open();
  Reply whole = query(vi, "*IDN?");
  EXPECT_EQ(whole.status, VI_SUCCESS);
  EXPECT_EQ(whole.bytes, "TMSIM,TM1000,SIM0001,1.03\n");
  auto requests = sent(REQUEST_DEV_DEP_MSG_IN);
  ASSERT_EQ(requests.size(), 1u);
  Header h;
  ASSERT_TRUE(get_header(requests[0].data(), &h));
  EXPECT_EQ(h.TransferSize, 100u);
  EXPECT_EQ(requests[0].size(), kHeaderSize);

  Reply first = query(vi, "*IDN?", 6);
  EXPECT_EQ(first.status, VI_SUCCESS_MAX_CNT);
  EXPECT_EQ(first.bytes, "TMSIM,");
  Reply rest = read(vi);
  EXPECT_EQ(rest.status, VI_SUCCESS);
  EXPECT_EQ(rest.bytes, "TM1000,SIM0001,1.03\n");
}

TEST_F(UsbDriver, ReadWithNothingToReadTimesOutAfterTheSessionTimeOut) {
  start();
  ViSession vi = open();
  uint64_t before = clock.now_ms();
  Reply r = read(vi);
  EXPECT_EQ(r.status, VI_ERROR_TMO);
  EXPECT_EQ(r.bytes, "");
  EXPECT_GE(clock.now_ms() - before, kDefaultTimeoutMs);
  ASSERT_EQ(driver->viSetAttribute(vi, VI_ATTR_TMO_VALUE, 500), VI_SUCCESS);
  before = clock.now_ms();
  EXPECT_EQ(read(vi).status, VI_ERROR_TMO);
  EXPECT_LT(clock.now_ms() - before, kDefaultTimeoutMs);
  EXPECT_GE(clock.now_ms() - before, 500u);
  EXPECT_EQ(query(vi, "*IDN?").bytes, "TMSIM,TM1000,SIM0001,1.03\n");
}

TEST_F(UsbDriver, AttributesOtherThanTheTimeOutAreRefused) {
  start();
  ViSession rm = open_rm();
  ViSession vi = open(kUsbMain, rm);
  EXPECT_EQ(driver->viSetAttribute(vi, 0x3FFF0018u, 1), VI_ERROR_NSUP_ATTR);
  EXPECT_EQ(driver->viSetAttribute(rm, VI_ATTR_TMO_VALUE, 1), VI_ERROR_NSUP_ATTR);
  if (sizeof(ViAttrState) > 4) {
    EXPECT_EQ(driver->viSetAttribute(vi, VI_ATTR_TMO_VALUE, static_cast<ViAttrState>(0x100000000ull)),
              VI_ERROR_INV_PARAMETER);
  }
  EXPECT_EQ(driver->viSetAttribute(vi + 50, VI_ATTR_TMO_VALUE, 1), VI_ERROR_INV_OBJECT);
}

// --- The quirks of real devices ---------------------------------------------------

struct QuirkCase {
  const char* name;
  UsbQuirks quirks;
  FunctionFaults faults;
};

class UsbQuirk : public UsbFixture, public ::testing::WithParamInterface<QuirkCase> {};

// A short reply, and one of many packets, both whole and in order.
TEST_P(UsbQuirk, RepliesArriveWhole) {
  std::string long_idn;
  for (int i = 0; long_idn.size() < 700; ++i) long_idn += "TMSIM,TM1000,SIM0001," + std::to_string(i) + ";";
  long_idn += "\n";
  config.instruments[0].main_idn = long_idn;
  start(GetParam().quirks, GetParam().faults);
  ViSession vi = open();
  Reply r = query(vi, "*IDN?", 1000);
  EXPECT_EQ(r.status, VI_SUCCESS);
  EXPECT_EQ(r.bytes, long_idn);
  Reply info = query(vi, "syst:info?");
  EXPECT_EQ(info.status, VI_SUCCESS);
  EXPECT_EQ(info.bytes, "0#main#2.10#HW3,-1#SIM1000#\n");
}

UsbQuirks header_alone() {
  UsbQuirks q;
  q.header_alone = true;
  return q;
}
UsbQuirks split_into(uint32_t n, uint16_t packet = 512) {
  UsbQuirks q;
  q.split_data = n;
  q.packet_size = packet;
  return q;
}
UsbQuirks full_speed() {
  UsbQuirks q;
  q.packet_size = 64;
  return q;
}
UsbQuirks everything_at_full_speed() {
  UsbQuirks q = split_into(100, 64);
  q.header_alone = true;
  return q;
}

INSTANTIATE_TEST_SUITE_P(
    Field, UsbQuirk,
    ::testing::Values(QuirkCase{"plain", {}, {}}, QuirkCase{"header_alone_in_the_first_transfer", header_alone(), {}},
                      QuirkCase{"reply_split_over_transfers", split_into(7), {}},
                      QuirkCase{"full_speed_64_byte_packets", full_speed(), {}},
                      QuirkCase{"all_of_them_at_full_speed", everything_at_full_speed(), {}},
                      QuirkCase{"transfer_size_capped_by_the_device", {}, FunctionFaults{0, 50}}),
    [](const ::testing::TestParamInfo<QuirkCase>& info) { return std::string(info.param.name); });

TEST_F(UsbDriver, AStalledEndpointFailsOneReadAndIsClearedForTheNext) {
  UsbQuirks quirks;
  quirks.stall_bulk_in_at = 1;
  start(quirks);
  ViSession vi = open();
  EXPECT_EQ(query(vi, "*IDN?").status, VI_ERROR_IO);
  Reply next = query(vi, "*IDN?");
  EXPECT_EQ(next.status, VI_SUCCESS);
  EXPECT_EQ(next.bytes, "TMSIM,TM1000,SIM0001,1.03\n");
}

TEST_F(UsbDriver, AReplyStuckUntilAbortedTimesOutIsAbortedAndTheNextQueryIsAnswered) {
  UsbQuirks quirks;
  quirks.stuck_request = 1;
  start(quirks);
  ViSession vi = open();
  uint64_t before = clock.now_ms();
  Reply stuck = query(vi, "*IDN?");
  EXPECT_EQ(stuck.status, VI_ERROR_TMO);
  EXPECT_EQ(stuck.bytes, "");
  EXPECT_GE(clock.now_ms() - before, kDefaultTimeoutMs);
  uint8_t request_tag = sent(REQUEST_DEV_DEP_MSG_IN).back()[1];
  // The abort names the request's tag and the bulk-IN endpoint; its status
  // is asked until done.
  std::vector<int> expected{GET_CAPABILITIES, INITIATE_ABORT_BULK_IN, CHECK_ABORT_BULK_IN_STATUS};
  EXPECT_EQ(class_requests(), expected);
  const SetupPacket& abort = usb->control_requests()[1];
  EXPECT_EQ(abort.bmRequestType, kClassInEndpoint);
  EXPECT_EQ(abort.wValue, request_tag);
  EXPECT_EQ(abort.wIndex, 0x82);
  EXPECT_EQ(abort.wLength, kAbortReplySize);
  Reply next = query(vi, "syst:info?");
  EXPECT_EQ(next.status, VI_SUCCESS);
  EXPECT_EQ(next.bytes, "0#main#2.10#HW3,-1#SIM1000#\n");
}

TEST_F(UsbDriver, AStaleReplyAfterATimeOutIsDroppedByItsTag) {
  UsbQuirks quirks;
  quirks.late_reply = 1;
  start(quirks);
  ViSession vi = open();
  EXPECT_EQ(query(vi, "*IDN?").status, VI_ERROR_TMO);
  // The device's abort failed and its late reply to *IDN? now waits on
  // bulk-IN ahead of the next one.
  Reply next = query(vi, "syst:info?");
  EXPECT_EQ(next.status, VI_SUCCESS);
  EXPECT_EQ(next.bytes, "0#main#2.10#HW3,-1#SIM1000#\n");
  EXPECT_EQ(query(vi, "*IDN?").bytes, "TMSIM,TM1000,SIM0001,1.03\n");
}

TEST_F(UsbDriver, AReplyCutShortTimesOutWithTheBytesThatCame) {
  UsbQuirks quirks;
  quirks.header_alone = true;
  quirks.split_data = 4;
  quirks.cut_reply = kHeaderSize + 10;
  start(quirks);
  ViSession vi = open();
  Reply cut = query(vi, "*IDN?");
  EXPECT_EQ(cut.status, VI_ERROR_TMO);
  EXPECT_EQ(cut.bytes, "TMSIM,TM10");
}

TEST_F(UsbDriver, AWriteTimeOutAbortsTheBulkOutTransferAndTheNextQueryIsAnswered) {
  UsbQuirks quirks;
  quirks.bulk_out_timeout_at = 1;
  start(quirks);
  ViSession vi = open();
  EXPECT_EQ(write(vi, "*IDN?"), VI_ERROR_TMO);
  std::vector<int> expected{GET_CAPABILITIES, INITIATE_ABORT_BULK_OUT};
  EXPECT_EQ(class_requests(), expected);
  EXPECT_EQ(usb->control_requests().back().wValue, 1);     // the tag of the write
  EXPECT_EQ(usb->control_requests().back().wIndex, 0x01);  // the bulk-OUT endpoint
  Reply next = query(vi, "*IDN?");
  EXPECT_EQ(next.status, VI_SUCCESS);
  EXPECT_EQ(next.bytes, "TMSIM,TM1000,SIM0001,1.03\n");
}

TEST_F(UsbDriver, ADeviceThatStopsAnsweringGivesTimeOutsNotAHang) {
  start({}, FunctionFaults{1, 0});
  ViSession vi = open();
  EXPECT_EQ(query(vi, "*IDN?").status, VI_SUCCESS);
  uint64_t before = clock.now_ms();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(query(vi, "*IDN?").status, VI_ERROR_TMO);
  // Each read waits its time-out once, and the aborts' own waits are bounded.
  EXPECT_LT(clock.now_ms() - before, 3 * (kDefaultTimeoutMs + kMaxAbortPolls * kAbortPollIntervalMs + 1000));
}

// --- Control requests, the jump, a vanished device ------------------------------

TEST_F(UsbDriver, ControlRequestsCarryTheCallersFields) {
  start();
  ViSession vi = open();
  unsigned char buf[16] = {};
  ViUInt16 got = 0;
  ASSERT_EQ(driver->viUsbControlIn(vi, 0xC0, 0, 0, 0, 10, buf, &got), VI_SUCCESS);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), got), "mf_1.03");
  const SetupPacket& in = usb->control_requests().back();
  EXPECT_EQ(in.bmRequestType, 0xC0);
  EXPECT_EQ(in.wLength, 10);
  // A request the instrument does not know stalls: an I/O error.
  EXPECT_EQ(driver->viUsbControlIn(vi, 0xC0, 7, 1, 2, 10, buf, &got), VI_ERROR_IO);
  EXPECT_EQ(usb->control_requests().back().wValue, 1);
  EXPECT_EQ(usb->control_requests().back().wIndex, 2);
  // Direction and buffer are checked before anything is sent.
  EXPECT_EQ(driver->viUsbControlIn(vi, 0x40, 0, 0, 0, 10, buf, &got), VI_ERROR_INV_PARAMETER);
  EXPECT_EQ(driver->viUsbControlOut(vi, 0xC0, 0, 0, 0, 0, buf), VI_ERROR_INV_PARAMETER);
  EXPECT_EQ(driver->viUsbControlIn(vi, 0xC0, 0, 0, 0, 10, nullptr, &got), VI_ERROR_INV_PARAMETER);
}

TEST_F(UsbDriver, TheJumpLosesTheSessionAndTheBootloaderIsFoundUnderItsNewProductId) {
  UsbQuirks quirks;
  quirks.kernel_driver = true;
  start(quirks);
  ViSession rm = open_rm();
  ViSession vi = open(kUsbMain, rm);
  unsigned char none[1] = {};
  ASSERT_EQ(driver->viUsbControlOut(vi, 0x40, 0, 0, 0, 0, none), VI_SUCCESS);
  EXPECT_EQ(write(vi, "*IDN?"), VI_ERROR_CONN_LOST);
  EXPECT_EQ(read(vi).status, VI_ERROR_CONN_LOST);
  EXPECT_EQ(driver->viClose(vi), VI_SUCCESS);
  ViStatus status = VI_SUCCESS;
  EXPECT_TRUE(find("USB?*::INSTR", &status).empty());  // rebooting
  clock.wait_ms(config.instruments[0].reboot_ms);
  EXPECT_EQ(find(), std::vector<std::string>{kUsbBoot});
  EXPECT_EQ(usb->enumerations(), 2);
  ViSession boot = open(kUsbBoot, rm);
  EXPECT_EQ(query(boot, "*IDN?").bytes, "boot,TM1000,SIM0001,2.05\n");
  EXPECT_EQ(usb->detaches(), 2);  // the bootloader came with the kernel's driver bound too
}

TEST_F(UsbDriver, TheJumpCommandWorksLikeTheControlRequest) {
  start();
  ViSession vi = open();
  ASSERT_EQ(write(vi, "SYST:BOOT"), VI_SUCCESS);
  EXPECT_EQ(query(vi, "*IDN?").status, VI_ERROR_CONN_LOST);
  clock.wait_ms(config.instruments[0].reboot_ms);
  EXPECT_EQ(find(), std::vector<std::string>{kUsbBoot});
}

TEST_F(UsbDriver, AVanishedDeviceGivesConnectionLostAndNeverHangs) {
  start();
  ViSession vi = open();
  usb->unplug();
  uint64_t before = clock.now_ms();
  EXPECT_EQ(write(vi, "*IDN?"), VI_ERROR_CONN_LOST);
  EXPECT_EQ(read(vi).status, VI_ERROR_CONN_LOST);
  unsigned char buf[8];
  ViUInt16 got = 0;
  EXPECT_EQ(driver->viUsbControlIn(vi, 0xC0, 0, 0, 0, 8, buf, &got), VI_ERROR_CONN_LOST);
  EXPECT_EQ(driver->viUsbControlOut(vi, 0x40, 0, 0, 0, 0, buf), VI_ERROR_CONN_LOST);
  EXPECT_EQ(clock.now_ms(), before);  // nothing waited
  EXPECT_EQ(driver->viClose(vi), VI_SUCCESS);
  ViStatus status = VI_SUCCESS;
  EXPECT_TRUE(find("USB?*::INSTR", &status).empty());
  EXPECT_EQ(status, VI_ERROR_RSRC_NFOUND);
}

TEST_F(UsbDriver, ADeviceThatVanishesMidReadGivesConnectionLost) {
  start();
  ViSession vi = open();
  ASSERT_EQ(write(vi, "*IDN?"), VI_SUCCESS);
  usb->unplug();
  EXPECT_EQ(read(vi).status, VI_ERROR_CONN_LOST);
}

TEST_F(UsbDriver, ClosingTheResourceManagerClosesItsSessionsAndLists) {
  UsbQuirks quirks;
  quirks.kernel_driver = true;
  start(quirks);
  ViSession rm = open_rm();
  ViSession vi = open(kUsbMain, rm);
  ViFindList list = 0;
  ViUInt32 count = 0;
  char desc[VI_FIND_BUFLEN];
  ASSERT_EQ(driver->viFindRsrc(rm, "?*", &list, &count, desc), VI_SUCCESS);
  ViSession other_rm = open_rm();
  EXPECT_EQ(driver->open_handles(), 4u);
  EXPECT_EQ(driver->viClose(rm), VI_SUCCESS);
  EXPECT_EQ(driver->open_handles(), 1u);
  EXPECT_TRUE(usb->kernel_driver_bound());
  EXPECT_EQ(driver->viClose(vi), VI_ERROR_INV_OBJECT);
  EXPECT_EQ(driver->viFindNext(list, desc), VI_ERROR_INV_OBJECT);
  EXPECT_EQ(write(vi, "*IDN?"), VI_ERROR_INV_OBJECT);
  EXPECT_EQ(driver->viClose(other_rm), VI_SUCCESS);
  EXPECT_EQ(driver->viClose(other_rm), VI_ERROR_INV_OBJECT);
}

}  // namespace
}  // namespace usbtmc
