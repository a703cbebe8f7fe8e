// The JNI test double's object model, record and C++ API.
//
// Record format: UTF-8 text, one event per line ("\n"), in the order the
// events happen.  Values in a line are written as:
//
//   null                      a null reference
//   "text"                    a java.lang.String, as a JSON string literal
//                             (\" \\ \n \r \t, \uXXXX for other control
//                             characters and lone surrogates, UTF-8 otherwise)
//   true false 12 -3 7L 1.5   boolean, byte/char/short/int, long, float/double
//   {v, v, ...}               an array (object or primitive) with its elements
//   <class a/b/C>             a class object
//   <a/b/C#5>                 any other object: its class and creation number
//
// Events (class, method, field names and signatures are quoted like strings):
//
//   config <path> | config none                  which configuration the DLL read
//   JNI_CreateJavaVM version=0x00010002 nOptions=3 ignoreUnrecognized=true
//   option <i> "<optionString>"                  one per option, in order
//   JNI_CreateJavaVM -> 0 | -> -1 (injected failure) | -> -5 (already created)
//   FindClass "<name>" -> <class ...> | -> null (not declared) | -> null (injected failure)
//   GetStaticMethodID "<class>" "<name>" "<sig>" -> ok | -> null (<why>)
//   GetMethodID, GetStaticFieldID                likewise
//   SetStaticObjectField "<class>" "<field>" = <value>
//   CallStaticVoidMethod "<class>" "<name>" "<sig>" (<arguments>)
//   CallStaticObjectMethod "<class>" "<name>" "<sig>" (<arguments>) -> <value>
//   CallObjectMethod <object> "<class>" "<name>" "<sig>" (<arguments>) -> <value>
//   CallIntMethod, CallBooleanMethod             likewise
//   NewObject "<class>" "<init>" "<sig>" (<arguments>) -> <object>
//   RegisterNatives "<class>" <count> -> 0 | -> -1 (<why>)
//   native "<class>" "<name>" "<sig>" 0x<address>  one per native bound, after its RegisterNatives
//   pending <exception> "<its toString>"         the double made an exception pending
//   Throw <exception>
//   ExceptionOccurred -> <value>, ExceptionCheck -> true|false
//   ExceptionDescribe <value>, ExceptionClear <value>   (the exception it cleared, or null)
//   System.exit <n>                              main ends the process ("main:exit:<n>")
//   DestroyJavaVM, GetEnv version=0x..., AttachCurrentThread, DetachCurrentThread
//   error <text>                                 misuse of JNI, a rejected registration, a bad configuration
//   warning <function> called with pending <exception>
//   unexpected JNI call <slot>                   a JNI function the double does not implement
//
// A void call is recorded before the method runs (so "main" shows up even
// when it ends the process); a call with a result is recorded once it returns.
#include "tests/jni_double/environment_impl.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace jni_double {

namespace {

std::string dotted(const std::string& name) {
    std::string out = name;
    std::replace(out.begin(), out.end(), '/', '.');
    return out;
}

std::string hex(const void* pointer) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%p", pointer);
    return text;
}

}  // namespace

// ---------------------------------------------------------------------------
// Model

Environment::Impl::Impl(Environment& environment)
    : owner(environment), envHolder(new EnvHolder{JNIEnv{}, this}), vmHolder(new VmHolder{JavaVM{}, this}) {
    envHolder->env.functions = nativeInterface();
    vmHolder->vm.functions = invokeInterface();
    exitHandler = [](int code) { ExitProcess(static_cast<UINT>(code)); };

    declare("java/lang/Class");  // first: every class object is an instance of it
    addMethod(declare("java/lang/Object", ""), "toString", "()Ljava/lang/String;", false, false,
              [](Environment& env, jobject self, const std::vector<jvalue>&) {
                  jvalue result{};
                  result.l = env.newString(env.toStringOf(self));
                  return result;
              });
    declare("java/lang/String");
    declare("java/lang/Throwable");
    declare("java/lang/Exception", "java/lang/Throwable");
    declare("java/lang/RuntimeException", "java/lang/Exception");
    declare("java/lang/ArrayIndexOutOfBoundsException", "java/lang/RuntimeException");
    declare("java/lang/ArrayStoreException", "java/lang/RuntimeException");
    declare("java/lang/NegativeArraySizeException", "java/lang/RuntimeException");
    declare("java/lang/Error", "java/lang/Throwable");
    declare("java/lang/NoClassDefFoundError", "java/lang/Error");
    declare("java/lang/NoSuchMethodError", "java/lang/Error");
    declare("java/lang/NoSuchFieldError", "java/lang/Error");
}

Environment::Impl::~Impl() = default;

ClassInfo& Environment::Impl::declare(const std::string& name, const std::string& superclass) {
    auto found = classes.find(name);
    if (found != classes.end()) return *found->second;
    auto info = std::make_unique<ClassInfo>();
    info->name = name;
    info->superclass = superclass;
    ClassInfo& result = *info;
    classes[name] = std::move(info);
    result.object = make(Kind::Class, lookup("java/lang/Class"));
    result.object->info = &result;
    return result;
}

