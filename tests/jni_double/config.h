// The configuration file of the jvm.dll test double, "jvm_double.cfg" beside
// the DLL (or the file the environment variable JVM_DOUBLE_CONFIG names).
// UTF-8, one "key=value" per line; blank lines and lines starting with "#"
// are skipped; keys other than "fail" and the declarations may appear once.
//
//   defaults=yes|no          start with the launcher's classes and the fifteen
//                            native classes of the natives table (default yes)
//   record=<path>            append the record to this file, UTF-8, one event
//                            per line, written as each event happens; a
//                            relative path is taken against the file's directory
//   fail=<step>              a step that fails (repeatable): create,
//                            findclass:<class>, method:<name>,
//                            registernatives:<class>, main:throw, main:exit:<n>
//   throw=<text>             toString of the exception "main:throw" leaves
//                            (default "java.lang.RuntimeException: requested by test")
//   class=<class>            a further class
//   static=<class> <name> <signature>   a further static method
//   field=<class> <name> <signature>    a further static field
//   native=<class> <name> <signature>   a further static native method
#pragma once

#include <string>
#include <vector>

#include "tests/jni_double/jni_double.h"

namespace jni_double {

struct Configuration {
    struct Member {
        std::string kind;  // "static", "field" or "native"
        std::string className;
        std::string name;
        std::string signature;
    };
    bool defaults = true;
    std::string recordPath;  // UTF-8, as written
    std::vector<std::string> failures;
    bool hasThrowText = false;
    std::wstring throwText;
    std::vector<std::string> classes;
    std::vector<Member> members;
    std::vector<std::string> errors;  // "line <n>: <what>"
};

Configuration parseConfiguration(const std::string& text);

// Declares what the configuration asks for, sets its failures and records
// each configuration error (and each unknown failure step) as an error event.
void applyConfiguration(Environment& environment, const Configuration& configuration);

// UTF-8 to UTF-16 (invalid bytes become U+FFFD).
std::wstring fromUtf8(const std::string& text);

}  // namespace jni_double
