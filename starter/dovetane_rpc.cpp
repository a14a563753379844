// The XML-RPC call: documents out, checks of the answer in the order the server's clients rely on.
#include "starter/dovetane_rpc.h"

#include <uuid/uuid.h>

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <exception>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "starter/base64.h"
#include "starter/https.h"
#include "starter/split_by.h"
#include "starter/text_format.h"

namespace zolm::starter {
namespace {

constexpr size_t kMessageLimit = 512;

// The texts of the answer's checks.
constexpr char kStatus[] = "HTTP запрос вернул код %d";
constexpr char kNoContentType[] = "HTTP запрос вернул ответ без Content-Type";
constexpr char kContentType[] = "HTTP запрос вернул ответ с Content-Type: %s";
constexpr char kInvalidXml[] = "HTTP запрос вернул некорректный XML ответ: %s";
constexpr char kNotXmlRpc[] = "HTTP запрос вернул не XMLRPC ответ";
constexpr char kFault[] = "XMLRPC/%s %s";
constexpr char kNoContent[] = "HTTP запрос вернул XMLRPC ответ без содержимого";
constexpr char kInvalidInner[] = "Некорректный XML ответ: %s";
constexpr char kNoResponse[] = "XMLRPC запрос вернул ответ без /response";
constexpr char kNoType[] = "XMLRPC запрос вернул ответ без /response/@type";
constexpr char kWrongType[] = "XMLRPC запрос вернул ответ с неверным значением /response/@type";
constexpr char kNoRequestId[] = "XMLRPC запрос вернул ответ без /response/@request-id";
constexpr char kWrongRequestId[] = "XMLRPC запрос вернул ответ с неверным значением /response/@request-id";
constexpr char kNoId[] = "XMLRPC запрос вернул ответ без /response/@id";
constexpr char kCallFailed[] = "XMLRPC вызов %s --> %s завершился с ошибкой: %s";
constexpr char kInvalidBase64[] = "the base64 text cannot be decoded";

// The text cut to its first 512 characters (UTF-8 sequences kept whole) and "..." when longer.
std::string Shortened(const std::string &text) {
    size_t characters = 0, at = 0;
    while (at < text.size()) {
        if (characters == kMessageLimit) return text.substr(0, at) + "...";
        ++at;
        while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) ++at;
        ++characters;
    }
    return text;
}

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char &c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

// Header lines by lower-case name; a later line replaces an earlier one of the same name.
std::map<std::string, std::string> HeaderValues(std::string_view headers) {
    std::map<std::string, std::string> values;
    size_t start = 0;
    while (start <= headers.size()) {
        size_t end = headers.find('\n', start);
        if (end == std::string_view::npos) end = headers.size();
        std::string_view line = headers.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!line.empty()) {
            SplitResult parts = SplitBy(line, ":", true);
            values[Lower(TrimBlanks(parts.before))] = parts.after;
        }
        start = end + 1;
    }
    return values;
}

std::string ArgumentText(const XmlRpcArgument &argument) {
    struct Visitor {
        std::string operator()(const std::string &text) const { return XmlEscape(text); }
        std::string operator()(int32_t value) const { return std::to_string(value); }
        std::string operator()(int64_t value) const { return std::to_string(value); }
        std::string operator()(bool value) const { return value ? "true" : "false"; }
        std::string operator()(double value) const {
            char text[400];
            std::snprintf(text, sizeof text, "%.4f", value);
            return text;
        }
    };
    return std::visit(Visitor{}, argument);
}

std::string TextOr(const std::optional<XmlNode> &node, const char *missing) { return node ? node->Text() : missing; }

// The inner document, parsed from the decoded bytes as they come. A small answer's bytes are
// collected and parsed in one piece; for a large answer the parser runs on a thread of its own and
// reads the bytes from a short queue of blocks, while this thread goes on parsing and decoding the
// outer document. Both ways read the bytes with the same parser, so they give the same reasons.
class InnerParse {
public:
    // most: the most bytes the decoding can give.
    InnerParse(size_t most, size_t threadedFrom) {
        if (most >= threadedFrom) {
            try {
                worker_ = std::thread([this] { Run(); });
                return;
            } catch (const std::system_error &) {
                // No thread to be had: collected on this one.
            }
        }
        collected_ = Block{SecureBytes(most)};
    }
    ~InnerParse() {
        if (!worker_.joinable()) return;
        {
            std::lock_guard lock(mutex_);
            quit_ = true;
        }
        changed_.notify_all();
        worker_.join();
    }
    InnerParse(const InnerParse &) = delete;
    InnerParse &operator=(const InnerParse &) = delete;

