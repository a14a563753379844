// Fuzz target for the request template reader: any text must give a record or a std::exception,
// never a crash, a leak or another kind of exception. Texts the reader's nesting guard lets through
// are parsed once more by the bare XML parser, to check that the guard never underestimates depth.
#include <boost/property_tree/ptree.hpp>
#include <boost/property_tree/xml_parser.hpp>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "common/request_template.h"

namespace {

namespace pt = boost::property_tree;

// Element nesting of a parsed tree (attributes, which the parser files one level down, not counted).
int ElementDepth(const pt::ptree &root) {
    int deepest = 0;
    std::vector<std::pair<const pt::ptree *, int>> pending{{&root, 0}};
    while (!pending.empty()) {
        auto [tree, depth] = pending.back();
        pending.pop_back();
        if (depth > deepest) deepest = depth;
        for (const auto &child : *tree)
            if (child.first != "<xmlattr>") pending.push_back({&child.second, depth + 1});
    }
    return deepest;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // The reader takes a NUL-terminated text, as the host passes it.
    std::string text(reinterpret_cast<const char *>(data), size);
    try {
        zolm::RequestTemplate record = zolm::ReadRequestTemplate(text.c_str());
        for (size_t i = 1; i < record.subject.size(); ++i)
            if (record.subject[i - 1].order > record.subject[i].order) std::abort();
        if (record.basicConstraintsCA < -1 || record.basicConstraintsCA > 1) std::abort();
    } catch (const std::exception &e) {
        if (std::strstr(e.what(), "elements nested deeper than") != nullptr) return 0;
    }
    try {
        std::istringstream in(text.c_str());
        pt::ptree tree;
        pt::read_xml(in, tree);
        if (ElementDepth(tree) > zolm::kTemplateMaxDepth) std::abort();
    } catch (const std::exception &) {
    }
    return 0;
}
