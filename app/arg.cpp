#include "app/arg.h"

#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "app/number_scan.h"
#include "console/banner.h"
#include "platform/process.h"
#include "platform/visible_text.h"

namespace {

// The program name the usage line shows, whatever name the program was started under.
constexpr const char* usage_program_name = "Kestrel";

// Widths of the usage table's buffers: the option column and the rendered default.
constexpr std::size_t option_column_size = 16;  // the longest, -/+list_ports, and its NUL
constexpr std::size_t default_text_size = 128;
constexpr std::size_t fatal_message_size = 1024;

const char* type_column(arg_type type) {
    switch (type) {
    case arg_float:
    case arg_double:
        return "float";
    case arg_int:
        return "int";
    case arg_uint:
        return "uint";
    case arg_hex:
        return "hex";
    case arg_string:
        return "string";
    case arg_boolean:
        return "boolean";
    case arg_path:
        return "path";
    }
    return "";
}

// How the range of a numeric type is told when a value beyond it is refused.
const char* number_range_text(arg_type type) {
    switch (type) {
    case arg_float:
    case arg_double:
        return "a number from -3.4e38 to 3.4e38";
    case arg_int:
        return "a whole number from -2147483648 to 2147483647";
    case arg_uint:
        return "a whole number from 0 to 4294967295";
    case arg_hex:
        return "a hexadecimal number from 0 to FFFFFFFF";
    default:
        return "a value of its type";
    }
}

bool is_prefix(char c) { return c == '-' || c == '/' || c == '+'; }

bool is_path_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

void print_usage_row(const char* option, const char* type, const std::string& default_text,
                     const char* meaning) {
    out_printf("%12s  %7s  %12s  %s\n", option, type, default_text.c_str(), meaning);
}

// Takes the value of /sdk or /bitdir from the next argument.
void take_path_argument(std::optional<std::string>& target, int& i, int argc,
                        const char* const* argv, const char* missing_message) {
    ++i;
    if (i == argc) {
        arg_fatal(-1, "%s", missing_message);
    }
    target = argv[i];
    normalise_path(*target);
}

}  // namespace

void arg_fatal(int status, const char* format, ...) {
    std::array<char, fatal_message_size> message{};
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(message.data(), message.size(), format, args);
    va_end(args);
    if (length > 0) {
        out_write(message.data(), std::strlen(message.data()));
    }
    process_exit(status);
}

arg_option* find_option(int count, std::string_view word, arg_option* options) {
    for (int k = 0; k < count; ++k) {
        if (options[k].name != nullptr && word == options[k].name) {
            return &options[k];
        }
    }
    return nullptr;
}

void reset_option(arg_option& option) {
    option.value = option.default_value;
    option.given = false;
}

bool set_option_value(const char* text, arg_option& option, int index) {
    // A number the type cannot hold is refused: a wrapped bank or port number would act on
    // another bank or port than the one typed.
    bool fits = true;
    const auto take = [&fits](const auto& scan, auto& slot) {
        if (scan.outcome == scan_outcome::number) {
            slot = scan.value;
        }
        fits = scan.outcome != scan_outcome::out_of_range;
    };
    switch (option.type) {
    case arg_float:
        take(scan_float(text), option.value.f);
        break;
    case arg_double: {
        const scanned<float> scan = scan_float(text);
        take(scanned<double>{scan.outcome, static_cast<double>(scan.value)}, option.value.d);
        break;
    }
    case arg_int:
        take(scan_signed(text), option.value.i);
        break;
    case arg_uint: {
        // "0x" (lower-case x only) switches to hexadecimal; "0X1F" reads as decimal 0.
        const bool hex = std::strlen(text) >= 2 && text[0] == '0' && text[1] == 'x';
        take(hex ? scan_hex(text + 2) : scan_unsigned(text), option.value.u);
        break;
    }
    case arg_hex:
        take(scan_hex(text), option.value.u);
        break;
    case arg_string:
        option.value.text = text;
        break;
    case arg_path:
        option.value.text = text;
        normalise_path(*option.value.text);
        break;
    case arg_boolean:
        // The prefix decides a boolean's value; the caller has set it.
        break;
    }
    if (!fits) {
        return false;
    }
    option.given = true;
    option.position = index;
    return true;
}

