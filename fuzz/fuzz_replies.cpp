// Arbitrary reply bytes and lengths through SendCommand's checks and every reply
// decoder, on a link whose reads hand back the fuzzer's bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "device_IO/controller_commands.h"
#include "device_IO/usb_link.h"
#include "null_operator.h"

using namespace zarv::device_io;

namespace {
// A bridge that accepts every write and answers each read with the next slice of
// the input: two length bytes, then up to that many bytes.
class ReplyFeeder : public FtApi {
  public:
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;

    FT_STATUS FT_ListDevices(void* arg1, void* arg2, std::uint32_t flags) override {
        if (flags == FT_LIST_NUMBER_ONLY) {
            *static_cast<std::uint32_t*>(arg1) = 1;
        } else {
            std::memset(arg2, 0, FT_DEVICE_TEXT_SIZE);
            std::memcpy(arg2, "FUZZ", 4);
        }
        return FT_OK;
    }
    FT_STATUS FT_OpenEx(const void*, std::uint32_t, FT_HANDLE* h) override {
        *h = 1;
        return FT_OK;
    }
    FT_STATUS FT_Close(FT_HANDLE) override { return FT_OK; }
    FT_STATUS FT_ResetDevice(FT_HANDLE) override { return FT_OK; }
    FT_STATUS FT_Purge(FT_HANDLE, std::uint32_t) override { return FT_OK; }
    FT_STATUS FT_SetTimeouts(FT_HANDLE, std::uint32_t, std::uint32_t) override { return FT_OK; }
    FT_STATUS FT_SetLatencyTimer(FT_HANDLE, std::uint8_t) override { return FT_OK; }
    FT_STATUS FT_SetUSBParameters(FT_HANDLE, std::uint32_t, std::uint32_t) override {
        return FT_OK;
    }
    FT_STATUS FT_Write(FT_HANDLE, const void*, std::uint32_t count,
                       std::uint32_t* written) override {
        *written = size > 0 && data[0] == 0xEE ? 0 : count;
        return FT_OK;
    }
    FT_STATUS FT_Read(FT_HANDLE, void* buffer, std::uint32_t count,
                      std::uint32_t* received) override {
        *received = 0;
        if (size == 0) return FT_OK;
        // Two length bytes; FF FF gives the whole reply asked for.
        std::size_t n = data[0];
        if (size > 1) {
            n = (n << 8) | data[1];
            ++data, --size;
        }
        ++data, --size;
        if (n == 0xFFFF) n = count;
        n = std::min({n, size, std::size_t{count}});
        std::memcpy(buffer, data, n);
        data += n, size -= n;
        *received = static_cast<std::uint32_t>(n);
        return FT_OK;
    }
    FT_STATUS FT_GetQueueStatus(FT_HANDLE, std::uint32_t* rx_bytes) override {
        *rx_bytes = 0;
        return FT_OK;
    }
    void AbortReads(FT_HANDLE, bool) override {}
    std::string DescribeOpenFailure() override { return {}; }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ReplyFeeder feeder;
    NullOperator op;
    UsbLink link(feeder, op);
    ControllerCommands cmd(link, op);
    (void)link.OpenController();
    feeder.data = data;
    feeder.size = size;
    InfoWords info{};
    (void)cmd.ReadControllerInfo(info);
    (void)cmd.SetSweepParameters(SweepParameters{});
    (void)cmd.SetFrequencies(1, 2, 3, 4);
    (void)cmd.SetAmplitudes(1, 2, 3, 4);
    (void)cmd.SetBeamDirection(2);
    (void)cmd.SetDacLevels(1, 2);
    (void)cmd.EraseSector("E");
    (void)cmd.flashStatus();
    BlockWords words{};
    (void)cmd.ProgramSectorBlock(words, 16, "C", 0x1FF0);
    (void)cmd.flashStatusText(cmd.flashStatus().value_or(0));
    SectorWords sector;
    (void)cmd.ReadSector("D", sector);
    (void)cmd.CopyImageToMainFrame();
    (void)cmd.WriteCodeStart(CodeStartBlock{});
    CodeStartWords block{};
    (void)cmd.ReadCodeStart(block);
    (void)cmd.StartTrigger();
    (void)cmd.StopTrigger();
    return 0;
}