ClassInfo* Environment::Impl::lookup(const std::string& name) const {
    auto found = classes.find(name);
    return found == classes.end() ? nullptr : found->second.get();
}

Method& Environment::Impl::addMethod(ClassInfo& cls, const std::string& name, const std::string& signature,
                                     bool isStatic, bool isNative, MethodBody body) {
    if (Method* known = findMethod(cls, name, signature, isStatic); known && known->owner == &cls) {
        known->isNative = isNative;
        known->body = std::move(body);
        return *known;
    }
    cls.methods.push_back(Method{&cls, name, signature, isStatic, isNative, std::move(body), nullptr});
    methodIds.insert(&cls.methods.back());
    return cls.methods.back();
}

Method* Environment::Impl::findMethod(ClassInfo& cls, const std::string& name, const std::string& signature,
                                      bool isStatic) {
    for (ClassInfo* c = &cls; c; c = c->superclass.empty() ? nullptr : lookup(c->superclass)) {
        for (Method& method : c->methods)
            if (method.name == name && method.signature == signature && method.isStatic == isStatic) return &method;
        if (name == "<init>") break;  // constructors are not inherited
    }
    return nullptr;
}

Field* Environment::Impl::findField(ClassInfo& cls, const std::string& name, const std::string& signature,
                                    bool isStatic) {
    for (ClassInfo* c = &cls; c; c = c->superclass.empty() ? nullptr : lookup(c->superclass))
        for (Field& field : c->fields)
            if (field.name == name && field.signature == signature && field.isStatic == isStatic) return &field;
    return nullptr;
}

bool Environment::Impl::isSubclass(const ClassInfo* cls, const std::string& ancestor) const {
    for (const ClassInfo* c = cls; c; c = c->superclass.empty() ? nullptr : lookup(c->superclass))
        if (c->name == ancestor) return true;
    return false;
}

Object* Environment::Impl::make(Kind kind, ClassInfo* cls) {
    objects.push_back(std::make_unique<Object>());
    Object* object = objects.back().get();
    object->kind = kind;
    object->id = static_cast<int>(objects.size());
    object->cls = cls;
    return object;
}

Object* Environment::Impl::makeString(const std::wstring& text) {
    Object* object = make(Kind::String, lookup("java/lang/String"));
    object->text = text;
    return object;
}

Object* Environment::Impl::makeThrowable(const std::string& className, const std::wstring& message) {
    ClassInfo* cls = lookup(className);
    if (!cls) cls = &declare(className, "java/lang/Throwable");
    Object* object = make(Kind::Instance, cls);
    const std::string name = dotted(className);
    object->text = std::wstring(name.begin(), name.end()) + (message.empty() ? L"" : L": " + message);
    return object;
}

std::size_t Environment::Impl::elementSize(char type) {
    switch (type) {
        case 'Z': return sizeof(jboolean);
        case 'B': return sizeof(jbyte);
        case 'C': return sizeof(jchar);
        case 'S': return sizeof(jshort);
        case 'I': return sizeof(jint);
        case 'J': return sizeof(jlong);
        case 'F': return sizeof(jfloat);
        default: return sizeof(jdouble);
    }
}

Object* Environment::Impl::makePrimitiveArray(char type, std::size_t length) {
    Object* object = make(Kind::PrimitiveArray, &declare(std::string("[") + type));
    object->elementType = type;
    object->bytes.assign(length * elementSize(type), 0);
    return object;
}

// ---------------------------------------------------------------------------
// References

jobject Environment::Impl::ref(Object* object) {
    if (!object) return nullptr;
    refs.push_back(std::make_unique<Ref>(Ref{object, false}));
    liveRefs.insert(refs.back().get());
    peakLocalRefs = std::max(peakLocalRefs, ++liveLocalRefs);
    return reinterpret_cast<jobject>(refs.back().get());
}

Object* Environment::Impl::deref(jobject reference, const char* function) {
    if (!reference) return nullptr;
    const Ref* r = reinterpret_cast<const Ref*>(reference);
    if (!liveRefs.count(r)) {
        error(std::string(function) + ": not a reference of this VM " + hex(reference));
        return nullptr;
    }
    if (r->deleted) {
        error(std::string(function) + ": deleted local reference " + hex(reference) + " to " + describe(r->object));
        return nullptr;
    }
    return r->object;
}

Object* Environment::Impl::derefKind(jobject reference, Kind kind, const char* function, const char* what) {
    Object* object = deref(reference, function);
    if (object && object->kind != kind) {
        error(std::string(function) + ": " + describe(object) + " is not " + what);
        return nullptr;
    }
    return object;
}

ClassInfo* Environment::Impl::classOf(jclass reference, const char* function) {
    Object* object = derefKind(reference, Kind::Class, function, "a class");
    if (!object && !reference) error(std::string(function) + ": null class");
    return object ? object->info : nullptr;
}

// ---------------------------------------------------------------------------
// Record

void Environment::Impl::add(const std::string& line) {
    record.push_back(line);
    if (sink) sink(line);
}

