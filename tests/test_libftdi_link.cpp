#include <gtest/gtest.h>

#include "about/about_query.h"
#include "device_IO/ftdi_libftdi.h"
#include "recorder_operator.h"
#include "station/station.h"

using namespace zarv::about;
using namespace zarv::device_io;
using namespace zarv::station;

namespace {
TEST(LibFtdiLink, WithoutABridgeNothingIsListedOrOpened) {
    LibFtdiApi api;
    std::uint32_t count = 99;
    ASSERT_EQ(api.FT_ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
    EXPECT_EQ(count, 0u);  // no FTDI bridge is attached to a build machine
    char text[FT_DEVICE_TEXT_SIZE];
    EXPECT_EQ(api.FT_ListDevices(nullptr, text, FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER),
              FT_DEVICE_NOT_FOUND);
    FT_HANDLE handle = 0;
    EXPECT_EQ(api.FT_OpenEx("", FT_OPEN_BY_SERIAL_NUMBER, &handle), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(api.FT_OpenEx("FT123456", FT_OPEN_BY_SERIAL_NUMBER, &handle), FT_DEVICE_NOT_FOUND);
    std::uint32_t n = 0;
    std::uint8_t buffer[50] = {};
    EXPECT_EQ(api.FT_Write(7, buffer, 50, &n), FT_INVALID_HANDLE);
    EXPECT_EQ(api.FT_Read(7, buffer, 50, &n), FT_INVALID_HANDLE);
    EXPECT_EQ(api.FT_Close(7), FT_INVALID_HANDLE);
}
}  // namespace

namespace {
TEST(LibFtdiLink, AboutWithoutABridgeLogsNotFound) {
    LibFtdiApi api;
    RecorderOperator op;
    Station station(op, api);
    EXPECT_FALSE(QueryAbout(station.session));
    EXPECT_EQ(op.messages(), QStringList{"USB device not found.."});
    EXPECT_TRUE(op.boxes.isEmpty());
}
}  // namespace
