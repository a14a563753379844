// The request settings this plug-in takes from the framework's template record.
#include "common/request_template.h"
#include "zolm_cp_cryptopro/key_operations.h"

namespace cryptopro {

RequestContent ReadRequestContent(const char *requestTemplate) {
    zolm::RequestTemplate record = zolm::ReadRequestTemplate(requestTemplate);
    RequestContent content;
    for (const auto &entry : record.subject) content.subject.emplace_back(entry.key, entry.value);
    content.keyUsageCritical = record.keyUsageCritical;
    content.keyUsage = record.keyUsage;
    content.extendedKeyUsageCritical = record.extendedKeyUsageCritical;
    for (const auto &entry : record.extendedKeyUsage) content.extendedKeyUsage.push_back(entry.key);
    content.policiesCritical = record.policiesCritical;
    for (const auto &entry : record.policies) content.policies.push_back(entry.key);
    content.signTool = record.signTool;
    content.signAlgorithm = record.signAlgorithm.key;
    return content;
}

}  // namespace cryptopro
