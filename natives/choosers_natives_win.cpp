// Natives of the Java classes VistaFileChooser (the shell's common item
// dialog for opening or saving files, with filters and an optional group of
// check boxes whose states travel back) and ObjectPicker (the
// directory-services object picker for users, groups and well-known
// principals).
//
// Every COM object is held by a ComPtr and released on every path; the file
// chooser runs in the apartment initialize0 set up on the calling thread, the
// picker initialises and uninitialises COM around itself.  Failure, a
// cancelled dialog included, is a null result.  Arguments the dialog cannot
// take are refused before it is created, with a null result: a filter name
// without a pattern, a check box without a state, a null element in either
// list (the dialog would read them as strings).
#include <windows.h>

#include <ole2.h>  // VARIANT and IDataObject, which objsel.h uses

#include <objsel.h>
#include <sddl.h>
#include <shobjidl.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "launcher/win_handles.h"
#include "natives/choosers_win.h"
#include "natives/com_ptr.h"
#include "natives/jni_helpers.h"
#include "natives/native_bridge.h"
#include "natives/native_prototypes.h"
#include "natives/picker_scope.h"

namespace {

using jni::JavaString;
using jni::LocalRef;

// ---- File chooser

const CLSID kFileOpenDialog = {0xDC1C5A9C, 0xE88A, 0x4DDE, {0xA5, 0xA1, 0x60, 0xF8, 0x2A, 0x20, 0xAE, 0xF7}};
const IID kIFileOpenDialog = {0xD57C7288, 0xD4AD, 0x4768, {0xBE, 0x02, 0x9D, 0x96, 0x95, 0x32, 0xD9, 0x60}};
const CLSID kFileSaveDialog = {0xC0B4E2F3, 0xBA21, 0x4773, {0x8D, 0xBA, 0x33, 0x5E, 0xC9, 0x46, 0xEB, 0x8B}};
const IID kIFileDialog = {0x42F85136, 0xDB7E, 0x439C, {0x85, 0xF1, 0xE4, 0x07, 0x5D, 0x13, 0x5F, 0xC8}};
const IID kIFileDialogCustomize = {0xE6FDD21A, 0x163F, 0x4975, {0x9C, 0x8C, 0xA6, 0x9F, 0x1B, 0xA3, 0x70, 0x34}};
const IID kIShellItem = {0x43826D1E, 0xE718, 0x42EE, {0xBC, 0x55, 0xA1, 0xE2, 0x61, 0xC3, 0x7B, 0xFE}};
const IID kIShellItemArray = {0xB63EA76D, 0x1F85, 0x456F, {0xA1, 0x9C, 0x48, 0x15, 0x9E, 0xFA, 0x85, 0x8B}};

// The visual group that holds two or more check boxes; box i has id i + 1.
constexpr DWORD kCheckBoxGroupId = 100000;
const wchar_t kCheckBoxGroupLabel[] = L"Options:";

using CreateItemFromParsingNameFn = HRESULT(WINAPI*)(PCWSTR, IBindCtx*, REFIID, void**);
using CreateItemArrayFromItemFn = HRESULT(WINAPI*)(IShellItem*, REFIID, void**);

struct ShellItemFunctions {
    CreateItemFromParsingNameFn createItem = nullptr;
    CreateItemArrayFromItemFn createArray = nullptr;
};

// Looked up in shell32.dll until both are found, then kept.
std::optional<ShellItemFunctions> shellItemFunctions() {
    static std::atomic<CreateItemFromParsingNameFn> createItem{nullptr};
    static std::atomic<CreateItemArrayFromItemFn> createArray{nullptr};
    if (!createItem.load() || !createArray.load()) {
        HMODULE shell = LoadLibraryW(L"shell32.dll");  // a known DLL, mapped from the system directory
        createItem.store(libraryFunction<CreateItemFromParsingNameFn>(shell, "SHCreateItemFromParsingName"));
        createArray.store(libraryFunction<CreateItemArrayFromItemFn>(shell, "SHCreateShellItemArrayFromShellItem"));
    }
    if (!createItem.load() || !createArray.load()) return std::nullopt;
    return ShellItemFunctions{createItem.load(), createArray.load()};
}

// The arguments of displayDialog0, converted and checked before the dialog
// exists.
struct ChooserArguments {
    JavaString title, okLabel, folder, fileName, defaultExtension;
    std::vector<JavaString> filterNames, filterPatterns;
    std::vector<JavaString> labels;
    std::vector<bool> states;
};

// The entries of a String[] with no null element; none for a null element.
// A null array gives no entries.
std::optional<std::vector<JavaString>> nonNullStrings(JNIEnv* env, jobjectArray array) {
    std::optional<std::vector<JavaString>> strings = jni::readStringArray(env, array);
    if (!strings) return std::vector<JavaString>{};
    for (const JavaString& s : *strings)
        if (s.isNull()) return std::nullopt;
    return strings;
}

// Filters: one pattern for each name (extra patterns are ignored); check
// boxes: one state for each label.
bool readLists(JNIEnv* env, jobjectArray names, jobjectArray patterns, jobjectArray labels, jbooleanArray states,
               ChooserArguments& out) {
    auto filterNames = nonNullStrings(env, names);
    auto filterPatterns = nonNullStrings(env, patterns);
    auto boxLabels = nonNullStrings(env, labels);
    if (!filterNames || !filterPatterns || !boxLabels) return false;
    if (filterPatterns->size() < filterNames->size()) return false;
    std::vector<bool> boxStates = jni::readBooleanArray(env, states).value_or(std::vector<bool>{});
    if (boxStates.size() < boxLabels->size()) return false;
    out.filterNames = std::move(*filterNames);
    out.filterPatterns = std::move(*filterPatterns);
    out.labels = std::move(*boxLabels);
    out.states = std::move(boxStates);
    return true;
}

void addCheckBoxes(const ComPtr<IFileDialog>& dialog, const ChooserArguments& args) {
    if (args.labels.empty()) return;
    ComPtr<IFileDialogCustomize> customize;
    if (FAILED(dialog.queryInterface(kIFileDialogCustomize, customize))) return;
    const bool grouped = args.labels.size() >= 2;
    if (grouped) customize->StartVisualGroup(kCheckBoxGroupId, kCheckBoxGroupLabel);
    for (std::size_t i = 0; i < args.labels.size(); ++i)
        customize->AddCheckButton(static_cast<DWORD>(i + 1), args.labels[i].get(), args.states[i] ? TRUE : FALSE);
    if (grouped) customize->EndVisualGroup();
}

// Reads back the state of each box that can be read; the others keep theirs.
void readCheckBoxes(const ComPtr<IFileDialog>& dialog, ChooserArguments& args) {
    if (args.labels.empty()) return;
    ComPtr<IFileDialogCustomize> customize;
    if (FAILED(dialog.queryInterface(kIFileDialogCustomize, customize))) return;
    for (std::size_t i = 0; i < args.labels.size(); ++i) {
        BOOL checked = FALSE;
        if (SUCCEEDED(customize->GetCheckButtonState(static_cast<DWORD>(i + 1), &checked)))
            args.states[i] = checked != FALSE;
    }
}

void writeStates(JNIEnv* env, jbooleanArray array, const std::vector<bool>& states) {
    if (!array || states.empty()) return;
    std::vector<jboolean> values;
    for (bool state : states) values.push_back(state ? JNI_TRUE : JNI_FALSE);
    env->SetBooleanArrayRegion(array, 0, static_cast<jsize>(values.size()), values.data());
}

// Everything the dialog is told before it is shown.
void configure(const ComPtr<IFileDialog>& dialog, const ChooserArguments& args, jint optionsToSet, jint optionsToClear,
               jint filterIndex, const ShellItemFunctions& shell) {
    FILEOPENDIALOGOPTIONS options = 0;
    if (SUCCEEDED(dialog->GetOptions(&options)))
        dialog->SetOptions((options | static_cast<DWORD>(optionsToSet)) & ~static_cast<DWORD>(optionsToClear));
    if (!args.filterNames.empty()) {
        std::vector<COMDLG_FILTERSPEC> filters;
        for (std::size_t i = 0; i < args.filterNames.size(); ++i)
            filters.push_back({args.filterNames[i].get(), args.filterPatterns[i].get()});
        dialog->SetFileTypes(static_cast<UINT>(filters.size()), filters.data());
        if (filterIndex >= 0) dialog->SetFileTypeIndex(static_cast<UINT>(filterIndex) + 1);
    }
    addCheckBoxes(dialog, args);
    if (!args.defaultExtension.isNull()) dialog->SetDefaultExtension(args.defaultExtension.get());
    if (!args.title.isNull()) dialog->SetTitle(args.title.get());
    if (!args.okLabel.isNull()) dialog->SetOkButtonLabel(args.okLabel.get());
    // Without this the dialog would open in the folder of its last use.
    dialog->ClearClientData();
    if (!args.folder.isNull()) {
        ComPtr<IShellItem> folder;
        if (SUCCEEDED(shell.createItem(args.folder.get(), nullptr, kIShellItem, folder.putVoid())))
            dialog->SetFolder(folder.get());
    }
    if (!args.fileName.isNull()) dialog->SetFileName(args.fileName.get());
}

// The chosen items: all of them for an open dialog, the one result wrapped in
// an array for a save dialog.
ComPtr<IShellItemArray> chosenItems(IFileDialog* dialog, bool save, const ShellItemFunctions& shell) {
    ComPtr<IShellItemArray> items;
    if (!save) {
        static_cast<IFileOpenDialog*>(dialog)->GetResults(items.put());
        return items;
    }
    ComPtr<IShellItem> item;
    if (SUCCEEDED(dialog->GetResult(item.put()))) shell.createArray(item.get(), kIShellItemArray, items.putVoid());
    return items;
}

// A String[] with the file-system path of each item at its index; an item
// without one (a library, a virtual folder) leaves a null element.
jobjectArray itemPaths(JNIEnv* env, IShellItemArray* items) {
    DWORD count = 0;
    if (FAILED(items->GetCount(&count))) return nullptr;
    const LocalRef<jclass> stringClass(env, jni::findClass(env, "java/lang/String"));
    if (!stringClass) return nullptr;
    LocalRef<jobjectArray> paths(env, env->NewObjectArray(static_cast<jsize>(count), stringClass.get(), nullptr));
    if (!paths) return nullptr;
    for (DWORD i = 0; i < count; ++i) {
        ComPtr<IShellItem> item;
        UniqueCoTaskMemory<wchar_t> path;
        if (FAILED(items->GetItemAt(i, item.put())) || FAILED(item->GetDisplayName(SIGDN_FILESYSPATH, path.put())) ||
            !path.get() || !*path.get())
            continue;
        const LocalRef<jstring> text(env, jni::newString(env, path.get()));
        if (text) env->SetObjectArrayElement(paths.get(), static_cast<jsize>(i), text.get());
    }
    return paths.release();
}

// ---- Object picker

const wchar_t kObjectSidAttribute[] = L"objectSID";
const char kResultClass[] = "com/tovrix/runtime/installer/platform/win32/ObjectPicker$Result";
const char kResultSignature[] =
    "(Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;Ljava/lang/String;)V";

// ConvertSidToStringSidW of advapi32.dll, looked up until found.
choosers::ConvertSidToStringSidFn convertSidFunction() {
    static std::atomic<choosers::ConvertSidToStringSidFn> known{nullptr};
    if (!known.load())
        known.store(libraryFunction<choosers::ConvertSidToStringSidFn>(GetModuleHandleW(L"advapi32.dll"),
                                                                       "ConvertSidToStringSidW"));
    return known.load();
}

// The console window, found by giving the console a unique title for a
// moment (the title is restored); null without a console.
HWND findConsoleWindow() {
    std::vector<wchar_t> oldTitle(8192, L'\0');
    if (GetConsoleTitleW(oldTitle.data(), static_cast<DWORD>(oldTitle.size())) == 0) return nullptr;
    wchar_t unique[64];
    std::swprintf(unique, 64, L"%d/%d", static_cast<int>(GetTickCount()), static_cast<int>(GetCurrentProcessId()));
    SetConsoleTitleW(unique);
    Sleep(40);
    HWND console = FindWindowW(nullptr, unique);
    SetConsoleTitleW(oldTitle.data());
    return console;
}

struct OwnerSearch {
    HWND console;
    HWND last;
};

BOOL CALLBACK rememberOwnWindow(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<OwnerSearch*>(param);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId == GetCurrentProcessId() && IsWindowVisible(window) && window != search->console)
        search->last = window;
    return TRUE;
}

