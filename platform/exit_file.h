// A file written on the way out when the run ends early (a signal, or an error that ends the
// run from any thread), from a text prepared beforehand: no formatting, no allocation and no
// locks at that moment, so that it can be done inside a signal handler. The text comes in two
// parts; the status the process ends with is written between them as a decimal number. The
// file goes under a temporary name first and takes its own name once complete, so that no one
// sees half of it.
#pragma once

#include <string>

// Prepares (or replaces) the text; the file is written if the process ends before
// cancel_exit_file. Main thread only.
void prepare_exit_file(const std::string& path, const std::string& before_status,
                       const std::string& after_status);

// The run wrote the file itself (or no longer wants it): nothing is written on the way out.
void cancel_exit_file();
