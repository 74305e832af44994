// qrtctl metrics: the measurements of every product in the Prometheus text exposition format,
// for node_exporter's textfile collector.
//
// Every sample carries the labels product (index), model and sn; per-port samples add port,
// per-fan samples fan, per-input samples supply. A value a product cannot read is left out and
// counted in qrt_read_errors of its product, so that one failing card does not stop the
// others' samples; the command still exits 0 once it has printed them.

#include <map>
#include <vector>

#include "tools/qrtctl/Commands.h"

namespace qrtctl {

namespace {

struct Family {
    std::string help;
    std::vector<std::string> samples;  // "name{labels} value"
};

std::string escapeLabel(const std::string& value) {
    std::string escaped;
    for (char c : value) {
        if (c == '\\' || c == '"')
            escaped += std::string("\\") + c;
        else if (c == '\n')
            escaped += "\\n";
        else
            escaped += c;
    }
    return escaped;
}

// The samples of one run, grouped by metric family in the order families first appear.
class Exposition {
  public:
    void add(const std::string& name, const std::string& help, const std::string& labels,
             double value) {
        auto [entry, added] = families_.try_emplace(name, Family{help, {}});
        if (added) order_.push_back(name);
        entry->second.samples.push_back(name + (labels.empty() ? "" : "{" + labels + "}") + " " +
                                        formatValue(value));
    }
    std::string text() const {
        std::string out;
        for (const std::string& name : order_) {
            const Family& family = families_.at(name);
            out += "# HELP " + name + " " + family.help + "\n# TYPE " + name + " gauge\n";
            for (const std::string& sample : family.samples) out += sample + "\n";
        }
        return out;
    }

  private:
    static std::string formatValue(double value) {
        char text[64];
        std::snprintf(text, sizeof text, "%.6g", value);
        return text;
    }
    std::map<std::string, Family> families_;
    std::vector<std::string> order_;
};

// The samples of one product.
class ProductMetrics {
  public:
    ProductMetrics(unsigned index, Exposition* out)
        : index_(index), handle_(QRT_GetProductHandle(index)), out_(out) {
        char sn[256] = "";
        if (!read(QRT_GetProductSN(handle_, sn, sizeof sn), "serial number")) sn[0] = '\0';
        labels_ = "product=\"" + std::to_string(index) + "\",model=\"" +
                  escapeLabel(productModel(handle_)) + "\",sn=\"" + escapeLabel(sn) + "\"";
    }

    void collect() {
        out_->add("qrt_product_info", "Products found; the value is always 1",
                  labels_ + ",type=\"" + std::to_string(QRT_GetProductType(handle_)) + "\"", 1);
        for (QRT_FEATURE_TYPE feature : productFeatures(handle_)) {
            if (feature == QRT_FEATURE_POE) poe();
            if (feature == QRT_FEATURE_POWER_CONTROLLER)
                row("qrt_usb_port_power_enabled", "USB port power switched on (1) or off (0)",
                    "port", QRT_PowCtrlGetPortNums, QRT_PowCtrlGetPortEnable);
            if (feature == QRT_FEATURE_EX_POWER_SUPPLY)
                row("qrt_external_supply_connected",
                    "External power supply plugged in (1) or not (0)", "supply",
                    QRT_ExPowSupGetNums, QRT_ExPowSupGetState);
            if (feature == QRT_FEATURE_FAN) fans();
        }
        out_->add("qrt_read_errors", "Values of the product that could not be read in this run",
                  labels_, errors_);
    }

  private:
    bool read(int status, const std::string& what) {
        if (status != QRT_SUCCESS && status != QRT_ERR_NOT_SUPPORTED) ++errors_;
        return readable(status, "product " + std::to_string(index_) + ": " + what, false);
    }

    void row(const char* name, const char* help, const char* label, int (*count)(void*, unsigned*),
             int (*get)(void*, int*, unsigned)) {
        unsigned n = 0;
        if (!read(count(handle_, &n), name) || n == 0) return;
        std::vector<int> states(n);
        if (!read(get(handle_, states.data(), n), name)) return;
        for (unsigned i = 0; i < n; ++i)
            out_->add(name, help, labels_ + "," + label + "=\"" + std::to_string(i) + "\"",
                      states[i]);
    }

    void poe() {
        for (const PoeProperty& property : kPoeCardProperties) {
            float value = 0;
            if (read(QRT_PoEGetProperty(handle_, static_cast<QRT_POEPROPERTY_TYPE>(property.number),
                                        &value),
                     property.key))
                out_->add(std::string("qrt_poe_") + property.key, property.help, labels_, value);
        }
        row("qrt_poe_port_enabled", "PoE port switched on (1) or off (0)", "port",
            QRT_PoEGetPortNums, QRT_PoEGetPortEnable);
        unsigned ports = 0;
        if (!read(QRT_PoEGetPortNums(handle_, &ports), "PoE port count")) return;
        for (unsigned port = 0; port < ports; ++port) {
            std::string labels = labels_ + ",port=\"" + std::to_string(port) + "\"";
            float values[5] = {};
            bool got[5] = {};
            for (const PoeProperty& property : kPoePortProperties) {
                got[property.number] =
                    read(QRT_PoEGetPortProperty(
                             handle_, port, static_cast<QRT_POEPORTPROPERTY_TYPE>(property.number),
                             &values[property.number]),
                         property.key);
                if (got[property.number])
                    out_->add(std::string("qrt_poe_port_") + property.key, property.help, labels,
                              values[property.number]);
            }
            if (got[QRT_POEPORT_PROP_CURRENT] && got[QRT_POEPORT_PROP_VOLTAGE])
                out_->add("qrt_poe_port_power_watts", "PSE output power (voltage times current)",
                          labels,
                          static_cast<double>(values[QRT_POEPORT_PROP_CURRENT]) *
                              values[QRT_POEPORT_PROP_VOLTAGE]);
        }
    }

    void fans() {
        unsigned fans = 0;
        if (!read(QRT_FanGetNums(handle_, &fans), "fan count")) return;
        for (unsigned fan = 0; fan < fans; ++fan) {
            unsigned rpm = 0;
            int duty = 0;
            std::string labels = labels_ + ",fan=\"" + std::to_string(fan) + "\"";
            if (read(QRT_FanGetSpeed(handle_, fan, &rpm), "fan speed"))
                out_->add("qrt_fan_speed_rpm", "Fan speed in revolutions per minute", labels, rpm);
            if (read(QRT_FanGetPWM(handle_, fan, &duty), "fan PWM"))
                out_->add("qrt_fan_pwm", "Fan PWM duty", labels, duty);
        }
    }

    unsigned index_;
    void* handle_;
    Exposition* out_;
    std::string labels_;
    int errors_ = 0;
};

void metrics(const Selection& selection) {
    if (selection.json) throw UsageError("metrics prints the Prometheus text format only");
    Exposition out;
    out.add("qrt_products", "Products the SDK found", "", QRT_GetProductNums());
    for (unsigned index : selectedProducts(selection)) ProductMetrics(index, &out).collect();
    std::fputs(out.text().c_str(), stdout);
}

}  // namespace

void addMetricsCommand(CLI::App& app) {
    addCommand(app, "metrics",
               "Print PoE power, voltage and current per port, temperatures, power budgets, fan "
               "speeds and port states of every product in the Prometheus text format",
               metrics);
}

}  // namespace qrtctl
