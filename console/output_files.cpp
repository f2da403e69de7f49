// The writer that an upload feeds block by block. The one output file open at a time lives in
// output_file below, the only place that opens, writes and closes it.
#include "console/output_files.h"

#include <cstdio>

#include "platform/file_system.h"
#include "platform/output.h"

namespace {

// The output file between its creation and its last block. An upload that ends early leaves
// it open; it is closed when the next output file is created, or at the end of the run.
class output_file {
public:
    output_file() = default;
    output_file(const output_file&) = delete;
    output_file& operator=(const output_file&) = delete;
    ~output_file() { close(); }

    // Creates the file, replacing one of that name; false when it cannot be created.
    bool create(const std::string& path) {
        close();
        file_ = std::fopen(path.c_str(), "wb");
        return file_ != nullptr;
    }

    // True when every byte has reached the file. Each block is flushed at once, so that a
    // full disk shows at the block that did not fit rather than later at the close.
    bool write(const std::uint8_t* data, std::size_t length) {
        if (file_ == nullptr || data == nullptr) {
            return false;
        }
        return std::fwrite(data, 1, length, file_) == length && std::fflush(file_) == 0;
    }

    void close() {
        if (file_ != nullptr) {
            std::fclose(file_);
            file_ = nullptr;
        }
    }

private:
    std::FILE* file_ = nullptr;
};

output_file current_output;

bool creates(int kind) { return kind == OUT_CREATE || kind == OUT_CREATE_CLOSE; }
bool closes(int kind) { return kind == OUT_CREATE_CLOSE || kind == OUT_WRITE_CLOSE; }

}  // namespace

int write_output(const std::string& folder, int kind, const std::string& name,
                 const std::uint8_t* data, std::size_t length) {
    if (kind < OUT_CREATE || kind > OUT_WRITE_CLOSE) {
        return -1;
    }
    if (creates(kind)) {
        make_output_folder(folder);
        const std::string path = output_path(folder, name);
        if (!current_output.create(path)) {
            out_printf("Could not create %s \n", path.c_str());
            return -1;
        }
    }
    // Also a block with no open file (its creation failed or it was closed) is reported here.
    if (length != 0 && !current_output.write(data, length)) {
        out_printf("Could not write to output file. Lenght %zu\n", length);
    }
    if (closes(kind)) {
        current_output.close();
    }
    return 0;
}

void make_output_folder(const std::string& folder) {
    if (!folder.empty()) {
        make_folder(folder);
    }
}

std::string output_path(const std::string& folder, const std::string& name) {
    // Without a folder the file goes into the current directory, not the root of the drive.
    if (folder.empty()) {
        return name;
    }
    return folder + path_separator() + name;
}
