#include "tools/packer/default_messages.h"

namespace packer {

const std::vector<std::pair<std::int32_t, const char*>>& defaultMessages() {
    static const std::vector<std::pair<std::int32_t, const char*>> kMessages = {
        {1000, "Error"},
        {1005,
         "The JVM could not be started. The maximum heap size (-Xmx) might be too large or an antivirus or "
         "firewall tool could block the execution."},
        {1006, "File or directory {0} not found or empty\n"},
        {1007, "Wrong Parameter Usage"},
        {1008, "The environment variable {0} has to be defined"},
        {1009, "An internal error occurred (error code: {0})"},
        {1010, "Couldn't load main class."},
        {1011, "Main method not found."},
        {1012, "Error"},
        {1013, "Ok"},
        {1014, "An error occurred while starting up {0}:"},
        {1015, "You must be at least Poweruser to run this program."},
        {1017, "The {0} environment variable does not\npoint to a working 32-bit JDK or JRE."},
        {1019,
         "The JVM found at {0} is damaged.\nPlease reinstall or define KELPA_JAVA_HOME\nto point to an installed "
         "32-bit JDK or JRE."},
        {20002, "Cannot initialize wininet.dll. Please install\nInternet Explorer 3.0 or higher."},
        {20003,
         "Error downloading the Java(TM) Runtime Environment.\nPlease check your internet connection and start "
         "setup again."},
        {20005,
         "The tovrix wizard could not find a Java(TM) Runtime Environment on your system. You can locate or "
         "download a suitable %S-bit JRE."},
        {20008, "%.2f MB of %.2f MB (%.1f%%) at %.1f kb/s"},
        {20009, "Initializing connection ..."},
        {20010, "Download"},
        {20011, "Locate"},
        {20012, "Cancel"},
        {20013, "tovrix Wizard"},
        {20016, "The installation file is corrupted. If it is a download please try it again."},
        {20018, "Not Enough Disk Space"},
        {20019, "minimum version:"},
        {20020, "maximum version:"},
    };
    return kMessages;
}

}  // namespace packer
