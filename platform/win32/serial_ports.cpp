// Win32 serial ports: the COM ports the system knows, from three sources merged:
// - HKLM\HARDWARE\DEVICEMAP\SERIALCOMM, where serial port drivers enter the ports they serve;
// - the system's device names (QueryDosDevice) of the form COMn, which also holds the ports of
//   virtual port drivers that make only the name;
// - under wine, the comN links of the prefix's dosdevices folder. Wine opens \\.\COMn through
//   such a link, but a link made while wine runs appears in neither of the others.
#include "platform/serial_ports.h"

#include <windows.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

namespace {

constexpr std::size_t dos_names_first_size = 64 * 1024;
constexpr std::size_t dos_names_largest_size = 16 * 1024 * 1024;

// 12 for "COM12" or "com12"; 0 for any other name.
unsigned long com_number(std::string_view name) {
    if (name.size() < 4 || _strnicmp(name.data(), "COM", 3) != 0) {
        return 0;
    }
    unsigned long number = 0;
    const auto [end, error] = std::from_chars(name.data() + 3, name.data() + name.size(), number);
    return error == std::errc{} && end == name.data() + name.size() ? number : 0;
}

// The names found so far, each once whatever its case.
class port_names {
public:
    void add(std::string name) {
        if (name.empty()) {
            return;
        }
        if (com_number(name) != 0) {
            name.replace(0, 3, "COM");  // wine's links are "com3"; the system writes "COM3"
        }
        const auto same = [&name](const std::string& known) {
            return known.size() == name.size() && _stricmp(known.c_str(), name.c_str()) == 0;
        };
        if (std::find_if(names_.begin(), names_.end(), same) == names_.end()) {
            names_.push_back(std::move(name));
        }
    }

    // COMn in the order of n, then any other names in the order of their text.
    std::vector<serial_port_entry> sorted() const {
        std::vector<std::string> names = names_;
        std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
            const unsigned long na = com_number(a);
            const unsigned long nb = com_number(b);
            return std::make_tuple(na == 0, na, std::string_view(a)) <
                   std::make_tuple(nb == 0, nb, std::string_view(b));
        });
        std::vector<serial_port_entry> ports;
        for (std::string& name : names) {
            ports.push_back(serial_port_entry{std::move(name), {}});
        }
        return ports;
    }

private:
    std::vector<std::string> names_;
};

void add_registered_ports(port_names& names) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE,
                      &key) != ERROR_SUCCESS) {
        return;
    }
    // Each value is named after the driver's device (\Device\Serial0) and holds the port's name.
    for (DWORD index = 0;; ++index) {
        char value_name[256];
        DWORD value_name_size = sizeof value_name;
        char data[256];
        DWORD data_size = sizeof data;
        DWORD type = 0;
        const LONG result = RegEnumValueA(key, index, value_name, &value_name_size, nullptr, &type,
                                          reinterpret_cast<BYTE*>(data), &data_size);
        if (result == ERROR_MORE_DATA) {
            continue;  // no port has a name that long
        }
        if (result != ERROR_SUCCESS) {
            break;  // ERROR_NO_MORE_ITEMS, or the key cannot be read further
        }
        if (type == REG_SZ) {
            names.add(std::string(data, strnlen(data, data_size)));
        }
    }
    RegCloseKey(key);
}

void add_device_name_ports(port_names& names) {
    std::vector<char> buffer(dos_names_first_size);
    DWORD length = 0;
    for (;;) {
        length = QueryDosDeviceA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length != 0) {
            break;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER ||
            buffer.size() >= dos_names_largest_size) {
            return;
        }
        buffer.resize(buffer.size() * 2);
    }
    // The names one after another, each ended by a NUL.
    const char* const end = buffer.data() + std::min<std::size_t>(length, buffer.size());
    for (const char* name = buffer.data(); name < end && *name != '\0';) {
        const std::size_t size = strnlen(name, static_cast<std::size_t>(end - name));
        if (com_number(std::string_view(name, size)) != 0) {
            names.add(std::string(name, size));
        }
        name += size + 1;
    }
}

// Wine tells its programs where the prefix is, as "\??\Z:\home\user\.wine"; Windows sets no
// such variable. The folder listing leaves out a link whose device is gone.
void add_wine_prefix_ports(port_names& names) {
    char config[1024];
    const DWORD size = GetEnvironmentVariableA("WINECONFIGDIR", config, sizeof config);
    if (size == 0 || size >= sizeof config) {
        return;
    }
    std::string folder(config, size);
    if (folder.rfind("\\??\\", 0) == 0) {
        folder.erase(0, 4);
    }
    WIN32_FIND_DATAA found;
    const HANDLE search = FindFirstFileA((folder + "\\dosdevices\\com*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
            com_number(found.cFileName) != 0) {
            names.add(found.cFileName);
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

}  // namespace

std::vector<serial_port_entry> list_serial_ports() {
    port_names names;
    add_registered_ports(names);
    add_device_name_ports(names);
    add_wine_prefix_ports(names);
    return names.sorted();
}
