// The dispatcher of the messages the unit sends: each verified message becomes an answer, a value
// with its fields and its data, checked against the bytes it carries and the area it will be
// stored in. It runs on the receiver thread and touches nothing but the message and the output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "protocol/answers.h"

// The answer of one complete message. message points at its DA byte and length + 5 bytes are
// readable there; SA, CMD and SUB are message bytes 1, 4 and 5. Messages not meant for the
// loader (SA other than 0x2A or CMD other than 0x55) give nothing, without a trace. A message
// whose declared sizes do not fit its receiving area, or which is too short for the parameters
// it is read for, gives nothing, with a trace at trace level 1 and above. The traces of each
// answer print as the message is decoded.
std::optional<answer> decode_answer(const std::uint8_t* message, std::uint16_t length,
                                    std::uint8_t SA, std::uint8_t CMD, std::uint8_t SUB,
                                    int trace_level);
