#include "files/written_files.h"

#include <utility>

namespace {
// Main thread only.
std::vector<written_file> files;
}  // namespace

void note_written_file(written_file file) { files.push_back(std::move(file)); }

const std::vector<written_file>& written_files() { return files; }

void forget_written_files() { files.clear(); }
