#include "sim_flash.h"

#include <QFile>
#include <cstdio>

namespace zarv::sim {

using namespace zarv::device_io;

namespace {
constexpr int kA = 7;
constexpr int kStatusAddrInvalid = 12;
constexpr int kStatusNoSector = 20;
constexpr int kStatusZeroBit = 31;
constexpr quint32 kFileMagic = 0x5A465348;  // "ZFSH"
}  // namespace

SimFlash::SimFlash(QString persist_path) : persist_path_(std::move(persist_path)) {
    for (auto& s : sectors_) s.assign(kWords, 0xFFFF);
    if (persist_path_.isEmpty() || !load()) loadFactoryImage();
}

std::uint16_t SimFlash::FactoryWord(int sector_code, int offset) {
    return static_cast<std::uint16_t>((sector_code << 13) ^ (offset * 0x9E37u >> 3) ^ 0x1234);
}

void SimFlash::loadFactoryImage() {
    for (int code = 0; code < kSectors; ++code) {
        const bool holds_image = code == 0 || code == 1 || code == 2 || code == kA;
        for (int i = 0; i < kWords; ++i)
            sectors_[code][i] = holds_image ? FactoryWord(code, i) : 0xFFFF;
    }
    sectors_[kA][kCodeStartOffset] = 0x0040;
    sectors_[kA][kCodeStartOffset + 1] = 0x8000;
    for (int i = 2; i < kCodeStartWords; ++i) sectors_[kA][kCodeStartOffset + i] = 0xFFFF;
    code_start_written_ = false;
}

int SimFlash::erase(int sector_code) {
    if (sector_code < 0 || sector_code >= kSectors) return kStatusNoSector;
    sectors_[sector_code].assign(kWords, 0xFFFF);
    save();
    return 0;
}

int SimFlash::program(int sector_code, int offset, const std::vector<std::uint16_t>& words) {
    if (sector_code < 0 || sector_code >= kSectors) return kStatusNoSector;
    if (offset < 0 || offset + static_cast<int>(words.size()) > kWords) return kStatusAddrInvalid;
    int status = 0;
    for (std::size_t i = 0; i < words.size(); ++i) {
        std::uint16_t& word = sectors_[sector_code][offset + i];
        if ((words[i] & ~word) != 0) status = kStatusZeroBit;  // a 0 cannot become 1
        word &= words[i];
    }
    save();
    return status;
}

void SimFlash::copyStagedToMain(const QString& left_alone) {
    const char main[] = {'H', 'G', 'F'};
    for (int i = 0; i < 3; ++i)
        if (!left_alone.contains(QLatin1Char(main[i]))) sectors_[i] = sectors_[i + 3];
    save();
}

void SimFlash::writeCodeStart(const std::array<std::uint16_t, kCodeStartWords>& words) {
    code_start_ = words;
    code_start_written_ = true;
    save();
}

std::array<std::uint16_t, kCodeStartReadWords> SimFlash::readCodeStart() const {
    std::array<std::uint16_t, kCodeStartReadWords> block{};
    // The last words of sector A, the code start replaced by the kept words.
    for (int i = 0; i < kCodeStartReadWords; ++i) block[i] = sectors_[kA][kCodeStartReadOffset + i];
    if (code_start_written_)
        for (int i = 0; i < kCodeStartWords; ++i) block[kCodeStartInRead + i] = code_start_[i];
    return block;
}

// Replaced whole, by a rename, after every change: a restarted simulator finds
// the flash as it was. Not synced: a simulator's flash need not survive a power
// cut, and a sync per programmed block would make an update take seconds.
void SimFlash::save() const {
    if (persist_path_.isEmpty()) return;
    const QString partial = persist_path_ + QStringLiteral(".partial");
    QFile file(partial);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return;
    std::vector<char> words_out(2 * (2 + kSectors * kWords + 1 + kCodeStartWords));
    std::size_t at = 0;
    auto put16 = [&words_out, &at](std::uint16_t v) {
        words_out[at++] = static_cast<char>(v & 0xFF);
        words_out[at++] = static_cast<char>(v >> 8);
    };
    put16(kFileMagic & 0xFFFF);
    put16(kFileMagic >> 16);
    for (const auto& s : sectors_)
        for (std::uint16_t w : s) put16(w);
    put16(code_start_written_ ? 1 : 0);
    for (std::uint16_t w : code_start_) put16(w);
    const auto size = static_cast<qint64>(words_out.size());
    const bool written = file.write(words_out.data(), size) == size;
    file.close();
    if (!written || std::rename(QFile::encodeName(partial).constData(),
                                QFile::encodeName(persist_path_).constData()) != 0)
        QFile::remove(partial);
}

bool SimFlash::load() {
    QFile file(persist_path_);
    if (!file.open(QIODevice::ReadOnly)) return false;
    const QByteArray bytes = file.readAll();
    const int expected = 2 * (2 + kSectors * kWords + 1 + kCodeStartWords);
    if (bytes.size() != expected) return false;
    int pos = 0;
    auto get16 = [&bytes, &pos]() {
        const auto lo = static_cast<std::uint8_t>(bytes[pos]);
        const auto hi = static_cast<std::uint8_t>(bytes[pos + 1]);
        pos += 2;
        return static_cast<std::uint16_t>(lo | (hi << 8));
    };
    const quint32 magic = get16() | (quint32{get16()} << 16);
    if (magic != kFileMagic) return false;
    for (auto& s : sectors_)
        for (auto& w : s) w = get16();
    code_start_written_ = get16() != 0;
    for (auto& w : code_start_) w = get16();
    return true;
}

}  // namespace zarv::sim
