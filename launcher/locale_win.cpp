#include "launcher/locale.h"

#include <windows.h>

#include "launcher/locale_table.h"
#include "launcher/log.h"
#include "launcher/win_handles.h"

std::string determineLocaleCode(const ArgumentVector* words) {
    LANGID language = static_cast<LANGID>(GetUserDefaultLCID() & 0xFFFF);
    bool formatLocale = false;
    if (words) {
        formatLocale = formatLocaleRequested(*words);
        logMessage(L"sun.locale.formatasdefault is %S", formatLocale ? "true" : "false");
    }
    if (!formatLocale) {
        using UiLanguageFn = LANGID(WINAPI*)();
        auto uiLanguage = system_calls::systemFunction<UiLanguageFn>(L"Kernel32.DLL", "GetUserDefaultUILanguage");
        if (uiLanguage) language = uiLanguage();
    }
    const std::string locale = localeForLanguageId(language);
    logMessage(L"language/country is %S", locale.c_str());
    return locale;
}
