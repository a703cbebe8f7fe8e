#!/usr/bin/env python3
"""The one list of natives (native_methods.inc) read once, and what the build
derives from it for one target:

  natives/native_package.h        the package and the C name of a native
                                  (NATIVE_PACKAGE_PATH, NATIVE_FUNCTION)
  natives/native_prototypes.h     the exact C prototype of every native, so a
                                  definition with another parameter list or
                                  result type does not compile
  natives/native_table_entries.inc  the registration table: class path,
                                  method, signature, exported name and JNI
                                  symbol of every native, in list order
  DEF_FILE                        the module-definition file that exports every
                                  native under its exact name, and
                                  registerNatives

The Java package of the natives is named once, by the NATIVE_PACKAGE line of
the list, and the stdcall argument bytes of the decorated 32-bit names are
counted here and nowhere else.  java/gen_natives.py reads the list through
this module too.

usage: native_list.py native_methods.inc INCLUDE_DIR DEF_FILE {i686|x86_64}
(the headers are written to INCLUDE_DIR/natives/)"""
import os
import re
import sys

# JNI parameter and result types by field descriptor.
C_TYPES = {"Z": "jboolean", "B": "jbyte", "C": "jchar", "S": "jshort",
           "I": "jint", "J": "jlong", "F": "jfloat", "D": "jdouble", "V": "void"}
C_ARRAY_TYPES = {"Z": "jbooleanArray", "B": "jbyteArray", "C": "jcharArray", "S": "jshortArray",
                 "I": "jintArray", "J": "jlongArray", "F": "jfloatArray", "D": "jdoubleArray"}
C_CLASS_TYPES = {"java/lang/String": "jstring", "java/lang/Class": "jclass",
                 "java/lang/Throwable": "jthrowable"}


class NativeList:
    """The parsed list: the package (with slashes) and the classes in
    registration order, each with its (method, signature) pairs in order."""

    def __init__(self, package, classes):
        self.package = package
        self.classes = classes

    def methods(self):
        """(class, method, signature) of every native, in list order."""
        return [(cls, method, signature) for cls, methods in self.classes for method, signature in methods]


def parse_list(text):
    """The NativeList of the text of native_methods.inc.  Raises ValueError
    for anything else than comments, blank lines, one leading NATIVE_PACKAGE,
    NATIVE_CLASS lines and NATIVE_METHOD lines under their own class, and for
    a signature that is not a well-formed method descriptor."""
    package, classes = None, []
    for number, line in enumerate(text.splitlines(), 1):
        line = line.strip()
        if not line or line.startswith("//"):
            continue
        m = re.fullmatch(r'NATIVE_PACKAGE\("([\w/]+)"\)', line)
        if m:
            if package is not None or classes:
                raise ValueError("line %d: NATIVE_PACKAGE must come once, before every class" % number)
            package = m.group(1)
            continue
        m = re.fullmatch(r"NATIVE_CLASS\((\w+)\)", line)
        if m:
            if package is None:
                raise ValueError("line %d: NATIVE_CLASS before NATIVE_PACKAGE" % number)
            if any(name == m.group(1) for name, _ in classes):
                raise ValueError("line %d: class %s listed twice" % (number, m.group(1)))
            classes.append((m.group(1), []))
            continue
        m = re.fullmatch(r'NATIVE_METHOD\((\w+), (\w+), "([^"]+)"\)', line)
        if not m:
            raise ValueError("line %d: not a native list entry: %s" % (number, line))
        if not classes or classes[-1][0] != m.group(1):
            raise ValueError("line %d: %s.%s is not under NATIVE_CLASS(%s)"
                             % (number, m.group(1), m.group(2), m.group(1)))
        try:
            parameter_types(m.group(3))
        except ValueError as e:
            raise ValueError("line %d: %s" % (number, e))
        classes[-1][1].append((m.group(2), m.group(3)))
    if package is None:
        raise ValueError("no NATIVE_PACKAGE line")
    return NativeList(package, classes)


def read_list(path):
    with open(path) as f:
        return parse_list(f.read())


def field_type(descriptor, i):
    """The field descriptor starting at i, split into (array dimensions, kind,
    class name or None), and the index after it."""
    dims = 0
    while i < len(descriptor) and descriptor[i] == "[":
        dims, i = dims + 1, i + 1
    if i >= len(descriptor):
        raise ValueError("type missing after '[' in %r" % descriptor)
    kind = descriptor[i]
    if kind == "L":
        end = descriptor.find(";", i)
        if end < 0 or end == i + 1:
            raise ValueError("unterminated class name in %r" % descriptor)
        return (dims, "L", descriptor[i + 1:end]), end + 1
    if kind in C_TYPES and kind != "V":
        return (dims, kind, None), i + 1
    raise ValueError("bad type %r in %r" % (kind, descriptor))


def parameter_types(signature):
    """([parameter types], result type) of a method descriptor; each type as
    field_type gives it, the result None for void."""
    m = re.fullmatch(r"\((.*)\)(.+)", signature)
    if not m:
        raise ValueError("not a method signature: %r" % signature)
    params, i = [], 0
    while i < len(m.group(1)):
        t, i = field_type(m.group(1), i)
        params.append(t)
    if m.group(2) == "V":
        return params, None
    result, end = field_type(m.group(2), 0)
    if end != len(m.group(2)):
        raise ValueError("bad result type in %r" % signature)
    return params, result


