#include "tools/unit_sim/sim_boot.h"

std::vector<boot_report> plan_boot(std::uint8_t from, std::uint8_t target,
                                   const std::array<bool, bank_records>& bootable,
                                   std::optional<std::uint8_t> fail_to) {
    constexpr std::uint8_t loader_bank = 0;
    if (target == loader_bank) {
        return {{loader_bank, false}};
    }
    std::vector<boot_report> reports;
    if (from != loader_bank) {
        reports.push_back({loader_bank, false});
    }
    if (fail_to.has_value()) {
        reports.push_back({*fail_to, true});
    } else if (target >= bootable.size() || !bootable[target]) {
        reports.push_back({from, true});
    } else {
        reports.push_back({target, false});
    }
    return reports;
}
