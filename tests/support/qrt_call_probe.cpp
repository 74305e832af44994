// Runs inside the virtual rig: loads the C API library (which detects the rig's products) and
// makes the calls it is given, in order, in this one process; each call answers one JSON
// document on standard output. The component functions are the C API's own list
// (QRT_ComponentFunctions.def), so every one of them can be called; the product functions
// that take a handle join them.
//
//   qrt_call_probe CALL [+ CALL]...
//   CALL: QRT_GetProductNums | FUNCTION INDEX ARGUMENT...
//
// INDEX is the product index whose handle the call gets; "all" makes the call for every product
// in turn, one answer each. The arguments follow the function's
// parameters after the handle:
//   number           a value parameter (enumerations by their number; 0x... for hexadecimal)
//   V,V,...          a pointer to entries holding these values
//   @N               a pointer to N entries, each 7 at first (entries the library must not
//                    write stay so); for a text buffer, N zero bytes
//   null             a null pointer (also the only trigger callback there is)
// Answer: {"call": FUNCTION, "index": INDEX, "status": result, "args": [each argument after
// the call: the value, the entries, the text], "pauses_us": the pauses the call requested}.
// QRT_GetProductNums answers {"call", "status", "detection_pauses_us": the pauses requested
// before it, detection's when it comes first}. The pauses are the rig's count of this process's
// requests (0 outside a rig that counts them). The words need no quoting in a shell line.

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include <nlohmann/json.hpp>

#include "QRT_SDK.h"

