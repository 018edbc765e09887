// Whole-file I/O through binary-mode C streams: reads that say what kept a file from being read
// (with skinpack's fatal form over them), and saves that replace a file whole or leave it untouched.
#include "support/file_io.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <random>
#include <system_error>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#endif

#include "support/fatal.h"

namespace fs = std::filesystem;

namespace {

// A folder bearing a file's name: Windows will not open it, Linux opens it but cannot read it.
bool is_folder(const fs::path& path)
{
    std::error_code error;
    return fs::is_directory(path, error);
}

std::FILE* open_for_reading(const fs::path& path)
{
#ifdef _WIN32
    return _wfopen(path.c_str(), L"rb");
#else
    return std::fopen(path.c_str(), "rb");
#endif
}

// What keeps an opened file from having a usable length. Where `long` has 32 bits, seeking to the
// end of a file over 2 GiB fails outright, so the size is asked for again before blaming the seek.
read_outcome bad_length(const fs::path& path, std::uintmax_t limit)
{
    if (is_folder(path))
        return read_outcome::folder;
    std::error_code error;
    const std::uintmax_t size = fs::file_size(path, error);
    return !error && size > limit ? read_outcome::too_large : read_outcome::no_length;
}

// Why `path` could not be opened: no entry of that name, a folder, or an entry that refuses,
// with `open_errno` as its reason. A dangling link is an entry too.
whole_file failed_open(const fs::path& path, int open_errno)
{
    std::error_code error;
    if (fs::symlink_status(path, error).type() == fs::file_type::not_found)
        return {.outcome = read_outcome::missing};
    if (is_folder(path))
        return {.outcome = read_outcome::folder};
    return {.outcome = read_outcome::cannot_open, .open_error{open_errno, std::generic_category()}};
}

// The file that writing through `path` must change: the end of its chain of symbolic links,
// which need not exist yet. A chain too long to follow ends at a link, which is then refused.
fs::path final_target(const fs::path& path)
{
    fs::path target = path;
    std::error_code error;
    for (int hops = 0; hops < 40 && fs::is_symlink(fs::symlink_status(target, error)); ++hops) {
        const fs::path link = fs::read_symlink(target, error);
        if (error)
            break;
        target = link.is_absolute() ? link : target.parent_path() / link;
    }
    return target;
}

// Whether an existing file may be written, asked the way the system answers it (permissions,
// read-only attributes, administrator rights). Appending nothing leaves the file as it is.
bool opens_for_writing(const fs::path& target)
{
#ifdef _WIN32
    std::FILE* file = _wfopen(target.c_str(), L"ab");
#else
    std::FILE* file = std::fopen(target.c_str(), "ab");
#endif
    if (file == nullptr)
        return false;
    std::fclose(file);
    return true;
}

// A new file of this run's own beside `target`, named "TARGET.XXXXXXXX.tmp". A name another run
// or the user already has is never touched: another is drawn instead.
std::FILE* create_temporary(const fs::path& target, fs::path& temporary)
{
    static std::random_device entropy;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char token[16];
        std::snprintf(token, sizeof token, ".%08x.tmp", static_cast<unsigned>(entropy()));
        temporary = target;
        temporary += token;
        errno = 0;
        if (std::FILE* file = create_new_file(temporary))
            return file;
        if (errno != EEXIST)
            return nullptr;
    }
    return nullptr;
}

} // namespace

