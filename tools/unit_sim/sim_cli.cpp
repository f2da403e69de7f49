#include "tools/unit_sim/sim_cli.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>

namespace {

template <typename T>
std::optional<T> parse_number(std::string_view text) {
    T value{};
    const char* end = text.data() + text.size();
    const auto [ptr, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || ptr != end || text.empty()) {
        return std::nullopt;
    }
    return value;
}

class argument_reader {
public:
    explicit argument_reader(std::span<const char* const> args) : args_(args) {}

    bool done() const { return index_ >= args_.size(); }

    // Splits the next argument into its name and an inline value after '='.
    void next() {
        std::string_view arg = args_[index_++];
        inline_value_.reset();
        const std::size_t equals = arg.find('=');
        if (arg.starts_with("--") && equals != std::string_view::npos) {
            inline_value_ = arg.substr(equals + 1);
            arg = arg.substr(0, equals);
        }
        name_ = arg;
    }
    std::string_view name() const { return name_; }
    bool has_inline_value() const { return inline_value_.has_value(); }

    std::optional<std::string_view> value() {
        if (inline_value_) {
            return inline_value_;
        }
        if (done()) {
            return std::nullopt;
        }
        return std::string_view(args_[index_++]);
    }

private:
    std::span<const char* const> args_;
    std::size_t index_ = 0;
    std::string_view name_;
    std::optional<std::string_view> inline_value_;
};

// "B:fw:FILE" or "B:sw:FILE", bank 0 to 3.
std::optional<bank_file> parse_bank_file(std::string_view text) {
    const std::size_t first = text.find(':');
    const std::size_t second = first == std::string_view::npos ? first : text.find(':', first + 1);
    if (second == std::string_view::npos || second + 1 >= text.size()) {
        return std::nullopt;
    }
    const auto bank = parse_number<unsigned>(text.substr(0, first));
    const std::string_view kind = text.substr(first + 1, second - first - 1);
    if (!bank || *bank > 3 || (kind != "fw" && kind != "sw")) {
        return std::nullopt;
    }
    bank_file file;
    file.bank = static_cast<std::uint8_t>(*bank);
    file.file_type = kind == "fw" ? 1 : 2;
    file.path = std::string(text.substr(second + 1));
    return file;
}

// A port of a list, 1 to 255.
std::optional<unsigned> parse_port(std::string_view text) {
    const auto n = parse_number<unsigned>(text);
    if (!n || *n < 1 || *n > 255) {
        return std::nullopt;
    }
    return n;
}

// "3-10", "3,4,7", "3-5,8": ports and ranges of ports separated by commas, in the order given.
// Empty, with `why` saying what is wrong, when an item is not a port or a rising range, a port
// comes twice or the list names more than max_unit_ports ports.
std::vector<unsigned> parse_port_list(std::string_view text, std::string& why) {
    std::vector<unsigned> ports;
    std::array<bool, 256> named{};
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        const std::string_view item = text.substr(start, comma - start);
        const std::size_t dash = item.find('-');
        const auto first = parse_port(item.substr(0, dash));
        const auto last =
            dash == std::string_view::npos ? first : parse_port(item.substr(dash + 1));
        if (item.empty()) {
            why = text.empty() ? "expected ports such as 3-10 or 3,4,7" : "an empty item";
            return {};
        }
        if (!first || !last) {
            why = "'" + std::string(item) + "' is not a port 1 to 255 or a range of them (3-10)";
            return {};
        }
        if (*first > *last) {
            why = "the range " + std::string(item) + " runs backwards";
            return {};
        }
        for (unsigned port = *first; port <= *last; ++port) {
            if (named[port]) {
                why = "port " + std::to_string(port) + " comes twice";
                return {};
            }
            if (ports.size() == max_unit_ports) {
                why = "more than " + std::to_string(max_unit_ports) + " ports";
                return {};
            }
            named[port] = true;
            ports.push_back(port);
        }
        if (comma == std::string_view::npos) {
            return ports;
        }
        start = comma + 1;
    }
}

// How often a listed block is hit, after a colon: 1 to this.
constexpr unsigned max_hit_times = 65535;

// "0,3,17" or "0,3,17:2": block numbers that fit Number, separated by commas, and how many
// answers for each are hit (default 1).
template <typename Number>
std::optional<std::pair<std::vector<Number>, unsigned>> parse_hit_list(std::string_view text) {
    const std::size_t colon = text.find(':');
    unsigned times = 1;
    if (colon != std::string_view::npos) {
        const auto n = parse_number<unsigned>(text.substr(colon + 1));
        if (!n || *n < 1 || *n > max_hit_times) {
            return std::nullopt;
        }
        times = *n;
        text = text.substr(0, colon);
    }
    std::vector<Number> numbers;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        const auto n = parse_number<Number>(text.substr(start, comma - start));
        if (!n) {
            return std::nullopt;
        }
        numbers.push_back(*n);
        if (comma == std::string_view::npos) {
            return std::make_pair(std::move(numbers), times);
        }
        start = comma + 1;
    }
}

