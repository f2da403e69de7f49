// A fresh folder of its own for a test that works with files: made and entered when the object
// is made, left and removed with everything in it when it goes.
#pragma once

#include <filesystem>
#include <random>
#include <string>
#include <system_error>

class TempFolder {
public:
    explicit TempFolder(const std::string& prefix = "kestrel_test_")
        : home_(std::filesystem::current_path()),
          folder_(std::filesystem::temp_directory_path() /
                  (prefix + std::to_string(std::random_device{}()))) {
        std::filesystem::create_directory(folder_);
        std::filesystem::current_path(folder_);
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::current_path(home_, ignored);
        std::filesystem::remove_all(folder_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return folder_; }

private:
    std::filesystem::path home_;
    std::filesystem::path folder_;
};
