// Entry point of Kestrel: reads the command line; the link to the unit is opened from here.
#include "app/options.h"

int main(int argc, char** argv) {
    option_table options;
    build_option_table(options);
    arg_block block = make_arg_block(options);
    parse_command_line(block, argc, argv);
    return 0;
}
