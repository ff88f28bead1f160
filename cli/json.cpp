// The JSON writer, and the values and members the commands build their documents from.
#include "cli/json.h"

#include <algorithm>

#include "common/text.h"

namespace cli {

void JsonWriter::Open(char bracket) {
    Separate();
    out += bracket;
    first_.push_back(true);
}

void JsonWriter::Close(char bracket) {
    bool empty = first_.back();
    first_.pop_back();
    if (!empty)
        Newline();
    out += bracket;
}

void JsonWriter::Key(std::string_view key) {
    Text(key);
    out += ": ";
    keyed_ = true;
}

void JsonWriter::Text(std::string_view text) {
    static const char kHex[] = "0123456789abcdef";
    Separate();
    out += '"';
    size_t plain = 0; // the start of the run of characters that need no escape
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c != '"' && c != '\\' && c >= 0x20)
            continue;
        out.append(text.data() + plain, i - plain);
        plain = i + 1;
        const char* shortForm = c == '"'    ? "\\\""
                                : c == '\\' ? "\\\\"
                                : c == '\b' ? "\\b"
                                : c == '\f' ? "\\f"
                                : c == '\n' ? "\\n"
                                : c == '\r' ? "\\r"
                                : c == '\t' ? "\\t"
                                            : nullptr;
        if (shortForm) {
            out += shortForm;
        } else {
            char escape[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 15]};
            out.append(escape, 6);
        }
    }
    out.append(text.data() + plain, text.size() - plain);
    out += '"';
}

void JsonWriter::Integer(bool negative, unsigned long long magnitude) {
    Separate();
    if (negative)
        out += '-';
    out += DecimalAnsi(magnitude);
}

void JsonWriter::Bool(bool value) {
    Separate();
    out += value ? "true" : "false";
}

void JsonWriter::Null() {
    Separate();
    out += "null";
}

void JsonWriter::Written(std::string_view value) {
    Separate();
    for (char c : value) {
        out += c;
        // Text holds no line breaks of its own (they are escaped): each one is the value's.
        if (c == '\n')
            out.append(first_.size() * 2, ' ');
    }
}

void JsonWriter::Newline() {
    out += '\n';
    out.append(first_.size() * 2, ' ');
}

// A value after its key stays on the key's line; any other starts a line of its own.
void JsonWriter::Separate() {
    if (keyed_) {
        keyed_ = false;
        return;
    }
    if (first_.empty())
        return;
    if (!first_.back())
        out += ',';
    first_.back() = false;
    Newline();
}

Json::Json(std::nullptr_t) : text_("null") {}

Json::Json(std::string_view text) {
    JsonWriter writer;
    writer.Text(text);
    text_ = std::move(writer.out);
}

void Json::Integer(bool negative, unsigned long long magnitude) {
    JsonWriter writer;
    writer.Integer(negative, magnitude);
    text_ = std::move(writer.out);
}

Json::Json(const JsonObject& object) {
    std::vector<const std::pair<std::string, Json>*> members;
    for (const auto& member : object.members_)
        members.push_back(&member);
    std::sort(members.begin(), members.end(), [](auto* a, auto* b) { return a->first < b->first; });
    JsonWriter writer;
    writer.Open('{');
    for (const auto* member : members) {
        writer.Key(member->first);
        writer.Written(member->second.text_);
    }
    writer.Close('}');
    text_ = std::move(writer.out);
}

Json::Json(const JsonArray& array) {
    JsonWriter writer;
    writer.Open('[');
    for (const Json& element : array.elements_)
        writer.Written(element.text_);
    writer.Close(']');
    text_ = std::move(writer.out);
}

Json& JsonObject::operator[](std::string_view key) {
    for (auto& member : members_)
        if (member.first == key)
            return member.second;
    members_.emplace_back(std::string(key), Json());
    return members_.back().second;
}

} // namespace cli
