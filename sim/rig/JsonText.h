#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace qrtsim {

// JSON text must be UTF-8, but what the rig reports comes from outside: section names and
// values of a rig file, its path, the names of the programs that ran. These turn every string
// (and object key) of `document` that is not valid UTF-8 into one that is, each byte that does
// not belong to a valid sequence written as the four characters "\xNN" (and a backslash of
// the original as "\\" in such a string only), so the document can always be written.
void escapeInvalidUtf8(nlohmann::json& document);

// `text` with invalid UTF-8 escaped as above; valid text unchanged.
std::string escapeInvalidUtf8(const std::string& text);

}  // namespace qrtsim
