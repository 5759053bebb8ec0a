// Strict JSON reading: a DOM builder over nlohmann's SAX events, and checked value access.
#include "sim/json_document.h"

#include <limits>
#include <utility>

namespace {

// Builds the document like nlohmann's own parser, but refuses duplicate keys (which would
// silently keep the last value) and keeps the text of non-integer numbers.
class StrictBuilder final : public nlohmann::json_sax<nlohmann::json> {
  public:
    bool null() override { return place(nullptr); }
    bool boolean(bool value) override { return place(value); }
    bool number_integer(number_integer_t value) override { return place(value); }
    bool number_unsigned(number_unsigned_t value) override { return place(value); }
    bool number_float(number_float_t value, const string_t& text) override {
        document_.numberTexts.emplace(nextPath(), text);
        return place(value);
    }
    bool string(string_t& value) override { return place(std::move(value)); }
    bool binary(binary_t& value) override {
        return place(nlohmann::json::binary(std::move(value)));
    }
    bool start_object(std::size_t /*elements*/) override { return open(nlohmann::json::object()); }
    bool key(string_t& key) override {
        Open& top = open_.back();
        if (top.container->contains(key)) {
            error_ = memberPath(top.path, key) + ": key given twice";
            return false;
        }
        top.key = key;
        return true;
    }
    bool end_object() override { return close(); }
    bool start_array(std::size_t /*elements*/) override { return open(nlohmann::json::array()); }
    bool end_array() override { return close(); }
    bool parse_error(std::size_t /*position*/, const std::string& /*last_token*/,
                     const nlohmann::json::exception& failure) override {
        // Drop nlohmann's "[json.exception.parse_error.101] " prefix.
        std::string_view message = failure.what();
        const std::size_t idEnd = message.find("] ");
        if (idEnd != std::string_view::npos) {
            message.remove_prefix(idEnd + 2);
        }
        error_ = "invalid JSON: " + std::string(message);
        return false;
    }

    JsonDocument take() { return std::move(document_); }
    const std::string& error() const { return error_; }

  private:
    struct Open {
        nlohmann::json* container;
        std::string path;
        std::string key;  // the member being read, in an object
    };

    std::string nextPath() const {
        if (open_.empty()) {
            return {};
        }
        const Open& top = open_.back();
        return top.container->is_array() ? elementPath(top.path, top.container->size())
                                         : memberPath(top.path, top.key);
    }

    // Adds `value` where the parser stands and returns where it now lives.
    nlohmann::json* add(nlohmann::json value) {
        if (open_.empty()) {
            document_.root = std::move(value);
            return &document_.root;
        }
        Open& top = open_.back();
        if (top.container->is_array()) {
            top.container->push_back(std::move(value));
            return &top.container->back();
        }
        nlohmann::json& member = (*top.container)[top.key];
        member = std::move(value);
        return &member;
    }

    bool place(nlohmann::json value) {
        add(std::move(value));
        return true;
    }

    bool open(nlohmann::json container) {
        std::string path = nextPath();
        // Only the innermost open container grows, so the outer pointers stay valid.
        nlohmann::json* placed = add(std::move(container));
        open_.push_back({placed, std::move(path), {}});
        return true;
    }

    bool close() {
        open_.pop_back();
        return true;
    }

