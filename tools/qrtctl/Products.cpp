// qrtctl list, qrtctl info: the products found and their identity texts, read side by side
// (each product on a thread of its own) and printed in index order.

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "tools/common/ProductReading.h"
#include "tools/qrtctl/Commands.h"

namespace qrtctl {

namespace {

using qrtmetrics::kTextSize;

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

// Failures of a product's reads, told on standard error once its line is printed.
void tell(const std::vector<qrtmetrics::Failure>& failures, const std::string& where) {
    for (const qrtmetrics::Failure& failure : failures)
        readable(failure.status, where + ": " + failure.what);
}

// The SDK reaches the PCIe cards only through the kit's driver node. With no product found,
// says on standard error why, when the node cannot be opened: the module is not loaded, or the
// caller is not in the group the udev rule gives the node to. The list itself stays an
// honest, empty one.
void explainMissingDriver() {
    const char* node = "/dev/___nk_pcimap";
    int fd = ::open(node, O_RDWR | O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
        return;
    }
    const int error = errno;
    std::string why;
    if (error == ENOENT || error == ENODEV || error == ENXIO) {
        why = "no such device: the kit's kernel module nk_pcimap is not loaded";
    } else if (error == EACCES || error == EPERM) {
        // The rule driver/99-nk-pcimap.rules gives the node to group "qrt"; a node of another
        // group is named as it stands.
        std::string group = "qrt";
        struct stat status;
        if (::stat(node, &status) == 0)
            if (const struct group* owner = ::getgrgid(status.st_gid)) group = owner->gr_name;
        why = "permission denied: only members of group " + group +
              " may open it (the kit's udev rule); add this user to the group and log in again";
    } else {
        why = std::string("cannot be opened: ") + std::strerror(error);
    }
    std::cerr << "qrtctl: no PCIe products: " << node << ": " << why << '\n';
}

void list(const Selection& selection) {
    // The products are read side by side and printed in index order.
    std::vector<unsigned> indexes = selectedProducts(selection);
    std::vector<qrtmetrics::Identity> identities =
        qrtmetrics::readConcurrently<qrtmetrics::Identity>(indexes, qrtmetrics::readIdentity);
    Json products = Json::array();
    std::string text = "INDEX  MODEL               TYPE   SERIAL            FEATURES\n";
    for (const qrtmetrics::Identity& id : identities) {
        tell(id.failures, "product " + std::to_string(id.index));
        Json features = Json::array();
        std::string featureText;
        for (QRT_FEATURE_TYPE feature : id.features) {
            features.push_back(featureName(feature));
            featureText += (featureText.empty() ? "" : ",") + std::string(featureName(feature));
        }
        products.push_back({{"index", id.index},
                            {"model", id.model},
                            {"type", id.type},
                            {"sn", id.snRead ? Json(id.sn) : Json()},
                            {"features", features}});
        char row[256];
        std::snprintf(row, sizeof row, "%-6u %-19s %-6d %-17s %s\n", id.index,
                      id.model.empty() ? "-" : id.model.c_str(), id.type,
                      id.snRead ? id.sn.c_str() : "-",
                      featureText.empty() ? "-" : featureText.c_str());
        text += row;
    }
    emit(selection, Json{{"products", products}}, text);
    if (identities.empty()) explainMissingDriver();
}

// What `info` reads of one product.
struct ProductInfo {
    unsigned index = 0;
    int type = 0;
    int infoStatus = 0;
    std::string info;
    int cardIdStatus = 0;
    int cardId = 0;
};

ProductInfo readInfo(unsigned index) {
    void* handle = QRT_GetProductHandle(index);
    ProductInfo product;
    product.index = index;
    product.type = QRT_GetProductType(handle);
    char buffer[kTextSize] = "";
    product.infoStatus = QRT_GetProductInfo(handle, buffer, sizeof buffer);
    if (product.infoStatus == QRT_SUCCESS) product.info = buffer;
    product.cardIdStatus = QRT_GetCardID(handle, &product.cardId);
    return product;
}

void info(const Selection& selection) {
    std::vector<unsigned> indexes = selectedProducts(selection);
    Json sdk = Json::object(), products = Json::array();
    std::string text;
    char buffer[kTextSize];
    if (readable(QRT_GetSDKInfo(buffer, static_cast<int>(sizeof buffer)), "SDK information"))
        addInfoText(buffer, &sdk, &text);
    for (const ProductInfo& read : qrtmetrics::readConcurrently<ProductInfo>(indexes, readInfo)) {
        std::string where = "product " + std::to_string(read.index);
        Json product{{"index", read.index}, {"type", read.type}};
        Json infoDoc = Json::object();
        text += "\n[" + where + "]\n";
        if (readable(read.infoStatus, where + ": information"))
            addInfoText(read.info, &infoDoc, &text);
        if (readable(read.cardIdStatus, where + ": card identifier")) {
            product["card_id"] = read.cardId;
            text += "CardID:" + std::to_string(read.cardId) + "\n";
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
    return qrtmetrics::infoLines(text);
}

std::string productModel(void* handle) {
    return qrtmetrics::productModel(handle);
}

std::vector<QRT_FEATURE_TYPE> productFeatures(void* handle) {
    return qrtmetrics::productFeatures(handle);
}

const char* featureName(QRT_FEATURE_TYPE feature) {
    for (const auto& entry : kFeatureNames)
        if (entry.feature == feature) return entry.name;
    return "unknown";
}

void addProductCommands(CLI::App& app) {
    addCommand(app, "list", "List every product: index, model, type, serial number, features", list,
               Products::Every);
    addCommand(app, "info",
               "Print the SDK's information text and the products' identity texts and card "
               "identifiers (every product unless -p names one)",
               info, Products::Every);
}

}  // namespace qrtctl
