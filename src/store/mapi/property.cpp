#include "store/mapi/property.h"

#include <chrono>
#include <cstdio>
#include <random>

namespace parvelle::mapi {

FileTime FileTime::now() {
    const auto since = std::chrono::system_clock::now().time_since_epoch();
    const auto ticks = std::chrono::duration_cast<std::chrono::nanoseconds>(since).count() / 100;
    return {static_cast<std::uint64_t>(ticks) + kUnixEpochTicks};
}

namespace {
int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}
} // namespace

std::optional<Guid> Guid::parse(std::string_view text) {
    if (text.size() == 38 && text.front() == '{' && text.back() == '}')
        text = text.substr(1, 36);
    if (text.size() != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' ||
        text[23] != '-')
        return std::nullopt;
    std::array<std::uint8_t, 16> b{};
    std::size_t n = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '-')
            continue;
        const int hi = hexValue(text[i]);
        const int lo = i + 1 < text.size() ? hexValue(text[i + 1]) : -1;
        if (hi < 0 || lo < 0 || n >= 16)
            return std::nullopt;
        b[n++] = static_cast<std::uint8_t>(hi * 16 + lo);
        ++i;
    }
    Guid g;
    g.data1 = (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) |
              (std::uint32_t{b[2]} << 8) | b[3];
    g.data2 = static_cast<std::uint16_t>((b[4] << 8) | b[5]);
    g.data3 = static_cast<std::uint16_t>((b[6] << 8) | b[7]);
    for (int i = 0; i < 8; ++i)
        g.data4[i] = b[8 + i];
    return g;
}

Guid Guid::fromBytes(const std::uint8_t* p) {
    Guid g;
    g.data1 = std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
              (std::uint32_t{p[3]} << 24);
    g.data2 = static_cast<std::uint16_t>(p[4] | (p[5] << 8));
    g.data3 = static_cast<std::uint16_t>(p[6] | (p[7] << 8));
    for (int i = 0; i < 8; ++i)
        g.data4[i] = p[8 + i];
    return g;
}

Guid Guid::random() {
    static thread_local std::mt19937_64 engine{std::random_device{}()};
    std::array<std::uint8_t, 16> b{};
    for (std::size_t i = 0; i < 16; i += 8) {
        const std::uint64_t r = engine();
        for (int k = 0; k < 8; ++k)
            b[i + k] = static_cast<std::uint8_t>(r >> (8 * k));
    }
    b[7] = static_cast<std::uint8_t>((b[7] & 0x0F) | 0x40); // version 4 (data3 high nibble)
    b[8] = static_cast<std::uint8_t>((b[8] & 0x3F) | 0x80); // RFC 4122 variant
    return fromBytes(b.data());
}

std::array<std::uint8_t, 16> Guid::bytes() const {
    std::array<std::uint8_t, 16> b{};
    for (int i = 0; i < 4; ++i)
        b[i] = static_cast<std::uint8_t>(data1 >> (8 * i));
    b[4] = static_cast<std::uint8_t>(data2);
    b[5] = static_cast<std::uint8_t>(data2 >> 8);
    b[6] = static_cast<std::uint8_t>(data3);
    b[7] = static_cast<std::uint8_t>(data3 >> 8);
    for (int i = 0; i < 8; ++i)
        b[8 + i] = data4[i];
    return b;
}

std::string Guid::toString() const {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", data1, data2,
                  data3, data4[0], data4[1], data4[2], data4[3], data4[4], data4[5], data4[6],
                  data4[7]);
    return buf;
}

