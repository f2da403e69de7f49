#include "sim_harness.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "link/byte_order.h"
#include "link/crc.h"
#include "link/frame.h"

namespace fs = std::filesystem;

pc_port::pc_port(const fs::path& link) : buffer_(rx_buffer_size) {
    fd_ = ::open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios settings{};
    if (fd_ >= 0 && ::tcgetattr(fd_, &settings) == 0) {
        ::cfmakeraw(&settings);
        ::cfsetispeed(&settings, B115200);
        ::cfsetospeed(&settings, B115200);
        ::tcsetattr(fd_, TCSANOW, &settings);
    }
}

pc_port::~pc_port() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void pc_port::send(const message_t& message) {
    const std::vector<std::uint8_t> frame = serial_frame(message.data(), message.size());
    ASSERT_EQ(::write(fd_, frame.data(), frame.size()), static_cast<ssize_t>(frame.size()));
}

void pc_port::send_raw(std::string_view bytes) {
    ASSERT_EQ(::write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

bool pc_port::read_more(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd pfd{fd_, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&pfd, 1, static_cast<int>(left.count())) <= 0 ||
        (pfd.revents & POLLIN) == 0) {
        return false;
    }
    const ssize_t n = ::read(fd_, buffer_.data() + fill_, buffer_.size() - fill_);
    if (n <= 0) {
        return false;
    }
    fill_ += static_cast<std::size_t>(n);
    return true;
}

std::optional<message_t> pc_port::receive(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const std::size_t frame_size = assemble_frame(buffer_, fill_, crc_errors_);
        if (frame_size > 0) {
            const auto begin = buffer_.begin() + frame_message_offset;
            message_t message(begin,
                              begin + static_cast<std::ptrdiff_t>(
                                          frame_size - (frame_overhead - message_length_overhead)));
            consume_frame(buffer_, fill_, frame_size);
            return message;
        }
        if (!read_more(deadline)) {
            return std::nullopt;
        }
    }
}

std::string pc_port::read_text(std::size_t count, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (fill_ < count && read_more(deadline)) {
    }
    const std::size_t taken = std::min(count, fill_);
    std::string text(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(taken));
    std::copy(buffer_.begin() + static_cast<std::ptrdiff_t>(taken),
              buffer_.begin() + static_cast<std::ptrdiff_t>(fill_), buffer_.begin());
    fill_ -= taken;
    return text;
}

bool pc_port::quiet_for(std::chrono::milliseconds period) {
    const std::size_t before = fill_;
    read_more(std::chrono::steady_clock::now() + period);
    return fill_ == before;
}

bool pc_port::breaks_within(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd pfd{fd_, POLLIN, 0};
        if (::poll(&pfd, 1, 50) < 0) {
            return true;
        }
        if ((pfd.revents & (POLLHUP | POLLERR)) != 0) {
            return true;
        }
        if ((pfd.revents & POLLIN) != 0) {
            std::uint8_t byte = 0;
            const ssize_t n = ::read(fd_, &byte, 1);
            if (n < 0 && errno != EAGAIN) {
                return true;
            }
        }
    }
    return false;
}

message_t request(sub_code sub, std::initializer_list<std::uint8_t> params) {
    return make_message(unit_address, pc_address, cmd_loader, sub_byte(sub),
                        std::span<const std::uint8_t>(params.begin(), params.size()));
}

message_t reboot_request(std::uint8_t bank) {
    const std::uint8_t p1 = reboot_p1_template | bank;
    return make_message(unit_address, pc_address, cmd_reboot, sub_byte(sub_code::REBOOT_REQ),
                        std::span<const std::uint8_t>(&p1, 1));
}

message_t file_request(std::uint8_t index, std::uint8_t type, std::uint16_t block_size,
                       std::uint16_t block) {
    std::uint8_t params[6] = {index, type};
    put_be16(params + 2, block_size);
    put_be16(params + 4, block);
    return make_message(unit_address, pc_address, cmd_loader, sub_byte(sub_code::FILE_REQ),
                        params);
}

