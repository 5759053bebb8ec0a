// Strict JSON reading: duplicate keys refused, integers checked against their field's width.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include <nlohmann/json.hpp>

/// A refused document: "<path>: <problem>", or only the problem for the top-level value.
class JsonError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

/// The source text of each non-integer number by path, so messages quote the file.
using NumberTexts = std::map<std::string, std::string, std::less<>>;

/// A parsed document.
struct JsonDocument {
    nlohmann::json root;
    NumberTexts numberTexts;
};

/// Parses `text`; throws JsonError for invalid JSON or a key given twice in one object.
JsonDocument parseStrictJson(std::string_view text);

/// The path of member `key` of the value at `parent` ("a.b", or "b" at the top level).
std::string memberPath(std::string_view parent, std::string_view key);

/// The path of element `index` of the array at `parent` ("a[3]").
std::string elementPath(std::string_view parent, std::size_t index);

/// One value of a document with its path; the document must outlive it.
class JsonValue {
  public:
    JsonValue(const nlohmann::json& value, std::string path, const NumberTexts& numberTexts);

    const nlohmann::json& json() const { return *value_; }
    const std::string& path() const { return path_; }

    /// Throws JsonError "<path>: <problem>".
    [[noreturn]] void fail(const std::string& problem) const;

    /// The value as T (an integer or enumeration type); throws JsonError unless it is a JSON
    /// integer that fits T.
    template <typename T>
    T integer() const {
        if constexpr (std::is_enum_v<T>) {
            return static_cast<T>(integer<std::underlying_type_t<T>>());
        } else {
            static_assert(std::is_integral_v<T> && !std::is_same_v<T, bool>);
            return static_cast<T>(fittingInteger(std::is_signed_v<T>, sizeof(T) * 8));
        }
    }

    /// The string; throws JsonError unless the value is a string.
    const std::string& text() const;

    /// The member `key`, if given; throws JsonError unless the value is an object.
    std::optional<JsonValue> member(std::string_view key) const;

    /// The elements; throws JsonError unless the value is an array.
    std::vector<JsonValue> elements() const;

    /// "expected <what>, got <JSON type>" at this value.
    [[noreturn]] void failType(std::string_view what) const;

  private:
    // The integer's two's complement bits after checking that it fits the field.
    std::uint64_t fittingInteger(bool isSigned, std::size_t bits) const;

    const nlohmann::json* value_;
    std::string path_;
    const NumberTexts* numberTexts_;
};

/// An object whose every key must be read: reading marks a key as known.
class JsonObject {
  public:
    /// Throws JsonError unless `value` is an object.
    explicit JsonObject(const JsonValue& value);

    /// The member `key`, if given.
    std::optional<JsonValue> find(std::string_view key);

    /// The member `key`; throws JsonError when it is missing.
    JsonValue require(std::string_view key);

    /// The member `key` as T, or `current` when it is not given.
    template <typename T>
    T integer(std::string_view key, T current) {
        const std::optional<JsonValue> member = find(key);
        return member ? member->integer<T>() : current;
    }

    /// Throws JsonError naming the first key that was not read.
    void rejectUnknownKeys() const;

  private:
    JsonValue object_;
    std::set<std::string, std::less<>> known_;
};
