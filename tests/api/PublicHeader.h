#pragma once

// The function names that the installed public header declares, read from the header text
// itself, so that tests compare the library against what applications actually see.

#include <cctype>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

namespace qrttest {

inline std::set<std::string> publicHeaderFunctions() {
    std::ifstream in(QRT_TEST_PUBLIC_HEADER);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // A declaration is "QRT_API <return type> QRT_Name(": take the QRT_ word that stands
    // right before the first "(" after each QRT_API marker.
    std::set<std::string> names;
    const std::string marker = "QRT_API";
    for (size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at + 1)) {
        size_t open = text.find_first_of("(;", at + marker.size());
        if (open == std::string::npos || text[open] != '(') continue;
        size_t end = text.find_last_not_of(" \t\n", open - 1) + 1;
        size_t begin = end;
        while (begin > at && (std::isalnum(static_cast<unsigned char>(text[begin - 1])) ||
                              text[begin - 1] == '_'))
            --begin;
        std::string name = text.substr(begin, end - begin);
        if (name.rfind("QRT_", 0) == 0 && name != marker) names.insert(name);
    }
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
