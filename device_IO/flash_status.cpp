#include "flash_status.h"

namespace zarv::device_io {

namespace {
QString undefined(int code) {
    return QStringLiteral("Undefined Error Code %1received").arg(code);
}

struct Named {
    int code;
    const char* text;
};
constexpr Named kNamed[] = {
    {0, "STATUS_SUCCESS"},
    {10, "STATUS_FAIL_CSM_LOCKED"},
    {11, "STATUS_FAIL_REVID_INVALID"},
    {12, "STATUS_FAIL_ADDR_INVALID"},
    {13, "STATUS_FAIL_INCORRECT_PARTID"},
    {14, "STATUS_FAIL_API_SILICON_MISMATCH"},
    {20, "STATUS_FAIL_NO_SECTOR_SPECIFIED"},
    {21, "STATUS_FAIL_PRECONDITION"},
    {22, "STATUS_FAIL_ERASE"},
    {23, "STATUS_FAIL_COMPACT"},
    {24, "STATUS_FAIL_PRECOMPACT"},
    {30, "STATUS_FAIL_PROGRAM"},
    {31, "STATUS_FAIL_ZERO_BIT_ERROR"},
    {40, "STATUS_FAIL_VERIFY"},
};
}  // namespace

void FlashStatusText::rebuild() {
    for (int i = 0; i < kCodes; ++i) texts_[i] = undefined(i);
    for (const Named& n : kNamed) texts_[n.code] = QString::fromLatin1(n.text);
}

QString FlashStatusText::text(int code) const {
    if (code >= 0 && code < kCodes && !texts_[code].isEmpty()) return texts_[code];
    return undefined(code);
}

}  // namespace zarv::device_io
