#include "sim/chips/Violations.h"

namespace qrtsim {

namespace {

// Walks a state document; `path` names where an object sits ("boards/card1/mcu").
void collect(const nlohmann::json& node, const std::string& path, uint64_t& total,
             std::string& lines) {
    if (node.is_array()) {
        for (size_t i = 0; i < node.size(); ++i) {
            const nlohmann::json& item = node[i];
            // Boards are named by their section, other list entries by their position.
            std::string name =
                item.is_object() && item.contains("section") && item["section"].is_string()
                    ? item["section"].get<std::string>()
                    : std::to_string(i);
            collect(item, path.empty() ? name : path + "/" + name, total, lines);
        }
        return;
    }
    if (!node.is_object()) return;
    for (const auto& [key, value] : node.items()) {
        if (key == "violations" && value.is_object()) {
            std::string kinds;
            for (const auto& [kind, count] : value.items()) {
                if (!count.is_number_unsigned() || count.get<uint64_t>() == 0) continue;
                total += count.get<uint64_t>();
                kinds += (kinds.empty() ? "" : ", ") + kind + "=" +
                         std::to_string(count.get<uint64_t>());
            }
            if (!kinds.empty()) lines += (path.empty() ? "rig" : path) + ": " + kinds + "\n";
            continue;
        }
        if (value.is_structured())
            collect(value, path.empty() ? key : path + "/" + key, total, lines);
    }
}

}  // namespace

void Violations::count(const std::string& kind, const std::string& detail) {
    ++counts_[kind];
    if (trace_) trace_(chip_ + " violation " + kind + (detail.empty() ? "" : ": " + detail));
}

unsigned Violations::of(const std::string& kind) const {
    auto it = counts_.find(kind);
    return it == counts_.end() ? 0 : it->second;
}

unsigned Violations::total() const {
    unsigned sum = 0;
    for (const auto& entry : counts_) sum += entry.second;
    return sum;
}

nlohmann::json Violations::toJson() const {
    nlohmann::json out = nlohmann::json::object();
    for (const auto& [kind, count] : counts_) out[kind] = count;
    return out;
}

uint64_t Violations::total(const nlohmann::json& state) {
    uint64_t sum = 0;
    std::string lines;
    collect(state, "", sum, lines);
    return sum;
}

std::string Violations::describe(const nlohmann::json& state) {
    uint64_t sum = 0;
    std::string lines;
    collect(state, "", sum, lines);
    return lines;
}

}  // namespace qrtsim
