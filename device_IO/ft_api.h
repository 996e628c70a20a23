#pragma once

#include <cstdint>
#include <string>

#include "link_clock.h"

namespace zarv::device_io {

// The D2XX-shaped calls the link makes. Two implementations sit behind it: the
// FTDI bridge through libftdi1, and the simulated controller.

using FT_STATUS = std::uint32_t;
using FT_HANDLE = std::uint32_t;  // opaque; 0 means no handle

enum : FT_STATUS {
    FT_OK = 0,
    FT_INVALID_HANDLE = 1,
    FT_DEVICE_NOT_FOUND = 2,
    FT_DEVICE_NOT_OPENED = 3,
    FT_IO_ERROR = 4,
    FT_INSUFFICIENT_RESOURCES = 5,
    FT_INVALID_PARAMETER = 6,
};

constexpr std::uint32_t FT_LIST_NUMBER_ONLY = 0x80000000u;
constexpr std::uint32_t FT_LIST_BY_INDEX = 0x40000000u;
constexpr std::uint32_t FT_OPEN_BY_SERIAL_NUMBER = 1;
constexpr std::uint32_t FT_OPEN_BY_DESCRIPTION = 2;
constexpr std::uint32_t FT_PURGE_RX = 1;
constexpr std::uint32_t FT_PURGE_TX = 2;

// Room for the longest serial number or description a listing can store, NUL included.
constexpr int FT_DEVICE_TEXT_SIZE = 64;

class FtApi {
  public:
    virtual ~FtApi() = default;

    // FT_LIST_NUMBER_ONLY: arg1 points to a uint32 count, arg2 is unused.
    // FT_LIST_BY_INDEX | FT_OPEN_BY_...: arg1 is the index (cast to a pointer), arg2
    // a buffer of FT_DEVICE_TEXT_SIZE bytes that receives a NUL-terminated text.
    virtual FT_STATUS FT_ListDevices(void* arg1, void* arg2, std::uint32_t flags) = 0;
    // FT_OPEN_BY_SERIAL_NUMBER: arg is a NUL-terminated serial number.
    virtual FT_STATUS FT_OpenEx(const void* arg, std::uint32_t flags, FT_HANDLE* handle) = 0;
    virtual FT_STATUS FT_Close(FT_HANDLE handle) = 0;
    virtual FT_STATUS FT_ResetDevice(FT_HANDLE handle) = 0;
    virtual FT_STATUS FT_Purge(FT_HANDLE handle, std::uint32_t mask) = 0;
    virtual FT_STATUS FT_SetTimeouts(FT_HANDLE handle, std::uint32_t read_ms,
                                     std::uint32_t write_ms) = 0;
    virtual FT_STATUS FT_SetLatencyTimer(FT_HANDLE handle, std::uint8_t ms) = 0;
    virtual FT_STATUS FT_SetUSBParameters(FT_HANDLE handle, std::uint32_t in_size,
                                          std::uint32_t out_size) = 0;
    virtual FT_STATUS FT_Write(FT_HANDLE handle, const void* buffer, std::uint32_t count,
                               std::uint32_t* written) = 0;
    // Returns once count bytes are in or the read time-out has passed; FT_OK with
    // *received < count means the time-out passed.
    virtual FT_STATUS FT_Read(FT_HANDLE handle, void* buffer, std::uint32_t count,
                              std::uint32_t* received) = 0;
    // The bytes received and not yet read. Fails once the device has gone.
    virtual FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, std::uint32_t* rx_bytes) = 0;

    // Not a D2XX call: while aborted, a read in progress on the handle returns at
    // once with what it has, and so does every read begun, so that a stream reader
    // can be stopped without waiting out the read time-out.
    virtual void AbortReads(FT_HANDLE handle, bool aborted) = 0;
    // Not a D2XX call: when the link received what the last read on the handle
    // returned. *arrived_ns (on StreamClock()) is when the byte *tail bytes before the
    // end of that read came in; false when the link cannot tell, and a read's
    // return is then the best there is.
    virtual bool LastReadArrival(FT_HANDLE /*handle*/, std::int64_t* /*arrived_ns*/,
                                 std::uint32_t* /*tail*/) {
        return false;
    }
    // Not a D2XX call: the bridge flagged an overrun (its buffer was full and it
    // dropped bytes) just before the first byte the last read returned. A read
    // never reaches past such a place: the next read begins there.
    virtual bool LastReadOverrun(FT_HANDLE /*handle*/) { return false; }
    // Not a D2XX call: the time the device streams on.
    virtual const LinkClock& StreamClock() const { return SteadyLinkClock(); }
    // Not a D2XX call: why the last listing or open could not open a device that
    // is attached, in words an operator can act on; empty when nothing failed.
    virtual std::string DescribeOpenFailure() = 0;
};

}  // namespace zarv::device_io