// "B" or "B:T": bank 0 to 3, and how many of its records are lost (default 1).
std::optional<std::pair<std::size_t, unsigned>> parse_bank_loss(std::string_view text) {
    const std::size_t colon = text.find(':');
    const auto bank = parse_number<unsigned>(text.substr(0, colon));
    const auto times =
        colon == std::string_view::npos ? 1U : parse_number<unsigned>(text.substr(colon + 1));
    if (!bank || *bank >= bank_records || !times || *times < 1 || *times > max_hit_times) {
        return std::nullopt;
    }
    return std::make_pair(std::size_t{*bank}, *times);
}

unit_command_result failure(std::string error) {
    unit_command_result result;
    result.error = std::move(error);
    return result;
}

}  // namespace

unit_command_result parse_unit_command_line(std::span<const char* const> args) {
    unit_command_result result;
    unit_command_line& line = result.options;
    argument_reader reader(args);
    bool port_given = false;
    std::array<bool, bank_records> lost_bank_named{};
    while (!reader.done()) {
        reader.next();
        const std::string option(reader.name());

        // Switches without a value.
        bool* flag = nullptr;
        if (option == "--help" || option == "-h") {
            flag = &line.help;
        } else if (option == "--file-failed") {
            flag = &line.unit.faults.file_failed;
        } else if (option == "--silent") {
            flag = &line.unit.faults.silent;
        } else if (option == "--wrong-block-once") {
            flag = &line.unit.faults.wrong_block_once;
        } else if (option == "--wrong-crc") {
            flag = &line.unit.faults.wrong_crc;
        }
        if (flag != nullptr || option == "--no-pacing") {
            if (reader.has_inline_value()) {
                return failure(option + " takes no value");
            }
            if (flag != nullptr) {
                *flag = true;
            } else {
                line.unit.pacing = false;
            }
            continue;
        }

        const bool known =
            option == "--port" || option == "--ports" || option == "--dir" ||
            option == "--wine-prefix" || option == "--verbose" || option == "--boot-delay" ||
            option == "--corrupt" || option == "--corrupt-answers" || option == "--drop" ||
            option == "--noise" || option == "--drop-bytes" || option == "--dl-fail-at" ||
            option == "--boot-fail-to" || option == "--corrupt-stored-byte" ||
            option == "--report-size" || option == "--eeprom-ack-as" || option == "--seed" ||
            option == "--record" || option == "--dump-dir" || option == "--load-bank" ||
            option == "--damage-blocks" || option == "--damage-log-blocks" ||
            option == "--lose-bank-record" || option == "--back-after";
        if (!known) {
            return failure("unknown option " + option);
        }
        const std::optional<std::string_view> value = reader.value();
        if (!value) {
            return failure(option + " needs a value");
        }
        const std::string text(*value);
        const auto bad = [&](const char* expected) {
            return failure("bad value '" + text + "' for " + option + ": expected " + expected);
        };

        if (option == "--port") {
            const auto n = parse_number<unsigned>(text);
            if (!n || *n < 1 || *n > 255) {
                return bad("a port number 1 to 255");
            }
            line.unit.port = *n;
            port_given = true;
        } else if (option == "--ports") {
            std::string why;
            line.ports = parse_port_list(text, why);
            if (line.ports.empty()) {
                return failure("bad value '" + text + "' for --ports: " + why);
            }
        } else if (option == "--dir" || option == "--wine-prefix" || option == "--record" ||
                   option == "--dump-dir") {
            if (text.empty()) {
                return bad("a path");
            }
            if (option == "--dir") {
                line.unit.link_dir = text;
            } else if (option == "--wine-prefix") {
                line.unit.wine_prefix = text;
            } else if (option == "--dump-dir") {
                line.dump_dir = text;
            } else {
                line.record_file = text;
            }
        } else if (option == "--load-bank") {
            const std::optional<bank_file> file = parse_bank_file(text);
            if (!file) {
                return bad("BANK:fw:FILE or BANK:sw:FILE, bank 0 to 3");
            }
            line.bank_files.push_back(*file);
        } else if (option == "--verbose") {
            const auto n = parse_number<int>(text);
            if (!n || *n < 0 || *n > 2) {
                return bad("0, 1 or 2");
            }
            line.unit.verbosity = *n;
        } else if (option == "--boot-delay") {
            const auto n = parse_number<unsigned>(text);
            if (!n || *n > 600'000) {
                return bad("milliseconds, 0 to 600000");
            }
            line.unit.boot_delay = std::chrono::milliseconds(*n);
        } else if (option == "--corrupt" || option == "--corrupt-answers" || option == "--drop" ||
                   option == "--noise" || option == "--drop-bytes") {
            const auto p = parse_number<double>(text);
            if (!p || !(*p >= 0.0 && *p <= 1.0)) {
                return bad("a probability 0 to 1");
            }
            sim_faults& faults = line.unit.faults;
            (option == "--corrupt"           ? faults.corrupt_probability
             : option == "--corrupt-answers" ? faults.corrupt_answer_probability
             : option == "--noise"           ? faults.noise_probability
             : option == "--drop-bytes"      ? faults.drop_byte_probability
                                             : faults.drop_probability) = *p;
        } else if (option == "--dl-fail-at") {
            const auto n = parse_number<std::uint16_t>(text);
            if (!n) {
                return bad("a chunk number 0 to 65535");
            }
            line.unit.faults.dl_fail_at_chunk = *n;
        } else if (option == "--report-size") {
            const auto n = parse_number<std::uint32_t>(text);
            if (!n) {
                return bad("a size in bytes, 0 to 4294967295");
            }
            line.unit.faults.reported_size = *n;
        } else if (option == "--eeprom-ack-as") {
            const std::size_t colon = text.find(':');
            const auto type = parse_number<std::uint8_t>(text.substr(0, colon));
            const auto channel = colon == std::string::npos
                                     ? std::nullopt
                                     : parse_number<std::uint8_t>(text.substr(colon + 1));
            if (!type || !channel) {
                return bad("TYPE:CHANNEL, each 0 to 255");
            }
            line.unit.faults.eeprom_ack_names = std::make_pair(*type, *channel);
        } else if (option == "--corrupt-stored-byte") {
            const auto n = parse_number<std::uint32_t>(text);
            if (!n) {
                return bad("a byte offset");
            }
            line.unit.faults.corrupt_stored_byte = *n;
        } else if (option == "--boot-fail-to") {
            const auto n = parse_number<unsigned>(text);
            if (!n || *n > 3) {
                return bad("a bank 0 to 3");
            }
            line.unit.faults.boot_fail_to = static_cast<std::uint8_t>(*n);
        } else if (option == "--damage-blocks") {
            auto hits = parse_hit_list<std::uint16_t>(text);
            if (!hits) {
                return bad("LIST[:TIMES], block numbers 0 to 65535 separated by commas, "
                           "TIMES 1 to 65535");
            }
            line.unit.faults.damaged_blocks = std::move(hits->first);
            line.unit.faults.damage_times = hits->second;
        } else if (option == "--damage-log-blocks") {
            auto hits = parse_hit_list<std::uint8_t>(text);
            if (!hits) {
                return bad("LIST[:TIMES], log block numbers 0 to 255 separated by commas, "
                           "TIMES 1 to 65535");
            }
            line.unit.faults.damaged_log_blocks = std::move(hits->first);
            line.unit.faults.log_damage_times = hits->second;
        } else if (option == "--lose-bank-record") {
            const auto loss = parse_bank_loss(text);
            if (!loss) {
                return bad("B[:TIMES], bank 0 to 3, TIMES 1 to 65535");
            }
            if (lost_bank_named[loss->first]) {
                return failure("--lose-bank-record names bank " + std::to_string(loss->first) +
                               " twice");
            }
            lost_bank_named[loss->first] = true;
            line.unit.faults.lost_bank_records[loss->first] = loss->second;
        } else if (option == "--back-after") {
            const auto n = parse_number<unsigned>(text);
            if (!n || *n > 600'000) {
                return bad("milliseconds, 0 to 600000");
            }
            line.back_after = std::chrono::milliseconds(*n);
        } else if (option == "--seed") {
            const auto n = parse_number<std::uint64_t>(text);
            if (!n) {
                return bad("a whole number");
            }
            line.unit.seed = *n;
        }
    }
    if (port_given && !line.ports.empty()) {
        return failure("--port and --ports exclude each other: --port N runs one unit, "
                       "--ports LIST one on each port of LIST");
    }
    result.ok = true;
    return result;
}

