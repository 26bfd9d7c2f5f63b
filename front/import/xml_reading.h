#pragma once

// Small helpers over pugixml for the XML importers: names without namespace prefixes, trimmed
// texts, checked numbers.

#include <pugixml.hpp>
#include <string>
#include <string_view>

namespace torvek::front::xml {

// The element's name without a namespace prefix ("g:point" -> "point").
std::string_view localName(const pugi::xml_node& node);

// The first child element named `name` (without prefix), or an empty node.
pugi::xml_node child(const pugi::xml_node& node, std::string_view name);

// The element's text, blanks around it removed.
std::string text(const pugi::xml_node& node);

// Parses `bytes` as XML; false with `error` ("line 12: what") when it is not well formed.
bool parse(std::string_view bytes, pugi::xml_document& document, std::string& error);

// The local name of the document element of `bytes` (its first element), read without building
// the document; empty when `bytes` does not start like XML.
std::string rootName(std::string_view bytes);

// The value of the attribute `name` on the document element (first element) of `bytes`, read as
// rootName reads; empty when absent.
std::string rootAttribute(std::string_view bytes, std::string_view name);

}  // namespace torvek::front::xml