// The SID string of the first fetched attribute, when it is a byte array
// holding a valid SID; none otherwise.
std::optional<std::wstring> sidString(const DS_SELECTION& item, ULONG fetched,
                                      choosers::ConvertSidToStringSidFn convertSid) {
    if (fetched < 1 || !item.pvarFetchedAttributes) return std::nullopt;
    const VARIANT& attribute = item.pvarFetchedAttributes[0];
    if (attribute.vt != (VT_ARRAY | VT_UI1) || !attribute.parray) return std::nullopt;
    SAFEARRAY* bytes = attribute.parray;
    void* data = nullptr;
    if (FAILED(SafeArrayAccessData(bytes, &data))) return std::nullopt;
    std::optional<std::wstring> text;
    // Revision, sub-authority count and authority take 8 bytes, each
    // sub-authority 4 more: the SID must fit the array it came in.
    const ULONG size = bytes->cDims == 1 ? bytes->rgsabound[0].cElements : 0;
    const auto* sid = static_cast<const unsigned char*>(data);
    if (size >= 8 && 8u + 4u * sid[1] <= size && IsValidSid(data)) {
        LPWSTR converted = nullptr;
        if (convertSid(data, &converted) && converted) {
            const UniqueLocalMemory<wchar_t> owned(converted);
            text.emplace(converted);
        }
    }
    SafeArrayUnaccessData(bytes);
    return text;
}

