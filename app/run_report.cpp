#include "app/run_report.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>

#include "app/version.h"
#include "console/banner.h"
#include "files/output_files.h"
#include "files/written_files.h"
#include "platform/exit_file.h"
#include "platform/file_system.h"
#include "platform/guarded_file.h"
#include "platform/output.h"
#include "platform/visible_text.h"
#include "protocol/bank_records.h"
#include "protocol/fixed_text.h"
#include "protocol/loader_state.h"
#include "protocol/unit.h"

std::string hex32(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

namespace {

using json = report_json;

// Every text goes in as valid UTF-8, whatever bytes the unit, the file system or the command
// line gave it: JSON holds nothing else, and a reader must be able to parse every report.
std::string text_of(std::string_view text) { return utf8_text(text); }

template <std::size_t N>
std::string text_of(const char (&field)[N]) {
    return utf8_text(field_text(field));
}

json image_json(const image_descriptor& image, const image_notes& note) {
    json j;
    j["valid"] = image.status == 0;
    j["name"] = text_of(image.file_name);
    j["file_date"] = text_of(image.file_date);
    j["download_date"] = text_of(image.download_date);
    j["user"] = text_of(note.user);
    j["comment"] = text_of(note.comment);
    j["crc32"] = hex32(image.crc);
    j["size"] = image.size;
    j["address"] = hex32(image.flash_address);
    return j;
}

json banks_json(const unit& u) {
    json list = json::array();
    for (std::size_t k = 0; k < bank_records; ++k) {
        json bank;
        bank["bank"] = k;
        bank["reported"] = bank_reported(u, k);
        if (bank_reported(u, k)) {
            bank["image"] = image_json(u.banks[k].fpga, u.notes[k].fpga);
            bank["software"] = image_json(u.banks[k].software, u.notes[k].software);
        }
        list.push_back(std::move(bank));
    }
    return list;
}

json operations_json(const run_journal& journal) {
    json list = json::array();
    for (const journal_entry& entry : journal.entries()) {
        json op;
        op["operation"] = text_of(entry.operation);
        if (!entry.file.empty()) {
            op["file"] = text_of(entry.file);
        }
        if (!entry.target.empty()) {
            op["target"] = text_of(entry.target);
        }
        op["outcome"] = text_of(entry.outcome);
        if (!entry.message.empty()) {
            op["message"] = text_of(entry.message);
        }
        if (entry.blocks_read_again != 0) {
            op["blocks_read_again"] = entry.blocks_read_again;
        }
        list.push_back(std::move(op));
    }
    return list;
}

json files_json(const unit& u) {
    json list = json::array();
    for (const written_file& file : u.written) {
        list.push_back(
            {{"path", text_of(file.path)}, {"size", file.size}, {"crc32", hex32(file.crc32)}});
    }
    return list;
}

constexpr const char* status_key = "\"exit_status\": ";

json program_json() {
    json report;
    report["program"] = "Kestrel";
    report["version"] = kestrel_version;
    report["banner"] = std::string(kestrel_banner).substr(2);
    return report;
}

std::string dumped(const json& report) {
    // Every text is valid UTF-8 by now; should one not be, it is mended rather than thrown on.
    return report.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

// Keeps the document ready to be written on the way out, with the status the process then
// ends with in place of the last "exit_status": null.
void prepare_on_exit(const std::string& path, const std::string& text) {
    const std::string placeholder = std::string(status_key) + "null";
    const std::size_t at = text.rfind(placeholder);
    if (at == std::string::npos) {
        return;
    }
    const std::size_t value_at = at + std::strlen(status_key);
    prepare_exit_file(path, text.substr(0, value_at), text.substr(value_at + 4));
}

// Writes a document rendered by `render`; says why not and returns false when it fails.
template <typename Render>
bool write_rendered(const std::string& path, Render render) {
    std::optional<std::string> error;
    try {
        error = write_report(path, render());
    } catch (const std::exception& failure) {
        error = failure.what();
    }
    if (error) {
        out_printf("Report %s could not be written: %s\n", visible_text(path).c_str(),
                   error->c_str());
    }
    return !error;
}

// Temporary names tried for a report before giving up.
constexpr int report_name_attempts = 100;

}  // namespace

report_json unit_report(const report_link& link, const unit& u, const run_journal& journal) {
    json report;
    if (link.serial) {
        report["link"] = {{"kind", "serial"}, {"port", text_of(link.port)}};
    } else {
        report["link"] = {{"kind", "card"}, {"board_type", link.board_type}};
    }
    report["banks"] = banks_json(u);
    report["operations"] = operations_json(journal);
    report["files"] = files_json(u);
    return report;
}

report_json rack_entry(const std::string& port, const report_link& link, const unit& u,
                       const run_journal& journal, std::optional<std::uint8_t> connected_bank,
                       std::optional<int> status) {
    json entry;
    entry["port"] = text_of(port);
    entry["connected_bank"] = connected_bank ? json(*connected_bank) : json(nullptr);
    entry.update(unit_report(link, u, journal));
    entry["status"] = status ? json(*status) : json(nullptr);
    entry["verdict"] = status ? json(unit_verdict(*status, journal.entries())) : json(nullptr);
    return entry;
}

std::string render_report(const report_link& link, const unit& u, const run_journal& journal,
                          std::optional<int> exit_status) {
    json report = program_json();
    report.update(unit_report(link, u, journal));
    report["exit_status"] = exit_status ? json(*exit_status) : json(nullptr);
    return dumped(report);
}

std::string render_rack_report(const std::vector<report_json>& units,
                               std::optional<int> exit_status) {
    json report = program_json();
    report["units"] = units;
    report["exit_status"] = exit_status ? json(*exit_status) : json(nullptr);
    return dumped(report);
}

std::optional<std::string> write_report(const std::string& path, const std::string& text) {
    // The temporary name must be new: another run's file or a link put there is never written
    // through. The report then takes the place of whatever has its name, in one step.
    guarded_file file;
    for (int attempt = 1; !file.create(unfinished_path(path, attempt), {}); ++attempt) {
        if (!file.name_taken() || attempt == report_name_attempts) {
            return file.error().text;
        }
    }
    if (!file.write(reinterpret_cast<const std::uint8_t*>(text.data()), text.size())) {
        const std::string reason = file.error().text;
        file.remove();
        return reason;
    }
    if (!file.finish(path, true)) {
        return file.error().text;
    }
    return std::nullopt;
}

bool write_run_report(const std::string& path, const report_link& link, const unit& u,
                      const run_journal& journal, int exit_status) {
    return write_rendered(path, [&] { return render_report(link, u, journal, exit_status); });
}

bool write_rack_report(const std::string& path, const std::vector<report_json>& units,
                       int exit_status) {
    return write_rendered(path, [&] { return render_rack_report(units, exit_status); });
}

void prepare_report_on_exit(const std::string& path, const report_link& link, const unit& u,
                            const run_journal& journal) {
    prepare_on_exit(path, render_report(link, u, journal, std::nullopt));
}

void prepare_rack_report_on_exit(const std::string& path, const std::vector<report_json>& units) {
    prepare_on_exit(path, render_rack_report(units, std::nullopt));
}

namespace {

// What is wrong with `path` as a file the run writes besides its images: no name, no folder, a
// folder, with `regular_only` a device, FIFO or socket, or a file the run loads or a port it
// opens.
std::optional<std::string> check_own_file(const std::string& path,
                                          const report_neighbours& neighbours,
                                          bool regular_only) {
    if (path.empty()) {
        return std::string("no file name given");
    }
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (!folder.empty()) {
        const std::optional<file_status> status = get_file_status(folder.string());
        if (!status || !status->is_directory) {
            return "there is no folder " + visible_text(folder.string());
        }
    }
    const std::optional<file_status> status = get_file_status(path);
    if (status && status->kind == file_kind::directory) {
        return std::string("it is a folder");
    }
    if (status && regular_only && status->kind != file_kind::regular) {
        return std::string("it is not a regular file (a device, a FIFO or a socket)");
    }
    for (const auto& [option, file] : neighbours.loads) {
        if (same_file(path, file)) {
            return "it is the file to load with " + option;
        }
    }
    for (const auto& [name, device] : neighbours.ports) {
        if (same_file(path, device)) {
            return "it is the serial port " + visible_text(name);
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> check_report_path(const std::string& path,
                                             const report_neighbours& neighbours) {
    return check_own_file(path, neighbours, true);
}

std::optional<std::string> check_events_path(const std::string& path,
                                             const report_neighbours& neighbours,
                                             const std::string& report_path) {
    if (const std::optional<std::string> problem = check_own_file(path, neighbours, false)) {
        return problem;
    }
    if (!report_path.empty() && (path == report_path || same_file(path, report_path))) {
        return std::string("it is the report of the run");
    }
    return std::nullopt;
}
