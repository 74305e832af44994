#include "sim/chips/FaultTable.h"

#include <algorithm>

namespace qrtsim {

bool FaultTable::known(const std::vector<std::string>& list, const std::string& name) const {
    return std::find(list.begin(), list.end(), name) != list.end();
}

std::string FaultTable::describe() const {
    std::string text;
    for (const std::string& mode : modes_) text += (text.empty() ? "" : ", ") + mode;
    if (!requests_.empty()) {
        text += " (requests:";
        for (const std::string& request : requests_) text += " " + request;
        text += ")";
    }
    return text;
}

bool FaultTable::set(const std::vector<std::string>& words, std::string& reply) {
    if (words.empty() || !known(modes_, words[0])) {
        reply = "faults of this chip: " + describe();
        return false;
    }
    size_t next = 1;
    long number = 1;
    if (takesValue(words[0])) {
        if (words.size() < 2 || words[1].empty() || words[1].size() > 3 ||
            !std::all_of(words[1].begin(), words[1].end(),
                         [](char c) { return c >= '0' && c <= '9'; }) ||
            std::stol(words[1]) > 255 || std::stol(words[1]) == 0) {
            reply = words[0] + " takes a number 1..255";
            return false;
        }
        number = std::stol(words[1]);
        next = 2;
    }
    std::string request = next < words.size() ? words[next] : "";
    if (!request.empty() && !known(requests_, request)) {
        reply = "faults of this chip: " + describe();
        return false;
    }
    if (next + 1 < words.size()) {
        reply = "too many words after the fault";
        return false;
    }
    set(words[0], number, request);
    reply = "ok";
    if (changed) changed();
    return true;
}

void FaultTable::set(const std::string& mode, long value, const std::string& request) {
    for (Fault& fault : faults_)
        if (fault.mode == mode && fault.request == request) {
            fault.value = value;
            return;
        }
    faults_.push_back({mode, request, value});
}

bool FaultTable::clear(const std::vector<std::string>& words, std::string& reply) {
    if (words.size() > 2 || (!words.empty() && !known(modes_, words[0])) ||
        (words.size() == 2 && !known(requests_, words[1]))) {
        reply = "faults of this chip: " + describe();
        return false;
    }
    faults_.erase(std::remove_if(faults_.begin(), faults_.end(),
                                 [&words](const Fault& fault) {
                                     return (words.empty() || fault.mode == words[0]) &&
                                            (words.size() < 2 || fault.request == words[1]);
                                 }),
                  faults_.end());
    reply = "ok";
    if (changed) changed();
    return true;
}

long FaultTable::value(const std::string& mode, const std::string& request) const {
    long found = 0;
    for (const Fault& fault : faults_)
        if (fault.mode == mode && (fault.request.empty() || fault.request == request)) {
            if (fault.request == request) return fault.value;  // the narrower one wins
            found = fault.value;
        }
    return found;
}

nlohmann::json FaultTable::toJson() const {
    nlohmann::json list = nlohmann::json::array();
    for (const Fault& fault : faults_) {
        std::string text = fault.mode;
        if (takesValue(fault.mode)) text += "=" + std::to_string(fault.value);
        if (!fault.request.empty()) text += "@" + fault.request;
        list.push_back(text);
    }
    return list;
}

}  // namespace qrtsim