    JsonDocument document_;
    std::vector<Open> open_;
    std::string error_;
};

// Whether a number's text is an integer literal, i.e. one too large for 64 bits.
bool isIntegerText(std::string_view text) {
    if (!text.empty() && text.front() == '-') {
        text.remove_prefix(1);
    }
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

std::string fieldName(bool isSigned, std::size_t bits) {
    return std::string(isSigned ? "a signed " : "an unsigned ") + std::to_string(bits) +
           "-bit field";
}

}  // namespace

JsonDocument parseStrictJson(std::string_view text) {
    StrictBuilder builder;
    if (!nlohmann::json::sax_parse(text.begin(), text.end(), &builder)) {
        throw JsonError(builder.error().empty() ? "invalid JSON" : builder.error());
    }
    return builder.take();
}

std::string memberPath(std::string_view parent, std::string_view key) {
    std::string path(parent);
    if (!path.empty()) {
        path += '.';
    }
    return path.append(key);
}

std::string elementPath(std::string_view parent, std::size_t index) {
    return std::string(parent) + "[" + std::to_string(index) + "]";
}

JsonValue::JsonValue(const nlohmann::json& value, std::string path, const NumberTexts& numberTexts)
    : value_(&value), path_(std::move(path)), numberTexts_(&numberTexts) {}

void JsonValue::fail(const std::string& problem) const {
    throw JsonError(path_.empty() ? problem : path_ + ": " + problem);
}

void JsonValue::failType(std::string_view what) const {
    fail("expected " + std::string(what) + ", got " + value_->type_name());
}

const std::string& JsonValue::text() const {
    if (!value_->is_string()) {
        failType("a string");
    }
    return value_->get_ref<const std::string&>();
}

std::optional<JsonValue> JsonValue::member(std::string_view key) const {
    if (!value_->is_object()) {
        failType("an object");
    }
    const auto found = value_->find(key);
    if (found == value_->end()) {
        return std::nullopt;
    }
    return JsonValue(*found, memberPath(path_, key), *numberTexts_);
}

std::vector<JsonValue> JsonValue::elements() const {
    if (!value_->is_array()) {
        failType("an array");
    }
    std::vector<JsonValue> elements;
    elements.reserve(value_->size());
    for (std::size_t i = 0; i < value_->size(); ++i) {
        elements.emplace_back((*value_)[i], elementPath(path_, i), *numberTexts_);
    }
    return elements;
}

std::uint64_t JsonValue::fittingInteger(bool isSigned, std::size_t bits) const {
    const std::uint64_t max = bits == 64 ? std::numeric_limits<std::uint64_t>::max() >> isSigned
                                         : (std::uint64_t{1} << (bits - isSigned)) - 1;
    // Non-negative integers parse as unsigned, so only negative ones are signed here.
    if (value_->is_number_unsigned()) {
        const auto value = value_->get<std::uint64_t>();
        if (value > max) {
            fail(std::to_string(value) + " does not fit " + fieldName(isSigned, bits));
        }
        return value;
    }
    if (value_->is_number_integer()) {
        const auto value = value_->get<std::int64_t>();
        const auto magnitude =
            value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
        const bool fits = value < 0 ? isSigned && magnitude <= max + 1 : magnitude <= max;
        if (!fits) {
            fail(std::to_string(value) + " does not fit " + fieldName(isSigned, bits));
        }
        return static_cast<std::uint64_t>(value);
    }
    if (value_->is_number_float()) {
        const auto text = numberTexts_->find(path_);
        const std::string number = text != numberTexts_->end() ? text->second : value_->dump();
        fail(isIntegerText(number) ? number + " does not fit " + fieldName(isSigned, bits)
                                   : number + " is not an integer");
    }
    failType("an integer");
}

JsonObject::JsonObject(const JsonValue& value) : object_(value) {
    if (!value.json().is_object()) {
        value.failType("an object");
    }
}

std::optional<JsonValue> JsonObject::find(std::string_view key) {
    std::optional<JsonValue> member = object_.member(key);
    if (member) {
        known_.emplace(key);
    }
    return member;
}

JsonValue JsonObject::require(std::string_view key) {
    std::optional<JsonValue> member = find(key);
    if (!member) {
        object_.fail("missing key \"" + std::string(key) + "\"");
    }
    return *member;
}

void JsonObject::rejectUnknownKeys() const {
    for (const auto& member : object_.json().items()) {
        if (known_.count(member.key()) == 0) {
            throw JsonError(memberPath(object_.path(), member.key()) + ": unknown key");
        }
    }
}
