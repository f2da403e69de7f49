// Win32 files and folders: _stat64, the command interpreter's "md", and '\' between folder
// and name.
#include "platform/file_system.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdio>
#include <cstdlib>

#include <windows.h>

namespace {

// Characters that the command interpreter would not take literally inside double quotes
// ('%' expands variables) or that end the quotes; such a name is not passed to "md".
bool safe_in_quotes(const std::string& name) {
    for (const char c : name) {
        if (c == '"' || c == '%' || static_cast<unsigned char>(c) < 0x20) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::optional<file_status> get_file_status(const std::string& name) {
    struct _stat64 status {};
    if (_stat64(name.c_str(), &status) != 0) {
        return std::nullopt;
    }
    return file_status{static_cast<std::uint64_t>(status.st_size),
                       static_cast<std::time_t>(status.st_mtime), (status.st_mode & _S_IFDIR) != 0};
}

void make_folder(const std::string& name) {
    if (name.empty() || !safe_in_quotes(name)) {
        return;
    }
    // The command's own output, and its complaint about an existing folder, are silenced; its
    // outcome is not needed, since a missing folder shows when the file cannot be created.
    const std::string command = "md \"" + name + "\" >nul 2>&1";
    (void)std::system(command.c_str());
}

bool replace_file(const std::string& from, const std::string& to) {
    // rename() on Windows refuses an existing target; MoveFileEx replaces it in one step.
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool remove_file(const std::string& name) { return std::remove(name.c_str()) == 0; }

char path_separator() { return '\\'; }