    void Feed(const uint8_t *data, size_t size) {
        if (!worker_.joinable()) {
            if (size > collected_.bytes.size() - collected_.used) throw std::length_error("decoded bytes exceed their bound");
            std::memcpy(collected_.bytes.data() + collected_.used, data, size);
            collected_.used += size;
            return;
        }
        while (size > 0) {
            if (filling_.bytes.size() == 0) filling_ = TakeFreeBlock();
            size_t take = std::min(size, filling_.bytes.size() - filling_.used);
            std::memcpy(filling_.bytes.data() + filling_.used, data, take);
            filling_.used += take;
            data += take;
            size -= take;
            if (filling_.used == filling_.bytes.size()) HandOver(false);
        }
    }

    XmlDocument Finish(std::string &reason) {
        if (!worker_.joinable()) return ParseXmlBytes(collected_.bytes.data(), collected_.used, reason);
        HandOver(true);
        worker_.join();
        if (failure_) std::rethrow_exception(failure_);
        reason = reason_;
        return std::move(result_);
    }

private:
    static constexpr size_t kBlock = size_t{1} << 20;
    static constexpr size_t kQueued = 4;  // blocks waiting at most: the memory the hand-over may take
    struct Block {
        SecureBytes bytes;
        size_t used = 0;
        size_t read = 0;
    };

    Block TakeFreeBlock() {
        std::lock_guard lock(mutex_);
        if (free_.empty()) return Block{SecureBytes(kBlock)};
        Block block = std::move(free_.back());
        free_.pop_back();
        return block;
    }

    void HandOver(bool last) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return full_.size() < kQueued || failure_ || done_; });
        if (failure_) std::rethrow_exception(failure_);
        if (filling_.used != 0 && !done_) full_.push_back(std::move(filling_));
        filling_ = Block{};
        closing_ = last;
        lock.unlock();
        changed_.notify_all();
    }

    // The parser's reader: the next bytes of the queue; 0 at the end, -1 when abandoned.
    int Read(char *buffer, int size) {
        std::unique_lock lock(mutex_);
        for (;;) {
            if (quit_) return -1;
            if (!full_.empty()) {
                Block &block = full_.front();
                size_t take = std::min(static_cast<size_t>(size), block.used - block.read);
                std::memcpy(buffer, block.bytes.data() + block.read, take);
                block.read += take;
                if (block.read == block.used) {
                    block.used = block.read = 0;
                    free_.push_back(std::move(block));
                    full_.pop_front();
                    lock.unlock();
                    changed_.notify_all();
                }
                return static_cast<int>(take);
            }
            if (closing_) return 0;
            changed_.wait(lock);
        }
    }

    void Run() {
        std::exception_ptr failure;
        XmlDocument result;
        std::string reason;
        try {
            result = parser_.ParseFrom([this](char *buffer, int size) { return Read(buffer, size); }, reason);
        } catch (...) {
            failure = std::current_exception();
        }
        {
            std::lock_guard lock(mutex_);
            result_ = std::move(result);
            reason_ = std::move(reason);
            failure_ = failure;
            done_ = true;  // a parse that ended early wants no more bytes
            full_.clear();
        }
        changed_.notify_all();
    }

    XmlStreamParser parser_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Block> full_;
    std::vector<Block> free_;
    Block filling_;
    bool closing_ = false;
    bool quit_ = false;
    bool done_ = false;
    XmlDocument result_;
    std::string reason_;
    std::exception_ptr failure_;
    Block collected_;     // without the thread
    std::thread worker_;  // last: started once everything it uses exists
};

}  // namespace

TXmlRpcError::TXmlRpcError(std::vector<std::string> texts)
    : StarterError(texts.empty() ? std::string() : Shortened(texts.front())), texts_(std::move(texts)) {}

