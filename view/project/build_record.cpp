// The build record, `.skinview-build` in the output folder. It is text, one record a line, each
// line ending in '\n' and its fields separated by one space:
//
//   skinview build record 1                 the first line, and the version: a record whose first
//                                           line differs is of another version and read as none
//   file HASH NAME                          an output build wrote: its name in the output folder
//                                           and the hash of the bytes it wrote
//   stamp SIZE TIME NAME                    the size and modification time (decimal, as the system
//                                           gives them) of an output of a file line, when written
//                                           or found unchanged: while they stay, the output holds
//                                           the bytes of that hash and is not read; without one, or
//                                           when they differ, it is read and hashed
//   source HASH SIZE TIME PATH              a source as the project names it, the hash of its
//                                           bytes, and its size and modification time (decimal)
//                                           when read; unchanged size and time stand for the hash
//   convert KEY HASH...                     a conversion (the source's hash and every option that
//                                           shapes its result) and the hash of each frame's BMP
//   delays KEY MS...                        how long each frame of that conversion shows when
//                                           played, in milliseconds (decimal), as its file says;
//                                           only for a conversion that has one to say
//   untouched KEY HASH CODES...             what a conversion gave before a touch-up layer was laid
//                                           over it: each frame's device codes, two hexadecimal
//                                           digits a pixel, top row first, and the hash of all of
//                                           them; so a new layer is laid with nothing decoded
//
// HASH and KEY are sixteen lower-case hexadecimal digits. NAME and PATH are UTF-8, run to the end
// of the line and may hold spaces. A line of another kind is skipped, and so is a damaged file or
// source line and an untouched line whose codes do not give its hash; a damaged convert line keeps
// the hashes read before the damage, which cannot match a written file unless they are right.
// Whatever is missing is done afresh, so a damaged record costs time, never a wrong output.
#include "view/project/build_record.h"

#include <charconv>
#include <cstdio>
#include <initializer_list>
#include <sstream>

#include "support/file_io.h"
#include "view/common/checksum.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace {

constexpr const char* record_header = "skinview build record 1";

// Sixteen hexadecimal digits.
std::string hex(std::uint64_t value)
{
    char text[20];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

// One line of the record: its fields, separated by spaces.
void add_line(std::string& text, std::initializer_list<std::string> fields)
{
    for (const std::string& field : fields) {
        if (&field != fields.begin())
            text += ' ';
        text += field;
    }
    text += '\n';
}

// The hash of every frame's codes, in order.
std::uint64_t frames_hash(const std::vector<std::vector<std::uint8_t>>& frames)
{
    std::uint64_t hash = hash_start;
    for (const std::vector<std::uint8_t>& codes : frames)
        hash = content_hash(codes, hash);
    return hash;
}

// An untouched line's fields after its key; a damaged one is skipped, and the source decoded.
void read_untouched(std::istringstream& fields, std::uint64_t key, build_record& record)
{
    std::uint64_t hash = 0;
    fields >> std::hex >> hash;
    std::vector<std::vector<std::uint8_t>> frames;
    for (std::string digits; fields >> digits;) {
        if (digits.size() % 2 != 0)
            return;
        std::vector<std::uint8_t>& codes = frames.emplace_back(digits.size() / 2);
        for (std::size_t i = 0; i < codes.size(); ++i) {
            const auto [end, error] = std::from_chars(&digits[i * 2], &digits[i * 2] + 2, codes[i], 16);
            if (error != std::errc{} || end != &digits[i * 2] + 2)
                return;
        }
    }
    if (!fields.bad() && !frames.empty() && frames_hash(frames) == hash)
        record.untouched[key] = std::move(frames);
}

// A stamp line's fields after its kind; a damaged one is skipped, and its output read.
void read_stamp(std::istringstream& fields, build_record& record)
{
    file_stamp stamp{};
    fields >> stamp.size >> stamp.time;
    std::string name;
    fields.get(); // the one space before the name
    std::getline(fields, name);
    if (!fields.fail() && !name.empty())
        record.stamps[name] = stamp;
}

} // namespace

