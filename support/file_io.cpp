// Whole-file I/O through binary-mode C streams; every failure is fatal.
#include "support/file_io.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "support/fatal.h"

namespace {

// A folder bearing a file's name: Windows will not open it, Linux opens it but cannot read it.
bool is_folder(const char* path)
{
    std::error_code error;
    return std::filesystem::is_directory(path, error);
}

// Says why an opened file has no usable length. Where `long` has 32 bits, seeking to the end of
// a file over 2 GiB fails outright, so the size is asked for again before blaming the seek.
[[noreturn]] void report_bad_length(const char* path)
{
    if (is_folder(path))
        fatal_exit("Read error on file: %s", path);
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (!error && size > max_buffer_length)
        fatal_exit("File too large: %s", path);
    fatal_exit("Can't find file length: %s", path);
}

} // namespace

byte_buffer load_whole_file(const char* path, std::int32_t* length)
{
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        if (is_folder(path))
            fatal_exit("Read error on file: %s", path);
        return nullptr;
    }
    // The file is read in one piece, so a stream buffer would only add system calls and a copy.
    std::setvbuf(file, nullptr, _IONBF, 0);
    if (std::fseek(file, 0, SEEK_END) != 0)
        report_bad_length(path);
    const long end = std::ftell(file);
    if (end < 0 || static_cast<std::uintmax_t>(end) > max_buffer_length)
        report_bad_length(path);
    (void)std::fseek(file, 0, SEEK_SET); // a failure here shows up as a short read

    const auto size = static_cast<std::size_t>(end);
    byte_buffer buffer = alloc_zeroed_or_die(size + 1);
    // An empty file fails here too: no item of zero bytes can be read.
    if (std::fread(buffer.get(), size, 1, file) != 1 || std::fclose(file) != 0)
        fatal_exit("Read error on file: %s", path);
    buffer[size] = 0;
    if (length != nullptr)
        *length = static_cast<std::int32_t>(end);
    return buffer;
}

void save_whole_file(const char* path, std::span<const std::uint8_t> data)
{
    // The data goes to a neighbour first and replaces `path` only once it is complete, so a
    // failed run never costs the user the file they already had.
    const std::string temporary = std::string(path) + ".tmp";
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr)
        fatal_exit("Can't create file: %s", path);
    bool written = !data.empty() && std::fwrite(data.data(), data.size(), 1, file) == 1;
    written = std::fclose(file) == 0 && written;
    if (!written) {
        std::remove(temporary.c_str());
        fatal_exit("Write error on file: %s", path);
    }
    std::error_code error;
    std::filesystem::rename(temporary, path, error); // replaces an existing file, Windows too
    if (error) {
        std::remove(temporary.c_str());
        fatal_exit("Can't create file: %s", path);
    }
}
