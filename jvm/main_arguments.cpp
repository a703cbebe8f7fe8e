#include "jvm/main_arguments.h"

namespace {

bool startsWith(const wstring& text, const wchar* prefix) { return text.compare(0, wideLength(prefix), prefix) == 0; }

}  // namespace

std::vector<wstring> buildMainArguments(const MainArgumentInputs& inputs, const std::vector<wstring>& words) {
    std::vector<wstring> arguments;
    arguments.push_back(inputs.windowedKind ? W("true") : W("false"));
    arguments.push_back(inputs.mainClassInModule ? W("/") + inputs.mainClass : inputs.mainClass);
    arguments.push_back(inputs.errorLog);
    arguments.push_back(inputs.outputLog);
    arguments.push_back(inputs.flag106 ? W("true") : W("false"));
    arguments.push_back(words.empty() ? wstring() : words[0]);
    arguments.insert(arguments.end(), inputs.configuredArguments.begin(), inputs.configuredArguments.end());
    for (std::size_t i = 1; i < words.size(); ++i) {
        if (inputs.javaOptionWords && startsWith(words[i], W("-J"))) continue;
        if (startsWith(words[i], W("-Dsun.locale.formatasdefault="))) continue;
        arguments.push_back(words[i]);
    }
    return arguments;
}