jstring optionalString(JNIEnv* env, const wchar_t* text) { return text ? jni::newString(env, text) : nullptr; }

}  // namespace

namespace choosers {

HWND findPickerOwner() {
    static const HWND console = findConsoleWindow();  // once per process
    OwnerSearch search{console, nullptr};
    EnumWindows(rememberOwnWindow, reinterpret_cast<LPARAM>(&search));
    return search.last ? search.last : console;
}

jobjectArray selectionResults(JNIEnv* env, const DS_SELECTION_LIST* list, std::size_t bytes,
                              ConvertSidToStringSidFn convertSid) {
    const std::size_t header = offsetof(DS_SELECTION_LIST, aDsSelection);
    if (!list || bytes < header || (bytes - header) / sizeof(DS_SELECTION) < list->cItems) return nullptr;
    const jni::Constructor result(env, kResultClass, kResultSignature);
    if (!result) return nullptr;
    return jni::newObjectArray(env, result.type(), list->cItems, [&](std::size_t i) -> jobject {
        const DS_SELECTION& item = list->aDsSelection[i];
        const std::optional<std::wstring> sid = sidString(item, list->cFetchedAttributes, convertSid);
        const LocalRef<jstring> name(env, optionalString(env, item.pwzName));
        const LocalRef<jstring> path(env, optionalString(env, item.pwzADsPath));
        const LocalRef<jstring> objectClass(env, optionalString(env, item.pwzClass));
        const LocalRef<jstring> upn(env, optionalString(env, item.pwzUPN));
        const LocalRef<jstring> sidText(env, sid ? jni::newString(env, std::wstring_view(*sid)) : nullptr);
        return result.newObject(name.get(), path.get(), objectClass.get(), upn.get(), sidText.get());
    });
}

}  // namespace choosers

