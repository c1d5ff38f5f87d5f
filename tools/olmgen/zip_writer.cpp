#include "olmgen/zip_writer.h"

#include <zlib.h>

#include <algorithm>
#include <array>

namespace parvelle::olmgen {

namespace {

constexpr std::uint16_t kVersion = 45;          // ZIP64
constexpr std::uint16_t kMadeByUnix = 3 << 8;   // host system in the high byte
constexpr std::uint16_t kUtf8Names = 0x0800;    // general-purpose flag bit 11
constexpr std::uint32_t kNoSize32 = 0xFFFFFFFF; // "see the ZIP64 extra field"
constexpr std::uint16_t kZip64ExtraId = 0x0001;
constexpr std::uint16_t kLocalZip64DataSize = 16;   // uncompressed, compressed
constexpr std::uint16_t kCentralZip64DataSize = 24; // uncompressed, compressed, header offset
constexpr std::uint32_t kDirectoryAttributes = (0040755u << 16) | 0x10; // drwxr-xr-x, MS-DOS dir
constexpr std::uint32_t kFileAttributes = 0100644u << 16;               // -rw-r--r--

// Little-endian field encoding into a growing byte string.
class Bytes {
public:
    Bytes& u16(std::uint16_t v) { return le(v, 2); }
    Bytes& u32(std::uint32_t v) { return le(v, 4); }
    Bytes& u64(std::uint64_t v) { return le(v, 8); }
    Bytes& raw(std::string_view s) {
        out_.append(s);
        return *this;
    }
    const std::string& str() const { return out_; }

private:
    Bytes& le(std::uint64_t v, int n) {
        for (int i = 0; i < n; ++i) {
            out_.push_back(static_cast<char>(v >> (8 * i)));
        }
        return *this;
    }
    std::string out_;
};

// Streams one member's data: CRC-32 and sizes over everything, optional raw deflate, and a cap
// on how many output bytes reach the file (for cut-off members).
class DataStream {
public:
    DataStream(Compression compression, std::optional<std::uint64_t> cap,
               const std::function<void(std::string_view)>& emit)
        : compression_(compression), cap_(cap), emit_(emit) {
        if (compression_ == Compression::Deflated) {
            ok_ = deflateInit2(&z_, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8,
                               Z_DEFAULT_STRATEGY) == Z_OK;
        }
    }
    ~DataStream() {
        if (compression_ == Compression::Deflated && ok_) {
            deflateEnd(&z_);
        }
    }
    DataStream(const DataStream&) = delete;
    DataStream& operator=(const DataStream&) = delete;

    void add(std::string_view chunk) {
        crc_ = ::crc32(crc_, reinterpret_cast<const Bytef*>(chunk.data()),
                       static_cast<uInt>(chunk.size()));
        uncompressed_ += chunk.size();
        if (compression_ == Compression::Stored) {
            out(chunk);
        } else {
            deflateChunk(chunk, Z_NO_FLUSH);
        }
    }
    bool finish() {
        if (compression_ == Compression::Deflated) {
            deflateChunk({}, Z_FINISH);
        }
        return ok_;
    }
    std::uint32_t crc() const { return static_cast<std::uint32_t>(crc_); }
    std::uint64_t uncompressed() const { return uncompressed_; }
    std::uint64_t compressed() const { return compressed_; }

private:
    void deflateChunk(std::string_view chunk, int flush) {
        if (!ok_) {
            return;
        }
        z_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(chunk.data()));
        z_.avail_in = static_cast<uInt>(chunk.size());
        std::array<char, 64 * 1024> buffer;
        int status = Z_OK;
        do {
            z_.next_out = reinterpret_cast<Bytef*>(buffer.data());
            z_.avail_out = static_cast<uInt>(buffer.size());
            status = deflate(&z_, flush);
            if (status == Z_STREAM_ERROR) {
                ok_ = false;
                return;
            }
            out(std::string_view(buffer.data(), buffer.size() - z_.avail_out));
        } while (z_.avail_out == 0 || (flush == Z_FINISH && status != Z_STREAM_END));
    }
    void out(std::string_view bytes) {
        if (cap_) {
            const std::uint64_t room = *cap_ > compressed_ ? *cap_ - compressed_ : 0;
            emit_(bytes.substr(
                0, static_cast<std::size_t>(std::min<std::uint64_t>(room, bytes.size()))));
        } else {
            emit_(bytes);
        }
        compressed_ += bytes.size();
    }

    Compression compression_;
    std::optional<std::uint64_t> cap_;
    const std::function<void(std::string_view)>& emit_;
    z_stream z_{};
    bool ok_ = true;
    uLong crc_ = ::crc32(0L, Z_NULL, 0);
    std::uint64_t uncompressed_ = 0;
    std::uint64_t compressed_ = 0;
};

} // namespace

ZipWriter::ZipWriter(const std::filesystem::path& path, DosTime stamp)
    : path_(path), stamp_(stamp) {
    out_.open(path, std::ios::binary | std::ios::trunc);
    if (!out_) {
        fail("cannot create " + path.string());
    }
}

ZipWriter::~ZipWriter() {
    if (!closed_) {
        out_.close();
    }
}

void ZipWriter::fail(std::string message) {
    if (error_.empty()) {
        error_ = std::move(message);
    }
}

void ZipWriter::put(std::string_view bytes) {
    if (!error_.empty() || bytes.empty()) {
        return;
    }
    out_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out_) {
        fail("cannot write " + path_.string());
        return;
    }
    position_ += bytes.size();
}

void ZipWriter::writeRaw(std::string_view bytes) {
    put(bytes);
}

