#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "ft_api.h"

namespace zarv::device_io {

// The link calls on a real FTDI bridge through libftdi1. From the open on, bulk
// IN transfers stay queued on the bridge and fill a ring that FT_Read serves
// with its read time-out. A read and a write from another thread may run
// together; purges and resets stop the transfers for the moment they take.
class LibFtdiApi : public FtApi {
  public:
    LibFtdiApi();
    ~LibFtdiApi() override;

    FT_STATUS FT_ListDevices(void* arg1, void* arg2, std::uint32_t flags) override;
    FT_STATUS FT_OpenEx(const void* arg, std::uint32_t flags, FT_HANDLE* handle) override;
    FT_STATUS FT_Close(FT_HANDLE handle) override;
    FT_STATUS FT_ResetDevice(FT_HANDLE handle) override;
    FT_STATUS FT_Purge(FT_HANDLE handle, std::uint32_t mask) override;
    FT_STATUS FT_SetTimeouts(FT_HANDLE handle, std::uint32_t read_ms,
                             std::uint32_t write_ms) override;
    FT_STATUS FT_SetLatencyTimer(FT_HANDLE handle, std::uint8_t ms) override;
    FT_STATUS FT_SetUSBParameters(FT_HANDLE handle, std::uint32_t in_size,
                                  std::uint32_t out_size) override;
    FT_STATUS FT_Write(FT_HANDLE handle, const void* buffer, std::uint32_t count,
                       std::uint32_t* written) override;
    FT_STATUS FT_Read(FT_HANDLE handle, void* buffer, std::uint32_t count,
                      std::uint32_t* received) override;
    FT_STATUS FT_GetQueueStatus(FT_HANDLE handle, std::uint32_t* rx_bytes) override;
    void AbortReads(FT_HANDLE handle, bool aborted) override;
    bool LastReadArrival(FT_HANDLE handle, std::int64_t* arrived_ns, std::uint32_t* tail) override;
    bool LastReadOverrun(FT_HANDLE handle) override;
    std::string DescribeOpenFailure() override;

    struct Device;

  private:
    std::shared_ptr<Device> find(FT_HANDLE handle);
    void rememberOpenFailure(std::string cause);

    std::mutex devices_mutex_;
    std::map<FT_HANDLE, std::shared_ptr<Device>> devices_;
    FT_HANDLE next_handle_ = 1;
    std::string open_failure_;
};

}  // namespace zarv::device_io
