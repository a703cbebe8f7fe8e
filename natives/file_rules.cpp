#include "natives/file_rules.h"

namespace files {

namespace {

// CSIDL numbers of the folders the codes name.
constexpr int kDesktop = 0;                  // CSIDL_DESKTOP
constexpr int kPrograms = 2;                 // CSIDL_PROGRAMS
constexpr int kPersonal = 5;                 // CSIDL_PERSONAL
constexpr int kFavorites = 6;                // CSIDL_FAVORITES
constexpr int kStartup = 7;                  // CSIDL_STARTUP
constexpr int kSendTo = 9;                   // CSIDL_SENDTO
constexpr int kStartMenu = 11;               // CSIDL_STARTMENU
constexpr int kDesktopDirectory = 16;        // CSIDL_DESKTOPDIRECTORY
constexpr int kFonts = 20;                   // CSIDL_FONTS
constexpr int kTemplates = 21;               // CSIDL_TEMPLATES
constexpr int kCommonStartMenu = 22;         // CSIDL_COMMON_STARTMENU
constexpr int kCommonPrograms = 23;          // CSIDL_COMMON_PROGRAMS
constexpr int kCommonStartup = 24;           // CSIDL_COMMON_STARTUP
constexpr int kCommonDesktopDirectory = 25;  // CSIDL_COMMON_DESKTOPDIRECTORY
constexpr int kAppData = 26;                 // CSIDL_APPDATA
constexpr int kLocalAppData = 28;            // CSIDL_LOCAL_APPDATA
constexpr int kCommonFavorites = 31;         // CSIDL_COMMON_FAVORITES
constexpr int kCommonAppData = 35;           // CSIDL_COMMON_APPDATA
constexpr int kCommonTemplates = 45;         // CSIDL_COMMON_TEMPLATES
constexpr int kCommonDocuments = 46;         // CSIDL_COMMON_DOCUMENTS

struct FolderPair {
    int user;
    int common;
};

// Codes 1 to 11, in order.
constexpr FolderPair kFolders[] = {
    {kDesktopDirectory, kCommonDesktopDirectory},
    {kStartMenu, kCommonStartMenu},
    {kPrograms, kCommonPrograms},
    {kStartup, kCommonStartup},
    {kSendTo, kSendTo},
    {kFonts, kFonts},
    {kAppData, kCommonAppData},
    {kPersonal, kCommonDocuments},
    {kTemplates, kCommonTemplates},
    {kFavorites, kCommonFavorites},
    {kLocalAppData, kLocalAppData},
};

}  // namespace

int shellFolderId(int code, bool common) {
    constexpr int kCount = static_cast<int>(sizeof kFolders / sizeof kFolders[0]);
    if (code < 1 || code > kCount) return kDesktop;
    const FolderPair& pair = kFolders[code - 1];
    return common ? pair.common : pair.user;
}

KnownFolder knownFolder(int code) {
    switch (code) {
        case 1001: return KnownFolder::downloads;
        case 1002: return KnownFolder::userProgramFiles;
        case 1003: return KnownFolder::userProgramFilesCommon;
        default: return KnownFolder::profile;
    }
}

int compareFileVersions(const std::optional<FileVersionNumber>& first, const std::optional<FileVersionNumber>& second) {
    if (!first || !second) return kVersionUnknown;
    const std::uint64_t a = (std::uint64_t{first->mostSignificant} << 32) | first->leastSignificant;
    const std::uint64_t b = (std::uint64_t{second->mostSignificant} << 32) | second->leastSignificant;
    if (a == b) return kVersionsEqual;
    return a > b ? kFirstHigher : kSecondHigher;
}

std::uint32_t accessMask(bool read, bool write, bool execute, bool all) {
    return (read ? kGenericRead : 0) | (write ? kGenericWrite : 0) | (execute ? kGenericExecute : 0) |
           (all ? kGenericAll : 0);
}

Trustee trusteeFor(int kind) {
    Trustee trustee;
    switch (kind) {
        case 3: trustee.fromAccount = true; break;
        case 1:  // S-1-5-11: NT authority, authenticated users
            trustee.authority = 5;
            trustee.subAuthorityCount = 1;
            trustee.subAuthorities[0] = 11;
            break;
        case 5:  // S-1-5-32-547: NT authority, built-in domain, power users
            trustee.authority = 5;
            trustee.subAuthorityCount = 2;
            trustee.subAuthorities[0] = 32;
            trustee.subAuthorities[1] = 547;
            break;
        default:  // S-1-1-0: world authority, everyone
            trustee.authority = 1;
            trustee.subAuthorityCount = 1;
            trustee.subAuthorities[0] = 0;
            break;
    }
    return trustee;
}

}  // namespace files