std::FILE* create_new_file(const fs::path& path)
{
#ifdef _WIN32
    const int descriptor =
        _wopen(path.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
    return descriptor < 0 ? nullptr : _fdopen(descriptor, "wb");
#else
    return std::fopen(path.c_str(), "wbx");
#endif
}

whole_file read_whole_file(const fs::path& path, std::uintmax_t limit)
{
    limit = std::min<std::uintmax_t>(limit, max_buffer_length);
    errno = 0;
    std::FILE* file = open_for_reading(path);
    if (file == nullptr)
        return failed_open(path, errno);
    // The file is read in one piece, so a stream buffer would only add system calls and a copy.
    std::setvbuf(file, nullptr, _IONBF, 0);
    const long end = std::fseek(file, 0, SEEK_END) == 0 ? std::ftell(file) : -1;
    if (end < 0 || static_cast<std::uintmax_t>(end) > limit) {
        std::fclose(file);
        return {.outcome = bad_length(path, limit)};
    }
    (void)std::fseek(file, 0, SEEK_SET); // a failure here shows up as a short read

    const auto size = static_cast<std::size_t>(end);
    whole_file whole{.outcome = read_outcome::read, .bytes = alloc_zeroed(size + 1)};
    if (!whole.bytes) {
        std::fclose(file);
        return {.outcome = read_outcome::no_memory};
    }
    // An empty file fails here too: no item of zero bytes can be read.
    const bool read = std::fread(whole.bytes.get(), size, 1, file) == 1;
    if (std::fclose(file) != 0 || !read)
        return {.outcome = is_folder(path) ? read_outcome::folder : read_outcome::read_failed};
    whole.length = static_cast<std::int32_t>(end);
    return whole;
}

byte_buffer loaded_or_die(whole_file file, const char* path, std::int32_t* length)
{
    switch (file.outcome) {
    case read_outcome::read:
        break;
    case read_outcome::missing:
        return nullptr;
    case read_outcome::no_length:
        fatal_exit("Can't find file length: %s", path);
    case read_outcome::too_large:
        fatal_exit("File too large: %s", path);
    case read_outcome::no_memory:
        fatal_exit("Out of memory");
    case read_outcome::cannot_open:
    case read_outcome::folder:
    case read_outcome::read_failed:
        fatal_exit("Read error on file: %s", path);
    }
    if (length != nullptr)
        *length = file.length;
    return std::move(file.bytes);
}

byte_buffer load_whole_file(const char* path, std::int32_t* length)
{
    return loaded_or_die(read_whole_file(path), path, length);
}

std::vector<std::uint8_t> read_file_bytes(const fs::path& path, std::uintmax_t limit)
{
    const whole_file file = read_whole_file(path, limit);
    if (file.outcome != read_outcome::read)
        return {};
    return {file.bytes.get(), file.bytes.get() + file.length};
}

save_outcome replace_file(const fs::path& path, std::span<const std::uint8_t> data)
{
    return replace_file_if(path, data, nullptr);
}

save_outcome replace_file_if(const fs::path& path, std::span<const std::uint8_t> data,
                             const std::function<bool()>& still_wanted)
{
    const fs::path target = final_target(path);
    std::error_code error;
    const fs::file_status old = fs::symlink_status(target, error);
    if (fs::is_symlink(old) || (fs::exists(old) && !opens_for_writing(target)))
        return save_outcome::cannot_create;

    fs::path temporary;
    std::FILE* file = create_temporary(target, temporary);
    if (file == nullptr)
        return save_outcome::cannot_create;
    bool written = !data.empty() && std::fwrite(data.data(), data.size(), 1, file) == 1;
    written = std::fclose(file) == 0 && written; // a full disk may only show when the buffer is flushed
    // Some C runtimes let a short final write pass as complete; the size on disk has the last word.
    written = written && fs::file_size(temporary, error) == data.size() && !error;
    if (!written) {
        fs::remove(temporary, error);
        return save_outcome::write_failed;
    }
    if (still_wanted && !still_wanted()) {
        fs::remove(temporary, error);
        return save_outcome::declined;
    }
    if (fs::exists(old))
        fs::permissions(temporary, old.permissions(), error);
    fs::rename(temporary, target, error); // replaces an existing file, Windows too
    if (error) {
        fs::remove(temporary, error);
        return save_outcome::cannot_create;
    }
    return save_outcome::saved;
}

void save_whole_file(const char* path, std::span<const std::uint8_t> data)
{
    switch (replace_file(path, data)) {
    case save_outcome::saved:
        return;
    case save_outcome::cannot_create:
    case save_outcome::declined: // never asked for here
        fatal_exit("Can't create file: %s", path);
    case save_outcome::write_failed:
        fatal_exit("Write error on file: %s", path);
    }
}
