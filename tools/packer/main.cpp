// tvxpack: builds an installer executable from the launcher stub, a JSON
// manifest and payload files, or dumps what an installer holds.
#include <cstring>
#include <iostream>
#include <optional>
#include <string>

#include "tools/packer/build_installer.h"
#include "tools/packer/dump.h"
#include "tools/packer/errors.h"
#include "tools/packer/manifest.h"

namespace {

constexpr const char* kUsage =
    "usage: tvxpack --stub STUB.exe --manifest MANIFEST.json --output OUT.exe\n"
    "       tvxpack --dump INSTALLER.exe\n"
    "       tvxpack --help\n"
    "\n"
    "Builds an installer: the stub image (which must end with its last section,\n"
    "or with a signature, which is left out: sign the installer after packing),\n"
    "then the configuration block (configuration values, message texts, locale\n"
    "blocks), the scrambled payload files and the data for the Java side, with the\n"
    "CRC-32 of the covered range in the block header.  The output is written to a\n"
    "temporary file beside OUT.exe and renamed over it only when complete.\n"
    "\n"
    "Manifest keys (relative paths are relative to the manifest's directory):\n"
    "  integrity_check   true/false or an integer flag (default true)\n"
    "  config            {\"id\": \"8-bit text\" or integer}; ids 2002 and 2003 are\n"
    "                    derived from the payload unless given\n"
    "  messages          {\"id\": \"text\"}, stored as UTF-16\n"
    "  default_messages  start from the built-in English texts (default true)\n"
    "  locales           [{\"name\": \"de\", \"messages\": {...}}], in file order\n"
    "  payload           [{\"name\": \"a.jar\", \"source\": \"path\" | \"content\": \"text\"}]\n"
    "  java_data         path of data appended after the payload\n"
    "  trailing_zeros    zero bytes appended after the covered range\n"
    "\n"
    "--dump prints the block location, header, CRC check, records, locale blocks\n"
    "and the payload walk of an installer.\n"
    "\n"
    "Exit codes: 0 success, 1 bad input, 2 wrong usage.\n";

struct Options {
    std::optional<std::string> stub, manifest, output, dump;
    bool help = false;
};

Options parseArguments(int argc, char** argv) {
    using packer::UsageError;
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            options.help = true;
            continue;
        }
        std::optional<std::string> inlineValue;
        if (std::size_t equals = argument.find('='); argument.rfind("--", 0) == 0 && equals != std::string::npos) {
            inlineValue = argument.substr(equals + 1);
            argument.resize(equals);
        }
        std::optional<std::string>* target = argument == "--stub"       ? &options.stub
                                             : argument == "--manifest" ? &options.manifest
                                             : argument == "--output"   ? &options.output
                                             : argument == "--dump"     ? &options.dump
                                                                        : nullptr;
        if (target == nullptr) throw UsageError("unknown argument '" + argument + "'");
        if (target->has_value()) throw UsageError(argument + " given twice");
        if (!inlineValue && i + 1 >= argc) throw UsageError(argument + " needs a file name");
        std::string value = inlineValue ? *inlineValue : argv[++i];
        if (value.empty()) throw UsageError(argument + " needs a file name");
        *target = value;
    }
    if (options.help) return options;
    const bool building = options.stub || options.manifest || options.output;
    if (options.dump && building) throw UsageError("--dump cannot be combined with --stub, --manifest or --output");
    if (!options.dump) {
        if (!building) throw UsageError("nothing to do");
        for (auto [value, name] : {std::pair{&options.stub, "--stub"}, std::pair{&options.manifest, "--manifest"},
                                   std::pair{&options.output, "--output"}})
            if (!value->has_value()) throw UsageError(std::string("missing ") + name);
    }
    return options;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        Options options = parseArguments(argc, argv);
        if (options.help) {
            std::cout << kUsage;
            return 0;
        }
        if (options.dump) {
            packer::dumpInstaller(*options.dump, std::cout);
        } else {
            packer::InstallerPlan plan = packer::loadManifest(*options.manifest);
            const packer::BuildNotes notes = packer::buildInstaller(*options.stub, plan, *options.output);
            if (const auto& table = notes.removedSignature)
                std::cerr << "tvxpack: note: " << *options.stub << " is signed; its signature (certificate table of "
                          << table->size << " bytes at offset " << table->offset
                          << ") is not part of the installer: sign the installer after packing\n";
        }
        std::cout.flush();
        return 0;
    } catch (const packer::UsageError& error) {
        std::cerr << "tvxpack: error: " << error.what() << " (see tvxpack --help)\n";
        return 2;
    } catch (const std::exception& error) {
        // PackError, and anything unexpected such as std::bad_alloc.
        std::cout.flush();
        std::cerr << "tvxpack: error: " << error.what() << "\n";
        return 1;
    }
}
