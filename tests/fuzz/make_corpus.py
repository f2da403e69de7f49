#!/usr/bin/env python3
"""Writes the seed corpus of each fuzz target into tests/fuzz/corpus/<target>/: worked examples
of frames, answers of the unit, command lines, card words and bank records. The files are
committed; run this again only to change them."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def crc8_serial(data):
    crc = 0
    for byte in data:
        for bit in (3, 2, 1, 0):
            f = ((crc >> 7) ^ (byte >> bit)) & 1
            crc = (crc << 1) & 0xFF
            if f:
                crc ^= 0x93
    return crc


def message(sub, params, da=0x10, sa=0x2A, cmd=0x55):
    body = bytes([cmd, sub]) + bytes(params)
    return bytes([da, sa]) + struct.pack(">H", len(body) - 1) + body


def frame(msg):
    return bytes([0x10, 0x1E]) + msg + bytes([crc8_serial(msg), 0x52, 0x53])


def text(value, size):
    raw = value.encode()[: size - 1]
    return raw + bytes(size - len(raw))


def descriptor(status, address, name, crc, size, order=">"):
    return (struct.pack(order + "II", status, address) + text("Sun Dec 06 22:44:42 2026", 26) +
            text("Sat Dec 05 10:00:00 2026", 26) + struct.pack(order + "II", crc, size) +
            text(name, 28))


def bank_info(bank, order=">"):
    base = 0x86000000 + bank * 0x800000
    return (descriptor(0, base, "fw_bank%d.bin" % bank, 0x1A2B, 262144, order) +
            descriptor(0, base + 0x200000, "sw_bank%d.srec" % bank, 0xDEADBEEF, 70000, order))


def image_notes(user, comment):
    return text(user, 26) + text(comment, 26) + bytes(56)


def bank_notes():
    return image_notes("engineer", "field fix") + image_notes("engineer", "release 4")


def flash_info(bank, with_notes):
    payload = bytes([0, 0]) + bank_info(bank) + (bank_notes() if with_notes else b"")
    return message(0x15 + bank, payload)


def log_block(entries, seq_no=0, total=None):
    data = b"".join(text("log entry %d: unit started" % k, 80) for k in range(entries))
    return message(0x06, bytes([total or entries, 80, 64, seq_no, entries]) + data)


FILE_ACK = message(0x10, struct.pack(">HH", 0, 512) + bytes(range(256)) * 2)
FILE_FAILED = message(0x03, bytes([7]) + struct.pack(">I", 1300) + bytes([1, 2]))
BOOTINFO_ACK = message(0x1A, [2, 0])
BOOTINFO_FAIL = message(0x1B, [1, 0])
EEPROM_ACK = message(0x22, bytes([5, 2]) + struct.pack(">II", 256, 0xCAFEF00D))
SHORT_ANSWERS = [message(0x1E, [0, 0]), message(0x1D, [0, 0]), message(0x12, [1, 0]),
                 message(0x13, [1, 0]), message(0x04, [0])]
REQUEST_FRAME = bytes.fromhex("10 1E 2A 10 00 02 55 1F 00 7F 52 53")


def dispatched(msg, mode=0x01):
    """One message of the dispatcher target: mode, DA, [SA, CMD], SUB, length field, payload."""
    length = struct.unpack(">H", msg[2:4])[0]
    head = bytes([mode, msg[0]])
    if mode & 3 == 0:
        head += bytes([msg[1], msg[4]])
    return head + bytes([msg[5]]) + struct.pack(">H", length) + msg[6:]


def card_words(msg):
    """The words of a message on the card: the bytes, three more, padded to whole words."""
    length = struct.unpack(">H", msg[2:4])[0]
    size = 4 * (2 + ((length + 3) >> 2))
    return msg + bytes(size - len(msg))


def printers_input(first, count, length, area, banks, notes, log):
    return (bytes([first]) + struct.pack(">iiH", count, length, area) + banks + notes + log)


def corpus():
    log3 = log_block(3)
    yield "frame", {
        "request": b"\x00" + REQUEST_FRAME,
        "two_frames_split": bytes([3, 0, 3, 9]) + b"\x55\x10" + frame(BOOTINFO_ACK) +
                            frame(SHORT_ANSWERS[0]),
        "bad_crc_then_frame": bytes([1, 5]) + REQUEST_FRAME[:9] + b"\x00\x52\x53" +
                              REQUEST_FRAME[:9] + b"\x00\x01" + frame(FILE_FAILED),
        "flash_info_195": bytes([2, 63, 127]) + frame(flash_info(1, False)),
        "false_sync_then_log": bytes([1, 200]) + bytes([0x10, 0x1E, 0x10, 0x10, 0xFF, 0xFF]) +
                               frame(log3),
        "file_ack": bytes([1, 255]) + frame(FILE_ACK),
    }
    round_of_four = b"".join(dispatched(flash_info(b, True)) for b in range(4))
    yield "dispatcher", {
        "flash_info_round": bytes([2, 0x80, 0]) + round_of_four,
        "flash_info_195_411": bytes([9, 0, 0]) + dispatched(flash_info(1, False)) +
                              dispatched(flash_info(1, True)),
        "file_ack_failed": bytes([6, 0, 0]) + dispatched(FILE_ACK) + dispatched(FILE_FAILED),
        "log": bytes([2, 0, 0]) + dispatched(log3) + dispatched(log_block(2, 1, 5)),
        "answers": bytes([8, 0x7F, 2]) + b"".join(dispatched(m) for m in
                   [BOOTINFO_ACK, BOOTINFO_FAIL, EEPROM_ACK] + SHORT_ANSWERS) +
                   dispatched(message(0x1A, [1, 0], sa=0x10), mode=0x00),
    }
    yield "args", {
        "load_fw": b"/interface\x003\x00+info\x00/load_fw\x00a.bin\x00/bank\x002",
        "gets": b"/interface\x003\x00+get_fw\x00/bank\x002\x00/prom_type\x00PA3\x00+get_prom"
                b"\x00+get_log\x00-get_log\x00+get_log",
        "values": b"/comment\x00/boot\x00/verbose\x00abc\x00/lclk\x00 1e40\x00/interface\x000x1F"
                  b"\x00/bitdir\x00C:/bits/\x00/sdk\x00 \\x\\ \x00/bitfile\x00top.bit",
        "help": b"+bank0\x00-safemode\x00/h",
        "refused": b"/size\x0012\x00/boot",
        "numbers": b"/bank\x00-0\x00/verbose\x004294967295\x00/size\x000xFFFFFFFF\x00/lclk"
                   b"\x00-3.4e38\x00/interface\x00 +7x",
        "beyond": b"/interface\x004294967299\x00+info",
    }
    yield "card", {
        "request": b"\x00" + card_words(bytes.fromhex("2A 10 00 02 55 1F 00")),
        "bootinfo_dispatch": b"\x01" + card_words(BOOTINFO_ACK) + card_words(EEPROM_ACK),
        "flash_info_v6": b"\x0B" + card_words(flash_info(2, True)) + card_words(SHORT_ANSWERS[0]),
        "da_zero_then_log": b"\x1D" + bytes([0, 0x2A, 0, 3]) + card_words(log3),
    }
    little = b"".join(bank_info(b, "<") for b in range(4))
    notes = bank_notes() * 4
    entries = b"".join(text("entry %d" % k, 80) for k in range(64))
    yield "report", report_corpus()
    yield "printers", {
        "valid_banks_log": printers_input(0, 3, 80, 5120, little, notes, entries),
        "unterminated": printers_input(0, 200, 7, 100, (b"\x00" * 4 + b"A" * 92) * 8, b"B" * 864,
                                       b"C" * 100),
        "unknown_round": printers_input(1, -5, 80, 80, little, notes, entries[:80]),
    }


def report_input(flags, banks, texts):
    return bytes([flags]) + banks + b"".join(bytes([len(t)]) + t for t in texts)


def report_corpus():
    records = b"".join(bank_info(b) + bank_notes() for b in range(4))
    hostile = b"M\xfcller\x1b]0;pwned\x07"
    return {
        "clean": report_input(0xF7, records, [b"COM3", b"load_fw", b"demo_fw.bin", b"bank 2",
                                              b"", b"get_sw", b"", b"bank 2", b"",
                                              b"2026_12_08/SW_Bank2.srec"]),
        "latin1": report_input(0x1B, records, [b"/dev/tty\xff", b"load_fw", b"\xff.bin",
                                               b"bank 3", hostile, b"x", b"y", b"z",
                                               b"\xc0\xaf", hostile + b".bin"]),
    }


def main():
    for target, files in corpus():
        folder = os.path.join(HERE, "corpus", target)
        os.makedirs(folder, exist_ok=True)
        for name, data in files.items():
            with open(os.path.join(folder, name), "wb") as out:
                out.write(data)


if __name__ == "__main__":
    main()
