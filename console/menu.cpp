#include "console/menu.h"

#include "console/keys.h"
#include "console/screen.h"

int handle_key(int& op_state) {
    static_cast<void>(op_state);
    if (!key_waiting()) {
        return 1;
    }
    const int key = read_key();
    switch (key) {
    case 'Q':
    case 'q':
        return 0;
    case 'R':
    case 'r':
        show_menu(MENU_REFRESH);
        break;
    default:
        break;
    }
    return 1;
}
