// Where a selected Java runtime came from; it chooses the failure message of a
// search that found runtimes but could load none.
#pragma once

enum class JvmSource : int {
    None = 0,
    SystemPath = 1,
    Location = 2,     // a configured or preferred directory, a given location or java executable
    Environment = 3,  // an environment variable; the source name is the variable's name
    Registry = 4,     // vendor keys, located JVMs or previous installations
};
