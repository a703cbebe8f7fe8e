// Error kinds of the packer.  Every failure travels as an exception up to
// main(), which prints it as one "tvxpack: error: " line and picks the exit
// code from its kind.
#pragma once

#include <stdexcept>
#include <string>

namespace packer {

// Bad input: a manifest, stub, source file or installer that cannot be used,
// or a file that cannot be read or written.  Exit code 1.
class PackError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Wrong command line.  Exit code 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace packer
