#include "e2e/program_target.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace {

std::string variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string required(const char* name) {
    std::string value = variable(name);
    if (value.empty()) {
        throw std::runtime_error(std::string(name) + " is not set");
    }
    return value;
}

}  // namespace

std::vector<std::string> program_target::command(const std::vector<std::string>& args) const {
    std::vector<std::string> result;
    if (wine) {
        result.push_back(loader);
    }
    result.push_back(exe);
    result.insert(result.end(), args.begin(), args.end());
    return result;
}

program_target target_from_environment() {
    program_target target;
    target.wine = variable("KESTREL_TARGET") == "wine";
    // Absolute, since the program runs in a folder of its own.
    const auto absolute = [](const std::string& path) {
        return std::filesystem::absolute(path).string();
    };
    target.exe = absolute(required("KESTREL_EXE"));
    if (target.wine) {
        target.loader = absolute(required("WINE"));
        target.prefix = absolute(required("WINEPREFIX"));
    }
    return target;
}
