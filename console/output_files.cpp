// The writer that an upload feeds block by block. The one output file open at a time lives in
// output_file below, the only place that opens, writes, names and removes it.
#include "console/output_files.h"

#include <cstdio>

#include "platform/file_system.h"
#include "platform/output.h"

namespace {

// The output file between its creation and its last block, under its temporary name.
class output_file {
public:
    output_file() = default;
    output_file(const output_file&) = delete;
    output_file& operator=(const output_file&) = delete;
    // At the end of the run an unfinished file is closed and left for discard_output, which
    // the operations call; a file that was never completed never has its own name.
    ~output_file() { close(); }

    bool is_open() const noexcept { return file_ != nullptr; }
    const std::string& path() const noexcept { return path_; }

    // Creates the file under the temporary name of `path`; false when it cannot be created.
    bool create(const std::string& path) {
        path_ = path;
        file_ = std::fopen(unfinished_path(path).c_str(), "wb");
        return file_ != nullptr;
    }

    // True when every byte has reached the file. Each block is flushed at once, so that a
    // full disk shows at the block that did not fit rather than later at the close.
    bool write(const std::uint8_t* data, std::size_t length) {
        if (file_ == nullptr || (length != 0 && data == nullptr)) {
            return false;
        }
        return std::fwrite(data, 1, length, file_) == length && std::fflush(file_) == 0;
    }

    // Closes the file and gives it its own name; false (the temporary file removed) when
    // either fails.
    bool finish() {
        const bool closed = std::fclose(file_) == 0;
        file_ = nullptr;
        const std::string temporary = unfinished_path(path_);
        if (closed && replace_file(temporary, path_)) {
            return true;
        }
        remove_file(temporary);
        return false;
    }

    // Closes the file and removes it.
    void remove() {
        close();
        remove_file(unfinished_path(path_));
    }

private:
    void close() {
        if (file_ != nullptr) {
            std::fclose(file_);
            file_ = nullptr;
        }
    }

    std::FILE* file_ = nullptr;
    std::string path_;
};

output_file current_output;

bool creates(int kind) { return kind == OUT_CREATE || kind == OUT_CREATE_CLOSE; }
bool closes(int kind) { return kind == OUT_CREATE_CLOSE || kind == OUT_WRITE_CLOSE; }

}  // namespace

int write_output(const std::string& folder, int kind, const std::string& name,
                 const std::uint8_t* data, std::size_t length) {
    if (kind < OUT_CREATE || kind > OUT_WRITE_CLOSE) {
        return OUT_NOT_CREATED;
    }
    if (creates(kind)) {
        discard_output();
        make_output_folder(folder);
        const std::string path = output_path(folder, name);
        if (!current_output.create(path)) {
            out_printf("Could not create %s \n", path.c_str());
            return OUT_NOT_CREATED;
        }
    }
    // Also a block with no open file (its creation failed or it was closed) is reported here.
    if (!current_output.write(data, length)) {
        out_printf("Could not write to output file. Lenght %zu\n", length);
        if (current_output.is_open()) {
            current_output.remove();
        }
        return OUT_NOT_WRITTEN;
    }
    if (closes(kind) && !current_output.finish()) {
        out_printf("Could not name the finished file %s\n", current_output.path().c_str());
        return OUT_NOT_NAMED;
    }
    return 0;
}

bool output_unfinished() { return current_output.is_open(); }

void discard_output() {
    if (!current_output.is_open()) {
        return;
    }
    current_output.remove();
    out_printf("Incomplete file %s removed\n", current_output.path().c_str());
}

int write_whole_output(const std::string& folder, const std::string& name,
                       const std::uint8_t* data, std::size_t length) {
    return write_output(folder, OUT_CREATE_CLOSE, name, data, length);
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

std::string unfinished_path(const std::string& path) { return path + ".part"; }
