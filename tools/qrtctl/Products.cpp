// qrtctl list, qrtctl info: the products found and their identity texts.

#include <cstdio>
#include <sstream>

#include "tools/qrtctl/Commands.h"

namespace qrtctl {

namespace {

constexpr unsigned kTextSize = 1024;

const struct {
    QRT_FEATURE_TYPE feature;
    const char* name;
} kFeatureNames[] = {
    {QRT_FEATURE_POWER_CONTROLLER, "power"},
    {QRT_FEATURE_POE, "poe"},
    {QRT_FEATURE_TOE, "toe"},
    {QRT_FEATURE_DIO, "dio"},
    {QRT_FEATURE_EX_POWER_SUPPLY, "exsupply"},
    {QRT_FEATURE_FAN, "fan"},
};

// The information text as an object, and as text without the carriage returns.
void addInfoText(const std::string& text, Json* doc, std::string* lines) {
    for (const auto& [name, value] : infoLines(text)) {
        (*doc)[name] = value;
        *lines += name + ":" + value + "\n";
    }
}

void list(const Selection& selection) {
    Json products = Json::array();
    std::string text = "INDEX  MODEL               TYPE   SERIAL            FEATURES\n";
    for (unsigned index : selectedProducts(selection)) {
        void* handle = QRT_GetProductHandle(index);
        std::string where = "product " + std::to_string(index);
        char sn[kTextSize] = "";
        bool snRead = readable(QRT_GetProductSN(handle, sn, sizeof sn), where + ": serial number");
        std::string model = productModel(handle);
        int type = QRT_GetProductType(handle);
        Json features = Json::array();
        std::string featureText;
        for (QRT_FEATURE_TYPE feature : productFeatures(handle)) {
            features.push_back(featureName(feature));
            featureText += (featureText.empty() ? "" : ",") + std::string(featureName(feature));
        }
        products.push_back({{"index", index},
                            {"model", model},
                            {"type", type},
                            {"sn", snRead ? Json(sn) : Json()},
                            {"features", features}});
        char row[256];
        std::snprintf(row, sizeof row, "%-6u %-19s %-6d %-17s %s\n", index,
                      model.empty() ? "-" : model.c_str(), type, snRead ? sn : "-",
                      featureText.empty() ? "-" : featureText.c_str());
        text += row;
    }
    emit(selection, Json{{"products", products}}, text);
}

void info(const Selection& selection) {
    std::vector<unsigned> indexes = selectedProducts(selection);
    Json sdk = Json::object(), products = Json::array();
    std::string text;
    char buffer[kTextSize];
    if (readable(QRT_GetSDKInfo(buffer, static_cast<int>(sizeof buffer)), "SDK information"))
        addInfoText(buffer, &sdk, &text);
    for (unsigned index : indexes) {
        void* handle = QRT_GetProductHandle(index);
        std::string where = "product " + std::to_string(index);
        Json product{{"index", index}, {"type", QRT_GetProductType(handle)}};
        Json infoDoc = Json::object();
        text += "\n[" + where + "]\n";
        if (readable(QRT_GetProductInfo(handle, buffer, sizeof buffer), where + ": information"))
            addInfoText(buffer, &infoDoc, &text);
        int cardId = 0;
        if (readable(QRT_GetCardID(handle, &cardId), where + ": card identifier")) {
            product["card_id"] = cardId;
            text += "CardID:" + std::to_string(cardId) + "\n";
        }
        product["info"] = infoDoc;
        products.push_back(product);
    }
    emit(selection, Json{{"sdk", sdk}, {"products", products}}, text);
}

}  // namespace

std::vector<unsigned> selectedProducts(const Selection& selection) {
    if (selection.productGiven) {
        selection.handle();  // a product that does not exist fails the command
        return {selection.product};
    }
    std::vector<unsigned> all;
    for (unsigned i = 0, n = QRT_GetProductNums(); i < n; ++i) all.push_back(i);
    return all;
}

std::vector<std::pair<std::string, std::string>> infoLines(const std::string& text) {
    std::vector<std::pair<std::string, std::string>> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        size_t value = line.find_first_not_of(' ', colon + 1);
        lines.emplace_back(line.substr(0, colon),
                           value == std::string::npos ? "" : line.substr(value));
    }
    return lines;
}

std::string productModel(void* handle) {
    char text[kTextSize];
    if (QRT_GetProductInfo(handle, text, sizeof text) != QRT_SUCCESS) return "";
    for (const auto& [name, value] : infoLines(text))
        if (name == "Product") return value;
    return "";
}

std::vector<QRT_FEATURE_TYPE> productFeatures(void* handle) {
    QRT_FEATURE_TYPE list[16];
    int count = QRT_GetFeatureList(handle, list, 16);
    if (count < 0 || count > 16) return {};
    return std::vector<QRT_FEATURE_TYPE>(list, list + count);
}

const char* featureName(QRT_FEATURE_TYPE feature) {
    for (const auto& entry : kFeatureNames)
        if (entry.feature == feature) return entry.name;
    return "unknown";
}

void addProductCommands(CLI::App& app) {
    addCommand(app, "list", "List every product: index, model, type, serial number, features",
               list);
    addCommand(app, "info",
               "Print the SDK's information text and the products' identity texts and card "
               "identifiers (every product unless -p names one)",
               info);
}

}  // namespace qrtctl
