// libQRT_SDK exports exactly the functions of its public header and the six component
// lookups; everything else in it (the manager, C++ helpers, inlined library code) stays hidden.

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

#include "PublicHeader.h"

namespace {

// Defined symbols of the library's dynamic symbol table, as `nm -D --defined-only` lists them.
std::set<std::string> exportedSymbols(std::string* error) {
    std::string command =
        std::string("'") + QRT_TEST_NM + "' -D --defined-only '" + QRT_TEST_SDK_LIBRARY + "' 2>&1";
    std::set<std::string> names;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        *error = "cannot run " + command;
        return names;
    }
    char line[512];
    std::string output;
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        output += line;
        char address[64], type[8], name[400];
        // clang's function-type check (UndefinedBehaviorSanitizer) emits the type information of
        // every function type it checks as weak public symbols; they are no API.
        if (std::sscanf(line, "%63s %7s %399s", address, type, name) == 3 &&
            std::string(name).rfind("_ZTIF", 0) != 0 && std::string(name).rfind("_ZTSF", 0) != 0)
            names.insert(name);
    }
    if (pclose(pipe) != 0) *error = "nm failed: " + output;
    return names;
}

TEST(ExportedSymbols, AreThePublicFunctionsAndTheSixLookups) {
    std::set<std::string> expected = qrttest::publicHeaderFunctions();
    ASSERT_EQ(expected.size(), 83u) << "8 library and product functions, 75 component functions";
    for (const char* lookup : {"__GetQRTPowCtrlHandle", "__GetPoEHandle", "__GetToEHandle",
                               "__GetDIOHandle", "__GetExPowSupHandle", "__GetFanHandle"})
        expected.insert(lookup);

    std::string error;
    std::set<std::string> exported = exportedSymbols(&error);
    ASSERT_TRUE(error.empty()) << error;
    EXPECT_EQ(exported, expected);
}

}  // namespace
