#include "reader/protocol.h"

#include <cstring>

#include "reader/content.h"

namespace reader {

namespace {

constexpr char kRequestMagic[] = {'C', 'V', 'R', 'Q'};
constexpr char kAnswerMagic[] = {'C', 'V', 'R', 'A'};
constexpr char kContentMagic[] = {'C', 'V', 'R', 'C'};
constexpr char kEndMarker[] = {'C', 'V', 'R', '.'};
// Every magic takes as many bytes as the end marker; the record's length follows the magic.
constexpr size_t kMarkSize = sizeof kEndMarker;

class Writer {
  public:
    explicit Writer(const char (&magic)[kMarkSize]) {
        bytes_.append(magic, kMarkSize);
        Number(0); // the length, filled in by Finish
    }
    void Number(uint32_t value) { bytes_.append(reinterpret_cast<const char*>(&value), sizeof value); }
    void Raw(const void* data, size_t size) { bytes_.append(static_cast<const char*>(data), size); }
    void Text(const std::wstring& text) {
        Number(static_cast<uint32_t>(text.size()));
        Raw(text.data(), text.size() * sizeof(wchar_t));
    }
    std::string Finish() {
        bytes_.append(kEndMarker, kMarkSize);
        uint32_t length = static_cast<uint32_t>(bytes_.size());
        std::memcpy(&bytes_[kMarkSize], &length, sizeof length);
        return std::move(bytes_);
    }

  private:
    std::string bytes_;
};

// Reads fields in order; any read past the fields' end makes the whole record invalid.
class Reader {
  public:
    Reader(const std::string& record, bool request) : record_(record) {
        ok_ = record.size() >= kRecordHeaderSize + kMarkSize &&
              RecordLength(record.data(), request) == record.size() &&
              std::memcmp(record.data() + record.size() - kMarkSize, kEndMarker, kMarkSize) == 0;
        at_ = kRecordHeaderSize;
        end_ = record.size() - kMarkSize;
    }
    uint32_t Number() {
        uint32_t value = 0;
        Raw(&value, sizeof value);
        return value;
    }
    void Raw(void* out, size_t size) {
        if (!ok_ || end_ - at_ < size) {
            ok_ = false;
            return;
        }
        std::memcpy(out, record_.data() + at_, size);
        at_ += size;
    }
    std::wstring Text() {
        uint32_t chars = Number();
        if (!ok_ || (end_ - at_) / sizeof(wchar_t) < chars) {
            ok_ = false;
            return std::wstring();
        }
        std::wstring text(chars, L'\0');
        Raw(&text[0], chars * sizeof(wchar_t));
        return text;
    }
    // The fields not read yet, all of them taken.
    std::string Rest() {
        std::string rest = ok_ ? record_.substr(at_, end_ - at_) : std::string();
        at_ = end_;
        return rest;
    }
    // True when every field was there and nothing is left over.
    bool Complete() const { return ok_ && at_ == end_; }
    size_t Left() const { return ok_ ? end_ - at_ : 0; }

