// The report writer with any bytes in every text it takes: the port's name, the operations with
// their files, targets and messages, the paths of the files written, and the unit's bank records
// (names, dates, users and comments without their NUL). The report must always be written as a
// JSON document that a strict parser takes, and a text that is valid UTF-8 must come back
// exactly as it went in.
//
// Input: a flag byte (bit 0 a serial link, bits 1-2 the number of operations, bit 3 a file
// written, bits 4-7 the banks that report); each bank's record and notes; then the texts, each a
// length byte followed by its bytes.
#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/run_journal.h"
#include "app/run_report.h"
#include "fuzz_input.h"
#include "protocol/bank_records.h"
#include "protocol/loader_state.h"
#include "protocol/run_outcome.h"
#include "protocol/unit.h"
#include "support/fake_link.h"

namespace {

using json = nlohmann::json;

std::string text_from(fuzz_input& input) {
    std::string text(input.byte(), '\0');
    input.fill(reinterpret_cast<std::uint8_t*>(text.data()), text.size());
    return text;
}

// True when the text is valid UTF-8, as the JSON library's strict writer judges it.
bool is_utf8(const std::string& text) {
    try {
        (void)json(text).dump();
        return true;
    } catch (const json::exception&) {
        return false;
    }
}

void expect_kept(const json& value, const std::string& text, const char* what) {
    if (!value.is_string()) {
        std::fprintf(stderr, "fuzz_report: %s is not a text\n", what);
        std::abort();
    }
    if (is_utf8(text) && value.get<std::string>() != text) {
        std::fprintf(stderr, "fuzz_report: %s changed although it was valid UTF-8\n", what);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    silence_output();
    captured_link unit_link;
    unit u(unit_link);
    fuzz_input input(data, size);
    const std::uint8_t flags = input.byte();

    for (std::size_t bank = 0; bank < bank_records; ++bank) {
        std::vector<std::uint8_t> info(sizeof(bank_info));
        std::vector<std::uint8_t> note(sizeof(bank_notes));
        input.fill(info.data(), info.size());
        input.fill(note.data(), note.size());
        if ((flags >> (4 + bank)) & 1U) {
            u.reports.store(bank, info.data(), info.size(), note.data(), note.size());
        }
    }
    take_bank_reports(u);

    report_link link;
    link.serial = (flags & 1U) != 0;
    link.port = text_from(input);
    run_journal journal(u.outcome);
    struct operation_texts {
        std::string operation, file, target, message, noted;
    };
    std::vector<operation_texts> given;
    for (unsigned k = 0; k < ((flags >> 1) & 3U); ++k) {
        operation_texts t{text_from(input), text_from(input), text_from(input), text_from(input), {}};
        journal.begin(t.operation, t.file, t.target);
        if (!t.message.empty()) {
            note_operation_failed(u, t.message);
            t.noted = last_failure_reason(u);
        }
        journal.end();
        given.push_back(std::move(t));
    }
    const std::string path = text_from(input);
    if ((flags & 8U) != 0) {
        u.written.push_back({path, input.u32(), input.u32()});
    }

    const std::string document = render_report(link, u, journal, 4);
    const json report = json::parse(document);  // throws, and so fails, on anything but JSON
    if (link.serial) {
        expect_kept(report["link"]["port"], link.port, "the port");
    }
    for (std::size_t k = 0; k < given.size(); ++k) {
        const json& op = report["operations"][k];
        expect_kept(op["operation"], given[k].operation, "an operation");
        if (!given[k].file.empty()) expect_kept(op["file"], given[k].file, "a file");
        if (!given[k].target.empty()) expect_kept(op["target"], given[k].target, "a target");
        if (!given[k].noted.empty()) expect_kept(op["message"], given[k].noted, "a message");
    }
    if ((flags & 8U) != 0) {
        expect_kept(report["files"][0]["path"], path, "a file's path");
    }
    return 0;
}