extern "C" {

// ---- VistaFileChooser

void JNICALL NATIVE_FUNCTION(VistaFileChooser, initialize0)(JNIEnv*, jclass) { CoInitialize(nullptr); }

jobjectArray JNICALL NATIVE_FUNCTION(VistaFileChooser, displayDialog0)(
    JNIEnv* env, jclass, jlong owner, jstring title, jstring okLabel, jstring folder, jstring fileName,
    jint optionsToSet, jint optionsToClear, jboolean save, jstring defaultExtension, jobjectArray filterNames,
    jobjectArray filterPatterns, jint filterIndex, jobjectArray checkBoxLabels, jbooleanArray checkBoxStates) {
    ChooserArguments args{JavaString(env, title),
                          JavaString(env, okLabel),
                          JavaString(env, folder),
                          JavaString(env, fileName),
                          JavaString(env, defaultExtension),
                          {},
                          {},
                          {},
                          {}};
    if (!readLists(env, filterNames, filterPatterns, checkBoxLabels, checkBoxStates, args)) return nullptr;
    const std::optional<ShellItemFunctions> shell = shellItemFunctions();
    if (!shell) return nullptr;

    ComPtr<IFileDialog> dialog;
    if (FAILED(CoCreateInstance(save ? kFileSaveDialog : kFileOpenDialog, nullptr,
                                CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER, save ? kIFileDialog : kIFileOpenDialog,
                                dialog.putVoid())))
        return nullptr;
    configure(dialog, args, optionsToSet, optionsToClear, filterIndex, *shell);

    // Window handles are 32-bit values on both targets.
    HWND ownerWindow = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(static_cast<std::uint32_t>(owner)));
    if (FAILED(dialog->Show(ownerWindow))) return nullptr;

    readCheckBoxes(dialog, args);
    writeStates(env, checkBoxStates, args.states);
    const ComPtr<IShellItemArray> items = chosenItems(dialog.get(), save != JNI_FALSE, *shell);
    return items ? itemPaths(env, items.get()) : nullptr;
}