namespace {

using nlohmann::json;

constexpr int kUntouched = 7;

// The pauses this process has requested so far, as the rig counts them.
unsigned long long requestedPauseUs() {
    using Query = int (*)(unsigned long long*, unsigned long long*);
    static const auto query =
        reinterpret_cast<Query>(::dlsym(RTLD_DEFAULT, "qrtsim_requested_pauses"));
    unsigned long long count = 0, us = 0;
    if (query != nullptr) query(&count, &us);
    return us;
}

bool parseNumber(const std::string& token, long long* value) {
    char* end = nullptr;
    *value = std::strtoll(token.c_str(), &end, 0);
    return !token.empty() && *end == '\0';
}

template <class T>
json valueOf(T value) {
    if constexpr (std::is_enum_v<T>)
        return static_cast<long long>(value);
    else
        return value;
}

// One argument: its storage from the token, the value passed, what it holds after the call.
template <class T>
struct Argument {
    T value{};
    bool parse(const std::string& token) {
        long long number = 0;
        if (!parseNumber(token, &number)) return false;
        value = static_cast<T>(number);
        return true;
    }
    T pass() { return value; }
    json after() const { return valueOf(value); }
};

template <class T>
struct Argument<T*> {
    std::vector<T> entries;
    bool null = false;
    bool parse(const std::string& token) {
        if (token == "null") return null = true;
        if (token.size() > 1 && token[0] == '@') {
            entries.assign(std::strtoul(token.c_str() + 1, nullptr, 0), T(kUntouched));
            return true;
        }
        std::stringstream in(token);
        for (std::string item; std::getline(in, item, ',');) {
            long long number = 0;
            if (!parseNumber(item, &number)) return false;
            entries.push_back(static_cast<T>(number));
        }
        return !entries.empty();
    }
    T* pass() { return null ? nullptr : entries.data(); }
    json after() const {
        json values = json::array();
        for (const T& entry : entries) values.push_back(valueOf(entry));
        return values;
    }
};

template <>
struct Argument<char*> {
    std::vector<char> text;
    bool null = false;
    bool parse(const std::string& token) {
        if (token == "null") return null = true;
        if (token.size() < 2 || token[0] != '@') return false;
        text.assign(std::strtoul(token.c_str() + 1, nullptr, 0) + 1, '\0');
        return true;
    }
    char* pass() { return null ? nullptr : text.data(); }
    json after() const { return null ? json() : json(std::string(text.data())); }
};

template <>
struct Argument<QRT_DITRIGGER_CALLBACK> {
    bool parse(const std::string& token) { return token == "null"; }
    QRT_DITRIGGER_CALLBACK pass() { return nullptr; }
    json after() const { return nullptr; }
};

template <class Result, class... Parameters>
bool call(Result (*function)(void*, Parameters...), void* handle,
          const std::vector<std::string>& tokens, json& out) {
    std::tuple<Argument<Parameters>...> arguments;
    size_t next = 0;
    bool parsed = true;
    std::apply(
        [&](auto&... argument) {
            ((parsed = parsed && next < tokens.size() && argument.parse(tokens[next++])), ...);
        },
        arguments);
    if (!parsed || next != tokens.size()) return false;
    out["status"] = std::apply(
        [&](auto&... argument) { return function(handle, argument.pass()...); }, arguments);
    out["args"] = json::array();
    std::apply([&](auto&... argument) { (out["args"].push_back(argument.after()), ...); },
               arguments);
    return true;
}

using Caller = bool (*)(void*, const std::vector<std::string>&, json&);

template <auto Function>
bool callerOf(void* handle, const std::vector<std::string>& tokens, json& out) {
    return call(Function, handle, tokens, out);
}

struct Entry {
    const char* name;
    Caller caller;
};

const Entry kFunctions[] = {
    {"QRT_GetProductInfo", callerOf<&QRT_GetProductInfo>},
    {"QRT_GetProductType", callerOf<&QRT_GetProductType>},
    {"QRT_GetProductSN", callerOf<&QRT_GetProductSN>},
    {"QRT_GetFeatureList", callerOf<&QRT_GetFeatureList>},
    {"QRT_GetCardID", callerOf<&QRT_GetCardID>},
#define QRT_COMPONENT_FUNCTION(name, lookup, operation, parameters, arguments, rejected) \
    {#name, callerOf<&name>},
#include "QRT_ComponentFunctions.def"
#undef QRT_COMPONENT_FUNCTION
};

// One call on one product: its answer, or false for a call the probe cannot make.
bool answer(const std::vector<std::string>& words, long long index, json& out) {
    out["call"] = words[0];
    out["index"] = index;
    void* handle = QRT_GetProductHandle(static_cast<unsigned>(index));
    const std::vector<std::string> tokens(words.begin() + 2, words.end());
    for (const Entry& entry : kFunctions)
        if (words[0] == entry.name) return entry.caller(handle, tokens, out);
    return false;
}

// One call of the command line, printed; false for a call the probe cannot make.
bool makeCall(const std::vector<std::string>& words) {
    json out;
    if (words[0] == "QRT_GetProductNums") {
        const unsigned long long before = requestedPauseUs();
        out = {{"call", words[0]}, {"status", QRT_GetProductNums()}};
        out["detection_pauses_us"] = before;
        std::printf("%s\n", out.dump().c_str());
        return words.size() == 1;
    }
    long long first = 0;
    long long last = 0;
    if (words.size() >= 2 && words[1] == "all") {
        last = static_cast<long long>(QRT_GetProductNums()) - 1;
    } else if (words.size() < 2 || !parseNumber(words[1], &first)) {
        return false;
    } else {
        last = first;
    }
    for (long long index = first; index <= last; ++index) {
        const unsigned long long before = requestedPauseUs();
        if (!answer(words, index, out)) return false;
        out["pauses_us"] = requestedPauseUs() - before;
        std::printf("%s\n", out.dump().c_str());
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> words;
    for (int i = 1; i <= argc; ++i) {
        if (i < argc && std::strcmp(argv[i], "+") != 0) {
            words.push_back(argv[i]);
            continue;
        }
        if (words.empty()) continue;
        if (!makeCall(words)) {
            std::fprintf(stderr, "qrt_call_probe: cannot call:");
            for (const std::string& word : words) std::fprintf(stderr, " %s", word.c_str());
            std::fprintf(stderr, "\n");
            return 2;
        }
        words.clear();
    }
    return 0;
}
