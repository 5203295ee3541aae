#include "base/json.h"

#include <cstring>

#include "base/json_document.h"

namespace kfp {

const std::shared_ptr<const JsonDocument>& JsonDocument::emptyObject() {
  static const std::shared_ptr<const JsonDocument> empty = [] {
    auto doc = std::make_shared<JsonDocument>();
    doc->nodes_.push_back({Kind::kObject, 0, 0});
    doc->arena_.reset(new char16_t[1]);
    return doc;
  }();
  return empty;
}

const JsonDocument::Node* JsonDocument::findMember(uint32_t object,
                                                   std::u16string_view name) const noexcept {
  const Node& node = nodes_[object];
  const Member* members = membersOf(node);
  // Backwards, so that the last of duplicate names wins.
  for (uint32_t i = node.count; i-- > 0;) {
    const Member& m = members[i];
    if (m.nameLength == name.size() && std::memcmp(arena_.get() + m.nameOffset, name.data(),
                                                   name.size() * sizeof(char16_t)) == 0) {
      return &nodes_[m.value];
    }
  }
  return nullptr;
}

JsonObject JsonObject::parse(std::string_view utf8) {
  return JsonObject(JsonDocument::parse(utf8), JsonDocument::kRoot);
}

JsonObject JsonObject::empty() {
  return JsonObject(JsonDocument::emptyObject(), JsonDocument::kRoot);
}

double JsonObject::getNamedNumber(std::u16string_view name, double fallback) const noexcept {
  const JsonDocument::Node* node = doc_->findMember(node_, name);
  if (node == nullptr || node->kind != JsonDocument::Kind::kNumber) return fallback;
  return doc_->number(*node);
}

std::u16string JsonObject::getNamedString(std::u16string_view name) const {
  const JsonDocument::Node* node = doc_->findMember(node_, name);
  if (node == nullptr || node->kind != JsonDocument::Kind::kString) return {};
  return std::u16string(doc_->string(*node));
}

std::optional<JsonArray> JsonObject::findNamedArray(std::u16string_view name) const noexcept {
  const JsonDocument::Node* node = doc_->findMember(node_, name);
  if (node == nullptr || node->kind != JsonDocument::Kind::kArray) return std::nullopt;
  return JsonArray(doc_, static_cast<uint32_t>(node - &doc_->node(0)));
}

uint32_t JsonArray::size() const noexcept {
  return doc_->node(node_).count;
}

namespace {

// The node index of element `index` if it exists and has `kind`.
std::optional<uint32_t> findElement(const JsonDocument& doc, uint32_t array, uint32_t index,
                                    JsonDocument::Kind kind) noexcept {
  const JsonDocument::Node& node = doc.node(array);
  if (index >= node.count) return std::nullopt;
  const uint32_t element = doc.elementOf(node, index);
  if (doc.node(element).kind != kind) return std::nullopt;
  return element;
}

// The node of element `index`, which must have `kind`; raises otherwise.
const JsonDocument::Node& elementNode(const JsonDocument& doc, uint32_t array, uint32_t index,
                                      JsonDocument::Kind kind, uint32_t* elementIndex = nullptr) {
  if (index >= doc.node(array).count) throw JsonError(kJsonIndexOutOfRange);
  const std::optional<uint32_t> element = findElement(doc, array, index, kind);
  if (!element) throw JsonError(kJsonWrongType);
  if (elementIndex != nullptr) *elementIndex = *element;
  return doc.node(*element);
}

}  // namespace

JsonObject JsonArray::objectAt(uint32_t index) const {
  uint32_t element = 0;
  elementNode(*doc_, node_, index, JsonDocument::Kind::kObject, &element);
  return JsonObject(doc_, element);
}

std::optional<JsonObject> JsonArray::findObjectAt(uint32_t index) const noexcept {
  const auto element = findElement(*doc_, node_, index, JsonDocument::Kind::kObject);
  if (!element) return std::nullopt;
  return JsonObject(doc_, *element);
}

std::optional<std::u16string> JsonArray::findStringAt(uint32_t index) const {
  const auto element = findElement(*doc_, node_, index, JsonDocument::Kind::kString);
  if (!element) return std::nullopt;
  return std::u16string(doc_->string(doc_->node(*element)));
}

std::optional<double> JsonArray::findNumberAt(uint32_t index) const noexcept {
  const auto element = findElement(*doc_, node_, index, JsonDocument::Kind::kNumber);
  if (!element) return std::nullopt;
  return doc_->number(doc_->node(*element));
}

}  // namespace kfp