message_t firmware_info(std::uint8_t type, std::uint8_t index,
                        const std::vector<std::uint8_t>& file, std::uint32_t crc) {
    std::vector<std::uint8_t> params(firmware_info_size - param_p1, 0);
    const auto at = [&params](std::size_t offset) { return params.data() + offset - param_p1; };
    *at(firmware_info_at::file_type) = type;
    put_be16(at(firmware_info_at::chunk_size), default_chunk_size);
    put_be32(at(firmware_info_at::file_size), static_cast<std::uint32_t>(file.size()));
    put_be32(at(firmware_info_at::file_crc), crc);
    *at(firmware_info_at::bank) = index;
    const auto text = [&at](std::size_t offset, std::string_view value) {
        std::copy(value.begin(), value.end(), at(offset));
    };
    text(firmware_info_at::download_time, "Mon Dec 07 10:00:00 2026");
    text(firmware_info_at::file_time, "Sun Dec 06 09:30:00 2026");
    text(firmware_info_at::file_name, "test_image.bin");
    text(firmware_info_at::user, "tester");
    text(firmware_info_at::comment, "from the test");
    return make_message(unit_address, pc_address, cmd_loader, sub_byte(sub_code::FIRMWARE_INFO),
                        params);
}

message_t dl_data(const std::vector<std::uint8_t>& file, std::uint16_t chunk) {
    std::vector<std::uint8_t> params(4 + default_chunk_size, 0xA5);
    const std::size_t start = std::size_t{chunk} * default_chunk_size;
    const std::size_t valid =
        start < file.size() ? std::min<std::size_t>(default_chunk_size, file.size() - start) : 0;
    put_be16(params.data(), chunk);
    put_be16(params.data() + 2, static_cast<std::uint16_t>(valid));
    std::copy_n(file.begin() + static_cast<std::ptrdiff_t>(std::min(start, file.size())), valid,
                params.begin() + 4);
    return make_message(unit_address, pc_address, cmd_loader, sub_byte(sub_code::DL_DATA), params);
}

bool is_answer(const std::optional<message_t>& message, sub_code sub) {
    return message && message->size() > head_sub && (*message)[head_sa] == unit_address &&
           (*message)[head_da] == pc_address && (*message)[head_cmd] == cmd_loader &&
           (*message)[head_sub] == sub_byte(sub);
}

SimTest::SimTest() {
    const fs::path base = fs::path(::testing::TempDir()) / "kestrel-sim-XXXXXX";
    std::string pattern = base.string();
    if (::mkdtemp(pattern.data()) != nullptr) {
        dir_ = pattern;
    }
}

SimTest::~SimTest() {
    pc_.reset();
    unit_.reset();
    std::error_code error;
    if (!dir_.empty()) {
        fs::remove_all(dir_, error);
    }
}

sim_unit_options SimTest::test_options() const {
    sim_unit_options options;
    options.link_dir = dir_;
    options.boot_delay = 50ms;
    return options;
}

void SimTest::start(sim_unit_options options) {
    ASSERT_FALSE(dir_.empty()) << "no temporary folder";
    unit_ = std::make_unique<sim_unit>(std::move(options));
    unit_->start();
    pc_ = std::make_unique<pc_port>(unit_->link_path());
    ASSERT_TRUE(pc_->is_open()) << "cannot open " << unit_->link_path();
}

std::optional<message_t> SimTest::ask(const message_t& message, std::chrono::milliseconds timeout) {
    pc_->send(message);
    return pc_->receive(timeout);
}

void SimTest::boot_to(std::uint8_t bank) {
    pc_->send(reboot_request(bank));
    for (;;) {
        const std::optional<message_t> report = pc_->receive();
        ASSERT_TRUE(is_answer(report, sub_code::BOOTINFO_ACK)) << "no boot report";
        if ((*report)[bootinfo_at::bank] == bank) {
            return;
        }
    }
}
