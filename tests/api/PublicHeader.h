#pragma once

// The function names that the installed public header declares, read from the header text
// itself, so that tests compare the library against what applications actually see.

#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>

namespace qrttest {

inline std::set<std::string> publicHeaderFunctions() {
    std::ifstream in(QRT_TEST_PUBLIC_HEADER);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    static const std::regex declaration(R"(QRT_API\s+[^;(]*?\b(QRT_\w+)\s*\()");
    std::set<std::string> names;
    for (std::sregex_iterator it(text.begin(), text.end(), declaration), end; it != end; ++it)
        names.insert((*it)[1]);
    return names;
}

// The library and product functions; every other declared function is a component function.
inline const std::set<std::string>& productLevelFunctions() {
    static const std::set<std::string> names = {
        "QRT_GetSDKInfo",     "QRT_GetProductNums", "QRT_GetProductHandle", "QRT_GetProductInfo",
        "QRT_GetProductType", "QRT_GetProductSN",   "QRT_GetFeatureList",   "QRT_GetCardID"};
    return names;
}

}  // namespace qrttest