std::vector<unit_plan> plan_units(const unit_command_line& line) {
    if (line.ports.empty()) {
        return {unit_plan{line.unit, line.record_file, line.dump_dir}};
    }
    const bool several = line.ports.size() > 1;
    std::vector<unit_plan> plans;
    for (const unsigned port : line.ports) {
        unit_plan plan{line.unit, line.record_file, line.dump_dir};
        const std::string name = "COM" + std::to_string(port);
        plan.unit.port = port;
        plan.unit.seed = line.unit.seed + port;  // wraps past 2^64: any seed will do
        plan.unit.image_variant = port;
        if (several && !plan.record_file.empty()) {
            plan.record_file += "." + name;
        }
        if (several && !plan.dump_dir.empty()) {
            plan.dump_dir /= name;
        }
        plans.push_back(std::move(plan));
    }
    return plans;
}

std::string unit_usage_text() {
    return R"(Usage: kestrel-unit [option ...]

A simulated unit: its boot loader answers Kestrel on a pseudo-terminal that the program
opens as the serial port COM<n>. Runs until Ctrl-C (SIGINT) or SIGTERM. SIGUSR1 pulls the
port as an unplugged cable would: the line is closed and its links removed while the unit
keeps running (and keeps what it stores) until it is stopped or, with --back-after, the port
is put back. With --ports it simulates several units at once, one per port, and SIGUSR1
pulls every port.

Port:
  --port N            port number, the link is named COM<N> (default 3)
  --ports LIST        a unit on each port of LIST: port numbers 1-255 and ranges of them,
                      separated by commas (3-10, 3,4,7, 3-5,8), at most 64 ports, none twice;
                      not with --port. Each unit stores on its own and starts with factory
                      images of its own; the unit on port N draws its random faults from seed
                      S+N (S of --seed). All other options hold for every unit; with more than
                      one port, --record FILE writes FILE.COM<N> and --dump-dir DIR fills
                      DIR/COM<N>
  --dir DIR           folder of the link COM<N> (default: the current folder)
  --wine-prefix P     also link P/dosdevices/com<N>, for kestrel.exe under wine
  --no-pacing         move bytes at once instead of at 115200 baud
  --back-after MS     a port pulled by SIGUSR1 comes back MS milliseconds later (0-600000),
                      on a fresh pseudo-terminal under the same links; the unit takes it up as
                      it is, with what it stores, its bank and its line mode

Unit:
  --boot-delay MS     time a boot takes, in milliseconds (default 300)
  --verbose 0|1|2     0 quiet; 1 a line per message received and sent; 2 with its bytes
  --record FILE       write a line per item received: time in ms, kind, bytes in hex
  --load-bank B:fw:FILE, --load-bank B:sw:FILE
                      store FILE as the FPGA (fw) or software (sw) image of bank B (0-3)
                      before the unit starts; may be given more than once
  --dump-dir DIR      when the unit stops, write what it stores into DIR: each valid image
                      and each EEPROM under the name Kestrel gives it when it fetches it
                      (FW_Bank2.bin, SW_Bank1.srec, Controller.eeprom, PA_Channel1.eeprom),
                      and its log as log.txt

Faults:
  --corrupt P         corrupt each message byte sent with probability P (wrong checksum)
  --corrupt-answers P corrupt each answer sent with probability P (one byte, wrong checksum)
  --drop P            leave out each answer with probability P
  --noise P           line noise: flip one random bit (any of eight) of each byte sent, sync
                      pair, length, checksum, trailer and terminal text included, with
                      probability P per byte
  --drop-bytes P      lose each byte sent on the way with probability P
  --dl-fail-at K      answer DL_DATA chunk K with DL_FAIL
  --file-failed       answer every FILE_REQ with FILE_FAILED
  --silent            answer nothing at all
  --wrong-block-once  give the first FILE_ACK a wrong block number
  --wrong-crc         report a wrong CRC-32 of the stored images and EEPROMs (data stay right)
  --corrupt-stored-byte N
                      store byte N of every download inverted, with the record's CRC-32 of
                      what is stored (only a comparison with the file shows it)
  --boot-fail-to B    every boot to banks 1-3 fails and the unit ends in bank B
  --report-size N     FLASH_INFO (valid images) and EEPROM_ACK report N bytes, whatever is
                      stored
  --eeprom-ack-as T:C EEPROM_ACK names file type T and channel index C, whatever was asked
  --damage-blocks LIST[:TIMES]
                      the FILE_ACK for each block number of LIST (0-65535, separated by
                      commas: 0,3,17:2) carries one data byte with bit 7 flipped under a right
                      checksum, the first TIMES times (default 1); later ones are right
  --damage-log-blocks LIST[:TIMES]
                      the same for the MESSAGE_LOG_ACK of log blocks of LIST (0-255): one
                      character of an entry
  --lose-bank-record B[:T]
                      leave out the FLASH_INFO of bank B (0-3) the first T times (default 1);
                      the other banks' records still come; may be given once per bank
  --seed S            seed of the random faults (default 1)

  -h, --help          show this help
)";
}
