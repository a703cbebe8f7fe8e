"""natives/native_list.py: the one reader of the list of natives, the stdcall
argument bytes of the decorated names, the C prototypes and the export list.

Run by CTest in the Windows builds (python3 -m unittest)."""
import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "natives"))
import native_list  # noqa: E402

LIST_FILE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "natives", "native_methods.inc")
PACKAGE = "com/tovrix/runtime/installer/platform/win32"


class ArgumentBytes(unittest.TestCase):
    def test_stdcall_rules(self):
        cases = [
            ("()V", 8),
            ("(IZ)Ljava/lang/String;", 16),
            ("(J)I", 16),
            ("([IZI)I", 20),
            ("(J[B)Z", 20),
            ("([J[D)V", 16),  # arrays are references, whatever their element type
            ("([[J)V", 12),
            ("(D)V", 16),
            ("(Ljava/lang/String;ZZZZZILjava/lang/String;)Z", 40),
            ("(JLjava/lang/String;Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;IIZLjava/lang/String;"
             "[Ljava/lang/String;[Ljava/lang/String;I[Ljava/lang/String;[Z)[Ljava/lang/String;", 68),
        ]
        for signature, expected in cases:
            with self.subTest(signature=signature):
                self.assertEqual(native_list.argument_bytes(signature), expected)

    def test_malformed_signatures_are_refused(self):
        for signature in ["", "(Ljava/lang/String", "(Q)V", "(I", "(L;)V", "([)V", "()", "()Ljava/lang/String"]:
            with self.subTest(signature=signature):
                with self.assertRaises(ValueError):
                    native_list.argument_bytes(signature)


class CTypes(unittest.TestCase):
    def test_each_descriptor_has_its_jni_type(self):
        cases = [
            ("(ZBCSIJFD)V", ["jboolean", "jbyte", "jchar", "jshort", "jint", "jlong", "jfloat", "jdouble"], "void"),
            ("(Ljava/lang/String;Ljava/lang/Class;Ljava/lang/Object;)Ljava/lang/Throwable;",
             ["jstring", "jclass", "jobject"], "jthrowable"),
            ("([Z[B[I[J[Ljava/lang/String;[[I)[Lcom/x/WindowInfo;",
             ["jbooleanArray", "jbyteArray", "jintArray", "jlongArray", "jobjectArray", "jobjectArray"],
             "jobjectArray"),
        ]
        for signature, params, result in cases:
            with self.subTest(signature=signature):
                types, result_type = native_list.parameter_types(signature)
                self.assertEqual([native_list.c_type(t) for t in types], params)
                self.assertEqual(native_list.c_type(result_type), result)


class TheList(unittest.TestCase):
    def test_names_its_package_once_and_parses_whole(self):
        natives = native_list.read_list(LIST_FILE)
        self.assertEqual(natives.package, PACKAGE)
        self.assertEqual(len(natives.classes), 15)
        self.assertEqual(len(natives.methods()), 79)

    def test_malformed_lists_are_refused(self):
        cases = {
            "no package": 'NATIVE_CLASS(A)\n',
            "package twice": 'NATIVE_PACKAGE("a/b")\nNATIVE_PACKAGE("a/b")\n',
            "package after a class": 'NATIVE_PACKAGE("a/b")\nNATIVE_CLASS(A)\nNATIVE_PACKAGE("a/c")\n',
            "method outside its class": 'NATIVE_PACKAGE("a/b")\nNATIVE_CLASS(A)\nNATIVE_METHOD(B, m, "()V")\n',
            "class twice": 'NATIVE_PACKAGE("a/b")\nNATIVE_CLASS(A)\nNATIVE_CLASS(A)\n',
            "bad signature": 'NATIVE_PACKAGE("a/b")\nNATIVE_CLASS(A)\nNATIVE_METHOD(A, m, "(Q)V")\n',
            "stray line": 'NATIVE_PACKAGE("a/b")\nint x;\n',
        }
        for name, text in cases.items():
            with self.subTest(name):
                with self.assertRaises(ValueError):
                    native_list.parse_list(text)


class Outputs(unittest.TestCase):
    TEXT = ('// comment\nNATIVE_PACKAGE("a/b")\n\nNATIVE_CLASS(Folder)\n'
            'NATIVE_METHOD(Folder, get0, "(IZ)Ljava/lang/String;")\nNATIVE_METHOD(Folder, set0, "(J[B)V")\n')

    def test_export_list_per_target(self):
        natives = native_list.parse_list(self.TEXT)
        self.assertEqual(native_list.exports_def(natives, "i686").splitlines(), [
            "EXPORTS", "    registerNatives",
            "    _Java_a_b_Folder_get0@16 = Java_a_b_Folder_get0@16",
            "    _Java_a_b_Folder_set0@20 = Java_a_b_Folder_set0@20",
        ])
        self.assertEqual(native_list.exports_def(natives, "x86_64").splitlines(), [
            "EXPORTS", "    registerNatives", "    Java_a_b_Folder_get0", "    Java_a_b_Folder_set0",
        ])

    def test_prototypes_and_table(self):
        natives = native_list.parse_list(self.TEXT)
        header = native_list.prototypes_header(natives)
        self.assertIn("jstring JNICALL Java_a_b_Folder_get0(JNIEnv*, jclass, jint, jboolean);", header)
        self.assertIn("void JNICALL Java_a_b_Folder_set0(JNIEnv*, jclass, jlong, jbyteArray);", header)
        declarations = [line for line in header.splitlines() if "JNICALL" in line]
        self.assertEqual(len(declarations), 2)
        self.assertFalse([line for line in declarations if "JNIEXPORT" in line], "exports come from the .def only")
        self.assertIn('#define NATIVE_PACKAGE_PATH "a/b"', native_list.package_header(natives))
        self.assertIn('{"a/b/Folder", "set0", "(J[B)V", "_Java_a_b_Folder_set0@20", "Java_a_b_Folder_set0"},',
                      native_list.table_entries(natives, "i686"))


if __name__ == "__main__":
    unittest.main()
