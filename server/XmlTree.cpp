#include "XmlTree.h"

#include <expat.h>

#include <memory>

namespace tidewell::webfolder {
namespace {

struct Builder {
    std::vector<XmlElement*> open;
    std::optional<XmlElement> root;
};

std::string_view LocalName(const XML_Char* name) {
    std::string_view text(name);
    const auto colon = text.rfind(':');
    return colon == std::string_view::npos ? text : text.substr(colon + 1);
}

void StartElement(void* data, const XML_Char* name, const XML_Char**) {
    auto& builder = *static_cast<Builder*>(data);
    XmlElement element{std::string(LocalName(name)), {}, {}};
    if (builder.open.empty()) {
        builder.root = std::move(element);
        builder.open.push_back(&*builder.root);
    } else {
        auto& children = builder.open.back()->children;
        children.push_back(std::move(element));
        builder.open.push_back(&children.back());
    }
}

void EndElement(void* data, const XML_Char*) {
    static_cast<Builder*>(data)->open.pop_back();
}

void Text(void* data, const XML_Char* text, int length) {
    auto& builder = *static_cast<Builder*>(data);
    if (!builder.open.empty())
        builder.open.back()->text.append(text, static_cast<std::size_t>(length));
}

}  // namespace

const XmlElement* XmlElement::Child(std::string_view childName) const {
    for (const auto& child : children) {
        if (child.name == childName) return &child;
    }
    return nullptr;
}

std::string XmlElement::ChildText(std::string_view childName) const {
    const XmlElement* child = Child(childName);
    return child ? child->text : std::string();
}

std::vector<const XmlElement*> XmlElement::Children(std::string_view childName) const {
    std::vector<const XmlElement*> found;
    for (const auto& child : children) {
        if (child.name == childName) found.push_back(&child);
    }
    return found;
}

std::optional<XmlElement> ParseXml(std::string_view text) {
    const std::unique_ptr<XML_ParserStruct, decltype(&XML_ParserFree)> parser(
        XML_ParserCreate("UTF-8"), &XML_ParserFree);
    if (!parser) return std::nullopt;
    Builder builder;
    XML_SetUserData(parser.get(), &builder);
    XML_SetElementHandler(parser.get(), &StartElement, &EndElement);
    XML_SetCharacterDataHandler(parser.get(), &Text);
    if (XML_Parse(parser.get(), text.data(), static_cast<int>(text.size()), XML_TRUE) !=
        XML_STATUS_OK) {
        return std::nullopt;
    }
    return std::move(builder.root);
}

std::string XmlEscape(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

}  // namespace tidewell::webfolder
