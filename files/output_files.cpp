// The writer that an upload feeds block by block: the only place that opens, writes, names and
// removes an output file.
#include "files/output_files.h"

#include <utility>

#include "platform/file_system.h"
#include "platform/output.h"
#include "platform/visible_text.h"

namespace {

bool creates(int kind) { return kind == OUT_CREATE || kind == OUT_CREATE_CLOSE; }
bool closes(int kind) { return kind == OUT_CREATE_CLOSE || kind == OUT_WRITE_CLOSE; }

result failed(int code, std::string message, const os_error& system) {
    return result::failure(result_kind::io_failed, std::move(message), system, code);
}

}  // namespace

std::string output_writer::removal_line(const std::string& path) {
    return "Incomplete file " + path + " removed\n";
}

result output_writer::write(const std::string& folder, int kind, const std::string& name,
                            const std::uint8_t* data, std::size_t length) {
    if (kind < OUT_CREATE || kind > OUT_WRITE_CLOSE) {
        return failed(OUT_NOT_CREATED, "unknown kind of write", {});
    }
    if (creates(kind)) {
        discard();
        make_output_folder(folder);
        path_ = output_path(folder, name);
        if (!file_.create(unfinished_path(path_), removal_line(path_))) {
            out_printf("Could not create %s \n", path_.c_str());
            return failed(OUT_NOT_CREATED, "Could not create " + path_, file_.error());
        }
    }
    // Also a block with no open file (its creation failed or it was closed) is reported here.
    if (!file_.write(data, length)) {
        out_printf("Could not write to output file. Lenght %zu\n", length);
        const os_error error = file_.error();
        if (file_.is_open()) {
            // Which file, and why: a full disk, a file size limit, a removed folder.
            out_printf("Could not write %s: %s\n", visible_text(unfinished_path(path_)).c_str(),
                       error.text.c_str());
            file_.remove();
        }
        return failed(OUT_NOT_WRITTEN, "Could not write " + unfinished_path(path_), error);
    }
    if (closes(kind) && !file_.finish(path_)) {
        out_printf("Could not name the finished file %s: %s\n", visible_text(path_).c_str(),
                   file_.error().text.c_str());
        return failed(OUT_NOT_NAMED, "Could not name the finished file " + path_, file_.error());
    }
    return result::success();
}

void output_writer::discard() {
    if (!file_.is_open()) {
        return;
    }
    file_.remove();
    out_write(removal_line(path_));
}

result output_writer::write_whole(const std::string& folder, const std::string& name,
                                  const std::uint8_t* data, std::size_t length) {
    return write(folder, OUT_CREATE_CLOSE, name, data, length);
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
