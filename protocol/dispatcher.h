// Dispatcher of the messages the unit sends: ExecuteCommand stores each answer's payload in the
// shared loader state and then raises the event flag the main loop waits for. It runs on the
// receiver thread. Also the per-bank marks that tell which bank records still hold the words of
// a FLASH_INFO in wire order.
#pragma once

#include <cstddef>
#include <cstdint>

// Handles one complete message. message points at its DA byte and length + 5 bytes are readable
// there; SA, CMD and SUB are message bytes 1, 4 and 5. Messages not meant for the loader
// (SA other than 0x2A or CMD other than 0x55) are ignored without a trace. A message whose
// declared sizes do not fit its receiving area, or which is too short for the parameters it is
// read for, is dropped whole (nothing stored, no flag) with a trace at verbose level 1 and above.
void ExecuteCommand(const std::uint8_t* message, std::uint16_t length, std::uint8_t SA,
                    std::uint8_t CMD, std::uint8_t SUB);

// ---- Byte order of the bank records ------------------------------------------------------
// FLASH_INFO stores a bank's record as it comes off the wire and marks that bank; the record of
// an unmarked bank is in host order (start values, or converted already). The whole record of a
// marked bank is in wire order, also when the message filled only part of it. The receiver
// thread sets a mark before it raises flash_info_done; the main loop converts marked banks only,
// then clears their marks, so that a bank whose FLASH_INFO did not arrive in a round is never
// converted twice.

// True when the record of bank (0-3) holds its words in wire order. False for any other bank.
bool bank_in_wire_order(std::size_t bank) noexcept;

// Called by the main loop once it has converted the record of bank to host order.
void clear_bank_in_wire_order(std::size_t bank) noexcept;

// Converts every marked bank record to host order and clears its mark. Main loop only, after
// flash_info_done has been seen.
void convert_received_banks_to_host_order() noexcept;

// Clears all four marks: together with set_bank_start_values(), while no other thread runs.
void reset_bank_wire_order_marks() noexcept;