std::string format_default(const arg_option& option) {
    std::array<char, default_text_size> text{};
    const arg_value& d = option.default_value;
    switch (option.type) {
    case arg_float:
        std::snprintf(text.data(), text.size(), "%f", static_cast<double>(d.f));
        break;
    case arg_double:
        std::snprintf(text.data(), text.size(), "%f",
                      static_cast<double>(static_cast<float>(d.d)));
        break;
    case arg_int:
        std::snprintf(text.data(), text.size(), "%ld", static_cast<long>(d.i));
        break;
    case arg_uint:
        std::snprintf(text.data(), text.size(), "%lu", static_cast<unsigned long>(d.u));
        break;
    case arg_hex:
        std::snprintf(text.data(), text.size(), "0x%lx", static_cast<unsigned long>(d.u));
        break;
    case arg_string:
    case arg_path:
        std::snprintf(text.data(), text.size(), "%s", d.text ? d.text->c_str() : "");
        break;
    case arg_boolean:
        std::snprintf(text.data(), text.size(), "%s", d.b ? "TRUE" : "FALSE");
        break;
    }
    return std::string(text.data());
}

void normalise_path(std::string& path) {
    for (char& c : path) {
        if (c == '/') {
            c = '\\';
        }
    }
    std::size_t first = 0;
    while (first < path.size() && is_path_space(path[first])) {
        ++first;
    }
    path.erase(0, first);
    while (!path.empty() && is_path_space(path.back())) {
        path.pop_back();
    }
    if (path.size() > 1 && path.back() == '\\') {
        path.pop_back();
    }
}

void print_usage(const arg_block& block) {
    out_printf("Usage: %s [option ...]", usage_program_name);
    out_printf("\n");
    out_printf("\n");
    out_printf("%12s  %7s  %12s  %s\n\n", "Option", "Type", "Default", "Meaning");
    print_usage_row("/h /? /help", "", "", "Show this help");
    print_usage_row("/version", "", "", "Show version");
    for (int k = 0; k < block.option_count; ++k) {
        const arg_option& option = block.options[k];
        if (std::strcmp(option.name, "bank0") == 0) {
            continue;  // allowed on the command line, but not offered to every user
        }
        std::array<char, option_column_size> column{};
        std::snprintf(column.data(), column.size(), "%s%s",
                      option.type == arg_boolean ? "-/+" : "/", option.name);
        print_usage_row(column.data(), type_column(option.type), format_default(option),
                        option.meaning);
    }
}

int parse_command_line(arg_block& block, int argc, const char* const* argv) {
    block.sdk_root.reset();
    block.bit_dir.reset();
    for (int k = 0; k < block.option_count; ++k) {
        reset_option(block.options[k]);
    }

    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        const char prefix = argument[0];
        if (!is_prefix(prefix)) {
            arg_fatal(-1, "Unknown option: %s\n", argument);
        }
        const std::string_view word(argument + 1);

        if (word == "h" || word == "help" || word == "?") {
            print_usage(block);
            process_exit(0);
        }
        if (word == "version") {
            out_printf("%s\n", kestrel_banner);
            process_exit(0);
        }
        if (word == "sdk") {
            take_path_argument(block.sdk_root, i, argc, argv,
                               "/sdk option requires parameter: path to ADM-XRC SDK root\n");
            continue;
        }
        if (word == "bitdir") {
            take_path_argument(block.bit_dir, i, argc, argv,
                               "/bitdir option requires parameter: path to bitstream directory\n");
            continue;
        }

        arg_option* option = find_option(block.option_count, word, block.options);
        if (option == nullptr) {
            arg_fatal(-1, "Unknown option: %s\n", argument);
        }
        if (option->type != arg_boolean) {
            if (i + 2 > argc) {
                arg_fatal(-1, "%s option requires parameter: %s\n", argument, option->meaning);
            }
            // The next argument is the value, whatever it looks like.
            ++i;
            if (!set_option_value(argv[i], *option, i)) {
                arg_fatal(-1, "Option %s: %s is not %s\n", argument,
                          visible_text(argv[i]).c_str(), number_range_text(option->type));
            }
            continue;
        }
        if (prefix == '/') {
            arg_fatal(-1, "Boolean option %s should be specified as -%s or +%s\n", option->name,
                      option->name, option->name);
        }
        option->value.b = prefix == '+';
        option->given = true;
        option->position = i;
    }
    return 0;
}
