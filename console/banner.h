// The program's name and version as it shows them: in the version answer, on every screen
// header and at the start of a command-line run.
#pragma once

inline constexpr const char* kestrel_banner = "  Kestrel QX_RL4471902-3";