def argument_bytes(signature):
    """Bytes of stdcall arguments: 8 for the environment and the class (every
    native is static), 8 for each long or double parameter, 4 for every other
    one (arrays of any element type are references)."""
    params, _ = parameter_types(signature)
    return 8 + sum(8 if dims == 0 and kind in "JD" else 4 for dims, kind, _ in params)


def c_type(t):
    """The JNI C type of a parameter or result type (None: void)."""
    if t is None:
        return "void"
    dims, kind, name = t
    if dims > 1 or (dims == 1 and kind == "L"):
        return "jobjectArray"
    if dims == 1:
        return C_ARRAY_TYPES[kind]
    if kind == "L":
        return C_CLASS_TYPES.get(name, "jobject")
    return C_TYPES[kind]


def jni_symbol(package, cls, method):
    """"Java_<package with _>_<Class>_<method>" (names of the list use no
    characters that JNI would escape)."""
    return "Java_%s_%s_%s" % (package.replace("/", "_"), cls, method)


def export_name(package, cls, method, signature, arch):
    """The exported name: "_" symbol "@" bytes on i686, the symbol on x86_64."""
    symbol = jni_symbol(package, cls, method)
    return "_%s@%d" % (symbol, argument_bytes(signature)) if arch == "i686" else symbol


def package_header(natives):
    return "\n".join([
        "// Generated by natives/native_list.py from natives/native_methods.inc; do not edit.",
        "#pragma once",
        "",
        "// The package of every class with natives, with slashes.",
        '#define NATIVE_PACKAGE_PATH "%s"' % natives.package,
        "// The C name of a native: NATIVE_FUNCTION(Registry, keyExists0) is",
        "// %s." % jni_symbol(natives.package, "Registry", "keyExists0"),
        "#define NATIVE_FUNCTION(cls, method) %s_##cls##_##method" % jni_symbol(natives.package, "", "")[:-2],
    ]) + "\n"


def prototypes_header(natives):
    lines = [
        "// Generated by natives/native_list.py from natives/native_methods.inc; do not edit.",
        "//",
        "// The exact prototype of every native.  Each definition of a native (inside",
        "// extern \"C\") and each test that calls one includes this header, so a",
        "// definition whose parameters or result differ from its JNI signature is a",
        "// conflicting declaration of a C function, which does not compile.  The",
        "// prototypes carry no JNIEXPORT: the generated module-definition file exports",
        "// each native under its exact name, and dllexport would add a second,",
        "// undecorated export on i686.",
        "#pragma once",
        "",
        "#include <jni.h>",
        "",
        '#include "natives/native_package.h"',
        "",
        'extern "C" {',
    ]
    for cls, methods in natives.classes:
        lines.append("")
        lines.append("// %s" % cls)
        for method, signature in methods:
            params, result = parameter_types(signature)
            args = ", ".join(["JNIEnv*", "jclass"] + [c_type(t) for t in params])
            lines.append("%s JNICALL %s(%s);  // %s" % (c_type(result), jni_symbol(natives.package, cls, method),
                                                         args, signature))
    lines += ["", '}  // extern "C"']
    return "\n".join(lines) + "\n"


def table_entries(natives, arch):
    lines = ["// Generated by natives/native_list.py from natives/native_methods.inc; do not edit.",
             "// {class path, method, signature, exported name, JNI symbol} for %s." % arch]
    for cls, method, signature in natives.methods():
        lines.append('{"%s/%s", "%s", "%s", "%s", "%s"},' % (
            natives.package, cls, method, signature, export_name(natives.package, cls, method, signature, arch),
            jni_symbol(natives.package, cls, method)))
    return "\n".join(lines) + "\n"


def exports_def(natives, arch):
    """Decorated names on i686 are aliases of the compiler's "Java_..._m@N"
    (GCC exports stdcall functions without the leading underscore)."""
    lines = ["EXPORTS", "    registerNatives"]
    for cls, method, signature in natives.methods():
        name = export_name(natives.package, cls, method, signature, arch)
        lines.append("    %s = %s" % (name, name[1:]) if arch == "i686" else "    " + name)
    return "\n".join(lines) + "\n"


def write(path, text):
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    with open(path, "w") as f:
        f.write(text)


def main(source, include_dir, def_file, arch):
    if arch not in ("i686", "x86_64"):
        raise ValueError("unknown target %r (i686 or x86_64)" % arch)
    natives = read_list(source)
    write(os.path.join(include_dir, "natives", "native_package.h"), package_header(natives))
    write(os.path.join(include_dir, "natives", "native_prototypes.h"), prototypes_header(natives))
    write(os.path.join(include_dir, "natives", "native_table_entries.inc"), table_entries(natives, arch))
    write(def_file, exports_def(natives, arch))


if __name__ == "__main__":
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    try:
        main(*sys.argv[1:])
    except ValueError as e:
        sys.exit("native_list: " + str(e))