std::string XmlEscape(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            case '"':
                escaped += "&quot;";
                break;
            case '\'':
                escaped += "&apos;";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

std::string FillContentTemplate(std::string_view contentTemplate, const std::vector<XmlRpcArgument> &arguments) {
    std::string content;
    size_t at = 0;
    while (at < contentTemplate.size()) {
        size_t open = contentTemplate.find('{', at);
        if (open == std::string_view::npos) break;
        size_t close = open + 1;
        size_t index = 0;
        bool digits = false;
        while (close < contentTemplate.size() && std::isdigit(static_cast<unsigned char>(contentTemplate[close])) &&
               index <= arguments.size()) {
            index = index * 10 + static_cast<size_t>(contentTemplate[close] - '0');
            digits = true;
            ++close;
        }
        content.append(contentTemplate.substr(at, open - at));
        if (digits && close < contentTemplate.size() && contentTemplate[close] == '}' && index < arguments.size()) {
            content += ArgumentText(arguments[index]);
            at = close + 1;
        } else {
            content += '{';
            at = open + 1;
        }
    }
    content.append(contentTemplate.substr(std::min(at, contentTemplate.size())));
    return content;
}

std::string NewRequestId() {
    uuid_t uuid;
    uuid_generate_random(uuid);
    char text[37];
    uuid_unparse_upper(uuid, text);
    return text;
}

std::string RequestDocument(std::string_view method, std::string_view requestId, std::string_view content) {
    // The system's narrow texts are UTF-8 already: the document goes out as it is built.
    return FillFormat("<?xml version=\"1.0\" encoding=\"utf-8\"?><request type=\"%s\" id=\"%s\">%s</request>",
                      {method, requestId, content});
}

std::string Envelope(std::string_view method, std::string_view base64Request) {
    return FillFormat(
        "<?xml version=\"1.0\"?><methodCall><methodName>%s</methodName><params><param><value><string>%s</string>"
        "</value></param></params></methodCall>",
        {method, base64Request});
}

XmlDocument ReadXmlRpcAnswer(uint16_t status, std::string_view headers, std::string_view body,
                             const std::function<void()> &bodyDone, std::string_view method,
                             std::string_view requestId, size_t threadedFrom) {
    struct BodyGuard {
        const std::function<void()> &done;
        bool called = false;
        void Done() {
            if (!called && done) done();
            called = true;
        }
        ~BodyGuard() { Done(); }
    } guard{bodyDone};

    if (status != 200) throw StarterError(FillFormat(kStatus, {std::to_string(status)}));
    std::map<std::string, std::string> values = HeaderValues(headers);
    auto contentType = values.find("content-type");
    if (contentType == values.end() || contentType->second.empty()) throw StarterError(kNoContentType);
    if (Lower(contentType->second.substr(0, 8)) != "text/xml")
        throw StarterError(FillFormat(kContentType, {contentType->second}));

    // One pass over the body: the text of the content is decoded as the parser meets it, and the
    // decoded bytes are parsed as they come, instead of building the text, then the bytes, then
    // the inner document one after the other.
    std::string reason;
    InnerParse innerParse(body.size() / 4 * 3 + 3, threadedFrom);
    Base64Decoder decoder([&](const uint8_t *bytes, size_t size) { innerParse.Feed(bytes, size); });
    XmlStreamParser outerParse;
    outerParse.DivertText({"methodResponse", "params", "param", "value"},
                          [&](std::string_view text) { decoder.Feed(text); });
    XmlDocument outer = outerParse.ParseAll(body.data(), body.size(), reason);
    guard.Done();
    if (!outer) throw StarterError(FillFormat(kInvalidXml, {reason}));

    std::optional<XmlNode> response = outer.SelectSingleNode("/methodResponse");
    if (!response) throw StarterError(kNotXmlRpc);
    if (std::optional<XmlNode> fault = response->SelectSingleNode("fault")) {
        std::string code = TextOr(fault->SelectSingleNode("value/struct/member[name = 'faultCode']/value"), "?");
        std::string text = TextOr(fault->SelectSingleNode("value/struct/member[name = 'faultString']/value"), "?");
        throw StarterError(FillFormat(kFault, {code, Shortened(text)}));
    }
    std::optional<XmlNode> value = response->SelectSingleNode("params/param/value");
    if (!value) throw StarterError(kNoContent);

    outer.Reset();
    if (!decoder.Finish()) throw StarterError(FillFormat(kInvalidInner, {kInvalidBase64}));
    XmlDocument inner = innerParse.Finish(reason);
    if (!inner) throw StarterError(FillFormat(kInvalidInner, {reason}));

    std::optional<XmlNode> root = inner.SelectSingleNode("/response");
    if (!root) throw StarterError(kNoResponse);
    std::optional<XmlNode> type = root->SelectSingleNode("@type");
    if (!type) throw StarterError(kNoType);
    if (type->Text() != method) throw StarterError(kWrongType);
    std::optional<XmlNode> id = root->SelectSingleNode("@request-id");
    if (!id) throw StarterError(kNoRequestId);
    if (id->Text() != requestId) throw StarterError(kWrongRequestId);
    if (!root->SelectSingleNode("@id")) throw StarterError(kNoId);

    std::vector<XmlNode> errors = root->SelectNodes("errors/error");
    if (!errors.empty()) {
        std::vector<std::string> texts;
        for (const XmlNode &error : errors) texts.push_back(error.Text());
        throw TXmlRpcError(std::move(texts));
    }
    return inner;
}

XmlDocument XmlRpcCall(std::string_view url, std::string_view method, std::string_view contentTemplate,
                       uint32_t timeoutMs, const std::vector<XmlRpcArgument> &arguments) {
    try {
        std::string requestId = NewRequestId();
        std::string envelope = Envelope(
            method, Base64Encode(RequestDocument(method, requestId, FillContentTemplate(contentTemplate, arguments))));
        HttpsResponse response =
            HttpsRequest("POST", url, "Content-Type: text/xml\r\n", envelope.data(), envelope.size(), timeoutMs);
        return ReadXmlRpcAnswer(
            response.status, response.headers, response.body.Text(), [&] { response.body.Release(); }, method,
            requestId);
    } catch (const TXmlRpcError &) {
        throw;
    } catch (const std::exception &e) {
        throw StarterError(FillFormat(kCallFailed, {method, url, e.what()}));
    }
}

}  // namespace zolm::starter
