// corvane-cli's one way of writing JSON: indented by two, ": " after a key, "{}" and "[]" when
// empty, integers in decimal, text as UTF-8 with only quotes, backslashes and control
// characters escaped (\b \f \n \r \t, any other as \u00XX).
//
// JsonWriter writes as it goes, in the order of its calls: types streams a library's whole
// content through it. The other commands build their small documents member by member in any
// order, as JsonObject and JsonArray, whose members are written in key order.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace cli {

class JsonWriter {
  public:
    std::string out;

    void Open(char bracket); // '{' or '['
    void Close(char bracket);
    void Key(std::string_view key);
    void Text(std::string_view text); // UTF-8
    void Integer(bool negative, unsigned long long magnitude);
    void Number(long long value) { Integer(value < 0, value < 0 ? 0ull - value : value); }
    void Bool(bool value);
    void Null();
    // A whole value written before at the outermost level, placed here: its lines are indented
    // to this level.
    void Written(std::string_view value);

    void Field(const char* key, std::string_view text) {
        Key(key);
        Text(text);
    }
    void Field(const char* key, long long value) {
        Key(key);
        Number(value);
    }

  private:
    void Newline();
    void Separate();

    std::vector<bool> first_; // per open bracket: nothing is in it yet
    bool keyed_ = false;      // a key was written, its value comes next
};

class JsonObject;
class JsonArray;

// One value, held as its JSON text at the outermost level.
class Json {
  public:
    Json() : Json(nullptr) {}
    Json(std::nullptr_t);
    // Only bool itself: an enum or a pointer does not turn into true or false on the way.
    template <typename T, std::enable_if_t<std::is_same_v<T, bool>, int> = 0>
    Json(T value) : text_(value ? "true" : "false") {}
    Json(const char* text) : Json(std::string_view(text)) {}
    Json(const std::string& text) : Json(std::string_view(text)) {}
    Json(std::string_view text); // UTF-8
    template <typename T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool>, int> = 0>
    Json(T value) {
        if constexpr (std::is_signed_v<T>)
            Integer(value < 0, value < 0 ? 0ull - static_cast<unsigned long long>(value) : value);
        else
            Integer(false, value);
    }
    Json(const JsonObject& object);
    Json(const JsonArray& array);

    const std::string& Text() const { return text_; }

  private:
    void Integer(bool negative, unsigned long long magnitude);

    std::string text_;
};

// An object whose members are written in key order, however they were set; setting a key
// again replaces its value.
class JsonObject {
  public:
    Json& operator[](std::string_view key);

  private:
    friend class Json;
    std::vector<std::pair<std::string, Json>> members_;
};

class JsonArray {
  public:
    void push_back(Json value) { elements_.push_back(std::move(value)); }
    bool empty() const { return elements_.empty(); }

  private:
    friend class Json;
    std::vector<Json> elements_;
};

} // namespace cli
