#pragma once

#include <QString>
#include <cstdint>

namespace zarv::station {

// value in upper-case hexadecimal, zero-filled to at least digits digits.
inline QString Hex(std::uint32_t value, int digits) {
    return QString::number(value, 16).toUpper().rightJustified(digits, QLatin1Char('0'));
}

}  // namespace zarv::station
