// Test helpers: capture what the program prints, and turn an end of the run into an exception
// that carries the exit status, so that fatal paths can be checked in-process.
#pragma once

#include <mutex>
#include <string>

#include "platform/output.h"
#include "platform/process.h"

// Collects all program output while it lives.
class OutputCapture {
public:
    OutputCapture() { out_set_sink(&OutputCapture::append, this); }
    ~OutputCapture() { out_reset_sink(); }
    OutputCapture(const OutputCapture&) = delete;
    OutputCapture& operator=(const OutputCapture&) = delete;

    std::string text() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return text_;
    }
    // Returns what was printed so far and starts afresh.
    std::string take() {
        std::lock_guard<std::mutex> lock(mutex_);
        std::string result;
        result.swap(text_);
        return result;
    }

private:
    static void append(const char* data, std::size_t size, void* context) {
        auto* self = static_cast<OutputCapture*>(context);
        std::lock_guard<std::mutex> lock(self->mutex_);
        self->text_.append(data, size);
    }
    mutable std::mutex mutex_;
    std::string text_;
};

// Thrown instead of ending the process while an ExitTrap lives.
struct ProcessExited {
    int status;
};

class ExitTrap {
public:
    ExitTrap() { process_set_exit_hook(&ExitTrap::thrower); }
    ~ExitTrap() { process_set_exit_hook(nullptr); }
    ExitTrap(const ExitTrap&) = delete;
    ExitTrap& operator=(const ExitTrap&) = delete;

private:
    static void thrower(int status) { throw ProcessExited{status}; }
};
