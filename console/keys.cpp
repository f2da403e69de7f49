#include "console/keys.h"

#include <optional>

#include "platform/console.h"
#include "platform/line_edit.h"

namespace {
std::optional<std::string> script;
std::size_t script_at = 0;
}  // namespace

bool key_waiting(std::uint32_t wait_ms) {
    if (script) {
        return script_at < script->size();
    }
    return console_key_waiting(wait_ms);
}

int read_key() {
    if (script) {
        return script_at < script->size() ? static_cast<unsigned char>((*script)[script_at++])
                                          : -1;
    }
    return console_read_key();
}

bool keys_ended() {
    if (script) {
        return script_at >= script->size();
    }
    return console_input_ended();
}

bool read_line(std::string& line, std::size_t limit) {
    if (!script) {
        return console_read_line(line, limit);
    }
    line.clear();
    if (script_at >= script->size()) {
        return false;
    }
    while (script_at < script->size()) {
        const auto c = static_cast<unsigned char>((*script)[script_at++]);
        if (edit_line(line, c) == line_key::ended) {
            break;
        }
    }
    if (line.size() > limit) {
        line.resize(limit);
    }
    return true;
}

void set_key_script(const std::string& keys) {
    script = keys;
    script_at = 0;
}

void clear_key_script() {
    script.reset();
    script_at = 0;
}