build_record read_record(const std::filesystem::path& path)
{
    build_record record;
    const std::vector<std::uint8_t> bytes = read_file_bytes(path);
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    std::string line;
    if (!std::getline(in, line) || line != record_header)
        return record; // none, or of another version: everything is done afresh
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string kind;
        std::uint64_t hash = 0;
        fields >> kind;
        if (kind == "stamp") {
            read_stamp(fields, record);
            continue;
        }
        fields >> std::hex >> hash >> std::dec;
        if (kind == "file" || kind == "source") {
            source_stamp stamp{.hash = hash};
            if (kind == "source")
                fields >> stamp.size >> stamp.time;
            std::string name;
            fields.get(); // the one space before a name, which may itself hold spaces
            std::getline(fields, name);
            if (fields.fail() || name.empty())
                continue;
            if (kind == "file")
                record.files[name] = hash;
            else
                record.sources[name] = stamp;
        } else if (kind == "convert") {
            std::vector<std::uint64_t>& frames = record.conversions[hash];
            for (std::uint64_t frame = 0; fields >> std::hex >> frame;)
                frames.push_back(frame);
        } else if (kind == "untouched") {
            read_untouched(fields, hash, record);
        } else if (kind == "delays") {
            std::vector<int>& delays = record.delays[hash];
            for (int delay = 0; fields >> delay && delay >= 0;)
                delays.push_back(delay);
        }
    }
    return record;
}

std::string record_text(const build_record& record)
{
    std::string text;
    add_line(text, {record_header});
    for (const auto& [name, hash] : record.files)
        add_line(text, {"file", hex(hash), name});
    for (const auto& [name, stamp] : record.stamps)
        add_line(text, {"stamp", std::to_string(stamp.size), std::to_string(stamp.time), name});
    for (const auto& [path, stamp] : record.sources)
        add_line(text,
                 {"source", hex(stamp.hash), std::to_string(stamp.size), std::to_string(stamp.time), path});
    for (const auto& [key, frames] : record.conversions) {
        std::string hashes;
        for (const std::uint64_t frame : frames)
            hashes += hashes.empty() ? hex(frame) : ' ' + hex(frame);
        add_line(text, {"convert", hex(key), hashes});
    }
    for (const auto& [key, delays] : record.delays) {
        std::string times;
        for (const int delay : delays) {
            times += times.empty() ? "" : " ";
            times += std::to_string(delay);
        }
        add_line(text, {"delays", hex(key), times});
    }
    for (const auto& [key, frames] : record.untouched) {
        std::string codes = hex(frames_hash(frames));
        for (const std::vector<std::uint8_t>& frame : frames) {
            codes += ' ';
            for (const std::uint8_t code : frame)
                codes.append({"0123456789abcdef"[code >> 4], "0123456789abcdef"[code & 15]});
        }
        add_line(text, {"untouched", hex(key), codes});
    }
    return text;
}

std::optional<file_stamp> output_stamp_of(const std::filesystem::path& path)
{
#ifdef _WIN32
    // The system's own times, to 100 ns: the standard library's come from a stat of whole seconds
    // there, in which a file replaced by one of its size within the second looked unchanged.
    // Opened as a link's target, for attributes only, as the POSIX stat below follows links.
    const HANDLE handle = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(handle, &info) != 0 &&
                       (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0 &&
                       GetFileType(handle) == FILE_TYPE_DISK;
    CloseHandle(handle);
    if (!known)
        return std::nullopt;
    return file_stamp{.size = std::uintmax_t{info.nFileSizeHigh} << 32 | info.nFileSizeLow,
                      .time =
                          static_cast<long long>(std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32 |
                                                 info.ftLastWriteTime.dwLowDateTime)};
#else
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
        return std::nullopt;
    return file_stamp{.size = static_cast<std::uintmax_t>(status.st_size),
                      .time = static_cast<long long>(status.st_mtim.tv_sec) * 1000000000LL +
                              status.st_mtim.tv_nsec};
#endif
}
