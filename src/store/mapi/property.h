#pragma once
// MAPI properties as the message model keeps them: a property type, a 32-bit tag (id in the high
// word, type in the low word), typed values (PropValue) and named properties (a property-set GUID
// plus a numeric id or a name) that a store maps to ids 0x8000 and above.
//
// Text is UTF-8 in std::string throughout the engine. A PT_UNICODE value holds UTF-8 text and is
// written as UTF-16LE by the backends; a PT_STRING8 value holds the bytes as they are (8-bit text
// in the message's code page).
#include <array>
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace parvelle::mapi {

enum class PropType : std::uint16_t {
    Unspecified = 0x0000,
    Null = 0x0001,
    I2 = 0x0002,     // PT_I2 / PtypInteger16
    Long = 0x0003,   // PT_LONG / PtypInteger32
    Float = 0x0004,  // PT_R4
    Double = 0x0005, // PT_DOUBLE
    Currency = 0x0006,
    AppTime = 0x0007, // PT_APPTIME: OLE automation date as a double
    Error = 0x000A,
    Boolean = 0x000B,
    Object = 0x000D,
    I8 = 0x0014,      // PT_I8 / PtypInteger64
    String8 = 0x001E, // PT_STRING8: 8-bit text in the message's code page
    Unicode = 0x001F, // PT_UNICODE
    SysTime = 0x0040, // PT_SYSTIME: FILETIME, 100 ns since 1601-01-01 UTC
    Guid = 0x0048,    // PT_CLSID
    Binary = 0x0102,
    MvI2 = 0x1002,
    MvLong = 0x1003,
    MvDouble = 0x1005,
    MvCurrency = 0x1006,
    MvAppTime = 0x1007,
    MvI8 = 0x1014,
    MvString8 = 0x101E,
    MvUnicode = 0x101F,
    MvSysTime = 0x1040,
    MvGuid = 0x1048,
    MvBinary = 0x1102,
};

constexpr std::uint16_t kMultiValuedFlag = 0x1000;
constexpr bool isMultiValued(PropType t) {
    return (static_cast<std::uint16_t>(t) & kMultiValuedFlag) != 0;
}
// The single-valued type of a multi-valued one (and the type itself otherwise).
constexpr PropType elementType(PropType t) {
    return static_cast<PropType>(static_cast<std::uint16_t>(t) & ~kMultiValuedFlag);
}

using PropTag = std::uint32_t;
constexpr PropTag makeTag(std::uint16_t id, PropType type) {
    return (static_cast<PropTag>(id) << 16) | static_cast<std::uint16_t>(type);
}
constexpr std::uint16_t tagId(PropTag tag) {
    return static_cast<std::uint16_t>(tag >> 16);
}
constexpr PropType tagType(PropTag tag) {
    return static_cast<PropType>(tag & 0xFFFF);
}
// Ids from 0x8000 on name named properties; their meaning comes from the store's name-to-id map.
constexpr std::uint16_t kFirstNamedId = 0x8000;
constexpr bool isNamedId(std::uint16_t id) {
    return id >= kFirstNamedId;
}

// A point in time as MAPI stores it: 100-nanosecond intervals since 1601-01-01 UTC.
struct FileTime {
    std::uint64_t ticks = 0;
    static constexpr std::uint64_t kUnixEpochTicks = 116444736000000000ULL;
    static constexpr std::uint64_t kTicksPerSecond = 10000000ULL;
    // Times before 1601 are 1601; times beyond what the ticks hold are the last tick.
    static FileTime fromUnixSeconds(std::int64_t seconds) {
        constexpr std::int64_t kFirst =
            -static_cast<std::int64_t>(kUnixEpochTicks / kTicksPerSecond);
        constexpr std::int64_t kLast =
            static_cast<std::int64_t>((~0ULL - kUnixEpochTicks) / kTicksPerSecond);
        if (seconds <= kFirst)
            return {0};
        if (seconds > kLast)
            return {~0ULL};
        return {static_cast<std::uint64_t>(seconds - kFirst) * kTicksPerSecond};
    }
    static FileTime now();
    // Whole seconds, rounded toward the epoch; every tick count has one (files may hold any).
    std::int64_t toUnixSeconds() const {
        if (ticks >= kUnixEpochTicks)
            return static_cast<std::int64_t>((ticks - kUnixEpochTicks) / kTicksPerSecond);
        return -static_cast<std::int64_t>((kUnixEpochTicks - ticks) / kTicksPerSecond);
    }
    friend auto operator<=>(const FileTime&, const FileTime&) = default;
};

// A GUID in its in-memory field order; bytes() gives the on-disk (little-endian Data1..3) form.
struct Guid {
    std::uint32_t data1 = 0;
    std::uint16_t data2 = 0;
    std::uint16_t data3 = 0;
    std::array<std::uint8_t, 8> data4{};

    // Parses "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx" (braces optional).
    static std::optional<Guid> parse(std::string_view text);
    static Guid fromBytes(const std::uint8_t* sixteen);
    // A random (version 4) GUID.
    static Guid random();
    std::array<std::uint8_t, 16> bytes() const;
    std::string toString() const;
    friend auto operator<=>(const Guid&, const Guid&) = default;
};

using Binary = std::vector<std::uint8_t>;

// One property value. The held alternative follows the type: I2 int16, Long/Error int32,
// Boolean bool, Float/Double/AppTime double, I8/Currency int64, SysTime FileTime, String8 and
// Unicode std::string, Guid Guid, Binary Binary; multi-valued types hold a vector of those.
class PropValue {
public:
    using Storage =
        std::variant<std::monostate, std::int16_t, std::int32_t, bool, double, std::int64_t,
                     FileTime, std::string, Guid, Binary, std::vector<std::int16_t>,
                     std::vector<std::int32_t>, std::vector<double>, std::vector<std::int64_t>,
                     std::vector<FileTime>, std::vector<std::string>, std::vector<Guid>,
                     std::vector<Binary>>;

    PropValue() = default;
    PropValue(PropType type, Storage value) : type_(type), value_(std::move(value)) {}

    static PropValue i2(std::int16_t v) { return {PropType::I2, v}; }
    static PropValue i4(std::int32_t v) { return {PropType::Long, v}; }
    static PropValue u4(std::uint32_t v) { return {PropType::Long, static_cast<std::int32_t>(v)}; }
    static PropValue boolean(bool v) { return {PropType::Boolean, v}; }
    static PropValue real(double v) { return {PropType::Double, v}; }
    static PropValue i8(std::int64_t v) { return {PropType::I8, v}; }
    static PropValue time(FileTime v) { return {PropType::SysTime, v}; }
    static PropValue unicode(std::string utf8) { return {PropType::Unicode, std::move(utf8)}; }
    static PropValue string8(std::string bytes) { return {PropType::String8, std::move(bytes)}; }
    static PropValue binary(Binary v) { return {PropType::Binary, std::move(v)}; }
    static PropValue guid(Guid v) { return {PropType::Guid, v}; }
    static PropValue multiUnicode(std::vector<std::string> v) {
        return {PropType::MvUnicode, std::move(v)};
    }
    static PropValue multiLong(std::vector<std::int32_t> v) {
        return {PropType::MvLong, std::move(v)};
    }
    static PropValue multiBinary(std::vector<Binary> v) {
        return {PropType::MvBinary, std::move(v)};
    }

    PropType type() const { return type_; }
    const Storage& storage() const { return value_; }
    // True when the held alternative is the one the type calls for.
    bool isWellFormed() const;

    // Typed access; nullopt/nullptr when the value holds something else.
    std::optional<std::int32_t> asInt32() const; // Long, I2, Boolean, Error
    std::optional<std::int64_t> asInt64() const; // I8, Currency and the above
    std::optional<bool> asBool() const;          // Boolean and integers (non-zero)
    std::optional<double> asDouble() const;      // Double, Float, AppTime
    std::optional<FileTime> asTime() const;
    const std::string* asString() const; // Unicode, String8
    const Binary* asBinary() const;
    const Guid* asGuid() const;
    template <class T> const T* get() const { return std::get_if<T>(&value_); }

    friend bool operator==(const PropValue&, const PropValue&) = default;

private:
    PropType type_ = PropType::Unspecified;
    Storage value_;
};

// A named property: a property-set GUID with a numeric id (MNID_ID) or a name (MNID_STRING).
struct NamedProperty {
    Guid propertySet;
    std::variant<std::uint32_t, std::string> name;

    bool isNumeric() const { return std::holds_alternative<std::uint32_t>(name); }
    friend auto operator<=>(const NamedProperty&, const NamedProperty&) = default;
};

// Property sets (MS-OXPROPS).
namespace psets {
extern const Guid kMapi;            // PS_MAPI {00020328-0000-0000-C000-000000000046}
extern const Guid kPublicStrings;   // PS_PUBLIC_STRINGS {00020329-...}
extern const Guid kInternetHeaders; // PS_INTERNET_HEADERS {00020386-...}
extern const Guid kAppointment;     // PSETID_Appointment {00062002-...}
extern const Guid kTask;            // PSETID_Task {00062003-...}
extern const Guid kAddress;         // PSETID_Address {00062004-...}
extern const Guid kCommon;          // PSETID_Common {00062008-...}
extern const Guid kLog;             // PSETID_Log {0006200A-...}
extern const Guid kNote;            // PSETID_Note {0006200E-...}
extern const Guid kMeeting;         // PSETID_Meeting {6ED8DA90-450B-101B-98DA-00AA003F1305}
} // namespace psets

} // namespace parvelle::mapi
