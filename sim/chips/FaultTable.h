#pragma once

#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace qrtsim {

// The faults a chip model shows while programs run, set and cleared through the rig's control
// channel ("<section> fault <chip> <mode> [value] [request]"). A chip lists the faults it can
// show (its modes) and the kinds of request it tells apart; a fault set without a request
// applies to every request. The model consults its table where the real chip would go wrong:
// an I2C device that does not acknowledge its address, a busy flag that never clears, an error
// bit, reads that float to all ones, a failing system call, a driver status, a node that has
// gone. What a fault makes the chip do is described where the chip models it.
class FaultTable {
  public:
    // Modes that take a number ("status 3"); the others take none.
    static bool takesValue(const std::string& mode) { return mode == "status"; }

    FaultTable(std::vector<std::string> modes, std::vector<std::string> requests = {})
        : modes_(std::move(modes)), requests_(std::move(requests)) {}

    // Further modes, for a chip that shows more faults than its kind of device.
    void addModes(const std::vector<std::string>& modes) {
        modes_.insert(modes_.end(), modes.begin(), modes.end());
    }

    void addRequests(const std::vector<std::string>& requests) {
        requests_.insert(requests_.end(), requests.begin(), requests.end());
    }
    // Called after every change made through set(words) or clear(words), for a chip whose
    // faults change something outside its answers (a file that goes, a datagram sent).
    std::function<void()> changed;

    // "MODE [VALUE] [REQUEST]". False with `reply` saying why for a mode or request this chip
    // does not have, or a bad value.
    bool set(const std::vector<std::string>& words, std::string& reply);
    // "[MODE [REQUEST]]": everything, a mode, or a mode for one request.
    bool clear(const std::vector<std::string>& words, std::string& reply);
    void set(const std::string& mode, long value = 1, const std::string& request = "");

    // Whether `mode` is set for `request` (or for every request).
    bool active(const std::string& mode, const std::string& request = "") const {
        return value(mode, request) != 0;
    }
    // The value `mode` is set with for `request`, 0 when it is not set.
    long value(const std::string& mode, const std::string& request = "") const;
    bool empty() const { return faults_.empty(); }
    // Whether the chip can show `mode` at all.
    bool offers(const std::string& mode) const { return known(modes_, mode); }

    // The faults set, for the state document: ["nack", "status=3@register-read", ...].
    nlohmann::json toJson() const;
    // "nack, busy (requests: read, write)", for a refusal.
    std::string describe() const;

  private:
    struct Fault {
        std::string mode;
        std::string request;  // empty: every request
        long value;
    };
    bool known(const std::vector<std::string>& list, const std::string& name) const;

    std::vector<std::string> modes_;
    std::vector<std::string> requests_;
    std::vector<Fault> faults_;
};

}  // namespace qrtsim
