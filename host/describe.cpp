// Operation 14: what the driver is, for the host's driver list and its
// text-mode console.
#include "describe.h"

#include "lumisar_version.h"

namespace {

const char kVendorText[] = "Texas Instruments and Koyo";

// Code page 437: a leading newline, then six lines of 62 characters, each
// ended by a newline (379 characters in all).
const char kBannerText[] =
    "\n"
    " \xC9\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD"
    "\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD"
    "\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xBB\n"
    " \xBA \xDB\xDB\xDB\xDB\xDB\xB2\xB2\xB2\xB2\xB2\xB2\xB1\xB1\xB1\xB1\xB1\xB1\xB0\xB0\xB0"
    "\xB0\xB0\xB0 O R V E N \xB0\xB0\xB0\xB0\xB0\xB0\xB1\xB1\xB1\xB1\xB1\xB1\xB2\xB2\xB2\xB2"
    "\xB2\xB2\xDB\xDB\xDB\xDB\xDB \xBA\n"
    " \xBA                 Texas Instruments Series 405              \xBA\n"
    " \xBA                  Transparent Byte Protocol                \xBA\n"
    " \xBA       LUMISAR Series 405 serial driver Version " LUMISAR_VERSION_SHORT
    "       \xBA\n"
    " \xC8\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD"
    "\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD"
    "\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xCD\xBC\n";

static_assert(sizeof kBannerText == 379 + 1, "banner is 379 characters and a NUL");

constexpr uint32_t kHostCode1 = 82;
constexpr uint32_t kHostCode2 = 4;
constexpr uint32_t kHostCode3 = 0xE50023;
// 19200 baud, 8 data bits, one stop bit, odd parity: what the controllers'
// communication ports ship with.
constexpr SerialSettings kDefaultSettings = {19200, 8, 0, 1};

}  // namespace

int32_t DescribeDriver(RequestBlock *request) {
  DriverInfo *info = static_cast<DriverInfo *>(request->params);
  if (!info) return LUMISAR_FAILED;
  info->hostCode1 = kHostCode1;
  info->vendorText = kVendorText;
  info->bannerText = kBannerText;
  info->contextSize = sizeof(PortContext);
  info->hostCode2 = kHostCode2;
  info->defaultSettings = kDefaultSettings;
  info->hostCode3 = kHostCode3;
  return LUMISAR_DONE;
}
