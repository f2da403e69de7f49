// The writer that an upload feeds block by block. The one output file open at a time lives in
// output_file below, the only place that opens, writes, names and removes it.
#include "files/output_files.h"

#include "platform/file_system.h"
#include "platform/guarded_file.h"
#include "platform/output.h"
#include "platform/visible_text.h"

namespace {

// The output file between its creation and its last block, under its temporary name. Should
// the run end before the last block (an error that ends it, Ctrl-C, SIGTERM, SIGHUP), the
// temporary file is removed on the way out and the removal said in the usual line.
class output_file {
public:
    bool is_open() const noexcept { return file_.is_open(); }
    const std::string& path() const noexcept { return path_; }

    // Creates the file under the temporary name of `path`; false when it cannot be created.
    bool create(const std::string& path) {
        path_ = path;
        return file_.create(unfinished_path(path), removal_line(path));
    }

    // True when every byte has reached the file; a full disk shows at the block that did not
    // fit.
    bool write(const std::uint8_t* data, std::size_t length) { return file_.write(data, length); }

    // Why the last write or finish failed, in the system's words; empty when it did not say.
    const std::string& reason() const noexcept { return file_.error().text; }

    // Closes the file and gives it its own name; false (the temporary file removed) when
    // either fails.
    bool finish() { return file_.finish(path_); }

    // Closes the file and removes it.
    void remove() { file_.remove(); }

    static std::string removal_line(const std::string& path) {
        return "Incomplete file " + path + " removed\n";
    }

private:
    guarded_file file_;
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
            // Which file, and why: a full disk, a file size limit, a removed folder.
            out_printf("Could not write %s: %s\n",
                       visible_text(unfinished_path(current_output.path())).c_str(),
                       current_output.reason().c_str());
            current_output.remove();
        }
        return OUT_NOT_WRITTEN;
    }
    if (closes(kind) && !current_output.finish()) {
        out_printf("Could not name the finished file %s: %s\n",
                   visible_text(current_output.path()).c_str(), current_output.reason().c_str());
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
    out_write(output_file::removal_line(current_output.path()));
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
