#pragma once

#include <QString>
#include <array>

namespace zarv::device_io {

// Texts of the flash status codes that the controller returns in byte 1 of the
// erase and program replies.
class FlashStatusText {
  public:
    static constexpr int kCodes = 41;

    FlashStatusText() { rebuild(); }

    void rebuild();
    // Codes above 40 get the same generated form as the unnamed codes below.
    QString text(int code) const;

  private:
    std::array<QString, kCodes> texts_;
};

}  // namespace zarv::device_io
