// The name of the user running the program, recorded with every download.
#pragma once

#include <string>

// The account name (GetUserNameA on Windows, the login name on Linux); empty when there is none.
std::string current_user_name();
