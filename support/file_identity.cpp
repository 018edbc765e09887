// A file's identity from the system: device and inode on POSIX, volume serial and file index on
// Windows, one status call (or one handle) per path.
#include "support/file_identity.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <sys/stat.h>
#endif

std::optional<file_identity> identity_of(const std::filesystem::path& path)
{
#ifdef _WIN32
    // No access asked, only attributes: a file locked by another program still answers, and
    // FILE_FLAG_BACKUP_SEMANTICS lets a folder answer too.
    const HANDLE handle = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(handle, &info) != 0;
    CloseHandle(handle);
    if (!known)
        return std::nullopt;
    return file_identity{.volume = info.dwVolumeSerialNumber,
                         .file = std::uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow};
#else
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0)
        return std::nullopt;
    return file_identity{.volume = static_cast<std::uint64_t>(status.st_dev),
                         .file = static_cast<std::uint64_t>(status.st_ino)};
#endif
}
