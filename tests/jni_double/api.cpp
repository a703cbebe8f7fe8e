// The JNI test double's C++ API: what unit tests declare, inject, make and
// read without going through JNI.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "tests/jni_double/environment_impl.h"

namespace jni_double {

namespace {

std::vector<Environment*>& liveEnvironments() {
    static std::vector<Environment*> live;
    return live;
}

}  // namespace

Environment::Environment() : impl_(std::make_unique<Impl>(*this)) { liveEnvironments().push_back(this); }

Environment::~Environment() {
    auto& live = liveEnvironments();
    live.erase(std::remove(live.begin(), live.end(), this), live.end());
}

JNIEnv* Environment::env() { return &impl_->envHolder->env; }
JavaVM* Environment::vm() { return &impl_->vmHolder->vm; }

Environment* environmentOf(JNIEnv* env) {
    for (Environment* live : liveEnvironments())
        if (live->env() == env) return live;
    return nullptr;
}

Environment* environmentOf(JavaVM* vm) {
    for (Environment* live : liveEnvironments())
        if (live->vm() == vm) return live;
    return nullptr;
}

void Environment::declareClass(const std::string& name, const std::string& superclass) {
    impl_->declare(name, superclass);
}

void Environment::declareStaticMethod(const std::string& className, const std::string& name,
                                      const std::string& signature, MethodBody body) {
    impl_->addMethod(impl_->declare(className), name, signature, true, false, std::move(body));
}

void Environment::declareMethod(const std::string& className, const std::string& name, const std::string& signature,
                                MethodBody body) {
    impl_->addMethod(impl_->declare(className), name, signature, false, false, std::move(body));
}

void Environment::declareStaticField(const std::string& className, const std::string& name,
                                     const std::string& signature) {
    ClassInfo& cls = impl_->declare(className);
    if (!impl_->findField(cls, name, signature, true)) {
        cls.fields.push_back(Field{&cls, name, signature, true, nullptr});
        impl_->fieldIds.insert(&cls.fields.back());
    }
}

void Environment::declareNative(const std::string& className, const std::string& name, const std::string& signature) {
    impl_->addMethod(impl_->declare(className), name, signature, true, true, {});
}

void Environment::declareNativesFromTable() {
    const std::string package = std::string(kNativePackage) + "/";
#define NATIVE_PACKAGE(path)
#define NATIVE_CLASS(cls) declareClass(package + #cls);
#define NATIVE_METHOD(cls, method, signature) declareNative(package + #cls, #method, signature);
#include "natives/native_methods.inc"
#undef NATIVE_PACKAGE
#undef NATIVE_CLASS
#undef NATIVE_METHOD
}

void Environment::declareLauncherClasses() {
    const char* kMain = "([Ljava/lang/String;)V";
    declareStaticMethod("com/tovrix/runtime/launcher/WinLauncher", "main", kMain);
    declareStaticMethod("com/kelpa/runtime/WinLauncher", "main", kMain);
    declareStaticMethod("com/kelpa/runtime/WinLauncher", "initAwtSplashConfig",
                        "(ZZLjava/lang/String;IILjava/lang/String;IILjava/lang/String;IILjava/lang/String;II)V");
    declareStaticMethod(std::string(kNativePackage) + "/Common", "initFromLauncher", "(Z)V");
    declareStaticField("com/kelpa/runtime/util/WinDel", "externalExecutable", "Ljava/lang/String;");
    declareStaticMethod("java/lang/System", "setProperty", "(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;",
                        [](Environment& env, jobject, const std::vector<jvalue>& args) {
                            jvalue result{};
                            if (!env.isString(args[0].l)) {
                                env.impl().error("System.setProperty: the name is not a string");
                                return result;
                            }
                            const std::string name = toUtf8(env.stringValue(args[0].l));
                            if (env.hasProperty(name)) result.l = env.newString(env.property(name));
                            env.impl().properties[name] = env.stringValue(args[1].l);
                            return result;
                        });
}

bool Environment::failStep(const std::string& step) {
    Failures& f = impl_->failures;
    auto after = [&step](const char* prefix) { return step.substr(std::strlen(prefix)); };
    auto startsWith = [&step](const char* prefix) {
        return step.compare(0, std::strlen(prefix), prefix) == 0 && step.size() > std::strlen(prefix);
    };
    if (step == "create") {
        f.create = true;
    } else if (startsWith("findclass:")) {
        f.findClass.insert(after("findclass:"));
    } else if (startsWith("method:")) {
        f.staticMethods.insert(after("method:"));
    } else if (startsWith("registernatives:")) {
        f.registerNatives.insert(after("registernatives:"));
    } else if (step == "main:throw") {
        f.mainThrows = true;
    } else if (startsWith("main:exit:")) {
        const std::string code = after("main:exit:");
        char* end = nullptr;
        const long value = std::strtol(code.c_str(), &end, 10);
        if (*end != '\0') return false;
        f.mainExits = true;
        f.exitCode = static_cast<int>(value);
    } else {
        return false;
    }
    return true;
}

void Environment::setThrowText(const std::wstring& text) { impl_->throwText = text; }
void Environment::setExitHandler(std::function<void(int)> handler) { impl_->exitHandler = std::move(handler); }
void Environment::setDescribeOutput(std::function<void(const std::string&)> output) {
    impl_->describeOutput = std::move(output);
}

jint Environment::createJavaVM(JavaVM** vm, void** env, void* args) {
    Impl& d = *impl_;
    const auto* init = static_cast<const JavaVMInitArgs*>(args);
    if (!init) {
        d.add("JNI_CreateJavaVM args=null");
    } else {
        char head[128];
        std::snprintf(head, sizeof head, "JNI_CreateJavaVM version=0x%08lx nOptions=%ld ignoreUnrecognized=%s",
                      static_cast<unsigned long>(init->version), static_cast<long>(init->nOptions),
                      init->ignoreUnrecognized ? "true" : "false");
        d.add(head);
        d.initArgs.version = init->version;
        d.initArgs.ignoreUnrecognized = init->ignoreUnrecognized != JNI_FALSE;
        d.initArgs.options.clear();
        for (jint i = 0; i < init->nOptions; ++i) {
            const char* text = init->options[i].optionString ? init->options[i].optionString : "";
            d.initArgs.options.push_back(text);
            std::wstring wide(static_cast<std::size_t>(MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0)), L'\0');
            if (!wide.empty()) MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], static_cast<int>(wide.size()));
            if (!wide.empty()) wide.pop_back();  // the terminator
            d.add("option " + std::to_string(i) + " " + quoted(wide));
        }
    }
    if (vm) *vm = nullptr;
    if (env) *env = nullptr;
    if (d.created) {
        d.add("JNI_CreateJavaVM -> -5 (already created)");
        return JNI_EEXIST;
    }
    if (d.failures.create) {
        d.add("JNI_CreateJavaVM -> -1 (injected failure)");
        return JNI_ERR;
    }
    d.created = true;
    if (vm) *vm = this->vm();
    if (env) *env = this->env();
    d.add("JNI_CreateJavaVM -> 0");
    return JNI_OK;
}

