// The console the launcher writes to in its console modes.
#pragma once

#include <string>

// Marks the console as in use, then attaches to the parent's console or
// allocates a new one.  False when neither worked.
bool setupConsole();
// Writes to standard output: through the console handle when the console is in
// use, else through the runtime's stream; flushed either way.
void writeStandardOutput(const std::string& text);
