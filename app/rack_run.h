// A run over several units at once (/ports): every operation of the command line on every
// unit, each unit with its own session, link and thread in this one process. A unit that fails
// ends with its own message and leaves the others alone. On a terminal a live view shows a line
// per unit; otherwise each line a unit prints starts with its port. The run ends with a
// summary, the report of every unit and one exit status.
#pragma once

#include <string>
#include <vector>

#include "app/options.h"

class event_log;

// Serves the units on `ports` (at least two) and returns the run's exit status: 0 when every
// unit succeeded (a unit whose every load was skipped counts as succeeded), else the status of
// the first unit in the order of `ports` that did not. When a unit's receiver did not end (a
// port whose read does not return), the process ends here instead, with that status, leaving
// static objects alone.
int run_several_units(const option_table& options, const std::vector<std::string>& ports,
                      const std::string& user_name, event_log* events);

// The summary at the end of such a run: how many units succeeded, were skipped or failed, and
// which, with what failed. Each unit: its port, its verdict, the message of a failure.
struct unit_summary {
    std::string port;
    std::string verdict;
    std::string message;
};
std::string summary_text(const std::vector<unit_summary>& units);
