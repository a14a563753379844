// The update protocol's two methods over a folder of patches.
#include "version_store.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "starter/base64.h"
#include "starter/dovetane_rpc.h"
#include "starter/xml_document.h"

namespace zolm::updateserver {

namespace fs = std::filesystem;
using starter::XmlEscape;

namespace {

constexpr char kFullBase[] = "00000000";

std::string ReadFile(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A version name usable as a file name here: letters, digits, ".", "-", "_", not "." or "..".
bool PlainName(const std::string &name) {
    if (name.empty() || name == "." || name == ".." || name.size() > 64) return false;
    for (unsigned char c : name)
        if (!std::isalnum(c) && c != '.' && c != '-' && c != '_') return false;
    return true;
}

std::string Errors(const std::string &text) { return "<errors><error>" + XmlEscape(text) + "</error></errors>"; }

}  // namespace

std::string Fault(const std::string &text) {
    return "<?xml version=\"1.0\"?><methodResponse><fault><value><struct><member><name>faultCode</name><value><int>1"
           "</int></value></member><member><name>faultString</name><value><string>" +
           XmlEscape(text) + "</string></value></member></struct></value></fault></methodResponse>";
}

VersionStore::VersionStore(const std::string &folder, std::string product) : product_(std::move(product)) {
    if (!fs::is_directory(folder)) throw std::runtime_error(folder + " is not a folder");
    for (const auto &item : fs::directory_iterator(folder)) {
        const fs::path &path = item.path();
        if (path.extension() != ".xml" || !item.is_regular_file()) continue;
        std::string base = path.stem().string();
        if (base == "full") base = kFullBase;
        if (!PlainName(base)) throw std::runtime_error("not a version name: " + path.string());
        std::string text = ReadFile(path);
        std::string reason;
        starter::XmlDocument doc = starter::ParseXmlBytes(text.data(), text.size(), reason);
        if (!doc) throw std::runtime_error(path.string() + ": " + reason);
        auto version = doc.SelectSingleNode("/patch/@version");
        if (!version || version->Text().empty())
            throw std::runtime_error(path.string() + " is not a patch element with a version");
        if (!newest_.empty() && version->Text() != newest_)
            throw std::runtime_error(path.string() + " makes version " + version->Text() + ", the others " + newest_);
        newest_ = version->Text();
        patches_[base] = std::move(text);
    }
    if (patches_.empty()) throw std::runtime_error(folder + " holds no patch (<version>.xml or full.xml)");
}

std::string VersionStore::Inner(const std::string &method, const std::string &product,
                                const std::string &version) const {
    if (!product_.empty() && product != product_) return Errors("unknown product: " + product);
    if (method == "Versions.GetPatchInfo") {
        if (version == newest_) return "<patch><size>0</size></patch>";
        if (auto patch = patches_.find(version); patch != patches_.end() && version != kFullBase)
            return "<patch><size>" + std::to_string(patch->second.size()) + "</size></patch>";
        if (auto full = patches_.find(kFullBase); full != patches_.end())
            return "<full><size>" + std::to_string(full->second.size()) + "</size></full>";
        return "<patch><size>0</size></patch>";  // unknown, and no full copy to offer
    }
    if (method == "Versions.GetPatch") {
        if (auto patch = patches_.find(version); patch != patches_.end()) return patch->second;
        return Errors("no patch from version " + version);
    }
    return Errors("unknown method: " + method);
}

std::string VersionStore::Answer(const std::string &methodCall) {
    lastCall_ = "(malformed call)";
    std::string reason;
    starter::XmlDocument outer = starter::ParseXmlBytes(methodCall.data(), methodCall.size(), reason);
    if (!outer) return Fault("invalid XML: " + reason);
    auto name = outer.SelectSingleNode("/methodCall/methodName");
    auto parameter = outer.SelectSingleNode("/methodCall/params/param/value/string");
    if (!name || !parameter) return Fault("not an XML-RPC call with one string parameter");
    auto bytes = starter::Base64Decode(parameter->Text());
    if (!bytes) return Fault("the parameter is not base64");
    starter::XmlDocument inner = starter::ParseXmlBytes(bytes->data(), bytes->size(), reason);
    if (!inner) return Fault("invalid inner request: " + reason);
    auto type = inner.SelectSingleNode("/request/@type");
    auto id = inner.SelectSingleNode("/request/@id");
    auto product = inner.SelectSingleNode("/request/product");
    auto version = inner.SelectSingleNode("/request/version");
    if (!type || !id || !product || !version) return Fault("the inner request lacks type, id, product or version");
    if (type->Text() != name->Text()) return Fault("the inner request's type is not the method");

    std::string method = name->Text();
    lastCall_ = method + "(" + product->Text() + ", " + version->Text() + ")";
    std::string answer = "<?xml version=\"1.0\" encoding=\"utf-8\"?><response type=\"" + XmlEscape(method) +
                         "\" request-id=\"" + XmlEscape(id->Text()) + "\" id=\"" + std::to_string(++answers_) + "\">" +
                         Inner(method, product->Text(), PlainName(version->Text()) ? version->Text() : "") +
                         "</response>";
    return "<?xml version=\"1.0\"?><methodResponse><params><param><value><string>" + starter::Base64Encode(answer) +
           "</string></value></param></params></methodResponse>";
}

}  // namespace zolm::updateserver