// ---- ObjectPicker

jobjectArray JNICALL NATIVE_FUNCTION(ObjectPicker, show0)(JNIEnv* env, jclass, jboolean multiSelect, jboolean groups,
                                                          jboolean users, jboolean wellKnownPrincipals,
                                                          jboolean localComputerOnly) {
    const choosers::ConvertSidToStringSidFn convertSid = convertSidFunction();
    if (!convertSid) return nullptr;
    HWND owner = choosers::findPickerOwner();
    if (!owner) {
        printDiagnostic("could not find window\n");
        return nullptr;
    }
    const ComApartment apartment;  // declared first: uninitialised after every object is released
    if (!apartment.initialized()) return nullptr;

    ComPtr<IDsObjectPicker> objectPicker;
    if (FAILED(CoCreateInstance(CLSID_DsObjectPicker, nullptr, CLSCTX_INPROC_SERVER, IID_IDsObjectPicker,
                                objectPicker.putVoid())))
        return nullptr;
    const picker::Scope scope = picker::scopeFor({multiSelect != JNI_FALSE, groups != JNI_FALSE, users != JNI_FALSE,
                                                  wellKnownPrincipals != JNI_FALSE, localComputerOnly != JNI_FALSE});
    DSOP_SCOPE_INIT_INFO scopeInfo{};
    scopeInfo.cbSize = sizeof(scopeInfo);
    scopeInfo.flType = scope.types;
    scopeInfo.flScope = scope.flags;
    scopeInfo.FilterFlags.Uplevel.flBothModes = scope.uplevelBothModes;
    scopeInfo.FilterFlags.Uplevel.flMixedModeOnly = scope.uplevelMixedOnly;
    scopeInfo.FilterFlags.Uplevel.flNativeModeOnly = scope.uplevelNativeOnly;
    scopeInfo.FilterFlags.flDownlevel = scope.downlevel;
    PCWSTR attributes[] = {kObjectSidAttribute};
    DSOP_INIT_INFO init{};
    init.cbSize = sizeof(init);
    init.pwzTargetComputer = nullptr;
    init.cDsScopeInfos = 1;
    init.aDsScopeInfos = &scopeInfo;
    init.flOptions = scope.pickerOptions;
    init.cAttributesToFetch = 1;
    init.apwzAttributeNames = attributes;
    if (FAILED(objectPicker->Initialize(&init))) return nullptr;

    ComPtr<IDataObject> selection;
    // S_FALSE is a cancelled dialog; only S_OK brings a selection.
    if (objectPicker->InvokeDialog(owner, selection.put()) != S_OK || !selection) return nullptr;

    FORMATETC format{static_cast<CLIPFORMAT>(RegisterClipboardFormatW(CFSTR_DSOP_DS_SELECTION_LIST)), nullptr,
                     DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium{};
    if (FAILED(selection->GetData(&format, &medium))) return nullptr;
    jobjectArray results = nullptr;
    if (const void* list = GlobalLock(medium.hGlobal)) {
        results = choosers::selectionResults(env, static_cast<const DS_SELECTION_LIST*>(list),
                                             GlobalSize(medium.hGlobal), convertSid);
        GlobalUnlock(medium.hGlobal);
    }
    ReleaseStgMedium(&medium);
    std::fflush(stdout);
    return results;
}

}  // extern "C"
