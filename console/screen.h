// The interactive screen: the header with the banner, a title and the date, the status line,
// and the single-key menu in its four kinds. Nothing is drawn in a command-line run.
#pragma once

#include <ctime>
#include <optional>
#include <string>

struct unit;

enum menu_kind : int {
    MENU_PLAIN = 0,       // header "Menu", status line, menu
    MENU_WITH_BANKS = 1,  // header, bank table, status line, menu
    MENU_REFRESH = 2,     // as MENU_PLAIN
    MENU_NO_HEADER = 3,   // status line and menu only, screen not cleared
};

// The date text of a local time, or the placeholder of the same width when there is none.
std::string date_text_or_unknown(const std::optional<std::tm>& time);

// Clears the screen (unless the unit's verbose level is 4 or more) and prints the banner, the
// title right-aligned in 12 columns and the current date.
void print_header(const unit& u, const char* title);

void print_status_line(const unit& u);

// The menu of the unit's state (nothing in a command-line run).
void show_menu(const unit& u, int kind);