jclass Environment::findClass(const std::string& name) {
    ClassInfo* cls = impl_->lookup(name);
    return cls ? static_cast<jclass>(impl_->ref(cls->object)) : nullptr;
}

jstring Environment::newString(const std::wstring& text) {
    return static_cast<jstring>(impl_->ref(impl_->makeString(text)));
}

std::wstring Environment::stringValue(jobject string) const {
    const Ref* r = reinterpret_cast<const Ref*>(string);
    if (!string || !impl_->liveRefs.count(r) || r->object->kind != Kind::String) return L"";
    return r->object->text;
}

bool Environment::isString(jobject object) const {
    const Ref* r = reinterpret_cast<const Ref*>(object);
    return object && impl_->liveRefs.count(r) && r->object->kind == Kind::String;
}

jobjectArray Environment::newStringArray(const std::vector<std::wstring>& entries) {
    std::vector<jobject> elements;
    for (const std::wstring& entry : entries) elements.push_back(newString(entry));
    return newObjectArray("java/lang/String", elements);
}

jobjectArray Environment::newObjectArray(const std::string& elementClass, const std::vector<jobject>& elements) {
    Object* array = impl_->make(Kind::ObjectArray, &impl_->declare("[L" + elementClass + ";"));
    array->elementClass = elementClass;
    for (jobject element : elements) array->elements.push_back(impl_->deref(element, "newObjectArray"));
    return static_cast<jobjectArray>(impl_->ref(array));
}

std::vector<jobject> Environment::arrayElements(jobjectArray array) const {
    std::vector<jobject> out;
    const Ref* r = reinterpret_cast<const Ref*>(array);
    if (!array || !impl_->liveRefs.count(r) || r->object->kind != Kind::ObjectArray) return out;
    for (Object* element : r->object->elements) out.push_back(impl_->ref(element));
    return out;
}

std::vector<std::wstring> Environment::stringArrayValue(jobjectArray array) const {
    std::vector<std::wstring> out;
    for (jobject element : arrayElements(array)) out.push_back(stringValue(element));
    return out;
}

namespace {
template <typename T>
jobject primitiveArray(Environment::Impl& d, char type, const std::vector<T>& values) {
    Object* array = d.makePrimitiveArray(type, values.size());
    if (!values.empty()) std::memcpy(array->bytes.data(), values.data(), values.size() * sizeof(T));
    return d.ref(array);
}

template <typename T>
std::vector<T> primitiveValues(const Environment::Impl& d, jobject array, char type) {
    const Ref* r = reinterpret_cast<const Ref*>(array);
    if (!array || !d.liveRefs.count(r) || r->object->elementType != type) return {};
    std::vector<T> out(r->object->bytes.size() / sizeof(T));
    if (!out.empty()) std::memcpy(out.data(), r->object->bytes.data(), r->object->bytes.size());
    return out;
}
}  // namespace

