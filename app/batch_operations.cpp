#include "app/batch_operations.h"

int operation_cursor = 0;

namespace {
// Options standing beyond this argument position are never performed.
constexpr int last_operation_position = 24;
}  // namespace

bool is_batch_run(const option_table& options) {
    for (int k = opt_bank; k <= opt_get_prom; ++k) {
        if (options[static_cast<std::size_t>(k)].given) {
            return true;
        }
    }
    return false;
}

int next_operation_option(const option_table& options) {
    for (int p = operation_cursor + 1; p <= last_operation_position; ++p) {
        for (std::size_t k = 0; k < options.size(); ++k) {
            if (options[k].position == p) {
                operation_cursor = p;
                return static_cast<int>(k);
            }
        }
    }
    return -1;
}

int start_batch_operation(option_table& options, int& op_state) {
    static_cast<void>(op_state);
    return next_operation_option(options);
}