void Environment::Impl::error(const std::string& text) { add("error " + text); }

void Environment::Impl::checkPending(const char* function) {
    if (destroyed) error(std::string(function) + " called after DestroyJavaVM");
    if (pending) add(std::string("warning ") + function + " called with pending " + describe(pending));
}

std::string Environment::Impl::describe(const Object* object) const {
    if (!object) return "null";
    switch (object->kind) {
        case Kind::String: return quoted(object->text);
        case Kind::Class: return "<class " + object->info->name + ">";
        case Kind::ObjectArray: {
            std::string out = "{";
            for (std::size_t i = 0; i < object->elements.size(); ++i)
                out += (i ? ", " : "") + describe(object->elements[i]);
            return out + "}";
        }
        case Kind::PrimitiveArray: {
            std::string out = "{";
            const std::size_t size = elementSize(object->elementType);
            for (std::size_t i = 0; i * size < object->bytes.size(); ++i) {
                jvalue value{};
                std::memcpy(&value, object->bytes.data() + i * size, size);
                out += (i ? ", " : "") + describeValue(object->elementType, value);
            }
            return out + "}";
        }
        case Kind::Instance: break;
    }
    return "<" + object->cls->name + "#" + std::to_string(object->id) + ">";
}

std::string Environment::Impl::describeValue(char type, const jvalue& value) const {
    char text[64];
    switch (type) {
        case 'Z': return value.z ? "true" : "false";
        case 'B': return std::to_string(value.b);
        case 'C': return std::to_string(value.c);
        case 'S': return std::to_string(value.s);
        case 'I': return std::to_string(value.i);
        case 'J': return std::to_string(value.j) + "L";
        case 'F': std::snprintf(text, sizeof text, "%g", static_cast<double>(value.f)); return text;
        case 'D': std::snprintf(text, sizeof text, "%g", value.d); return text;
        default: break;
    }
    if (!value.l) return "null";
    const Ref* r = reinterpret_cast<const Ref*>(value.l);
    if (!liveRefs.count(r)) return "<bad reference " + hex(value.l) + ">";
    return describe(r->object);
}

std::string Environment::Impl::describeArguments(const std::string& signature, const std::vector<jvalue>& args) const {
    std::vector<std::string> parameters;
    std::string result;
    parseSignature(signature, parameters, result);
    std::string out = "(";
    for (std::size_t i = 0; i < args.size() && i < parameters.size(); ++i)
        out += (i ? ", " : "") + describeValue(parameters[i][0], args[i]);
    return out + ")";
}

std::wstring Environment::Impl::toStringOf(const Object* object) const {
    if (!object) return L"null";
    char id[16];
    std::snprintf(id, sizeof id, "@%x", static_cast<unsigned>(object->id));
    const std::string className = dotted(object->cls ? object->cls->name : "?") + id;
    switch (object->kind) {
        case Kind::String: return object->text;
        case Kind::Class: {
            const std::string name = dotted(object->info->name);
            return L"class " + std::wstring(name.begin(), name.end());
        }
        case Kind::Instance:
            if (!object->text.empty()) return object->text;
            break;
        default: break;
    }
    return std::wstring(className.begin(), className.end());
}

std::wstring Environment::Impl::javaToString(Object* object) {
    if (!object || !object->cls) return toStringOf(object);
    Method* method = findMethod(*object->cls, "toString", "()Ljava/lang/String;", false);
    if (!method || !method->body || method->owner->name == "java/lang/Object") return toStringOf(object);
    const jvalue result = method->body(owner, ref(object), {});
    const Ref* r = reinterpret_cast<const Ref*>(result.l);
    return r && liveRefs.count(r) && r->object->kind == Kind::String ? r->object->text : L"null";
}

void Environment::Impl::throwPending(Object* exception) {
    pending = exception;
    add("pending " + describe(exception) + " " + quoted(toStringOf(exception)));
}

jvalue Environment::Impl::invoke(const char* function, Object* target, Method* method,
                                 const std::vector<jvalue>& args) {
    std::vector<std::string> parameters;
    std::string returnType;
    parseSignature(method->signature, parameters, returnType);
    std::string line = std::string(function) + " ";
    if (!method->isStatic) line += describe(target) + " ";
    line += quoted(method->owner->name) + " " + quoted(method->name) + " " + quoted(method->signature) + " " +
            describeArguments(method->signature, args);
    const bool isVoid = returnType == "V";
    if (isVoid) add(line);

    if (method->isStatic && method->name == "main" && method->signature == "([Ljava/lang/String;)V") {
        if (failures.mainExits) {
            add("System.exit " + std::to_string(failures.exitCode));
            exitHandler(failures.exitCode);
        }
        if (failures.mainThrows) {
            Object* exception = make(Kind::Instance, lookup("java/lang/RuntimeException"));
            exception->text = throwText;
            throwPending(exception);
        }
    }
    jvalue result{};
    if (method->body) result = method->body(owner, target ? ref(target) : nullptr, args);
    if (!isVoid) add(line + " -> " + describeValue(returnType[0], result));
    return result;
}

}  // namespace jni_double
