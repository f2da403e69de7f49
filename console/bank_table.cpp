#include "console/bank_table.h"

#include <string>

#include "platform/output.h"
#include "platform/visible_text.h"
#include "protocol/bank_records.h"
#include "protocol/fixed_text.h"
#include "protocol/loader_state.h"
#include "protocol/unit.h"

namespace {

// A text of a record; a text that fills its whole slot without a NUL is shown up to the slot's
// end and no further. The unit's texts are shown, never obeyed: a control character in them
// appears in a visible form.
template <std::size_t N>
std::string shown(const char (&field)[N]) {
    return visible_text(field_text(field));
}

// One row of two texts: the label, the image's text in 24 columns, two blanks, the software's.
void print_text_row(const char* label, const std::string& image, const std::string& software,
                    const char* end = "\n") {
    out_printf("  %s: %-24s  %s%s", label, image.c_str(), software.c_str(), end);
}

}  // namespace

void print_bank_info(const unit& u) {
    out_printf("  Bank information\n\n");
    for (int i = 0; i < static_cast<int>(bank_records); ++i) {
        const bank_info& b = u.banks[static_cast<std::size_t>(i)];
        const bank_notes& n = u.notes[static_cast<std::size_t>(i)];
        if (bank_unknown(u, static_cast<std::size_t>(i))) {
            out_printf("  Bank %i is unknown: the unit did not report it\n\n", i);
            continue;
        }
        if (b.fpga.status != 0 || b.software.status != 0) {
            out_printf("  Bank %i does not contain valid images\n\n", i);
            continue;
        }
        out_printf("  Bank %i        : Image                     Software\n", i);
        print_text_row("File name     ", shown(b.fpga.file_name),
                       shown(b.software.file_name));
        print_text_row("File date     ", shown(b.fpga.file_date),
                       shown(b.software.file_date));
        print_text_row("Download date ", shown(b.fpga.download_date),
                       shown(b.software.download_date));
        out_printf("  File CRC      : 0x%-22X  0x%X\n", b.fpga.crc, b.software.crc);
        out_printf("  Flash addr    : 0x%-22X  0x%X\n", b.fpga.flash_address,
                   b.software.flash_address);
        out_printf("  File size     : %-24d  %d\n", static_cast<int>(b.fpga.size),
                   static_cast<int>(b.software.size));
        print_text_row("User          ", shown(n.fpga.user), shown(n.software.user));
        print_text_row("Comment       ", shown(n.fpga.comment),
                       shown(n.software.comment), "\n\n");
    }
}
