// A worker thread (a link's receiver): started once, raised to the highest priority the system
// grants, and waited for with a time limit when its link stops.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/os_error.h"

class os_thread {
public:
    using procedure = std::function<int()>;

    os_thread();
    ~os_thread();
    os_thread(const os_thread&) = delete;
    os_thread& operator=(const os_thread&) = delete;

    // Starts the procedure on a new thread with default settings; once that thread has ended
    // and been waited for, the object may start another. A thread still running when
    // its object is destroyed is left to run to the end of the process: whoever owns the object
    // waits for the thread first when the procedure uses what the owner holds.
    bool start(procedure body, os_error& error);

    // Asks for time-critical priority. Where the process has no right to it (an ordinary user
    // on Linux), the thread keeps its normal priority and the call still succeeds; false only
    // for a real failure.
    bool raise_priority(os_error& error);

    // Waits up to the given time for the thread to end; true when it has ended (it is then
    // joined and its resources released).
    bool wait(std::uint32_t milliseconds);

    bool started() const;

    struct state;  // the backend's own

private:
    std::unique_ptr<state> state_;
};
