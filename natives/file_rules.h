// The decisions of the folder, file version and access-control natives that
// need no Windows: which shell folder or known folder a folder code names,
// how two fixed file versions compare, which access rights and trustee an
// access request asks for, and how registry data becomes a path text.  Text is
// UTF-16 (`wchar`, launcher/text.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "launcher/text.h"

namespace files {

// ---- Folder codes

// Codes up to this one name shell folders (CSIDL numbers); codes above it
// name known folders.
constexpr int kLastShellFolderCode = 1000;
// The shell folder id (CSIDL) of a folder code up to kLastShellFolderCode:
// codes 1 to 11 by the common flag (the all-users folder where one exists),
// every other code the desktop (0).
int shellFolderId(int code, bool common);

// The known folders that codes above kLastShellFolderCode name: 1001
// downloads, 1002 the per-user programs, 1003 the per-user common programs,
// any other the user profile.
enum class KnownFolder { downloads, userProgramFiles, userProgramFilesCommon, profile };
KnownFolder knownFolder(int code);

// Buffers of the folder and path natives, in characters.
constexpr std::size_t kFolderPathChars = 32768;     // SHGetFolderPathW
constexpr std::size_t kSystemPathChars = 32767;     // directories, short names
constexpr std::size_t kUniversalNameBytes = 65534;  // WNetGetUniversalNameW
constexpr std::size_t kRegistryPathBytes = 32767;   // getPathFromRegistry0's value

// ---- File versions

// A fixed file version: the most and the least significant 32 bits.
struct FileVersionNumber {
    std::uint32_t mostSignificant = 0;
    std::uint32_t leastSignificant = 0;
};

// Comparison results: equal, first higher, second higher, undecidable.
constexpr int kVersionsEqual = 0;
constexpr int kFirstHigher = 1;
constexpr int kSecondHigher = 2;
constexpr int kVersionUnknown = 3;

// The comparison of two file versions as unsigned pairs; kVersionUnknown
// when either is missing.
int compareFileVersions(const std::optional<FileVersionNumber>& first, const std::optional<FileVersionNumber>& second);

// The path buffer of the version comparison holds this many characters with
// the NUL; a longer path is refused (undecidable), never cut.
constexpr std::size_t kVersionPathChars = 32768;
inline bool fitsVersionPath(std::size_t length) { return length < kVersionPathChars; }

// ---- Access-control entries

// The generic rights of the read, write, execute and all flags, OR-ed.
constexpr std::uint32_t kGenericRead = 0x80000000u;
constexpr std::uint32_t kGenericWrite = 0x40000000u;
constexpr std::uint32_t kGenericExecute = 0x20000000u;
constexpr std::uint32_t kGenericAll = 0x10000000u;
std::uint32_t accessMask(bool read, bool write, bool execute, bool all);

// Whom an access entry is for, by the Java side's trustee kind: 3 the
// account argument (a SID string or an account name); 1 authenticated users
// (S-1-5-11); 5 the power users group (S-1-5-32-547); any other kind
// everyone (S-1-1-0).  A well-known SID has an identifier authority and one
// or two sub-authorities.
struct Trustee {
    bool fromAccount = false;
    std::uint8_t authority = 0;
    std::uint8_t subAuthorityCount = 0;
    std::uint32_t subAuthorities[2] = {0, 0};
};
Trustee trusteeFor(int kind);

// Buffers of the account-name lookup: the SID in bytes, the domain in characters.
constexpr std::size_t kAccountSidBytes = 8192;
constexpr std::size_t kAccountDomainChars = 8192;

// ---- Registry text

}  // namespace files
