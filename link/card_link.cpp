#include "link/card_link.h"

#include "link/card_receiver.h"
#include "link/card_sender.h"
#include "link/card_window.h"

card_unit_link::card_unit_link(volatile std::uint32_t* window, std::size_t rx_data)
    : window_(window),
      rx_data_(rx_data),
      rx_(std::make_unique<std::array<std::uint8_t, rx_buffer_size>>()) {}

card_unit_link::~card_unit_link() { end_receiver(); }

result card_unit_link::send_message(const std::uint8_t* message, std::size_t n, int trace_level) {
    send_card_message(mapped_window{window_}, message, n, trace_level);
    return result::success();
}

result card_unit_link::start(link_listener& listener) {
    return start_receiver([this, &listener] {
        card_receiver_context context{*rx_, listener, last_heard_};
        run_card_receiver(mapped_window{window_}, rx_data_, context,
                          [this] { return stopping(); });
        return 0;
    });
}