jbyteArray Environment::newByteArray(const std::vector<jbyte>& values) {
    return static_cast<jbyteArray>(primitiveArray(*impl_, 'B', values));
}

jintArray Environment::newIntArray(const std::vector<jint>& values) {
    return static_cast<jintArray>(primitiveArray(*impl_, 'I', values));
}

jbooleanArray Environment::newBooleanArray(const std::vector<bool>& values) {
    std::vector<jboolean> raw;
    for (bool value : values) raw.push_back(value ? JNI_TRUE : JNI_FALSE);
    return static_cast<jbooleanArray>(primitiveArray(*impl_, 'Z', raw));
}

std::vector<jbyte> Environment::byteArrayValue(jbyteArray array) const {
    return primitiveValues<jbyte>(*impl_, array, 'B');
}

std::vector<jint> Environment::intArrayValue(jintArray array) const {
    return primitiveValues<jint>(*impl_, array, 'I');
}

jobject Environment::newObject(const std::string& className, const std::wstring& text) {
    Object* object = impl_->make(Kind::Instance, &impl_->declare(className));
    object->text = text;
    return impl_->ref(object);
}

jthrowable Environment::newThrowable(const std::string& className, const std::wstring& message) {
    return static_cast<jthrowable>(impl_->ref(impl_->makeThrowable(className, message)));
}

std::string Environment::classNameOf(jobject object) const {
    const Ref* r = reinterpret_cast<const Ref*>(object);
    if (!object || !impl_->liveRefs.count(r) || !r->object->cls) return "";
    return r->object->cls->name;
}

std::string Environment::constructorArguments(jobject object) const {
    const Ref* r = reinterpret_cast<const Ref*>(object);
    return object && impl_->liveRefs.count(r) ? r->object->constructorArguments : "";
}

std::string Environment::describe(jobject object) const {
    jvalue value{};
    value.l = object;
    return impl_->describeValue('L', value);
}

jthrowable Environment::pendingException() const { return static_cast<jthrowable>(impl_->ref(impl_->pending)); }

void Environment::setPendingException(jthrowable exception) {
    impl_->pending = impl_->deref(exception, "setPendingException");
}

std::wstring Environment::toStringOf(jobject object) const {
    const Ref* r = reinterpret_cast<const Ref*>(object);
    return object && impl_->liveRefs.count(r) ? impl_->toStringOf(r->object) : L"null";
}

bool Environment::hasProperty(const std::string& name) const { return impl_->properties.count(name) != 0; }

std::wstring Environment::property(const std::string& name) const {
    auto found = impl_->properties.find(name);
    return found == impl_->properties.end() ? L"" : found->second;
}

jobject Environment::staticField(const std::string& className, const std::string& name) const {
    ClassInfo* cls = impl_->lookup(className);
    if (!cls) return nullptr;
    for (Field& field : cls->fields)
        if (field.name == name && field.isStatic) return impl_->ref(field.value);
    return nullptr;
}

std::vector<BoundNative> Environment::boundNatives() const { return impl_->bound; }
const InitArgs& Environment::initArgs() const { return impl_->initArgs; }
bool Environment::created() const { return impl_->created; }
bool Environment::destroyed() const { return impl_->destroyed; }
int Environment::deletedLocalRefs() const { return impl_->deletedLocalRefs; }
int Environment::liveLocalRefs() const { return impl_->liveLocalRefs; }
int Environment::peakLocalRefs() const { return impl_->peakLocalRefs; }
void Environment::resetPeakLocalRefs() { impl_->peakLocalRefs = impl_->liveLocalRefs; }
int Environment::unreleasedBuffers() const { return static_cast<int>(impl_->loans.size()); }

const std::vector<std::string>& Environment::record() const { return impl_->record; }

std::vector<std::string> Environment::events(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const std::string& line : impl_->record)
        if (line.compare(0, prefix.size(), prefix) == 0) out.push_back(line);
    return out;
}

std::vector<std::string> Environment::problems() const {
    std::vector<std::string> out;
    for (const std::string& line : impl_->record)
        for (const char* prefix : {"error ", "warning ", "unexpected JNI call "})
            if (line.compare(0, std::strlen(prefix), prefix) == 0) out.push_back(line);
    return out;
}

void Environment::setRecordSink(std::function<void(const std::string&)> sink) { impl_->sink = std::move(sink); }
void Environment::addEvent(const std::string& line) { impl_->add(line); }

}  // namespace jni_double
