// JSON assembled as text: JSON that kvprtd rendered once and stored (a
// report's section, an event's details) goes into a reply as it is, never
// parsed back. Each value given as text must be one whole JSON value.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "output.h"

namespace kvprtd {

// An object, its members in the order they are added.
class ObjectText {
public:
    ObjectText& add(std::string_view key, const kvprt::json& value) { return addText(key, kvprt::jsonText(value, -1)); }
    ObjectText& addText(std::string_view key, std::string_view value) {
        m_text.append(m_text.size() > 1 ? "," : "").append(kvprt::jsonText(key, -1)).append(":").append(value);
        return *this;
    }
    // The object's text; the builder is used up.
    std::string done() { return std::move(m_text.append("}")); }

private:
    std::string m_text = "{";
};

// An array of values given as text.
inline std::string arrayText(const std::vector<std::string>& values) {
    std::string text = "[";
    for (const std::string& value : values) text.append(text.size() > 1 ? "," : "").append(value);
    return text.append("]");
}

}  // namespace kvprtd