  private:
    const std::string& record_;
    size_t at_ = 0;
    size_t end_ = 0;
    bool ok_ = false;
};

} // namespace

uint32_t RecordLength(const char* header, bool request) {
    bool content = !request && std::memcmp(header, kContentMagic, kMarkSize) == 0;
    if (!content && std::memcmp(header, request ? kRequestMagic : kAnswerMagic, kMarkSize) != 0)
        return 0;
    uint32_t length;
    std::memcpy(&length, header + kMarkSize, sizeof length);
    uint32_t limit = content ? kMaxRecordSize + kMaxContentSize : kMaxRecordSize;
    return length >= kRecordHeaderSize + kMarkSize && length <= limit ? length : 0;
}

bool SplitRecords(const std::string& bytes, bool request, std::vector<std::string>& records) {
    records.clear();
    for (size_t at = 0; at < bytes.size();) {
        uint32_t length = bytes.size() - at >= kRecordHeaderSize ? RecordLength(&bytes[at], request) : 0;
        if (length == 0 || length > bytes.size() - at)
            return false;
        records.push_back(bytes.substr(at, length));
        at += length;
    }
    return true;
}

std::string EncodeRequest(Request kind, const std::wstring& path, uint32_t limit, bool acknowledge) {
    Writer writer(kRequestMagic);
    writer.Number(static_cast<uint32_t>(kind));
    writer.Text(path);
    writer.Number(limit);
    writer.Number(acknowledge ? 1 : 0);
    return writer.Finish();
}

bool DecodeRequest(const std::string& record, Request& kind, std::wstring& path, uint32_t* limit,
                   bool* acknowledge) {
    Reader reader(record, true);
    uint32_t number = reader.Number();
    path = reader.Text();
    uint32_t milliseconds = reader.Number();
    uint32_t acknowledged = reader.Number();
    if (limit)
        *limit = milliseconds;
    if (acknowledge)
        *acknowledge = acknowledged != 0;
    if (!reader.Complete() || number > static_cast<uint32_t>(Request::Content) || acknowledged > 1)
        return false;
    kind = static_cast<Request>(number);
    return true;
}

const char* Acknowledgement() {
    static constexpr char kTaken[kAcknowledgementSize] = {'C', 'V', 'R', '!'};
    return kTaken;
}

std::string EncodeAnswer(HRESULT result, const LibraryDescription& description, const std::string* content) {
    Writer writer(content ? kContentMagic : kAnswerMagic);
    writer.Number(static_cast<uint32_t>(result));
    writer.Raw(&description.guid, sizeof description.guid);
    writer.Number(description.major | static_cast<uint32_t>(description.minor) << 16);
    writer.Number(description.lcid);
    writer.Number(static_cast<uint32_t>(description.syskind));
    writer.Number(description.flags | (description.hasDocumentation ? 1u << 16 : 0u));
    writer.Number(description.typeInfoCount);
    writer.Text(description.name);
    writer.Text(description.documentation);
    writer.Number(static_cast<uint32_t>(description.resources.size()));
    writer.Raw(description.resources.data(), description.resources.size() * sizeof(WORD));
    if (content)
        writer.Raw(content->data(), content->size());
    return writer.Finish();
}

bool DecodeAnswer(const std::string& record, HRESULT& result, LibraryDescription& description,
                  std::string* content) {
    bool withContent = record.compare(0, kMarkSize, kContentMagic, kMarkSize) == 0;
    if (withContent != (content != nullptr))
        return false;
    Reader reader(record, false);
    LibraryDescription read;
    uint32_t code = reader.Number();
    reader.Raw(&read.guid, sizeof read.guid);
    uint32_t versions = reader.Number();
    read.major = LOWORD(versions);
    read.minor = HIWORD(versions);
    read.lcid = reader.Number();
    read.syskind = static_cast<SYSKIND>(reader.Number());
    uint32_t flags = reader.Number();
    read.flags = LOWORD(flags);
    read.hasDocumentation = HIWORD(flags) != 0;
    read.typeInfoCount = reader.Number();
    read.name = reader.Text();
    read.documentation = reader.Text();
    uint32_t resources = reader.Number();
    // Checked against the bytes left before it sizes the list.
    if (resources > 0xFFFF || resources > reader.Left() / sizeof(WORD))
        return false;
    read.resources.resize(resources);
    reader.Raw(read.resources.data(), resources * sizeof(WORD));
    if (content)
        *content = reader.Rest();
    if (!reader.Complete())
        return false;
    result = static_cast<HRESULT>(code);
    description = std::move(read);
    return true;
}

std::string EncodeIdleAnswer(HRESULT result, const std::wstring& token) {
    Writer writer(kAnswerMagic);
    writer.Number(static_cast<uint32_t>(result));
    writer.Text(token);
    return writer.Finish();
}

bool DecodeIdleAnswer(const std::string& record, HRESULT& result, std::wstring& token) {
    if (record.compare(0, kMarkSize, kContentMagic, kMarkSize) == 0)
        return false;
    Reader reader(record, false);
    uint32_t code = reader.Number();
    std::wstring read = reader.Text();
    if (!reader.Complete())
        return false;
    result = static_cast<HRESULT>(code);
    token = std::move(read);
    return true;
}

} // namespace reader
