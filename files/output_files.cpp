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

namespace {

// How many further names are tried when one is taken: enough for any number of runs started
// together, few enough that a folder filled with such names fails in a moment.
constexpr int name_attempts = 1000;

}  // namespace

std::optional<std::string> make_new_folder(const std::string& wanted, os_error& error) {
    if (wanted.empty()) {
        return std::string();
    }
    for (int attempt = 1; attempt <= name_attempts; ++attempt) {
        const std::string name =
            attempt == 1 ? wanted : wanted + "_" + std::to_string(attempt);
        switch (claim_folder(name, error)) {
        case folder_claim::created:
            return name;
        case folder_claim::taken:
            continue;
        case folder_claim::failed:
            return std::nullopt;
        }
    }
    return std::nullopt;
}

void output_writer::place_in(const std::string& run_folder, const std::string& unit_folder) {
    run_folder_ = run_folder;
    unit_folder_ = unit_folder;
    made_.clear();
}

std::optional<std::string> output_writer::folder_for(const std::string& folder,
                                                     os_error& error) {
    // A unit among several has one folder of its own in the run's folder, whatever it is given.
    const std::string wanted =
        unit_folder_.empty() ? folder : output_path(run_folder_, unit_folder_);
    if (const auto made = made_.find(wanted); made != made_.end()) {
        // Made earlier by this writer. Should someone have removed it since, it is made again
        // under the same rules.
        const std::optional<file_status> status = get_file_status(made->second);
        if (made->second.empty() || (status && status->is_directory)) {
            return made->second;
        }
    }
    std::optional<std::string> made = make_new_folder(wanted, error);
    if (made) {
        made_[wanted] = *made;
    }
    return made;
}

bool output_writer::create_temporary() {
    for (int attempt = 1; attempt <= name_attempts; ++attempt) {
        temporary_ = unfinished_path(path_, attempt);
        if (file_.create(temporary_, removal_line(path_))) {
            return true;
        }
        if (!file_.name_taken()) {
            return false;
        }
    }
    return false;
}

result output_writer::name_finished() {
    for (int attempt = 1; attempt <= name_attempts; ++attempt) {
        const std::string name = attempt == 1 ? path_ : numbered_path(path_, attempt);
        if (file_.finish(name)) {
            if (attempt != 1) {
                out_printf("%s is there already: this file is %s\n", visible_text(path_).c_str(),
                           visible_text(name).c_str());
            }
            finished_ = name;
            return result::success();
        }
        if (!file_.name_taken()) {
            break;
        }
    }
    const os_error error = file_.error();
    file_.remove();
    out_printf("Could not name the finished file %s: %s\n", visible_text(path_).c_str(),
               error.text.c_str());
    return failed(OUT_NOT_NAMED, "Could not name the finished file " + path_, error);
}

result output_writer::write(const std::string& folder, int kind, const std::string& name,
                            const std::uint8_t* data, std::size_t length) {
    if (kind < OUT_CREATE || kind > OUT_WRITE_CLOSE) {
        return failed(OUT_NOT_CREATED, "unknown kind of write", {});
    }
    if (creates(kind)) {
        discard();
        os_error error;
        const std::optional<std::string> made = folder_for(folder, error);
        path_ = output_path(made.value_or(folder), name);
        if (!made || !create_temporary()) {
            if (made) {
                error = file_.error();
            }
            out_printf("Could not create %s \n", path_.c_str());
            return failed(OUT_NOT_CREATED, "Could not create " + path_, error);
        }
    }
    // Also a block with no open file (its creation failed or it was closed) is reported here.
    if (!file_.write(data, length)) {
        out_printf("Could not write to output file. Lenght %zu\n", length);
        const os_error error = file_.error();
        if (file_.is_open()) {
            // Which file, and why: a full disk, a file size limit, a removed folder.
            out_printf("Could not write %s: %s\n", visible_text(temporary_).c_str(),
                       error.text.c_str());
            file_.remove();
        }
        return failed(OUT_NOT_WRITTEN, "Could not write " + temporary_, error);
    }
    if (closes(kind)) {
        return name_finished();
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

result output_writer::write_over(const std::string& folder, const std::string& name,
                                 const std::uint8_t* data, std::size_t length) {
    file_.remove();
    return write(folder, OUT_CREATE_CLOSE, name, data, length);
}

std::string output_path(const std::string& folder, const std::string& name) {
    // Without a folder the file goes into the current directory, not the root of the drive.
    if (folder.empty()) {
        return name;
    }
    return folder + path_separator() + name;
}

std::string unfinished_path(const std::string& path, int attempt) {
    return attempt <= 1 ? path + ".part" : path + "." + std::to_string(attempt) + ".part";
}

std::string numbered_path(const std::string& path, int attempt) {
    // The number goes before the extension of the name, never into a folder's name.
    const std::size_t slash = path.find_last_of("/\\");
    const std::size_t name_at = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = path.rfind('.');
    const std::size_t stem_end = dot == std::string::npos || dot <= name_at ? path.size() : dot;
    return path.substr(0, stem_end) + "_" + std::to_string(attempt) + path.substr(stem_end);
}
