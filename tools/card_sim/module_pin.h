// Keeps the stand-in library loaded for the rest of the process once its fault handler is
// installed: the handler's code and the window it serves must outlive any unload request.
#pragma once

void pin_this_module();

// Leaves an exported name out of the library's export table, so that a look-up by that name
// finds nothing: the in-memory name is shortened by one character.
void hide_export(const char* name, const void* function);
