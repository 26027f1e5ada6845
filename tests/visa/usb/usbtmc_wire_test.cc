// The USBTMC header bytes and the resource strings of the built-in driver.
#include <gtest/gtest.h>

#include "visa/usb/usb_resource.h"
#include "visa/usb/usbtmc_wire.h"

namespace usbtmc {
namespace {

TEST(UsbtmcWire, HeaderBytesAreLittleEndianWithTheTagComplement) {
  uint8_t out[kHeaderSize];
  put_header(out, Header{DEV_DEP_MSG_OUT, 0x5A, 0x01020304, kAttrEom, 0});
  const uint8_t expected[kHeaderSize] = {0x01, 0x5A, 0xA5, 0x00, 0x04, 0x03, 0x02, 0x01, 0x01, 0x00, 0x00, 0x00};
  EXPECT_EQ(std::vector<uint8_t>(out, out + kHeaderSize), std::vector<uint8_t>(expected, expected + kHeaderSize));
  Header back;
  ASSERT_TRUE(get_header(out, &back));
  EXPECT_EQ(back.bTag, 0x5A);
  EXPECT_EQ(back.TransferSize, 0x01020304u);
  EXPECT_EQ(back.bmTransferAttributes, kAttrEom);
  out[2] = 0xA4;  // no longer ~bTag
  EXPECT_FALSE(get_header(out, &back));
}

TEST(UsbtmcWire, TagRunsFrom1To255AndNeverTo0) {
  EXPECT_EQ(next_tag(0), 1);
  EXPECT_EQ(next_tag(1), 2);
  EXPECT_EQ(next_tag(254), 255);
  EXPECT_EQ(next_tag(255), 1);
}

TEST(UsbtmcWire, TransfersArePaddedToAMultipleOfFour) {
  EXPECT_EQ(padded_size(0), 12u);
  EXPECT_EQ(padded_size(1), 16u);
  EXPECT_EQ(padded_size(4), 16u);
  EXPECT_EQ(padded_size(6), 20u);  // "*idn?\n"
  EXPECT_EQ(padded_size(8), 20u);
}

TEST(UsbResource, ParsesWhatOperatorsCopyFromOtherTools) {
  struct Case {
    const char* text;
    uint16_t vendor, product;
    const char* serial;
    int interface_number;
  } cases[] = {
      {"USB0::0x1234::0x5678::SN0001::INSTR", 0x1234, 0x5678, "SN0001", 0},
      {"usb0::0xabcd::0XEF01::sn-7::instr", 0xABCD, 0xEF01, "sn-7", 0},
      {"USB::4660::22136::SN0001::INSTR", 0x1234, 0x5678, "SN0001", 0},  // decimal
      {"USB0::0x1234::0x5678::SN0001", 0x1234, 0x5678, "SN0001", 0},     // no ::INSTR
      {"USB0::0x1234::0x5678::SN0001::0::INSTR", 0x1234, 0x5678, "SN0001", 0},
      {"USB0::0x1234::0x5678::SN0001::2::INSTR", 0x1234, 0x5678, "SN0001", 2},
      {"USB0::0x1234::0x5678::SN0001::3", 0x1234, 0x5678, "SN0001", 3},
  };
  for (const Case& c : cases) {
    UsbResource r;
    ASSERT_TRUE(parse_usb_resource(c.text, &r)) << c.text;
    EXPECT_EQ(r.idVendor, c.vendor) << c.text;
    EXPECT_EQ(r.idProduct, c.product) << c.text;
    EXPECT_EQ(r.serial, c.serial) << c.text;
    EXPECT_EQ(r.interface_number, c.interface_number) << c.text;
  }
}

TEST(UsbResource, RefusesWhatIsNoUsbInstrument) {
  for (const char* text : {"", "GPIB0::2::INSTR", "USB0::0x1234::0x5678::SN::RAW", "USB0::0x1234::0x5678::INSTR",
                           "USB0::0x12345::0x5678::SN::INSTR", "USB0::0x1234::0x56G8::SN::INSTR",
                           "USB0::0x1234::0x5678::::INSTR", "USB0::0x1234::0x5678::SN::256::INSTR",
                           "USBX::0x1234::0x5678::SN::INSTR", "USB0::0x::0x5678::SN::INSTR",
                           "USB0::0x1234::0x5678::SN::1::2::INSTR"}) {
    UsbResource r;
    EXPECT_FALSE(parse_usb_resource(text, &r)) << text;
  }
}

TEST(UsbResource, SearchesNameInstrumentsAsInstalledLibrariesDo) {
  UsbResource r;
  r.idVendor = 0xab;
  r.idProduct = 0xCDEF;
  r.serial = "X1";
  EXPECT_EQ(format_usb_resource(r), "USB0::0x00AB::0xCDEF::X1::INSTR");
  r.interface_number = 2;
  EXPECT_EQ(format_usb_resource(r), "USB0::0x00AB::0xCDEF::X1::2::INSTR");
}

}  // namespace
}  // namespace usbtmc
