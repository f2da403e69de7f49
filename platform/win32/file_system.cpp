// Win32 files and folders: _stat64 and device names (kind), file indexes (identity),
// CreateDirectory and RemoveDirectory, and '\' between folder and name.
#include "platform/file_system.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cctype>
#include <cstdio>
#include <optional>

#include <windows.h>

namespace {

bool equal_ignoring_case(const std::string& a, const char* b) {
    std::size_t k = 0;
    for (; k < a.size() && b[k] != '\0'; ++k) {
        if (std::toupper(static_cast<unsigned char>(a[k])) != b[k]) {
            return false;
        }
    }
    return k == a.size() && b[k] == '\0';
}

// A name that Windows opens as a device wherever it stands: "\\.\COM3", or a last component
// that is CON, PRN, AUX, NUL, COM1-COM9 or LPT1-LPT9, with any extension ("nul.json" too).
bool is_device_name(const std::string& path) {
    if (path.rfind("\\\\.\\", 0) == 0 || path.rfind("//./", 0) == 0) {
        return true;
    }
    const std::size_t slash = path.find_last_of("\\/:");
    std::string base = path.substr(slash == std::string::npos ? 0 : slash + 1);
    base = base.substr(0, base.find('.'));
    while (!base.empty() && base.back() == ' ') {
        base.pop_back();
    }
    for (const char* device : {"CON", "PRN", "AUX", "NUL"}) {
        if (equal_ignoring_case(base, device)) {
            return true;
        }
    }
    if (base.size() == 4 && base[3] >= '1' && base[3] <= '9') {
        const std::string stem = base.substr(0, 3);
        return equal_ignoring_case(stem, "COM") || equal_ignoring_case(stem, "LPT");
    }
    return false;
}

// The volume and file index of an existing file or folder.
std::optional<BY_HANDLE_FILE_INFORMATION> file_identity(const std::string& name) {
    constexpr DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE file = CreateFileA(name.c_str(), 0, share, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const BOOL ok = GetFileInformationByHandle(file, &info);
    CloseHandle(file);
    if (ok == 0) {
        return std::nullopt;
    }
    return info;
}

}  // namespace

std::optional<file_status> get_file_status(const std::string& name) {
    if (is_device_name(name)) {
        // Opened as the device whether or not a file of that name is there.
        return file_status{0, 0, false, file_kind::other};
    }
    struct _stat64 status {};
    if (_stat64(name.c_str(), &status) != 0) {
        return std::nullopt;
    }
    const bool directory = (status.st_mode & _S_IFDIR) != 0;
    const file_kind kind = directory                          ? file_kind::directory
                           : (status.st_mode & _S_IFREG) != 0 ? file_kind::regular
                                                              : file_kind::other;
    return file_status{static_cast<std::uint64_t>(status.st_size),
                       static_cast<std::time_t>(status.st_mtime), directory, kind};
}

bool same_file(const std::string& a, const std::string& b) {
    const std::optional<BY_HANDLE_FILE_INFORMATION> first = file_identity(a);
    const std::optional<BY_HANDLE_FILE_INFORMATION> second = file_identity(b);
    return first && second && first->dwVolumeSerialNumber == second->dwVolumeSerialNumber &&
           first->nFileIndexHigh == second->nFileIndexHigh &&
           first->nFileIndexLow == second->nFileIndexLow;
}

folder_claim claim_folder(const std::string& name, os_error& error) {
    if (CreateDirectoryA(name.c_str(), nullptr) != 0) {
        return folder_claim::created;
    }
    error = last_os_error();
    return is_name_taken(error) ? folder_claim::taken : folder_claim::failed;
}

void remove_empty_folder(const std::string& name) { (void)RemoveDirectoryA(name.c_str()); }

bool replace_file(const std::string& from, const std::string& to) {
    // rename() on Windows refuses an existing target; MoveFileEx replaces it in one step.
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool remove_file(const std::string& name) { return std::remove(name.c_str()) == 0; }

char path_separator() { return '\\'; }