bool PropValue::isWellFormed() const {
    switch (type_) {
    case PropType::I2:
        return std::holds_alternative<std::int16_t>(value_);
    case PropType::Long:
    case PropType::Error:
        return std::holds_alternative<std::int32_t>(value_);
    case PropType::Boolean:
        return std::holds_alternative<bool>(value_);
    case PropType::Float:
    case PropType::Double:
    case PropType::AppTime:
        return std::holds_alternative<double>(value_);
    case PropType::I8:
    case PropType::Currency:
        return std::holds_alternative<std::int64_t>(value_);
    case PropType::SysTime:
        return std::holds_alternative<FileTime>(value_);
    case PropType::String8:
    case PropType::Unicode:
        return std::holds_alternative<std::string>(value_);
    case PropType::Guid:
        return std::holds_alternative<Guid>(value_);
    case PropType::Binary:
        return std::holds_alternative<Binary>(value_);
    case PropType::MvI2:
        return std::holds_alternative<std::vector<std::int16_t>>(value_);
    case PropType::MvLong:
        return std::holds_alternative<std::vector<std::int32_t>>(value_);
    case PropType::MvDouble:
    case PropType::MvAppTime:
        return std::holds_alternative<std::vector<double>>(value_);
    case PropType::MvI8:
    case PropType::MvCurrency:
        return std::holds_alternative<std::vector<std::int64_t>>(value_);
    case PropType::MvSysTime:
        return std::holds_alternative<std::vector<FileTime>>(value_);
    case PropType::MvString8:
    case PropType::MvUnicode:
        return std::holds_alternative<std::vector<std::string>>(value_);
    case PropType::MvGuid:
        return std::holds_alternative<std::vector<Guid>>(value_);
    case PropType::MvBinary:
        return std::holds_alternative<std::vector<Binary>>(value_);
    default:
        return false;
    }
}

std::optional<std::int32_t> PropValue::asInt32() const {
    if (auto* v = std::get_if<std::int32_t>(&value_))
        return *v;
    if (auto* v = std::get_if<std::int16_t>(&value_))
        return *v;
    if (auto* v = std::get_if<bool>(&value_))
        return *v ? 1 : 0;
    return std::nullopt;
}

std::optional<std::int64_t> PropValue::asInt64() const {
    if (auto* v = std::get_if<std::int64_t>(&value_))
        return *v;
    if (auto v = asInt32())
        return *v;
    return std::nullopt;
}

std::optional<bool> PropValue::asBool() const {
    if (auto v = asInt64())
        return *v != 0;
    return std::nullopt;
}

std::optional<double> PropValue::asDouble() const {
    if (auto* v = std::get_if<double>(&value_))
        return *v;
    return std::nullopt;
}

std::optional<FileTime> PropValue::asTime() const {
    if (auto* v = std::get_if<FileTime>(&value_))
        return *v;
    return std::nullopt;
}

const std::string* PropValue::asString() const {
    return std::get_if<std::string>(&value_);
}
const Binary* PropValue::asBinary() const {
    return std::get_if<Binary>(&value_);
}
const Guid* PropValue::asGuid() const {
    return std::get_if<Guid>(&value_);
}

namespace psets {
namespace {
Guid known(std::uint32_t data1, std::uint16_t data2, std::uint16_t data3,
           std::array<std::uint8_t, 8> data4) {
    return Guid{data1, data2, data3, data4};
}
constexpr std::array<std::uint8_t, 8> kOleTail{0xC0, 0, 0, 0, 0, 0, 0, 0x46};
} // namespace
const Guid kMapi = known(0x00020328, 0, 0, kOleTail);
const Guid kPublicStrings = known(0x00020329, 0, 0, kOleTail);
const Guid kInternetHeaders = known(0x00020386, 0, 0, kOleTail);
const Guid kAppointment = known(0x00062002, 0, 0, kOleTail);
const Guid kTask = known(0x00062003, 0, 0, kOleTail);
const Guid kAddress = known(0x00062004, 0, 0, kOleTail);
const Guid kCommon = known(0x00062008, 0, 0, kOleTail);
const Guid kLog = known(0x0006200A, 0, 0, kOleTail);
const Guid kNote = known(0x0006200E, 0, 0, kOleTail);
const Guid kMeeting =
    known(0x6ED8DA90, 0x450B, 0x101B, {0x98, 0xDA, 0x00, 0xAA, 0x00, 0x3F, 0x13, 0x05});
} // namespace psets

} // namespace parvelle::mapi
