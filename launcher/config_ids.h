// Names of the numbered configuration values and message texts an installer
// builder writes into the configuration block, and the codes of the internal
// error message.  Every reader of the store names its id from here; the packer
// uses the same names for the values it derives.
#pragma once

#include <cstdint>

namespace config {

// Configuration values (8-bit text; integers as decimal text, flags "0"/"1").
enum Id : std::int32_t {
    kErrorLogEnabled = 102,  // pass the error log name (kErrorLogName) to the Java side
    kErrorLogName = 103,
    kOutputLogEnabled = 104,  // pass the output log name (kOutputLogName) to the Java side
    kOutputLogName = 105,
    kJavaFlag = 106,        // handed to the Java side as "true"/"false"
    kExecutableKind = 107,  // 1 windowed, 5 graphical; others send errors to the console
    kSplashSettings = 108,  // hand the splash settings to the Java side
    kClassPath = 121,       // class path entry list
    kMainClass = 122,
    kVmParameters = 123,
    kMainArguments = 124,    // extra arguments for the Java side
    kJavaOptionWords = 125,  // "-J" words of the command line become VM options
    kMinimumJavaVersion = 126,
    kMaximumJavaVersion = 127,
    kSearchSequence = 128,
    kPreReleaseJavaAllowed = 130,
    kJdkRequired = 131,
    kModulePath = 132,  // module path entry list
    kMainClassInModule = 133,
    kWorkingDirectory = 146,
    kJreDownloadLocation = 150,
    kCarriedJreSize = 151,
    kJvmLibraryVariant = 152,
    kCarriedJrePacked = 153,
    kNoProgressDialog = 155,
    kJreDownloadAllowed = 157,
    kGlobalInstanceObjects = 158,
    kNoStartupTimeout = 159,
    kApplicationId = 160,
    kPreferInstalledJvm = 161,
    kSplashFlag = 163,
    kOnlyOwnRuntimes = 165,
    kReadDefaultOptionsFile = 166,
    kProgramKind = 2001,  // "i" installer, "e" plain application
    kPayloadCount = 2002,
    kPayloadNames = 2003,  // ";"-separated, in payload order
    kPreferenceDirectory = 10003,
    kNativeLibraryDirectories = 10004,
    kSingleInstance = 10005,
    kBringOtherInstanceToFront = 10007,
    // Splash texts: four groups of a font text and two integers, handed to
    // the Java side as they stand.
    kSplashValue1a = 10109,
    kSplashValue1b = 10110,
    kSplashFont1 = 10111,
    kSplashValue2a = 10113,
    kSplashFont2 = 10114,
    kSplashValue2b = 10115,
    kSplashValue3a = 10116,
    kSplashValue3b = 10117,
    kSplashFont3 = 10118,
    kSplashValue4a = 10120,
    kSplashFont4 = 10121,
    kSplashValue4b = 10122,
    // Version-specific VM parameters: the row count, then for row k the
    // version prefix at kVersionRowsFirst + 2k and its options one after.
    kVersionRowCount = 10200,
    kVersionRowsFirst = 10201,
};

}  // namespace config

namespace message {

// Message texts (UTF-16), translatable per locale.
enum Id : std::int32_t {
    kErrorCaption = 1000,
    kJvmNotStarted = 1005,
    kFileNotFound = 1006,
    kVariableNotDefined = 1008,
    kInternalError = 1009,
    kMainClassNotFound = 1010,
    kMainMethodNotFound = 1011,
    kNoTempDirectory = 1015,
    kNoJvmOfBitWidth = 1016,
    kVariableNotWorking32 = 1017,
    kVariableNotWorking64 = 1018,
    kJvmDamaged32 = 1019,
    kJvmDamaged64 = 1020,
    kDownloading = 20001,
    kNoInternetLibrary = 20002,
    kDownloadFailed = 20003,
    kLocateTitle = 20004,
    kLocateOrDownload = 20005,
    kLocateOnly = 20006,
    kPreparing = 20007,
    kDownloadProgress = 20008,
    kConnecting = 20009,
    kDownloadButton = 20010,
    kLocateButton = 20011,
    kCancelButton = 20012,
    kInstallerCaption = 20013,
    kStartupTimeout = 20014,
    kInstallerCorrupted = 20016,
    kNotEnoughDiskSpace = 20018,
    kMinimumVersionLabel = 20019,
    kMaximumVersionLabel = 20020,
};

}  // namespace message

// The codes message kInternalError shows in its "{0}", one per failure site.
enum class InternalError {
    NoExtractionDirectory = 7,        // no extraction directory in 10 attempts
    PayloadFileNotCreated = 11,       // a payload file cannot be created (or its name is unsafe)
    UnpackNotStarted = 20,            // the unpack process of a ".pack" file cannot start
    IntegrityReadFailed = 34,         // reading the installer failed during the integrity check
    ExtractDirectoryNotCreated = 70,  // the extract-and-exit directory cannot be created
    UnextractedNotWritten = 71,       // "unextracted.txt" cannot be written
};
