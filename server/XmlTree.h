#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tidewell::webfolder {

// An XML document read whole into elements and their text (the object store's small replies).
struct XmlElement {
    std::string name;  // without a namespace prefix
    std::string text;  // the text directly inside, entities decoded
    std::vector<XmlElement> children;

    // The first child of that name; nullptr when there is none.
    const XmlElement* Child(std::string_view childName) const;
    // The text of the first child of that name; empty when there is none.
    std::string ChildText(std::string_view childName) const;
    std::vector<const XmlElement*> Children(std::string_view childName) const;
};

// The document's root element; nullopt when the text is not well-formed XML.
std::optional<XmlElement> ParseXml(std::string_view text);

// Text made safe inside an element.
std::string XmlEscape(std::string_view text);

}  // namespace tidewell::webfolder