void ZipWriter::writeLocalHeader(const MemberRecord& member, const MemberOptions& options) {
    Bytes header;
    header.u32(options.signature)
        .u16(options.versionNeeded)
        .u16(kUtf8Names)
        .u16(static_cast<std::uint16_t>(member.compression))
        .u16(stamp_.time)
        .u16(stamp_.date)
        .u32(options.crc.value_or(member.crc))
        .u32(kNoSize32)
        .u32(kNoSize32)
        .u16(static_cast<std::uint16_t>(member.name.size()))
        .u16(static_cast<std::uint16_t>(4 + kLocalZip64DataSize + options.extraFieldTail.size()))
        .raw(member.name)
        .u16(kZip64ExtraId)
        .u16(kLocalZip64DataSize)
        .u64(member.uncompressedSize)
        .u64(member.compressedSize)
        .raw(options.extraFieldTail);
    put(header.str());
}

// The header went out before its data; now that CRC and sizes are known, write them in place.
void ZipWriter::patchLocalHeader(const MemberRecord& member, const MemberOptions& options) {
    if (!error_.empty()) {
        return;
    }
    const auto patch = [&](std::uint64_t offset, const std::string& bytes) {
        out_.seekp(static_cast<std::streamoff>(offset));
        out_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    };
    patch(member.headerOffset + 14, Bytes().u32(options.crc.value_or(member.crc)).str());
    patch(member.headerOffset + 30 + member.name.size() + 4,
          Bytes().u64(member.uncompressedSize).u64(member.compressedSize).str());
    out_.seekp(static_cast<std::streamoff>(position_));
    if (!out_) {
        fail("cannot write " + path_.string());
    }
}

bool ZipWriter::acceptName(std::string_view name) {
    if (name.size() > 0xFFFF) {
        fail("member name longer than 65535 bytes: " + std::string(name.substr(0, 64)));
        return false;
    }
    return true;
}

void ZipWriter::addDirectory(std::string_view name, const MemberOptions& options) {
    if (!acceptName(name)) {
        return;
    }
    MemberRecord member;
    member.name = std::string(name);
    member.headerOffset = position_;
    member.isDirectory = true;
    member.inCentralDirectory = options.inCentralDirectory;
    member.crc = options.crc.value_or(0);
    writeLocalHeader(member, options);
    member.dataOffset = position_;
    members_.push_back(std::move(member));
}

void ZipWriter::addFile(std::string_view name, const Payload& data, const MemberOptions& options) {
    if (!acceptName(name)) {
        return;
    }
    MemberRecord member;
    member.name = std::string(name);
    member.headerOffset = position_;
    member.compression = options.compression;
    member.inCentralDirectory = options.inCentralDirectory;
    writeLocalHeader(member, options);
    member.dataOffset = position_;

    const std::function<void(std::string_view)> emit = [this](std::string_view bytes) {
        put(bytes);
    };
    DataStream stream(options.compression, options.dataBytesWritten, emit);
    data.forEachChunk([&](std::string_view chunk) { stream.add(chunk); });
    if (!stream.finish()) {
        fail("cannot deflate " + member.name);
    }
    member.crc = options.crc.value_or(stream.crc());
    member.uncompressedSize = stream.uncompressed();
    member.compressedSize = stream.compressed();
    patchLocalHeader(member, options);
    members_.push_back(std::move(member));
}

void ZipWriter::writeCentralDirectory() {
    const std::uint64_t start = position_;
    std::uint64_t entries = 0;
    for (const MemberRecord& member : members_) {
        if (!member.inCentralDirectory) {
            continue;
        }
        ++entries;
        Bytes entry;
        entry.u32(0x02014b50)
            .u16(kMadeByUnix | kVersion)
            .u16(kVersion)
            .u16(kUtf8Names)
            .u16(static_cast<std::uint16_t>(member.compression))
            .u16(stamp_.time)
            .u16(stamp_.date)
            .u32(member.crc)
            .u32(kNoSize32)
            .u32(kNoSize32)
            .u16(static_cast<std::uint16_t>(member.name.size()))
            .u16(4 + kCentralZip64DataSize)
            .u16(0) // comment length
            .u16(0) // disk number
            .u16(0) // internal attributes
            .u32(member.isDirectory ? kDirectoryAttributes : kFileAttributes)
            .u32(kNoSize32)
            .raw(member.name)
            .u16(kZip64ExtraId)
            .u16(kCentralZip64DataSize)
            .u64(member.uncompressedSize)
            .u64(member.compressedSize)
            .u64(member.headerOffset);
        put(entry.str());
    }
    const std::uint64_t size = position_ - start;
    const std::uint64_t zip64End = position_;

    // Like Outlook, always end with the ZIP64 records and a classic record that defers to them.
    Bytes end;
    end.u32(0x06064b50)
        .u64(44) // size of the rest of this record
        .u16(kMadeByUnix | kVersion)
        .u16(kVersion)
        .u32(0) // this disk
        .u32(0) // disk with the central directory
        .u64(entries)
        .u64(entries)
        .u64(size)
        .u64(start);
    end.u32(0x07064b50).u32(0).u64(zip64End).u32(1);
    end.u32(0x06054b50)
        .u16(0xFFFF)
        .u16(0xFFFF)
        .u16(0xFFFF)
        .u16(0xFFFF)
        .u32(kNoSize32)
        .u32(kNoSize32)
        .u16(0);
    put(end.str());
}

bool ZipWriter::finish() {
    if (closed_) {
        return error_.empty();
    }
    writeCentralDirectory();
    return closeWithoutCentralDirectory();
}

bool ZipWriter::closeWithoutCentralDirectory() {
    if (!closed_) {
        closed_ = true;
        out_.close();
        if (!out_) {
            fail("cannot close " + path_.string());
        }
    }
    return error_.empty();
}

} // namespace parvelle::olmgen
