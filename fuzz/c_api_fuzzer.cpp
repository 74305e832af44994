// libFuzzer target for the C API as an application drives it: a sequence of calls decoded from
// the input against every card model of the in-process rig. Each call is one of the exported
// functions (the component functions come from the same list the library is built from), with
// a product handle from the table or null, small or arbitrary numbers for indexes, lengths and
// enumeration values, and buffers that are null, empty, short or long (with a count that does
// not claim more than the buffer holds), each allocated at exactly its length so that
// AddressSanitizer stops any access beyond it. No call may crash,
// hang, read or write outside a caller's buffer, hit undefined behaviour, or make the SDK break
// a chip's protocol (the rig's violation total stays zero).
//
// Input: one byte choosing the function, then the bytes its arguments take, repeated.

#include <cstdint>
#include <cstring>
#include <memory>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "QRT_SDK.h"
#include "fuzz/FuzzInput.h"
#include "fuzz/InProcessRig.h"

namespace {

using fuzzinput::Input;

// Buffers of one call; freed when the call has returned.
using Arena = std::vector<std::unique_ptr<uint8_t[]>>;

void onInputChange(unsigned, int) {}

// Arguments from the input. A buffer followed by a count (enables and n, buf and len) is handed
// out with a count no larger than its length, as a C caller who tells the truth passes it: null,
// empty, shorter than the product's list or long. A pointer to one value holds at least one.
struct Decoder {
    Input& in;
    Arena& arena;
    fuzzrig::InProcessRig& rig;
    long bufferLength = -1;  // elements of the buffer just decoded; -1 after anything else

    template <class T, bool counted>
    T decode() {
        const long length = bufferLength;
        bufferLength = -1;
        if constexpr (std::is_same_v<T, void*>) {
            const unsigned products = rig.manager->getProductNums();
            return rig.manager->getProductHandle(in.byte() % (products + 1));  // or null
        } else if constexpr (std::is_same_v<T, QRT_DITRIGGER_CALLBACK>) {
            return in.byte() & 1 ? onInputChange : nullptr;
        } else if constexpr (std::is_pointer_v<T>) {
            using Element = std::remove_pointer_t<T>;
            const uint8_t choice = in.byte();
            if (choice % 4 == 0) return nullptr;
            // Short ones to cut lists and texts, long enough for any.
            size_t count = choice % 4 == 3 ? in.raw<uint16_t>() % 600 : choice / 4 % 16;
            if (!counted && count == 0) count = 1;
            const size_t bytes = count * sizeof(Element);
            arena.emplace_back(new uint8_t[bytes]);
            for (size_t i = 0; i < bytes; ++i) arena.back()[i] = in.byte();
            bufferLength = static_cast<long>(count);
            return reinterpret_cast<T>(arena.back().get());
        } else if constexpr (std::is_enum_v<T>) {
            return static_cast<T>(in.number<int>());
        } else {
            if (length >= 0) return static_cast<T>(in.byte() % (length + 1));  // a buffer's count
            return in.number<T>();
        }
    }
};

template <class... Args, size_t... I>
std::tuple<Args...> decodeArguments(Decoder& decoder, std::index_sequence<I...>) {
    using Next = std::tuple<Args..., void>;  // the parameter after each one
    // Braces: the arguments are decoded from the input in order.
    return std::tuple<Args...>{
        decoder.decode<Args, std::is_integral_v<std::tuple_element_t<I + 1, Next>>>()...};
}

template <class Result, class... Args>
int call(Result (*function)(Args...), Decoder& decoder) {
    std::tuple<Args...> arguments =
        decodeArguments<Args...>(decoder, std::index_sequence_for<Args...>());
    if constexpr (std::is_pointer_v<Result>) {
        return std::apply(function, arguments) != nullptr;
    } else {
        return static_cast<int>(std::apply(function, arguments));
    }
}

using Caller = int (*)(Decoder&);

#define QRT_COMPONENT_FUNCTION(name, ...) [](Decoder& d) { return call(&name, d); },
const Caller kCalls[] = {
#include "api/QRT_ComponentFunctions.def"
    [](Decoder& d) { return call(&QRT_GetSDKInfo, d); },
    [](Decoder& d) { return call(&QRT_GetProductNums, d); },
    [](Decoder& d) { return call(&QRT_GetProductHandle, d); },
    [](Decoder& d) { return call(&QRT_GetProductInfo, d); },
    [](Decoder& d) { return call(&QRT_GetProductType, d); },
    [](Decoder& d) { return call(&QRT_GetProductSN, d); },
    [](Decoder& d) { return call(&QRT_GetFeatureList, d); },
    [](Decoder& d) { return call(&QRT_GetCardID, d); },
};
#undef QRT_COMPONENT_FUNCTION

constexpr size_t kCallCount = sizeof kCalls / sizeof kCalls[0];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzrig::InProcessRig& rig = fuzzrig::InProcessRig::instance();
    Input in(data, size);
    for (int calls = 0; calls < 16 && !in.empty(); ++calls) {
        Arena arena;
        Decoder decoder{in, arena, rig};
        kCalls[in.byte() % kCallCount](decoder);
    }
    rig.checkViolations();
    return 0;
}
