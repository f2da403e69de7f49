#include "app/options.h"

namespace {

arg_option text_option(const char* name, const char* meaning, const char* default_text = "") {
    arg_option o;
    o.name = name;
    o.type = arg_string;
    o.meaning = meaning;
    o.default_value.text = default_text;
    return o;
}

arg_option flag_option(const char* name, const char* meaning) {
    arg_option o;
    o.name = name;
    o.type = arg_boolean;
    o.meaning = meaning;
    return o;
}

arg_option uint_option(const char* name, const char* meaning, std::uint32_t default_number) {
    arg_option o;
    o.name = name;
    o.type = arg_uint;
    o.meaning = meaning;
    o.default_value.u = default_number;
    return o;
}

arg_option float_option(const char* name, const char* meaning, float default_number) {
    arg_option o;
    o.name = name;
    o.type = arg_float;
    o.meaning = meaning;
    o.default_value.f = default_number;
    return o;
}

}  // namespace

void build_option_table(option_table& options) {
    options = option_table{};
    options[opt_bank] = uint_option("bank", "Specific Bank for the operation. Default the new bank", 0);
    options[opt_load_sw] = text_option("load_sw", "Software file to load");
    options[opt_load_fw] = text_option("load_fw", "Firmware file to load");
    options[opt_boot] = flag_option("boot", "Boot unit to specificed bank");
    options[opt_reboot] = flag_option("reboot", "Reboot unit to current active bank");
    options[opt_info] = flag_option("info", "Print File information from unit");
    options[opt_get_sw] = flag_option("get_sw", "Get Software file");
    options[opt_get_fw] = flag_option("get_fw", "Get Firmware file");
    options[opt_get_log] = flag_option("get_log", "Get Log file");
    options[opt_get_conf] = flag_option("get_conf", "Get Configuration");
    options[opt_comment] = text_option("comment", "Comment for file download");
    options[opt_prom_type] = text_option("prom_type", "Specific type: Controller,Charger,PAx,TCx");
    options[opt_load_prom] = text_option("load_prom", "Eeprom file to load");
    options[opt_get_prom] = flag_option("get_prom", "Get Eeprom file");
    options[opt_bank0] = flag_option("bank0", "Bank0 download");
    options[opt_safemode] = flag_option("safemode", "Safemode. Default not safemode");
    options[opt_verbose] = uint_option("verbose", "Verbose level. Default none verbose", 0);
    options[opt_interface] = uint_option("interface", "Link Interface. Alphadata=0, COMx=x", 0);
    options[opt_card] = uint_option("card", "ID of card to use", 0);
    options[opt_index] = uint_option("index", "index of card to use", 0);
    options[opt_size] = uint_option("size", "send/receive buffer size (bytes)", 65536);
    options[opt_lclk] = float_option("lclk", "local bus clock frequency (MHz)", 30.0f);
    options[opt_bitfile] = text_option("bitfile", "bitstream", "top_V5.bit");
    options[opt_port] = text_option("port", "Serial port by name (COM12, /dev/ttyUSB0)");
    options[opt_list_ports] = flag_option("list_ports", "List the serial ports present");
    options[opt_verify] = flag_option("verify", "Read back and compare what is loaded");
    options[opt_report] = text_option("report", "Write a JSON report of the run to a file");
    options[opt_ports] = text_option("ports", "Several units: serial ports (COM3,COM4) or all");
    options[opt_events] =
        text_option("events", "JSON lines of the run's events to a file (- standard output)");
    options[opt_skip_same] = flag_option("skip_same", "Skip a load the unit already holds");
    options[opt_wait_port] = uint_option("wait_port", "Seconds to wait for a port to appear", 0);
}

arg_block make_arg_block(option_table& options) {
    arg_block block;
    block.option_count = static_cast<std::int32_t>(options.size());
    block.options = options.data();
    return block;
}
